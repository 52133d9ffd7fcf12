#pragma once
// The commands of lumitrax on a DeviceLink. Each opens the request's port(s) by device path,
// sends what the panel's action sends, with the panel's pauses and waits, and checks the
// controller's answer; the caller decides through the link's close action whether ending a
// connection switches the channels off (the tool sets KeepOutputs).
//
// Answers: after a command that changes something the tool waits for the controller's
// reply lines, up to the request's timeout for the first one and then until none came for
// 100 ms. No line at all means no answer; a line whose first word is "error" is a refusal.
// Both give exit status 1 with a message that says which.
//
// Window thread, that is the thread that owns the link; every call blocks for the waits.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include "cli_options.h"
#include "device_link.h"

struct CliResult {
    int exitCode = kExitDone;
    QStringList lines;     // standard output, for a person
    QByteArray rawOutput;  // standard output as bytes (read-config -), printed as they are
    QStringList errors;    // standard error
    QJsonObject json;      // the document of --json: "command", "exit", "error" and the rest
};

// Runs every command except monitor.
CliResult RunCliCommand(const CliRequest& request, DeviceLink& link);

// monitor: hands every received line to print, formatted ("<time> <line>", or one JSON
// object with --json), checking every 20 ms until stop is set. Returns the exit status; when
// the port does not open, error says why.
int RunMonitor(const CliRequest& request, DeviceLink& link, const std::atomic<bool>& stop,
               const std::function<void(const QString&)>& print, QString& error);

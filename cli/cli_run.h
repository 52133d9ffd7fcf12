#pragma once
// The commands of lumitrax on the Controller API: each opens the request's port(s), makes the
// API call and turns its result or its Error into lines, a JSON document and an exit status.
// Every protocol decision (what is sent, what is waited for, what counts as failure) is the
// API's; this is reporting only.

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "cli_options.h"

struct CliResult {
    int exitCode = kExitDone;
    QStringList lines;     // standard output, for a person
    QByteArray rawOutput;  // standard output as bytes (read-config -), printed as they are
    QStringList errors;    // standard error
    QJsonObject json;      // the document of --json
};

// How an interrupt reaches the running command: the tool's signal thread records the signal
// and cancels the Controller in use, under the mutex that guards `active`.
struct CliInterrupt {
    std::mutex mutex;
    lumitrax::Controller* active = nullptr;
    std::atomic<int> signal{0};
    // Set with signal: ends an open that is still connecting to a network port.
    std::atomic<bool> stop{false};
    // Set while the command writes nothing (ports, search): an interrupt ends the tool at once.
    std::atomic<bool> endsAtOnce{false};
    // Notified, under mutex, when signal is set: wakes a command that waits for nothing but
    // the interrupt (monitor --reconnect).
    std::condition_variable wake;

    void Interrupt(int signalNumber);
};

// Runs every command except monitor. traffic, when set, gets the -v lines.
CliResult RunCliCommand(const CliRequest& request, CliInterrupt& interrupt,
                        const std::function<void(const QString&)>& traffic = {});

// monitor: hands every received line to print ("<time> <line>", or a JSON object with --json)
// until an interrupt or until print returns false (its output failed); returns the exit
// status, with error (and errorKind, as --json names it) set when the port did not open or the
// connection was lost. With --reconnect a lost connection does not end it: the state it opened
// in and every change of the connection's state are printed too ("<time> -- <state>", or
// {"time", "state"}), and print is called on a library thread.
int RunMonitor(const CliRequest& request, CliInterrupt& interrupt, const std::function<bool(const QString&)>& print,
               QString& error, QString& errorKind);

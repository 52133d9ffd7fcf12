#pragma once
// The command line of lumitrax, the controller's command-line tool:
//
//   lumitrax [--port PATH]... [--json] [--timeout MS] COMMAND [ARGS]
//
// The global options may stand anywhere before a lone "--"; the options of a command
// (trigger's --delay/--on/--edge/--enable, apply-config's --verify) come with it. Every value
// is checked here, the trigger row included, so that a command that starts has nothing left
// to refuse from its arguments. Pure; any thread.

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

#include "device_state.h"

enum class CliCommand {
    Ports, Search, Info, Set, On, Off, Packet, Trigger, OneShot, SaveBright, LoadBright,
    SaveTrigger, LoadTrigger, ApplyConfig, ReadConfig, VerifyConfig, Raw, Monitor,
};

// Exit statuses of the tool.
constexpr int kExitDone = 0;
constexpr int kExitNoAnswer = 1;    // no answer, a refusal, or (verify) a difference
constexpr int kExitUsage = 2;       // bad arguments, an unreadable or invalid file
constexpr int kExitPortFailed = 3;  // a port did not open

constexpr int kMaxBrightness = 1024;  // the panel's slider range is 0..1024
constexpr int kDefaultTimeoutMs = 1000;
constexpr int kMaxTimeoutMs = 600000;
constexpr int kTriggerRows = 4;   // the four rows "Trigger1".."Trigger4" of the panel
constexpr int kMemoryNumbers = 10;

struct TriggerRequest {
    int row = 0;            // 0-based: "trigger 3" is row 2
    int delayPosition = 0;  // microseconds as the panel shows them (sent minus one)
    int onPosition = 0;
    int edge = 0;           // 0 positive, 1 negative
    int enable = 0;
};

struct CliRequest {
    CliCommand command = CliCommand::Ports;
    QString name;             // the command as typed, e.g. "apply-config"
    QStringList ports;        // --port values in order
    bool json = false;
    int timeoutMs = kDefaultTimeoutMs;

    bool allChannels = false;   // set/on/off "all"
    std::vector<int> channels;  // set (one), on, off: 0-based channel indexes
    int value = 0;              // set
    std::array<std::uint16_t, kChannelCount> packet{};
    TriggerRequest trigger;
    int memory = 0;             // save-bright, load-bright, save-trigger, load-trigger
    QString file;               // apply-config, read-config ("-": standard output), verify-config
    bool verify = false;        // apply-config --verify
    QString rawText;            // raw: the words joined by single blanks, without the CR
};

struct CliParse {
    enum Action { Run, Help, Fail };
    Action action = Run;
    CliRequest request;
    QString message;  // what is wrong (Fail)
};

// arguments[0] is the program.
CliParse ParseCliArguments(const QStringList& arguments);
QString CliUsage();

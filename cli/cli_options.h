#pragma once
// The command line of lumitrax, the controller's command-line tool:
//
//   lumitrax [--port PATH]... [--json] [--timeout MS] [-v|-q] COMMAND [ARGS]
//   lumitrax help [COMMAND] | COMMAND --help | --help | --version
//
// "recipe" is a command of two words: recipe check|apply|verify|capture.
// The global options may stand anywhere before a lone "--"; a command's own options
// (trigger's --delay/--on/--edge/--enable, apply-config's --verify, --lenient, factory-reset's
// --yes, monitor's --reconnect, recipe apply's --record, recipe capture's --name) come with it.
// Every value is checked here with the Controller API's own checks, so that a command that
// starts has nothing left to refuse from its arguments. Pure; any thread.

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

#include <lumitrax/controller.h>

enum class CliCommand {
    Ports, Search, Info, Set, On, Off, Packet, Trigger, OneShot, SaveBright, LoadBright,
    SaveTrigger, LoadTrigger, ApplyConfig, ReadConfig, VerifyConfig, Raw, Monitor,
    Status, Outputs, FactoryReset, RecipeCheck, RecipeApply, RecipeVerify, RecipeCapture,
};

// Exit statuses of the tool.
constexpr int kExitDone = 0;
constexpr int kExitNoAnswer = 1;    // no answer, a refusal, a lost connection, or (verify) a difference
constexpr int kExitUsage = 2;       // bad arguments, an unreadable or invalid file
constexpr int kExitPortFailed = 3;  // a port did not open
constexpr int kExitInterrupted = 130;  // SIGINT (SIGTERM gives 143)

constexpr int kMaxTimeoutMs = 600000;

struct CliRequest {
    CliCommand command = CliCommand::Ports;
    QString name;             // the command as typed, e.g. "apply-config", "recipe apply"
    QStringList ports;        // --port values in order
    bool json = false;
    bool verbose = false;     // -v: the wire traffic on standard error
    bool quiet = false;       // -q: errors only
    int timeoutMs = lumitrax::kDefaultTimeoutMs;

    bool allChannels = false;   // set/on/off "all"
    std::vector<int> channels;  // set (one), on, off: channels 1..16
    int value = 0;              // set
    std::array<int, lumitrax::kChannels> packet{};
    lumitrax::TriggerRow trigger;
    int memory = 0;             // save-bright, load-bright, save-trigger, load-trigger
    QString file;               // apply-config, read-config ("-": standard output), verify-config;
                                // recipe apply, verify, capture (empty or "-": standard output)
    QStringList paths;          // recipe check: files and folders, in order
    QString recordFile;         // recipe apply --record: the audit record to append to
    QString recipeName;         // recipe capture --name
    bool verify = false;        // apply-config --verify
    bool lenient = false;       // apply-config, verify-config --lenient
    QString rawText;            // raw: the words joined by single blanks, without the CR
    bool out0 = false;          // outputs: OUT0 and OUT1 switched on
    bool out1 = false;
    bool reconnect = false;     // monitor --reconnect: keep watching across a lost connection
};

struct CliParse {
    enum Action { Run, Help, Version, Fail };
    Action action = Run;
    CliRequest request;
    QString message;  // Fail: what is wrong; Help: the text to print
};

// arguments[0] is the program.
CliParse ParseCliArguments(const QStringList& arguments);
// The whole tool's usage, or one command's (usage, arguments, ranges, an example); an unknown
// command gives an empty string.
QString CliUsage();
QString CommandUsage(const QString& command);

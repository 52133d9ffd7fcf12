#pragma once
// The command line of lumitrax-panel:
//   --port PATH   list the serial device PATH first in the port drop-down (repeatable)
//   --simulate    start the virtual controller lumitrax-sim and list its port first
//   --language L  captions in language L: "en" English, "ko" the original Korean (default)
//   -h, --help    print the usage and exit

#include <QString>
#include <QStringList>

struct PanelOptions {
    QStringList ports;
    bool simulate = false;
    QString language;  // "en", "ko", or empty when not given
};

// The environment variable that chooses the language when --language is not given.
inline constexpr char kLanguageVariable[] = "LUMITRAX_LANGUAGE";
// Whether language names one the panel has captions in ("en", "ko").
bool IsKnownLanguage(const QString& language);

enum class CommandLineAction { Run, ShowHelp, Fail };

struct CommandLineResult {
    CommandLineAction action = CommandLineAction::Run;
    PanelOptions options;
    QString message;  // the usage for ShowHelp, the problem for Fail
};

// arguments[0] is the program. Exit status: 0 after help, 2 after a failure.
CommandLineResult ParseCommandLine(const QStringList& arguments);
QString CommandLineUsage();

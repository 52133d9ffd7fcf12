#pragma once
// The command line of lumitrax-panel:
//   --port PATH   list the serial device PATH first in the port drop-down (repeatable)
//   --simulate    start the virtual controller lumitrax-sim and list its port first
//   -h, --help    print the usage and exit

#include <QString>
#include <QStringList>

struct PanelOptions {
    QStringList ports;
    bool simulate = false;
};

enum class CommandLineAction { Run, ShowHelp, Fail };

struct CommandLineResult {
    CommandLineAction action = CommandLineAction::Run;
    PanelOptions options;
    QString message;  // the usage for ShowHelp, the problem for Fail
};

// arguments[0] is the program. Exit status: 0 after help, 2 after a failure.
CommandLineResult ParseCommandLine(const QStringList& arguments);
QString CommandLineUsage();

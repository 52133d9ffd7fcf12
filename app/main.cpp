// lumitrax-panel: the operator's window of the Lumitrax LED lighting controller.
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "panel_app.h"
#include "port_list.h"
#include "simulator.h"

int main(int argc, char** argv) {
    // The options are read before the window system is opened, so that --help and a bad
    // option work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--version") == 0) {
            std::printf("lumitrax-panel %s\n", LUMITRAX_VERSION);
            return 0;
        }
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLineResult commandLine = ParseCommandLine(arguments);
    if (commandLine.action == CommandLineAction::ShowHelp) {
        std::fputs(commandLine.message.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (commandLine.action == CommandLineAction::Fail) {
        std::fprintf(stderr, "lumitrax-panel: %s\nTry 'lumitrax-panel --help'.\n",
                     commandLine.message.toLocal8Bit().constData());
        return 2;
    }

    QString language = commandLine.options.language;
    if (language.isEmpty()) {
        language = qEnvironmentVariable(kLanguageVariable);
        if (!language.isEmpty() && !IsKnownLanguage(language)) {
            std::fprintf(stderr, "lumitrax-panel: %s=%s: not en or ko; the captions stay Korean\n", kLanguageVariable,
                         language.toLocal8Bit().constData());
            language.clear();
        }
    }

    CPanelApp app(argc, argv);
    if (!app.SetLanguage(language)) {
        std::fprintf(stderr, "lumitrax-panel: the English captions could not be loaded\n");
    }
    SimulatorProcess simulator;
    if (commandLine.options.simulate) {
        QString error;
        if (!simulator.Start(SimulatorProcess::Locate(), &error)) {
            std::fprintf(stderr, "lumitrax-panel: --simulate: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        AddPortPath(simulator.DevicePath());
        std::fprintf(stderr, "lumitrax-panel: simulated controller on %s\n",
                     simulator.DevicePath().toLocal8Bit().constData());
    }
    for (const QString& path : commandLine.options.ports) {
        AddPortPath(PathRelativeToHere(path));
    }
    app.InitInstance();
    return 0;
}

#include "command_line.h"

#include <QCommandLineParser>

bool IsKnownLanguage(const QString& language) {
    return language == QLatin1String("en") || language == QLatin1String("ko");
}

QString CommandLineUsage() {
    return QStringLiteral(
        "Usage: lumitrax-panel [--port PATH]... [--simulate] [--language en|ko]\n"
        "The operator's panel of the Lumitrax LED lighting controller.\n"
        "\n"
        "  --port PATH   list the serial device PATH first in the port drop-down;\n"
        "                may be given more than once, the paths keep their order;\n"
        "                tcp://HOST:PORT or rfc2217://HOST:PORT names a controller\n"
        "                behind a serial device server\n"
        "  --simulate    start the virtual controller lumitrax-sim on a pseudo-terminal,\n"
        "                list its port first (selected) and stop it when the panel ends\n"
        "  --language L  captions in English (en) or in the original Korean (ko, the\n"
        "                default); without it the variable LUMITRAX_LANGUAGE decides\n"
        "  -h, --help    show this text and exit\n"
        "  --version     show the version and exit\n");
}

CommandLineResult ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption simulate(QStringLiteral("simulate"));
    const QCommandLineOption language(QStringLiteral("language"), QString(), QStringLiteral("L"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(port);
    parser.addOption(simulate);
    parser.addOption(language);
    parser.addOption(help);

    CommandLineResult result;
    if (!parser.parse(arguments)) {
        result.action = CommandLineAction::Fail;
        result.message = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLineAction::Fail;
        result.message = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLineAction::ShowHelp;
        result.message = CommandLineUsage();
        return result;
    }
    result.options.ports = parser.values(port);
    for (const QString& path : result.options.ports) {
        if (path.isEmpty()) {
            result.action = CommandLineAction::Fail;
            result.message = QStringLiteral("--port needs a device path.");
            return result;
        }
    }
    result.options.simulate = parser.isSet(simulate);
    if (parser.isSet(language)) {
        result.options.language = parser.value(language);
        if (!IsKnownLanguage(result.options.language)) {
            result.action = CommandLineAction::Fail;
            result.message = QStringLiteral("--language takes en or ko, not '%1'.").arg(result.options.language);
            return result;
        }
    }
    return result;
}

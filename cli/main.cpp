// lumitrax: the controller's command-line tool. Parses the command line, runs one command on
// a link that leaves the channels as they are when it closes, and prints the outcome.

#include <QCoreApplication>
#include <QJsonDocument>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "cli_commands.h"
#include "cli_options.h"
#include "device_link.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void PrintErrors(const QStringList& errors) {
    for (const QString& e : errors) {
        Print(stderr, QStringLiteral("lumitrax: ") + e);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const CliParse parse = ParseCliArguments(QCoreApplication::arguments());
    const CliRequest& request = parse.request;
    if (parse.action == CliParse::Help) {
        std::fputs(CliUsage().toUtf8().constData(), stdout);
        return kExitDone;
    }
    if (parse.action == CliParse::Fail) {
        if (request.json) {
            Print(stdout, QString::fromUtf8(QJsonDocument(QJsonObject{{"command", request.name},
                                                                      {"exit", kExitUsage},
                                                                      {"error", parse.message}})
                                                .toJson(QJsonDocument::Indented))
                              .trimmed());
        }
        Print(stderr, QStringLiteral("lumitrax: %1\nTry 'lumitrax --help'.").arg(parse.message));
        return kExitUsage;
    }

    DeviceLink link;
    link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);

    if (request.command == CliCommand::Monitor) {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        QString error;
        const int status = RunMonitor(request, link, interrupted,
                                      [](const QString& line) { Print(stdout, line); }, error);
        if (!error.isEmpty()) {
            PrintErrors({error});
        }
        return status;
    }

    const CliResult result = RunCliCommand(request, link);
    if (request.json) {
        Print(stdout, QString::fromUtf8(QJsonDocument(result.json).toJson(QJsonDocument::Indented)).trimmed());
    } else if (!result.rawOutput.isEmpty()) {
        std::fwrite(result.rawOutput.constData(), 1, static_cast<std::size_t>(result.rawOutput.size()), stdout);
    } else {
        for (const QString& line : result.lines) {
            Print(stdout, line);
        }
    }
    PrintErrors(result.errors);
    return result.exitCode;
}

// lumitrax: the controller's command-line tool. Parses the command line, runs one command on
// the Controller API (which leaves the lights as they are when it closes a port) and prints
// the outcome: quiet on success, errors on standard error, --json as one document.

#include <QJsonDocument>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>
#include <thread>

#include "cli_fleet.h"
#include "cli_options.h"
#include "cli_run.h"

namespace {

int g_outputError = 0;  // errno of the first failed write to standard output
std::atomic<bool> g_stdoutUsed{false};  // something was printed there

void Print(std::FILE* stream, const QString& text) {
    if (stream == stdout) {
        g_stdoutUsed.store(true);
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    if (std::fflush(stream) != 0 && stream == stdout && g_outputError == 0) {
        g_outputError = errno;
    }
}

// A line as a terminal shows it safely: control characters (a controller's noise, a line at the
// wrong speed, an escape sequence in a reply) as \xNN, so that they cannot clear the screen or
// switch the terminal's character set; so are the bytes that are no Korean text (the decoder
// carries them as U+F780..U+F7FF), which a terminal would show as blanks or not at all.
QString Visible(const QString& line) {
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        char16_t u = c.unicode();
        if (u >= 0xF780 && u <= 0xF7FF) {
            u = static_cast<char16_t>(u - 0xF700);
        }
        if ((u < 0x20 && u != '\t') || (u >= 0x7F && u < 0xA0) || (u >= 0x80 && u != c.unicode())) {
            out += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

void PrintErrors(const QStringList& errors) {
    for (const QString& e : errors) {
        for (const QString& line : e.split(QLatin1Char('\n'))) {
            Print(stderr, QStringLiteral("lumitrax: ") + Visible(line));
        }
    }
}

void PrintJson(const QJsonObject& json) {
    Print(stdout, QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)).trimmed());
}

QJsonObject FailureJson(const QString& command, int exitStatus, const QString& kind, const QString& message) {
    return QJsonObject{{"schema", 1},
                       {"command", command},
                       {"exit", exitStatus},
                       {"error", QJsonObject{{"kind", kind}, {"message", message}}}};
}

// SIGINT and SIGTERM are blocked in every thread (the library's threads inherit the mask) and
// taken by one thread of their own, which cancels the command in a safe place.
void WatchSignals(CliInterrupt& interrupt, const CliRequest& request) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, &interrupt, json = request.json, monitor = request.command == CliCommand::Monitor,
                 name = request.name] {
        for (;;) {
            int signalNumber = 0;
            if (sigwait(&set, &signalNumber) != 0) {
                continue;
            }
            // A second interrupt, or one while nothing is written, does not wait for answers.
            if (interrupt.signal.load() != 0 || interrupt.endsAtOnce.load()) {
                // A script reading --json still gets its document (monitor: its last line).
                if (json && (!g_stdoutUsed.load() || monitor)) {
                    const QJsonObject document = FailureJson(
                        name, 128 + signalNumber, QStringLiteral("interrupted"),
                        interrupt.signal.load() != 0 ? QStringLiteral("interrupted again: ended without waiting for "
                                                                      "the controller; what it was sent is not known")
                                                     : QStringLiteral("interrupted"));
                    QByteArray bytes =
                        QJsonDocument(document).toJson(monitor ? QJsonDocument::Compact : QJsonDocument::Indented);
                    if (!bytes.endsWith('\n')) {
                        bytes.append('\n');
                    }
                    (void)!::write(STDOUT_FILENO, bytes.constData(), static_cast<std::size_t>(bytes.size()));
                }
                static const char kMessage[] = "lumitrax: interrupted\n";
                (void)!::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
                std::_Exit(128 + signalNumber);
            }
            interrupt.Interrupt(signalNumber);
        }
    }).detach();
}

// What was printed must have arrived: a script that keeps the output (read-config - > file)
// must not see success when the disk was full or the pipe closed.
int FinishOutput(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
        return status;
    }
    const int error = g_outputError != 0 ? g_outputError : errno;
    Print(stderr, QStringLiteral("lumitrax: standard output: cannot be written%1")
                      .arg(error != 0 ? QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(error))) : QString()));
    return status == kExitDone ? kExitUsage : status;
}

int Run(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    // fleet speaks to a broker, not to a port: its own options (lumitrax [--json] fleet ...).
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("fleet")) {
            if (arguments.mid(i + 1).contains(QLatin1String("--help")) ||
                arguments.mid(i + 1).contains(QLatin1String("-h"))) {
                std::fputs(CommandUsage(QStringLiteral("fleet")).toUtf8().constData(), stdout);
                return kExitDone;
            }
            const FleetOutput out{[](const QString& line) { Print(stdout, Visible(line)); },
                                  [](const QString& line) { Print(stderr, Visible(line)); }, PrintJson};
            return RunFleet(arguments.mid(i + 1), arguments.mid(1, i - 1).contains(QLatin1String("--json")), out);
        }
        if (arguments[i] != QLatin1String("--json")) break;
    }
    const CliParse parse = ParseCliArguments(arguments);
    const CliRequest& request = parse.request;
    switch (parse.action) {
    case CliParse::Help:
        std::fputs(parse.message.toUtf8().constData(), stdout);
        return kExitDone;
    case CliParse::Version:
        std::printf("lumitrax %s\n", lumitrax::version());
        return kExitDone;
    case CliParse::Fail:
        if (request.json) {
            PrintJson(FailureJson(request.name, kExitUsage, QStringLiteral("argument"), parse.message));
        }
        Print(stderr, QStringLiteral("lumitrax: %1\nTry 'lumitrax help%2'.")
                          .arg(parse.message, request.name.isEmpty() ? QString() : QLatin1Char(' ') + request.name));
        return kExitUsage;
    case CliParse::Run:
        break;
    }

    // Never destroyed: the signal thread outlives main and may be inside Interrupt() while the
    // process exits.
    static CliInterrupt& interrupt = *new CliInterrupt;
    WatchSignals(interrupt, request);

    if (request.command == CliCommand::Monitor) {
        QString error;
        QString errorKind;
        const int status = RunMonitor(
            request, interrupt,
            [](const QString& line) {
                Print(stdout, Visible(line));
                return g_outputError == 0;  // a monitor whose output goes nowhere stops
            },
            error, errorKind);
        if (!error.isEmpty()) {
            if (request.json) {  // the last line: why the monitor ended
                Print(stdout, QString::fromUtf8(QJsonDocument(FailureJson(request.name, status, errorKind, error))
                                                    .toJson(QJsonDocument::Compact)));
            }
            PrintErrors({error});
        }
        return status;
    }

    std::function<void(const QString&)> traffic;
    if (request.verbose) {
        traffic = [](const QString& line) { Print(stderr, Visible(line)); };
    }
    const CliResult result = RunCliCommand(request, interrupt, traffic);
    if (request.json) {
        PrintJson(result.json);
    } else if (!result.rawOutput.isEmpty()) {
        g_stdoutUsed.store(true);
        std::fwrite(result.rawOutput.constData(), 1, static_cast<std::size_t>(result.rawOutput.size()), stdout);
    } else if (!request.quiet || request.command == CliCommand::Ports || request.command == CliCommand::Search ||
               request.command == CliCommand::Info || request.command == CliCommand::Raw ||
               request.command == CliCommand::Status ||
               request.command == CliCommand::VerifyConfig || request.command == CliCommand::RecipeCheck ||
               request.command == CliCommand::RecipeVerify ||
               request.command == CliCommand::LoadBright || request.command == CliCommand::LoadTrigger) {
        // -q silences summaries, not the answer a command was run for.
        for (const QString& line : result.lines) {
            Print(stdout, Visible(line));
        }
    }
    PrintErrors(result.errors);
    return result.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe is an output that cannot be written (exit 2, said on stderr), not a death
    // by SIGPIPE with the rest of the command undone.
    std::signal(SIGPIPE, SIG_IGN);
    return FinishOutput(Run(argc, argv));
}

#include "cli_run.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <memory>
#include <optional>

#include "cli_recipe.h"
#include "cli_report.h"

namespace {

using lumitrax::Controller;
using lumitrax::Error;
using lumitrax::ErrorKind;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Local time in ISO 8601 with milliseconds and the offset from UTC ("2024-03-05T07:08:09.123+01:00"):
// without the offset a reader cannot place the time, and across a change to summer time two
// readings an hour apart would print alike.
QString LocalTimeStamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    QString stamp = now.toOffsetFromUtc(offset).toString(Qt::ISODateWithMs);
    // Qt writes a zero offset as "Z"; the local zone is given as its offset, the same way all year.
    if (stamp.endsWith(QLatin1Char('Z'))) {
        stamp.chop(1);
        stamp += QStringLiteral("+00:00");
    }
    return stamp;
}

int ExitFor(ErrorKind kind, int signal, bool opened = false) {
    // A port lost after it opened is the controller gone, not a port that did not open.
    if (opened && kind == ErrorKind::Port) {
        return kExitNoAnswer;
    }
    switch (kind) {
    case ErrorKind::Argument:
    case ErrorKind::File:
        return kExitUsage;
    case ErrorKind::Port:
        return kExitPortFailed;
    case ErrorKind::NoAnswer:
    case ErrorKind::Refused:
        return kExitNoAnswer;
    case ErrorKind::Interrupted:
        return 128 + (signal != 0 ? signal : 2);
    }
    return kExitNoAnswer;
}

// One port's share of a result.
struct PortReport {
    QString port;
    int exitCode = kExitDone;
    QString error;
    QJsonObject json;
    QStringList lines;
    QByteArray raw;  // read-config -: the file's bytes

    void Fail(const Error& e, int signal, bool opened) {
        exitCode = ExitFor(e.kind(), signal, opened);
        error = Q(e.what());
        json[QStringLiteral("error")] = ErrorJson(e);
    }
};

// Makes the request's Controller the one an interrupt cancels, for the life of this object.
// An interrupt that came while the port opened (a slow network) ends the command here: a
// cancel before the call would be forgotten when the call starts.
class Active {
public:
    Active(CliInterrupt& interrupt, Controller& c) : interrupt_(interrupt) {
        std::lock_guard lock(interrupt_.mutex);
        if (interrupt_.signal.load() != 0) {
            throw Error(ErrorKind::Interrupted, c.target() + ": interrupted before anything was sent");
        }
        interrupt_.active = &c;
    }
    ~Active() {
        std::lock_guard lock(interrupt_.mutex);
        interrupt_.active = nullptr;
    }
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;

private:
    CliInterrupt& interrupt_;
};

std::unique_ptr<Controller> Open(const CliRequest& q, const QString& port, const std::atomic<bool>& stop,
                                 const std::function<void(const QString&)>& traffic) {
    auto c = std::make_unique<Controller>(port.toStdString(), q.timeoutMs, stop);
    if (traffic) {
        c->setTrafficHandler([traffic](lumitrax::Direction d, const std::string& text) {
            traffic((d == lumitrax::Direction::Sent ? QStringLiteral("-> ") : QStringLiteral("<- ")) + Q(text));
        });
    }
    return c;
}

void Compare(Controller& c, const lumitrax::Configuration& file, PortReport& r) {
    const std::vector<lumitrax::Difference> diffs = c.verifyConfiguration(file);
    QJsonArray list;
    for (const lumitrax::Difference& d : diffs) {
        list.append(QJsonObject{{"field", Q(d.field)}, {"file", Q(d.configuration)}, {"controller", Q(d.controller)}});
        r.lines.append(QStringLiteral("%1: file %2, controller %3").arg(Q(d.field), Q(d.configuration), Q(d.controller)));
    }
    r.json[QStringLiteral("agree")] = diffs.empty();
    r.json[QStringLiteral("differences")] = list;
    if (!diffs.empty()) {
        r.exitCode = kExitNoAnswer;
        r.error = QStringLiteral("%1: the controller differs from the file in %2 field(s)").arg(r.port).arg(diffs.size());
        r.json[QStringLiteral("error")] = QJsonObject{{"kind", "mismatch"}, {"message", r.error}};
    }
}

// What a command read before the first port opened: apply-config's and verify-config's
// configuration, recipe apply's and verify's recipe.
struct ReadFirst {
    std::optional<lumitrax::Configuration> configuration;
    std::optional<lumitrax::Recipe> recipe;
};

// recipe apply and verify: the report, and a difference or a failure as the port's error
// (a failure cut short by an interrupt as an interrupted one).
void ReportRecipe(const lumitrax::RecipeReport& report, const lumitrax::Recipe& recipe, bool interrupted,
                  PortReport& r) {
    r.json[QStringLiteral("recipe")] = RecipeReportJson(report);
    r.lines = RecipeReportLines(report, recipe);
    QString kind;
    switch (report.result) {
    case lumitrax::RecipeResult::Verified:
        return;
    case lumitrax::RecipeResult::Differs:
        kind = QStringLiteral("mismatch");
        r.error = QStringLiteral("%1: the controller differs from recipe %2 in %3 field(s)")
                      .arg(r.port, Q(recipe.name))
                      .arg(report.differences.size());
        break;
    case lumitrax::RecipeResult::Failed: {
        kind = interrupted ? QStringLiteral("interrupted") : QStringLiteral("failed");
        const QString why = Q(report.error);
        r.error = why.startsWith(r.port + QLatin1Char(':')) ? why : r.port + QStringLiteral(": ") + why;
        QStringList written;
        QStringList notWritten;
        for (const auto& s : report.stepsWritten) written.append(Q(s));
        for (const auto& s : report.stepsNotWritten) notWritten.append(Q(s));
        if (!written.isEmpty() || !notWritten.isEmpty()) {
            r.error += QStringLiteral("\n%1: written: %2\n%1: not written: %3")
                           .arg(r.port, written.isEmpty() ? QStringLiteral("nothing") : written.join(QStringLiteral(", ")),
                                notWritten.isEmpty() ? QStringLiteral("nothing") : notWritten.join(QStringLiteral(", ")));
        }
        break;
    }
    }
    r.exitCode = kExitNoAnswer;
    r.json[QStringLiteral("error")] = QJsonObject{{"kind", kind}, {"message", r.error}};
}

void RunOnPort(const CliRequest& q, Controller& c, const ReadFirst& read, const CliInterrupt& interrupt,
               PortReport& r) {
    const std::optional<lumitrax::Configuration>& file = read.configuration;
    switch (q.command) {
    case CliCommand::Info: {
        const lumitrax::State s = c.state();
        r.json[QStringLiteral("state")] = StateJson(s);
        r.lines = StateLines(s);
        break;
    }
    case CliCommand::Set:
        if (q.allChannels) {
            c.setAllBrightness(q.value);
        } else {
            c.setBrightness(q.channels.front(), q.value);
        }
        break;
    case CliCommand::On:
    case CliCommand::Off: {
        const bool on = q.command == CliCommand::On;
        const std::uint16_t mask = q.allChannels ? c.switchAll(on) : c.switchChannels(q.channels, on);
        r.json[QStringLiteral("on_mask")] = mask;
        break;
    }
    case CliCommand::Packet: c.setBrightnessPacket(q.packet); break;
    case CliCommand::Trigger: c.setTrigger(q.trigger); break;
    case CliCommand::OneShot: c.fireOneShot(); break;
    case CliCommand::SaveBright: c.saveBrightMemory(q.memory); break;
    case CliCommand::SaveTrigger: c.saveTriggerMemory(q.memory); break;
    case CliCommand::LoadBright: {
        const auto channels = c.loadBrightMemory(q.memory);
        r.json[QStringLiteral("memory")] = q.memory;
        r.json[QStringLiteral("channels")] = ChannelsJson(channels);
        r.lines = ChannelLines(channels);
        break;
    }
    case CliCommand::LoadTrigger: {
        const auto triggers = c.loadTriggerMemory(q.memory);
        r.json[QStringLiteral("memory")] = q.memory;
        r.json[QStringLiteral("triggers")] = TriggersJson(triggers);
        r.lines = TriggerLines(triggers);
        break;
    }
    case CliCommand::ApplyConfig: {
        QJsonArray written;
        c.applyConfiguration(*file, [&written](const std::string& step) { written.append(Q(step)); });
        r.json[QStringLiteral("steps_written")] = written;
        r.lines.append(QStringLiteral("%1: configuration %2 written (%3 steps)").arg(r.port, q.file).arg(written.size()));
        if (q.verify) {
            Compare(c, *file, r);
            if (r.exitCode == kExitDone) {
                r.lines.back() += QStringLiteral(", verified");
            }
        }
        break;
    }
    case CliCommand::ReadConfig: {
        const lumitrax::Configuration config = c.readConfiguration();
        r.json[QStringLiteral("config")] = ConfigJson(config);
        if (q.file == QLatin1String("-")) {
            r.raw = QByteArray::fromStdString(lumitrax::formatConfiguration(config));
            break;
        }
        lumitrax::writeConfigurationFile(q.file.toStdString(), config);
        r.json[QStringLiteral("file")] = q.file;
        break;
    }
    case CliCommand::VerifyConfig: Compare(c, *file, r); break;
    case CliCommand::Raw: {
        QJsonArray received;
        for (const std::string& line : c.raw(q.rawText.toStdString())) {
            received.append(Q(line));
            r.lines.append(Q(line));
        }
        r.json[QStringLiteral("received")] = received;
        break;
    }
    case CliCommand::Status: {
        const lumitrax::ErrorStatus error = c.errorStatus();
        const lumitrax::PortStatus io = c.portStatus();
        const lumitrax::ConnectionState connection = c.connectionState();
        const QJsonObject status = StatusJson(connection, error, io);
        for (auto it = status.begin(); it != status.end(); ++it) {
            r.json[it.key()] = it.value();
        }
        r.lines.append(StatusLine(connection, error, io));
        break;
    }
    case CliCommand::Outputs: c.setOutputs(q.out0, q.out1); break;
    case CliCommand::FactoryReset: c.factoryReset(); break;
    case CliCommand::RecipeApply:
    case CliCommand::RecipeVerify: {
        const lumitrax::RecipeReport report = q.command == CliCommand::RecipeApply
                                                  ? c.applyRecipe(*read.recipe, q.recordFile.toStdString())
                                                  : c.verifyRecipe(*read.recipe, q.recordFile.toStdString());
        ReportRecipe(report, *read.recipe, interrupt.signal.load() != 0, r);
        break;
    }
    case CliCommand::RecipeCapture: {
        const lumitrax::Recipe captured = c.captureRecipe(q.recipeName.toStdString());
        const std::string text = lumitrax::formatRecipe(captured);
        r.json[QStringLiteral("captured")] = RecipeJson(captured);
        if (q.file.isEmpty()) {
            r.raw = QByteArray::fromStdString(text);
            break;
        }
        WriteRecipeFile(q.file, text);
        r.json[QStringLiteral("file")] = q.file;
        break;
    }
    case CliCommand::Ports:
    case CliCommand::Search:
    case CliCommand::Monitor:
    case CliCommand::RecipeCheck:
        break;
    }
}

// monitor's line for a received line: "<time> <line>", or {"time", "line"} with --json.
QString ReceivedLine(const CliRequest& q, const std::string& line) {
    const QString time = LocalTimeStamp();
    if (q.json) {
        return QString::fromUtf8(QJsonDocument(QJsonObject{{"time", time}, {"line", Q(line)}}).toJson(QJsonDocument::Compact));
    }
    return time + QLatin1Char(' ') + Q(line);
}

// monitor --reconnect's line for the connection's state: "<time> -- <state>", or {"time", "state"}.
QString StateLine(const CliRequest& q, lumitrax::ConnectionState state) {
    const QString time = LocalTimeStamp();
    const QString name = QString::fromLatin1(lumitrax::connectionStateName(state));
    if (q.json) {
        return QString::fromUtf8(QJsonDocument(QJsonObject{{"time", time}, {"state", name}}).toJson(QJsonDocument::Compact));
    }
    return time + QStringLiteral(" -- ") + name;
}

// monitor --reconnect: the lines and the connection's changes come from a subscription, on a
// library thread, while this thread waits for the interrupt (or for the output to fail).
int MonitorReconnecting(const CliRequest& q, CliInterrupt& interrupt, const std::function<bool(const QString&)>& print) {
    lumitrax::Options options;
    options.timeoutMs = q.timeoutMs;
    options.reconnect = true;
    const auto c = std::make_unique<Controller>(q.ports.value(0).toStdString(), options, interrupt.stop);
    Active active(interrupt, *c);

    std::mutex printing;  // one line at a time, and the last state printed with it
    std::optional<lumitrax::ConnectionState> shown;
    std::atomic<bool> outputFailed{false};
    // Both called with printing held (or before the subscription, by this thread alone).
    const auto put = [&](const QString& text) {
        if (!outputFailed.load() && !print(text)) {
            {
                std::lock_guard lock(interrupt.mutex);
                outputFailed.store(true);
            }
            interrupt.wake.notify_all();
        }
    };
    const auto putState = [&](lumitrax::ConnectionState state) {
        if (shown == state) {
            return;
        }
        shown = state;
        put(StateLine(q, state));
    };
    // First the state it opened in: Connected, since the open succeeded.
    putState(lumitrax::ConnectionState::Connected);
    lumitrax::Subscription subscription = c->subscribe(
        [&](const std::string& line) {
            std::lock_guard lock(printing);
            put(ReceivedLine(q, line));
        },
        [&](lumitrax::ConnectionState state) {
            std::lock_guard lock(printing);
            putState(state);
        });
    {
        std::unique_lock lock(interrupt.mutex);
        interrupt.wake.wait(lock, [&] { return interrupt.signal.load() != 0 || outputFailed.load(); });
    }
    // No callback runs after this, so none outlives the locals it uses; the Controller's
    // Closed is not printed: the tool closing it is no news.
    subscription.cancel();
    return kExitDone;
}

CliResult Ports() {
    CliResult out;
    QJsonArray ports;
    for (const lumitrax::PortInfo& p : lumitrax::listPorts()) {
        out.lines.append(p.description.empty() ? QStringLiteral("%1 %2").arg(Q(p.name), Q(p.path))
                                               : QStringLiteral("%1 %2 (%3)").arg(Q(p.name), Q(p.path), Q(p.description)));
        ports.append(QJsonObject{{"name", Q(p.name)}, {"path", Q(p.path)}, {"description", Q(p.description)}});
    }
    out.json[QStringLiteral("ports")] = ports;
    return out;
}

CliResult Search(const CliRequest& q) {
    CliResult out;
    std::vector<std::string> targets;
    if (q.ports.isEmpty()) {
        for (const lumitrax::PortInfo& p : lumitrax::listPorts()) {
            targets.push_back(p.path);
        }
    } else {
        // A port named twice is probed once: two probes side by side would hold it against
        // each other.
        for (const QString& p : q.ports) {
            if (std::find(targets.begin(), targets.end(), p.toStdString()) == targets.end()) {
                targets.push_back(p.toStdString());
            }
        }
    }
    QJsonArray ports;
    QStringList probed;
    int found = 0;
    for (const lumitrax::SearchResult& s : lumitrax::search(targets, q.timeoutMs)) {
        QJsonObject o{{"port", Q(s.target)}, {"found", s.found}};
        if (s.found) {
            ++found;
            const lumitrax::Identity& id = s.identity;
            out.lines.append(QStringLiteral("%1 %2 %3 %4 %5 %6")
                                 .arg(Q(s.target), Q(id.model), Q(id.firmware), Q(id.fpga), Q(id.build), Q(id.serialNumber)));
            o[QStringLiteral("identity")] = IdentityJson(id);
            probed.append(QStringLiteral("%1 (found)").arg(Q(s.target)));
        } else {
            o[QStringLiteral("problem")] = Q(s.problem);
            probed.append(QStringLiteral("%1 (%2)").arg(Q(s.target), Q(s.problem)));
        }
        ports.append(o);
    }
    out.json[QStringLiteral("ports")] = ports;
    const QString summary = targets.empty() ? QStringLiteral("no port to probe")
                                            : QStringLiteral("probed %1 port(s): %2").arg(targets.size()).arg(probed.join(QStringLiteral("; ")));
    if (found == 0) {
        out.exitCode = kExitNoAnswer;
        out.errors.append(QStringLiteral("no controller found; ") + summary);
        out.json[QStringLiteral("error")] = QJsonObject{{"kind", "no answer"}, {"message", out.errors.last()}};
    } else if (!q.quiet) {
        out.errors.append(summary);
    }
    return out;
}

}  // namespace

void CliInterrupt::Interrupt(int signalNumber) {
    {
        std::lock_guard lock(mutex);
        signal.store(signalNumber);
        stop.store(true);
        if (active != nullptr) {
            active->cancel();
        }
    }
    wake.notify_all();
}

CliResult RunCliCommand(const CliRequest& q, CliInterrupt& interrupt, const std::function<void(const QString&)>& traffic) {
    CliResult out;
    if (q.command == CliCommand::Ports || q.command == CliCommand::Search || q.command == CliCommand::RecipeCheck) {
        interrupt.endsAtOnce.store(true);
        out = q.command == CliCommand::Ports ? Ports() : q.command == CliCommand::Search ? Search(q) : CheckRecipes(q);
    } else {
        ReadFirst read;
        std::optional<lumitrax::Configuration>& file = read.configuration;
        if (q.command == CliCommand::RecipeApply || q.command == CliCommand::RecipeVerify) {
            try {
                read.recipe = lumitrax::readRecipeFile(q.file.toStdString());
            } catch (const Error& e) {
                out.exitCode = kExitUsage;
                out.errors.append(Q(e.what()));
                out.json[QStringLiteral("error")] = ErrorJson(e);
            }
        }
        if (q.command == CliCommand::ApplyConfig || q.command == CliCommand::VerifyConfig) {
            std::vector<lumitrax::ConfigProblem> warnings;
            try {
                file = lumitrax::readConfigurationFile(
                    q.file.toStdString(), q.lenient ? lumitrax::ConfigReading::Lenient : lumitrax::ConfigReading::Strict,
                    &warnings);
            } catch (const Error& e) {
                out.exitCode = kExitUsage;
                out.errors.append(Q(e.what()).split(QLatin1Char('\n')));
                out.json[QStringLiteral("error")] = ErrorJson(e);
            }
            for (const lumitrax::ConfigProblem& w : warnings) {
                out.errors.append(QStringLiteral("%1:%2: \"%3\": %4").arg(q.file).arg(w.line).arg(Q(w.text), Q(w.message)));
            }
        }
        // Every name is checked before the first port opens: a slip in the second must not be
        // found after the first controller was written.
        for (const QString& port : out.exitCode == kExitDone ? q.ports : QStringList()) {
            try {
                lumitrax::checkTarget(port.toStdString());
            } catch (const Error& e) {
                out.exitCode = kExitUsage;
                out.errors.append(Q(e.what()));
                out.json[QStringLiteral("error")] = ErrorJson(e);
            }
        }
        QJsonArray perPort;
        std::vector<PortReport> reports;
        for (const QString& port : out.exitCode == kExitDone ? q.ports : QStringList()) {
            if (interrupt.signal.load() != 0) {
                break;
            }
            PortReport r;
            r.port = port;
            bool opened = false;
            try {
                const std::unique_ptr<Controller> c = Open(q, port, interrupt.stop, traffic);
                opened = true;
                Active active(interrupt, *c);
                RunOnPort(q, *c, read, interrupt, r);
            } catch (const Error& e) {
                r.Fail(e, interrupt.signal.load(), opened);
                if (!e.stepsWritten().empty() || !e.stepsNotWritten().empty()) {
                    QStringList written;
                    QStringList notWritten;
                    for (const auto& s : e.stepsWritten()) written.append(Q(s));
                    for (const auto& s : e.stepsNotWritten()) notWritten.append(Q(s));
                    r.error += QStringLiteral("\n%1: written: %2\n%1: not written: %3")
                                   .arg(port, written.isEmpty() ? QStringLiteral("nothing") : written.join(QStringLiteral(", ")),
                                        notWritten.isEmpty() ? QStringLiteral("nothing") : notWritten.join(QStringLiteral(", ")));
                }
            }
            r.json[QStringLiteral("port")] = port;
            r.json[QStringLiteral("exit")] = r.exitCode;
            out.exitCode = std::max(out.exitCode, r.exitCode);
            if (!r.error.isEmpty()) {
                out.errors.append(r.error);
                if (!out.json.contains(QStringLiteral("error")) || r.exitCode >= out.exitCode) {
                    out.json[QStringLiteral("error")] = r.json.value(QStringLiteral("error"));
                }
            }
            if (q.ports.size() > 1 && !r.lines.isEmpty()) {
                out.lines.append(QStringLiteral("== %1 ==").arg(port));
            }
            out.lines += r.lines;
            out.rawOutput += r.raw;
            perPort.append(r.json);
        }
        out.json[QStringLiteral("ports")] = perPort;
    }
    if (interrupt.signal.load() != 0 && out.exitCode < 128) {
        out.exitCode = 128 + interrupt.signal.load();
        out.errors.append(QStringLiteral("interrupted"));
    }
    out.json[QStringLiteral("schema")] = kJsonSchema;
    out.json[QStringLiteral("command")] = q.name;
    out.json[QStringLiteral("exit")] = out.exitCode;
    return out;
}

int RunMonitor(const CliRequest& q, CliInterrupt& interrupt, const std::function<bool(const QString&)>& print,
               QString& error, QString& errorKind) {
    bool opened = false;
    try {
        lumitrax::checkTarget(q.ports.value(0).toStdString());
    } catch (const Error& e) {
        error = Q(e.what());
        errorKind = ErrorJson(e).value(QStringLiteral("kind")).toString();
        return kExitUsage;
    }
    try {
        if (q.reconnect) {
            return MonitorReconnecting(q, interrupt, print);
        }
        const std::unique_ptr<Controller> c = Open(q, q.ports.value(0), interrupt.stop, {});
        opened = true;
        Active active(interrupt, *c);
        c->monitor([&q, &print](const std::string& line) { return print(ReceivedLine(q, line)); });
    } catch (const Error& e) {
        error = Q(e.what());
        errorKind = ErrorJson(e).value(QStringLiteral("kind")).toString();
        return ExitFor(e.kind(), interrupt.signal.load(), opened);
    }
    return kExitDone;
}

#include "cli_commands.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cstring>
#include <vector>

#include "c_format.h"
#include "cli_report.h"
#include "command_send.h"
#include "config_apply.h"
#include "config_compare.h"
#include "config_file.h"
#include "controller_queries.h"
#include "device_text.h"
#include "pause.h"
#include "port_list.h"
#include "trigger_row.h"

namespace {

constexpr int kPollMs = 10;
// Quiet time that ends the wait for an answer: the panel's wait between identification
// queries, long enough for a refusal that follows an echoed command line.
constexpr int kAnswerSettleMs = 100;
constexpr int kMonitorPollMs = 20;
// The tool works as the panel opened with 16 channels: "all" is channels 1..16, the read-all
// asks for the four trigger rows.
constexpr int kToolChannels = 16;
constexpr std::uint32_t kAllChannelsMask = 0xFFFF;
constexpr int kTriggerRowPauseMs = 10;  // the panel's pause after each settrigger
constexpr int kLoadBrightPauseMs = 10;  // the panel's pause after loadbright

// One port's share of a result.
struct PortReport {
    QString path;
    int exitCode = kExitDone;
    QString error;
    QJsonObject json;
    QStringList lines;

    bool Ok() const { return exitCode == kExitDone; }
    void Fail(int code, const QString& message) {
        exitCode = code;
        error = message;
    }
};

// The traffic log since the last drain.
struct Traffic {
    QStringList sent;      // commands, without their carriage return
    QStringList received;  // reply lines
    QString refusal;       // the first reply whose first word is "error"

    // For a person: the commands ("-> "), then the replies ("<- "). The log order of the two
    // says little: an echo can be filed before the command that caused it.
    QStringList Lines() const {
        QStringList lines;
        for (const QString& s : sent) {
            lines.append(QStringLiteral("-> ") + s);
        }
        for (const QString& s : received) {
            lines.append(QStringLiteral("<- ") + s);
        }
        return lines;
    }
};

QString FirstWord(const QString& line) { return line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty); }

void Drain(DeviceLink& link, Traffic& t) {
    char line[kLogSlotSize];
    while (link.PopLogLine(line) == 1) {
        if (std::strncmp(line, "-> ", 3) == 0) {
            const char* command = line + 3;
            QString text = static_cast<unsigned char>(command[0]) == PACKET_START
                               ? QStringLiteral("(brightness packet)")
                               : DecodeDeviceText(QByteArrayView(command, static_cast<qsizetype>(std::strlen(command))));
            if (text.endsWith(QLatin1Char('\r'))) {
                text.chop(1);
            }
            t.sent.append(text);
            continue;
        }
        const QString text = DecodeDeviceText(QByteArrayView(line, static_cast<qsizetype>(std::strlen(line))));
        if (t.refusal.isEmpty() && FirstWord(text) == QLatin1String("error")) {
            t.refusal = text;
        }
        t.received.append(text);
    }
}

// Forgets what the log holds, so that the next drain sees only what follows.
void Discard(DeviceLink& link) {
    Traffic old;
    Drain(link, old);
}

// Waits for the answer to what was just sent: up to timeoutMs for a first line, then until
// no line came for kAnswerSettleMs, never longer than timeoutMs in all; a refusal ends it.
void AwaitAnswer(DeviceLink& link, int timeoutMs, Traffic& t) {
    int waited = 0;
    int quiet = 0;
    for (;;) {
        const qsizetype before = t.received.size();
        Drain(link, t);
        if (t.received.size() != before) {
            quiet = 0;
        }
        if (!t.refusal.isEmpty() || waited >= timeoutMs ||
            (!t.received.isEmpty() && quiet >= kAnswerSettleMs)) {
            return;
        }
        Pause(kPollMs);
        waited += kPollMs;
        quiet += kPollMs;
    }
}

// Exit status 1 for a refusal or for silence; the traffic goes into the report either way
// (into its plain lines only with showLines).
void Judge(const Traffic& t, int timeoutMs, PortReport& r, bool showLines = true) {
    r.json[QStringLiteral("sent")] = QJsonArray::fromStringList(t.sent);
    r.json[QStringLiteral("received")] = QJsonArray::fromStringList(t.received);
    if (showLines) {
        r.lines += t.Lines();
    }
    if (!t.refusal.isEmpty()) {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller refused: %2").arg(r.path, t.refusal));
    } else if (t.received.isEmpty()) {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller did not answer within %2 ms").arg(r.path).arg(timeoutMs));
    }
}

// True when a reply line starting with keyword and holding at least words words arrived (an
// echoed query holds its keyword alone).
bool Reported(const Traffic& t, const char* keyword, int words) {
    for (const QString& line : t.received) {
        const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (w.size() >= words && w.first() == QLatin1String(keyword)) {
            return true;
        }
    }
    return false;
}

bool OpenPath(DeviceLink& link, const QString& path, PortReport& r) {
    AddPortPath(path);
    const int number = PortNumberForPath(path);
    if (link.OpenPort(number) != 0) {
        return true;
    }
    r.Fail(kExitPortFailed, DescribeOpenFailure(link.LastOpenFailure(), number));
    return false;
}

// The panel's read-all; its traffic goes to traffic when given.
bool ReadState(DeviceLink& link, DeviceState& state, PortReport& r, Traffic* traffic = nullptr) {
    const int seen = ReadAll(link, kToolChannels, state);
    Traffic t;
    Drain(link, t);
    if (traffic != nullptr) {
        *traffic = t;
    }
    if (seen == 0) {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller did not answer the read-all queries within %2 ms")
                                  .arg(r.path)
                                  .arg(kReadAllWaitMs));
        return false;
    }
    return true;
}

// ---- the commands on one open port ----

void Info(DeviceLink& link, PortReport& r) {
    DeviceState s;
    if (ReadState(link, s, r)) {
        r.json = StateJson(s);
        r.lines = StateLines(s);
    }
}

void SetBrightness(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    const auto value = static_cast<std::uint16_t>(q.value);
    if (q.allChannels) {
        for (int i = 0; i < kToolChannels; ++i) {
            SendTyped<CMD_SETBRIGHTNESS>(link, {static_cast<std::uint8_t>(i), value});
        }
    } else {
        SendTyped<CMD_SETBRIGHTNESS>(link, {static_cast<std::uint8_t>(q.channels.front()), value});
    }
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r);
}

void SwitchChannels(DeviceLink& link, const CliRequest& q, bool on, PortReport& r) {
    std::uint32_t mask = on ? kAllChannelsMask : 0;
    if (!q.allChannels) {
        // The other channels keep their state: start from the mask the controller reports
        // for its current bright memory, and only when it did report it.
        DeviceState s;
        Traffic read;
        if (!ReadState(link, s, r, &read)) {
            return;
        }
        if (!Reported(read, "getbrightindex", 2) || !Reported(read, "getonex", 3) || s.brightIndex >= kMemoryCount) {
            r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller did not report the on mask of its current bright memory")
                                      .arg(r.path));
            return;
        }
        mask = s.onMask[s.brightIndex];
        for (const int channel : q.channels) {
            const std::uint32_t bit = 1u << channel;
            mask = on ? (mask | bit) : (mask & ~bit);
        }
    }
    Discard(link);
    SendTyped<CMD_SETONEX>(link, {mask});
    r.json[QStringLiteral("on_mask")] = static_cast<int>(mask);
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r);
}

void Packet(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    PacketArg packet;
    for (int i = 0; i < kChannelCount; ++i) {
        packet.values[i] = q.packet[static_cast<std::size_t>(i)];
    }
    SendTyped<CMD_SETBRIGHTPACKET>(link, packet);
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r);
}

void Trigger(DeviceLink& link, const CliRequest& q, PortReport& r) {
    const TriggerRequest& tr = q.trigger;
    const TriggerSetting s = TriggerRowSetting(tr.row, tr.delayPosition, tr.onPosition, tr.edge, tr.enable);
    Discard(link);
    SendTyped<CMD_SETTRIGGER>(link, s);
    Pause(kTriggerRowPauseMs);
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r);
}

// A command without arguments or with one byte, then the answer.
template <CommandId Id>
void Single(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    if constexpr (kTakesNoBlock<Id>) {
        SendTyped<Id>(link);
    } else {
        SendTyped<Id>(link, {static_cast<std::uint8_t>(q.memory)});
    }
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r);
}

void LoadBright(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    SendTyped<CMD_LOADBRIGHT>(link, {static_cast<std::uint8_t>(q.memory)});
    Pause(kLoadBrightPauseMs);
    for (int i = 0; i < kToolChannels; ++i) {
        SendTyped<CMD_GETBRIGHTNESS>(link, {static_cast<std::uint8_t>(i)});
    }
    SendTyped<CMD_GETONEX>(link);
    Traffic t;
    AwaitAnswer(link, q.timeoutMs, t);
    Judge(t, q.timeoutMs, r, false);
    if (r.Ok()) {
        DeviceState s;
        link.TakeSnapshot(s);
        r.json[QStringLiteral("memory")] = q.memory;
        r.json[QStringLiteral("channels")] = ChannelsJson(s, q.memory);
        r.lines += ChannelLines(s, q.memory);
    }
}

void LoadTrigger(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    SendTyped<CMD_LOADTRIGGER>(link, {static_cast<std::uint8_t>(q.memory)});
    // As the panel: the read-all follows and shows the rows of the memory just loaded. Its
    // queries are not reported, only a refusal among its replies.
    DeviceState s;
    Traffic read;
    if (!ReadState(link, s, r, &read)) {
        return;
    }
    Traffic t;
    t.sent = read.sent.mid(0, 1);
    t.received = read.received;
    t.refusal = read.refusal;
    Judge(t, q.timeoutMs, r, false);
    r.json.remove(QStringLiteral("received"));
    if (r.Ok()) {
        r.json[QStringLiteral("memory")] = s.trigIndex;
        r.json[QStringLiteral("triggers")] = TriggersJson(s, s.trigIndex);
        r.lines += TriggerLines(s, s.trigIndex);
    }
}

// A configuration file read once for every port.
struct ConfigSource {
    QByteArray content;
    ModuleConfig config;  // the file over the defaults
    ConfigLines lines;
    ConfigFields given;
};

void Compare(const ConfigSource& file, const DeviceState& s, PortReport& r) {
    const std::vector<ConfigDifference> diffs = CompareConfig(file.config, file.given, s);
    QJsonArray list;
    for (const ConfigDifference& d : diffs) {
        list.append(QJsonObject{{"field", d.field}, {"file", d.fileValue}, {"controller", d.controllerValue}});
        r.lines.append(QStringLiteral("%1: file %2, controller %3").arg(d.field, d.fileValue, d.controllerValue));
    }
    r.json[QStringLiteral("agree")] = diffs.empty();
    r.json[QStringLiteral("differences")] = list;
    if (diffs.empty()) {
        r.lines.append(QStringLiteral("the controller agrees with the file"));
    } else {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller differs from the file in %2 field(s)")
                                  .arg(r.path)
                                  .arg(diffs.size()));
    }
}

void VerifyConfig(DeviceLink& link, const ConfigSource& file, PortReport& r) {
    DeviceState s;
    if (ReadState(link, s, r)) {
        Compare(file, s, r);
    }
}

void ApplyConfig(DeviceLink& link, const CliRequest& q, const ConfigSource& file, PortReport& r) {
    // The panel applies what its "[Config]" group holds: the controller's values from the
    // read-all at open, with the loaded file over them. The trigger channel count and the
    // on/off, soft start and trigger switches are not in the file and so stay as they are.
    DeviceState s;
    if (!ReadState(link, s, r)) {
        return;
    }
    ModuleConfig config = ConfigFromState(s);
    ConfigLines lines;
    ReadConfigText(file.content, config, lines);
    Discard(link);
    const ConfigApplyResult result = SendConfigToModule(link, config);
    Traffic t;
    Drain(link, t);
    if (result == ConfigApplyResult::InvalidBandwidth) {
        int row = 0;
        while (row < kChannelCount - 1 &&
               config.bandwidthLow[static_cast<std::size_t>(row)] < config.bandwidthHigh[static_cast<std::size_t>(row)]) {
            ++row;
        }
        const auto i = static_cast<std::size_t>(row);
        r.lines += t.Lines();
        r.Fail(kExitUsage, QStringLiteral("%1 (dac_bandwidth %2: %3 is not below %4); the identity and switch "
                                          "commands were sent and saved, the DAC table, offset and model save were not")
                               .arg(QLatin1String(kInvalidBandwidthMessage))
                               .arg(row)
                               .arg(QCFormat("%f", {config.bandwidthLow[i]}), QCFormat("%f", {config.bandwidthHigh[i]})));
        return;
    }
    // The replies double the long list of commands without telling more: only a refusal or
    // silence is worth a line of its own.
    Judge(t, q.timeoutMs, r, false);
    for (const QString& sent : t.sent) {
        r.lines.append(QStringLiteral("-> ") + sent);
    }
    if (r.Ok() && q.verify) {
        DeviceState after;
        if (ReadState(link, after, r)) {
            Compare(file, after, r);
        }
    }
}

bool WriteConfig(const QString& path, const ModuleConfig& config, QString& error) {
    if (QFileInfo::exists(path)) {
        // As the panel's "Save file": the file is replaced whole and keeps its permissions.
        if (WriteConfigFile(path, config) == ConfigSaveResult::Saved) {
            return true;
        }
        error = QStringLiteral("%1: %2").arg(path, QLatin1String(kFileOpenErrorMessage));
        return false;
    }
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(FormatConfigFile(config)) >= 0 && out.commit()) {
        return true;
    }
    error = QStringLiteral("%1: cannot be written (%2)").arg(path, out.errorString());
    return false;
}

void ReadConfig(DeviceLink& link, const CliRequest& q, PortReport& r, QByteArray& rawOutput) {
    DeviceState s;
    if (!ReadState(link, s, r)) {
        return;
    }
    const ModuleConfig config = ConfigFromState(s);
    r.json[QStringLiteral("config")] = ConfigJson(config);
    if (q.file == QLatin1String("-")) {
        if (!q.json) {
            rawOutput = FormatConfigFile(config);
        }
        return;
    }
    QString error;
    if (!WriteConfig(q.file, config, error)) {
        r.Fail(kExitUsage, error);
        return;
    }
    r.json[QStringLiteral("file")] = q.file;
    r.lines.append(QStringLiteral("configuration written to %1").arg(q.file));
}

void Raw(DeviceLink& link, const CliRequest& q, PortReport& r) {
    Discard(link);
    const QByteArray text = EncodeDeviceText(q.rawText) + '\r';
    SendTyped<CMD_RAW>(link, {text.constData()});
    Traffic t;
    for (int waited = 0; waited < q.timeoutMs; waited += kPollMs) {
        Pause(kPollMs);
        Drain(link, t);
    }
    Drain(link, t);
    r.json[QStringLiteral("sent")] = QJsonArray::fromStringList(t.sent);
    r.json[QStringLiteral("received")] = QJsonArray::fromStringList(t.received);
    r.lines += t.received;
    if (!t.refusal.isEmpty()) {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller refused: %2").arg(r.path, t.refusal));
    } else if (t.received.isEmpty()) {
        r.Fail(kExitNoAnswer, QStringLiteral("%1: the controller did not answer within %2 ms").arg(r.path).arg(q.timeoutMs));
    }
}

// ---- commands without a connection of their own ----

CliResult Ports(const CliRequest& q) {
    CliResult out;
    for (const QString& path : q.ports) {
        AddPortPath(path);
    }
    QJsonArray ports;
    for (const PortEntry& e : ListPorts()) {
        out.lines.append(e.text);
        ports.append(QJsonObject{{"name", QStringLiteral("COM%1").arg(e.number)},
                                 {"path", e.devicePath},
                                 {"description", e.description}});
    }
    out.json[QStringLiteral("ports")] = ports;
    return out;
}

CliResult Search(const CliRequest& q, DeviceLink& link) {
    CliResult out;
    std::vector<SearchTarget> targets;
    if (q.ports.isEmpty()) {
        for (const PortEntry& e : ListPorts()) {
            targets.push_back({e.number, e.devicePath.toStdString()});
        }
    } else {
        for (const QString& path : q.ports) {
            AddPortPath(path);
            targets.push_back({PortNumberForPath(path), path.toStdString()});
        }
    }
    QJsonArray found;
    for (const SearchTarget& target : targets) {
        SearchHit hit{target, {}};
        if (!ProbePort(link, target.portNumber, hit.identity)) {
            if (!q.ports.isEmpty() && link.LastOpenFailure() != OpenFailure::None) {
                out.errors.append(DescribeOpenFailure(link.LastOpenFailure(), target.portNumber));
            }
            continue;
        }
        out.lines.append(DecodeDeviceText(QByteArray::fromStdString(SearchReportLine(hit))));
        auto decoded = [](const std::string& s) { return DecodeDeviceText(QByteArray::fromStdString(s)); };
        found.append(QJsonObject{{"port", QString::fromStdString(target.name)},
                                 {"model", decoded(hit.identity.moduleName)},
                                 {"firmware", decoded(hit.identity.firmwareVersion)},
                                 {"fpga", decoded(hit.identity.fpgaVersion)},
                                 {"build", decoded(hit.identity.build)},
                                 {"serial", decoded(hit.identity.serialNumber)}});
    }
    out.json[QStringLiteral("controllers")] = found;
    if (found.isEmpty()) {
        out.exitCode = kExitNoAnswer;
        out.errors.append(QStringLiteral("not found"));
    }
    return out;
}

bool ReadConfigSource(const QString& path, ConfigSource& source, CliResult& out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.exitCode = kExitUsage;
        out.errors.append(QStringLiteral("%1: %2 (%3)").arg(path, QLatin1String(kFileOpenErrorMessage), file.errorString()));
        return false;
    }
    source.content = file.readAll();
    for (const UnknownConfigLine& unknown : ReadConfigText(source.content, source.config, source.lines)) {
        out.errors.append(QStringLiteral("%1: %2").arg(path, UnknownLineMessage(unknown).trimmed()));
    }
    source.given = FieldsGiven(source.lines);
    return true;
}

bool TakesSeveralPorts(CliCommand c) {
    return c == CliCommand::Info || c == CliCommand::ApplyConfig || c == CliCommand::VerifyConfig;
}

}  // namespace

CliResult RunCliCommand(const CliRequest& q, DeviceLink& link) {
    CliResult out;
    if (q.command == CliCommand::Ports) {
        out = Ports(q);
    } else if (q.command == CliCommand::Search) {
        out = Search(q, link);
    }
    if (q.command == CliCommand::Ports || q.command == CliCommand::Search) {
        out.json[QStringLiteral("command")] = q.name;
        out.json[QStringLiteral("exit")] = out.exitCode;
        return out;
    }

    ConfigSource source;
    const bool needsFile = q.command == CliCommand::ApplyConfig || q.command == CliCommand::VerifyConfig;
    if (needsFile && !ReadConfigSource(q.file, source, out)) {
        out.json = QJsonObject{{"command", q.name}, {"exit", out.exitCode}, {"error", out.errors.last()}};
        return out;
    }

    std::vector<PortReport> reports;
    for (const QString& path : q.ports) {
        PortReport r;
        r.path = path;
        if (OpenPath(link, path, r)) {
            switch (q.command) {
            case CliCommand::Info: Info(link, r); break;
            case CliCommand::Set: SetBrightness(link, q, r); break;
            case CliCommand::On: SwitchChannels(link, q, true, r); break;
            case CliCommand::Off: SwitchChannels(link, q, false, r); break;
            case CliCommand::Packet: Packet(link, q, r); break;
            case CliCommand::Trigger: Trigger(link, q, r); break;
            case CliCommand::OneShot: Single<CMD_SETONESHOTTRIG>(link, q, r); break;
            case CliCommand::SaveBright: Single<CMD_SAVEBRIGHT>(link, q, r); break;
            case CliCommand::LoadBright: LoadBright(link, q, r); break;
            case CliCommand::SaveTrigger: Single<CMD_SAVETRIGGER>(link, q, r); break;
            case CliCommand::LoadTrigger: LoadTrigger(link, q, r); break;
            case CliCommand::ApplyConfig: ApplyConfig(link, q, source, r); break;
            case CliCommand::ReadConfig: ReadConfig(link, q, r, out.rawOutput); break;
            case CliCommand::VerifyConfig: VerifyConfig(link, source, r); break;
            case CliCommand::Raw: Raw(link, q, r); break;
            case CliCommand::Ports:
            case CliCommand::Search:
            case CliCommand::Monitor:
                break;
            }
            link.ClosePort();
        }
        reports.push_back(std::move(r));
    }

    const bool several = TakesSeveralPorts(q.command);
    QJsonArray perPort;
    for (PortReport& r : reports) {
        out.exitCode = std::max(out.exitCode, r.exitCode);
        if (!r.error.isEmpty()) {
            out.errors.append(r.error);
            r.json[QStringLiteral("error")] = r.error;
        }
        r.json[QStringLiteral("port")] = r.path;
        r.json[QStringLiteral("exit")] = r.exitCode;
        if (several && reports.size() > 1) {
            out.lines.append(QStringLiteral("== %1 ==").arg(r.path));
        }
        out.lines += r.lines;
        perPort.append(r.json);
    }
    if (several) {
        out.json[QStringLiteral("ports")] = perPort;
    } else if (!reports.empty()) {
        out.json = reports.front().json;
    }
    out.json[QStringLiteral("command")] = q.name;
    out.json[QStringLiteral("exit")] = out.exitCode;
    return out;
}

int RunMonitor(const CliRequest& q, DeviceLink& link, const std::atomic<bool>& stop,
               const std::function<void(const QString&)>& print, QString& error) {
    PortReport r;
    r.path = q.ports.value(0);
    if (!OpenPath(link, r.path, r)) {
        error = r.error;
        return r.exitCode;
    }
    while (!stop.load()) {
        Traffic t;
        Drain(link, t);
        for (const QString& line : t.received) {
            const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
            if (q.json) {
                print(QString::fromUtf8(QJsonDocument(QJsonObject{{"time", time}, {"line", line}}).toJson(QJsonDocument::Compact)));
            } else {
                print(time + QLatin1Char(' ') + line);
            }
        }
        Pause(kMonitorPollMs);
    }
    link.ClosePort();
    return kExitDone;
}

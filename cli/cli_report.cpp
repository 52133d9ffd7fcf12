#include "cli_report.h"

#include <lumitrax/recipe.h>

namespace {

constexpr int kLabelWidth = 17;

QString Text(const std::string& s) { return QString::fromStdString(s); }
QString N(int v) { return QString::number(v); }
QString Six(float v) { return QString::number(static_cast<double>(v), 'f', 6); }
double SixValue(float v) { return Six(v).toDouble(); }
QString Bit(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }

QString Line(const char* label, const QString& value) {
    return QString::fromLatin1(label).leftJustified(kLabelWidth) + value;
}

const char* EdgeName(lumitrax::Edge e) { return e == lumitrax::Edge::Positive ? "positive" : "negative"; }

QJsonObject ErrorStatusJson(const lumitrax::ErrorStatus& e) {
    return QJsonObject{{"code", e.code}, {"detail", e.detail}};
}

QString ErrorStatusText(const lumitrax::ErrorStatus& e) {
    return QStringLiteral("%1,%2h").arg(e.code).arg(e.detail, 0, 16);
}

QJsonArray DacJson(const std::array<std::optional<lumitrax::DacRow>, lumitrax::kChannels>& rows) {
    QJsonArray dac;
    for (const auto& row : rows) {
        if (row) {
            dac.append(QJsonObject{{"channel", row->channel}, {"low", SixValue(row->low)}, {"high", SixValue(row->high)}});
        }
    }
    return dac;
}

QJsonArray Strings(const std::vector<std::string>& items) {
    QJsonArray out;
    for (const std::string& s : items) {
        out.append(Text(s));
    }
    return out;
}

QJsonArray Numbers(const std::vector<int>& items) {
    QJsonArray out;
    for (const int v : items) {
        out.append(v);
    }
    return out;
}

}  // namespace

QJsonObject IdentityJson(const lumitrax::Identity& id) {
    return QJsonObject{{"model", Text(id.model)},       {"serial", Text(id.serialNumber)},
                       {"module_id", id.moduleId},     {"firmware", Text(id.firmware)},
                       {"fpga", Text(id.fpga)},        {"build", Text(id.build)}};
}

QJsonArray ChannelsJson(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels) {
    QJsonArray out;
    for (const auto& c : channels) {
        out.append(QJsonObject{{"channel", c.channel}, {"brightness", c.brightness}, {"on", c.on}});
    }
    return out;
}

QJsonArray TriggersJson(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers) {
    QJsonArray out;
    for (const auto& t : triggers) {
        out.append(QJsonObject{{"trigger", t.row},     {"enable", t.enable}, {"edge", EdgeName(t.edge)},
                               {"delay_us", t.delayUs}, {"on_us", t.onUs},   {"off_us", t.offUs}});
    }
    return out;
}

QJsonObject StateJson(const lumitrax::State& s) {
    std::array<std::optional<lumitrax::DacRow>, lumitrax::kChannels> dac{};
    for (std::size_t i = 0; i < dac.size(); ++i) {
        dac[i] = s.dac[i];
    }
    return QJsonObject{
        {"identity", IdentityJson(s.identity)},
        {"model_channels", s.modelChannels},
        {"trigger_channels", s.triggerChannels},
        {"offset", s.offset},
        {"features", QJsonObject{{"pwm", s.features.pwm},
                                 {"packet", s.features.packet},
                                 {"debug", s.features.debug},
                                 {"trigger_input", s.features.triggerInput},
                                 {"onoff_input", s.features.onOffInput},
                                 {"soft_start", s.features.softStart}}},
        {"switches", QJsonObject{{"mode", s.switches.mode},
                                 {"grab", s.switches.grab},
                                 {"hold", s.switches.hold},
                                 {"high_low", s.switches.highLow}}},
        {"error_status", ErrorStatusJson(s.errorStatus)},
        {"io", QJsonObject{{"out0", s.out0}, {"out1", s.out1}, {"in0", s.in0}, {"in1", s.in1}, {"tof", s.tof}}},
        {"bright_memory", s.brightMemory},
        {"trigger_memory", s.triggerMemory},
        {"channels", ChannelsJson(s.channels)},
        {"triggers", TriggersJson(s.triggers)},
        {"dac_bandwidth", DacJson(dac)},
    };
}

QJsonObject ConfigJson(const lumitrax::Configuration& c) {
    QJsonObject identity;
    if (c.model) identity[QStringLiteral("model")] = Text(*c.model);
    if (c.serialNumber) identity[QStringLiteral("serial")] = Text(*c.serialNumber);
    if (c.moduleId) identity[QStringLiteral("module_id")] = *c.moduleId;
    QJsonObject features;
    if (c.usePwm) features[QStringLiteral("pwm")] = *c.usePwm;
    if (c.usePacket) features[QStringLiteral("packet")] = *c.usePacket;
    if (c.useDebug) features[QStringLiteral("debug")] = *c.useDebug;
    QJsonObject out;
    if (!identity.isEmpty()) out[QStringLiteral("identity")] = identity;
    if (c.channels) out[QStringLiteral("model_channels")] = *c.channels;
    if (c.offset) out[QStringLiteral("offset")] = *c.offset;
    if (!features.isEmpty()) out[QStringLiteral("features")] = features;
    const QJsonArray dac = DacJson(c.dac);
    if (!dac.isEmpty()) out[QStringLiteral("dac_bandwidth")] = dac;
    return out;
}

QJsonObject ErrorJson(const lumitrax::Error& e) {
    QJsonObject o{{"kind", QString::fromLatin1(lumitrax::ErrorKindName(e.kind()))}, {"message", QString::fromStdString(e.what())}};
    if (!e.stepsWritten().empty() || !e.stepsNotWritten().empty()) {
        QJsonArray written;
        QJsonArray notWritten;
        for (const auto& s : e.stepsWritten()) written.append(Text(s));
        for (const auto& s : e.stepsNotWritten()) notWritten.append(Text(s));
        o[QStringLiteral("steps_written")] = written;
        o[QStringLiteral("steps_not_written")] = notWritten;
    }
    return o;
}

QJsonObject StatusJson(lumitrax::ConnectionState connection, const lumitrax::ErrorStatus& error,
                       const lumitrax::PortStatus& io) {
    return QJsonObject{
        {"connection", QString::fromLatin1(lumitrax::connectionStateName(connection))},
        {"error_status", ErrorStatusJson(error)},
        {"io", QJsonObject{{"in0", io.in0}, {"in1", io.in1}, {"out0", io.out0}, {"out1", io.out1}}},
    };
}

QString StatusLine(lumitrax::ConnectionState connection, const lumitrax::ErrorStatus& error,
                   const lumitrax::PortStatus& io) {
    return QStringLiteral("%1  error %2  in %3 %4  out %5 %6")
        .arg(QLatin1String(lumitrax::connectionStateName(connection)), ErrorStatusText(error), Bit(io.in0), Bit(io.in1),
             Bit(io.out0), Bit(io.out1));
}

QStringList ChannelLines(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels) {
    QStringList lines;
    for (const auto& c : channels) {
        lines.append(QStringLiteral("CH%1 brightness %2  %3")
                         .arg(c.channel, -3)
                         .arg(c.brightness, 4)
                         .arg(c.on ? QStringLiteral("on") : QStringLiteral("off")));
    }
    return lines;
}

QStringList TriggerLines(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers) {
    QStringList lines;
    for (const auto& t : triggers) {
        lines.append(QStringLiteral("Trigger%1  enable %2  edge %3  delay %4 us  on %5 us  off %6 us")
                         .arg(t.row)
                         .arg(Bit(t.enable), QLatin1String(EdgeName(t.edge)))
                         .arg(t.delayUs)
                         .arg(t.onUs)
                         .arg(t.offUs));
    }
    return lines;
}

QStringList StateLines(const lumitrax::State& s) {
    const auto& f = s.features;
    QStringList lines = {
        Line("model", Text(s.identity.model)),
        Line("serial number", Text(s.identity.serialNumber)),
        Line("module ID", N(s.identity.moduleId)),
        Line("firmware", Text(s.identity.firmware)),
        Line("FPGA", Text(s.identity.fpga)),
        Line("build", Text(s.identity.build)),
        Line("channels", N(s.modelChannels)),
        Line("trigger channels", N(s.triggerChannels)),
        Line("switches", QStringLiteral("MODE %1, GRAB %2, HOLD %3, HIGH/LOW %4")
                             .arg(Bit(s.switches.mode), Bit(s.switches.grab), Bit(s.switches.hold), Bit(s.switches.highLow))),
        Line("error status", QStringLiteral("code:") + ErrorStatusText(s.errorStatus)),
        Line("features", QStringLiteral("PWM %1, packet %2, debug %3, trigger input %4, on/off input %5, soft start %6")
                             .arg(Bit(f.pwm), Bit(f.packet), Bit(f.debug), Bit(f.triggerInput), Bit(f.onOffInput),
                                  Bit(f.softStart))),
        Line("outputs", QStringLiteral("OUT0 %1, OUT1 %2").arg(Bit(s.out0), Bit(s.out1))),
        Line("inputs", QStringLiteral("IN0 %1, IN1 %2, TOF %3").arg(Bit(s.in0), Bit(s.in1)).arg(s.tof)),
        Line("bright memory", N(s.brightMemory)),
        Line("trigger memory", N(s.triggerMemory)),
        Line("offset", N(s.offset)),
    };
    lines += ChannelLines(s.channels);
    lines += TriggerLines(s.triggers);
    for (const auto& d : s.dac) {
        lines.append(QStringLiteral("DAC%1 %2 ~ %3").arg(d.channel, -3).arg(Six(d.low), Six(d.high)));
    }
    return lines;
}

QJsonObject RecipeJson(const lumitrax::Recipe& r) {
    QJsonObject o{{"name", Text(r.name)}, {"brightness", Numbers(r.brightness)}, {"on", Numbers(r.on)}};
    if (r.number) o[QStringLiteral("number")] = *r.number;
    QJsonArray triggers;
    for (const lumitrax::RecipeTrigger& t : r.triggers) {
        QJsonObject row{{"row", t.row}, {"delay_us", t.delayUs}, {"on_us", t.onUs}};
        if (t.edge) row[QStringLiteral("edge")] = *t.edge == lumitrax::Edge::Positive ? "positive" : "negative";
        if (t.enable) row[QStringLiteral("enable")] = *t.enable;
        triggers.append(row);
    }
    o[QStringLiteral("triggers")] = triggers;
    if (r.brightMemory) o[QStringLiteral("bright_memory")] = *r.brightMemory;
    if (r.triggerMemory) o[QStringLiteral("trigger_memory")] = *r.triggerMemory;
    if (!r.sha256.empty()) o[QStringLiteral("sha256")] = Text(r.sha256);
    return o;
}

QJsonObject RecipeReportJson(const lumitrax::RecipeReport& report) {
    QJsonArray differences;
    for (const lumitrax::RecipeDifference& d : report.differences) {
        differences.append(QJsonObject{{"field", Text(d.field)}, {"wanted", Text(d.wanted)}, {"found", Text(d.found)}});
    }
    return QJsonObject{
        {"result", QString::fromLatin1(lumitrax::recipeResultName(report.result))},
        {"differences", differences},
        {"steps_written", Strings(report.stepsWritten)},
        {"steps_not_written", Strings(report.stepsNotWritten)},
        {"error", Text(report.error)},
        {"saved_bright_memory", report.savedBrightMemory},
        {"saved_trigger_memory", report.savedTriggerMemory},
        {"duration_ms", report.durationMs},
    };
}


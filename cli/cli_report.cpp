#include "cli_report.h"

#include <cstring>

#include "c_format.h"
#include "device_text.h"

namespace {

constexpr int kLabelWidth = 17;
constexpr int kShownTriggers = 4;

template <std::size_t N>
QString Text(const char (&bytes)[N]) {
    return DecodeDeviceText(QByteArrayView(bytes, static_cast<qsizetype>(strnlen(bytes, N))));
}

QString N(int v) { return QCFormat("%d", {v}); }

QString Line(const char* label, const QString& value) {
    return QString::fromLatin1(label).leftJustified(kLabelWidth) + value;
}

bool ValidMemory(int memory) { return memory >= 0 && memory < kMemoryCount; }

}  // namespace

double SixDecimals(float value) { return QCFormat("%f", {value}).toDouble(); }

QJsonArray ChannelsJson(const DeviceState& s, int memory) {
    QJsonArray channels;
    if (!ValidMemory(memory)) {
        return channels;
    }
    for (int i = 0; i < kChannelCount; ++i) {
        channels.append(QJsonObject{{"channel", i + 1},
                                    {"brightness", s.brightness[memory][i]},
                                    {"on", ((s.onMask[memory] >> i) & 1u) != 0}});
    }
    return channels;
}

QStringList ChannelLines(const DeviceState& s, int memory) {
    QStringList lines;
    if (!ValidMemory(memory)) {
        return lines;
    }
    for (int i = 0; i < kChannelCount; ++i) {
        const bool on = ((s.onMask[memory] >> i) & 1u) != 0;
        lines.append(QCFormat("CH%-3d brightness %4d  %s", {i + 1, s.brightness[memory][i], on ? "on" : "off"}));
    }
    return lines;
}

QJsonArray TriggersJson(const DeviceState& s, int memory) {
    QJsonArray rows;
    if (!ValidMemory(memory)) {
        return rows;
    }
    for (int k = 0; k < kShownTriggers; ++k) {
        const TriggerSetting& t = s.trigger[memory][k];
        rows.append(QJsonObject{{"trigger", k + 1},
                                {"enable", t.enable},
                                {"edge", t.edge == 0 ? "positive" : "negative"},
                                {"delay_us", t.delay + 1},
                                {"on_us", t.onTime + 1},
                                {"off_us", t.offTime}});
    }
    return rows;
}

QStringList TriggerLines(const DeviceState& s, int memory) {
    QStringList lines;
    if (!ValidMemory(memory)) {
        return lines;
    }
    for (int k = 0; k < kShownTriggers; ++k) {
        const TriggerSetting& t = s.trigger[memory][k];
        lines.append(QCFormat("Trigger%d  enable %d  edge %s  delay %d us  on %d us  off %d us",
                              {k + 1, t.enable, t.edge == 0 ? "positive" : "negative", t.delay + 1,
                               t.onTime + 1, t.offTime}));
    }
    return lines;
}

QJsonObject StateJson(const DeviceState& s) {
    QJsonArray dac;
    for (int i = 0; i < kChannelCount; ++i) {
        dac.append(QJsonObject{{"channel", i + 1},
                               {"low", SixDecimals(s.bandwidthLow[i])},
                               {"high", SixDecimals(s.bandwidthHigh[i])}});
    }
    return QJsonObject{
        {"identity", QJsonObject{{"model", Text(s.moduleName)},
                                 {"serial", Text(s.serialNumber)},
                                 {"module_id", s.moduleId},
                                 {"firmware", Text(s.firmwareVersion)},
                                 {"fpga", Text(s.fpgaVersion)},
                                 {"build", Text(s.buildInfo)}}},
        {"model_channels", s.modelChannels},
        {"trigger_channels", s.trigChannelCount},
        {"switches", QJsonObject{{"mode", s.switches[0]},
                                 {"grab", s.switches[1]},
                                 {"hold", s.switches[2]},
                                 {"high_low", s.switches[3]}}},
        {"error", QJsonObject{{"code", s.errorCode}, {"detail", s.errorDetail}}},
        {"features", QJsonObject{{"use_pwm", s.usePwm},
                                 {"use_packet", s.usePacket},
                                 {"use_debug", s.debug},
                                 {"use_trig", s.useTrig},
                                 {"use_onoff", s.useOnOff},
                                 {"soft_start", s.softStart}}},
        {"io", QJsonObject{{"out0", s.out0}, {"out1", s.out1}, {"in0", s.in0}, {"in1", s.in1},
                           {"tof", s.totalOnOff}}},
        {"bright_memory", s.brightIndex},
        {"trigger_memory", s.trigIndex},
        {"on_mask", ValidMemory(s.brightIndex) ? QJsonValue(s.onMask[s.brightIndex]) : QJsonValue()},
        {"channels", ChannelsJson(s, s.brightIndex)},
        {"triggers", TriggersJson(s, s.trigIndex)},
        {"dac_bandwidth", dac},
        {"offset", s.offset},
    };
}

QStringList StateLines(const DeviceState& s) {
    QStringList lines = {
        Line("model", Text(s.moduleName)),
        Line("serial number", Text(s.serialNumber)),
        Line("module ID", N(s.moduleId)),
        Line("firmware", Text(s.firmwareVersion)),
        Line("FPGA", Text(s.fpgaVersion)),
        Line("build", Text(s.buildInfo)),
        Line("channels", N(s.modelChannels)),
        Line("trigger channels", N(s.trigChannelCount)),
        Line("switches", QCFormat("MODE %d, GRAB %d, HOLD %d, HIGH/LOW %d",
                                  {s.switches[0], s.switches[1], s.switches[2], s.switches[3]})),
        Line("error status", QCFormat("code:%d,%xh", {s.errorCode, s.errorDetail})),
        Line("features", QCFormat("PWM %d, packet %d, debug %d, trigger input %d, on/off input %d, soft start %d",
                                  {s.usePwm, s.usePacket, s.debug, s.useTrig, s.useOnOff, s.softStart})),
        Line("outputs", QCFormat("OUT0 %d, OUT1 %d", {s.out0, s.out1})),
        Line("inputs", QCFormat("IN0 %d, IN1 %d, TOF %d", {s.in0, s.in1, s.totalOnOff})),
        Line("bright memory", N(s.brightIndex)),
        Line("trigger memory", N(s.trigIndex)),
        Line("offset", N(s.offset)),
    };
    if (ValidMemory(s.brightIndex)) {
        lines.append(Line("on mask", QCFormat("%04x", {s.onMask[s.brightIndex]})));
    }
    lines += ChannelLines(s, s.brightIndex);
    lines += TriggerLines(s, s.trigIndex);
    for (int i = 0; i < kChannelCount; ++i) {
        lines.append(QCFormat("DAC%-3d %f ~ %f", {i + 1, s.bandwidthLow[i], s.bandwidthHigh[i]}));
    }
    return lines;
}

QJsonObject ConfigJson(const ModuleConfig& c) {
    QJsonArray dac;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i) {
        dac.append(QJsonObject{{"row", static_cast<int>(i)},
                               {"low", SixDecimals(c.bandwidthLow[i])},
                               {"high", SixDecimals(c.bandwidthHigh[i])}});
    }
    return QJsonObject{{"model", c.model},         {"serial", c.serial},
                       {"id", c.id},               {"channel", c.channels},
                       {"pwm_offset", c.offset},   {"use_pwm", c.usePwm},
                       {"use_packet", c.usePacket}, {"use_debug", c.useDebug},
                       {"dac_bandwidth", dac}};
}

#include "config_compare.h"

#include <cstring>

#include "c_format.h"
#include "device_text.h"

namespace {

QString DacPair(float low, float high) { return QCFormat("%f %f", {low, high}); }

QString Number(int v) { return QCFormat("%d", {v}); }

}  // namespace

ModuleConfig ConfigFromState(const DeviceState& s) {
    ModuleConfig c;
    c.model = DecodeDeviceText(QByteArrayView(s.moduleName, static_cast<qsizetype>(std::strlen(s.moduleName))));
    c.serial = DecodeDeviceText(QByteArrayView(s.serialNumber, static_cast<qsizetype>(std::strlen(s.serialNumber))));
    c.id = s.moduleId;
    c.channels = s.modelChannels;
    c.offset = s.offset;
    c.trigChannels = s.trigChannelCount;
    c.usePwm = s.usePwm != 0 ? 1 : 0;
    c.usePacket = s.usePacket != 0 ? 1 : 0;
    c.useDebug = s.debug != 0 ? 1 : 0;
    c.useOnOff = s.useOnOff != 0 ? 1 : 0;
    c.useSoft = s.softStart != 0 ? 1 : 0;
    c.useTrig = s.useTrig != 0 ? 1 : 0;
    c.bandwidthAll = 0;
    for (int i = 0; i < kChannelCount; ++i) {
        c.bandwidthLow[static_cast<std::size_t>(i)] = s.bandwidthLow[i];
        c.bandwidthHigh[static_cast<std::size_t>(i)] = s.bandwidthHigh[i];
    }
    return c;
}

ConfigFields FieldsGiven(const ConfigLines& lines) {
    ConfigFields f;
    const struct {
        const char* keyword;
        bool ConfigFields::*flag;
    } kFlags[] = {
        {"model", &ConfigFields::model},         {"S/N", &ConfigFields::serial},
        {"ID", &ConfigFields::id},               {"channel", &ConfigFields::channels},
        {"pwm_offset", &ConfigFields::offset},   {"use_pwm", &ConfigFields::usePwm},
        {"use_packet", &ConfigFields::usePacket}, {"use_debug", &ConfigFields::useDebug},
    };
    for (const ConfigLine& line : lines) {
        if (line.recognised == 0) {
            continue;
        }
        if (std::strcmp(line.keyword, "dac_bandwidth") == 0) {
            const int row = line.integers[0];
            if (row >= 0 && row < kChannelCount) {
                f.dacRow[static_cast<std::size_t>(row)] = true;
            }
            continue;
        }
        for (const auto& k : kFlags) {
            if (std::strcmp(line.keyword, k.keyword) == 0) {
                f.*k.flag = true;
            }
        }
    }
    return f;
}

std::vector<ConfigDifference> CompareConfig(const ModuleConfig& file, const ConfigFields& given,
                                            const DeviceState& controller) {
    const ModuleConfig c = ConfigFromState(controller);
    std::vector<ConfigDifference> out;
    auto text = [&out](bool isGiven, const char* field, const QString& f, const QString& k) {
        if (isGiven && f != k) {
            out.push_back({QString::fromLatin1(field), f, k});
        }
    };
    auto number = [&out](bool isGiven, const char* field, int f, int k, unsigned bits) {
        if (isGiven && (static_cast<unsigned>(f) & bits) != (static_cast<unsigned>(k) & bits)) {
            out.push_back({QString::fromLatin1(field), Number(f), Number(k)});
        }
    };
    auto onOff = [&out](bool isGiven, const char* field, int f, int k) {
        if (isGiven && (f != 0) != (k != 0)) {
            out.push_back({QString::fromLatin1(field), Number(f), Number(k)});
        }
    };
    text(given.model, "model", file.model, c.model);
    text(given.serial, "S/N", file.serial, c.serial);
    number(given.id, "ID", file.id, controller.moduleId, 0xFFu);
    number(given.channels, "channel", file.channels, controller.modelChannels, 0xFFu);
    number(given.offset, "pwm_offset", file.offset, controller.offset, 0xFFFFu);
    onOff(given.usePwm, "use_pwm", file.usePwm, controller.usePwm);
    onOff(given.usePacket, "use_packet", file.usePacket, controller.usePacket);
    onOff(given.useDebug, "use_debug", file.useDebug, controller.debug);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i) {
        const QString f = DacPair(file.bandwidthLow[i], file.bandwidthHigh[i]);
        const QString k = DacPair(c.bandwidthLow[i], c.bandwidthHigh[i]);
        if (given.dacRow[i] && f != k) {
            out.push_back({QStringLiteral("dac_bandwidth %1").arg(i), f, k});
        }
    }
    return out;
}

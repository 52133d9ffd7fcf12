#include "config_apply.h"

#include <QByteArray>

#include <cstdint>

#include "command_send.h"
#include "device_text.h"
#include "pause.h"

namespace {

constexpr int kStepWaitMs = 500;

OneValueArg LowByte(int value) {
    return {static_cast<std::uint8_t>(value & 0xFF)};
}

OneValueArg Check(int state) {
    return {static_cast<std::uint8_t>(state)};
}

}  // namespace

ConfigApplyResult SendConfigToModule(DeviceLink& link, const ModuleConfig& config) {
    // The model name has a command of its own that puts nothing on the line.
    SendTyped<CMD_RESERVED50>(link);
    const QByteArray serial = EncodeDeviceText(config.serial);
    SendTyped<CMD_SETSN>(link, {serial.constData()});
    SendTyped<CMD_SETMODULEID>(link, {static_cast<std::int8_t>(static_cast<std::uint8_t>(config.id & 0xFF))});
    SendTyped<CMD_SETMODELCH>(link, LowByte(config.channels));
    SendTyped<CMD_SETTRIGCHANNEL>(link, LowByte(config.trigChannels));
    SendTyped<CMD_SETUSEPACKET>(link, Check(config.usePacket));
    SendTyped<CMD_SETUSEONOFF>(link, Check(config.useOnOff));
    SendTyped<CMD_SETSOFTSTART>(link, Check(config.useSoft));
    SendTyped<CMD_SETUSETRIG>(link, Check(config.useTrig));
    SendTyped<CMD_SETUSEPWM>(link, Check(config.usePwm));
    SendTyped<CMD_SETDEBUG>(link, Check(config.useDebug));
    SendTyped<CMD_SAVESN>(link);
    Pause(kStepWaitMs);
    SendTyped<CMD_SAVEID>(link);
    Pause(kStepWaitMs);

    // Every row's own pair must be a range, even when "All" sends row 0's pair for all rows.
    for (int i = 0; i < kChannelCount; ++i) {
        const auto row = static_cast<std::size_t>(i);
        if (!(config.bandwidthLow[row] < config.bandwidthHigh[row])) {
            return ConfigApplyResult::InvalidBandwidth;
        }
    }

    SendTyped<CMD_SETBANDWIDTH>(link, {0, config.bandwidthLow[0], config.bandwidthHigh[0]});
    for (int i = 0; i < kChannelCount; ++i) {
        const auto row = config.bandwidthAll != 0 ? std::size_t{0} : static_cast<std::size_t>(i);
        SendTyped<CMD_SETBANDWIDTHEX>(
            link, {static_cast<std::uint8_t>(i), config.bandwidthLow[row], config.bandwidthHigh[row]});
    }
    Pause(kStepWaitMs);
    SendTyped<CMD_SETOFFSET>(link, {static_cast<std::uint16_t>(config.offset & 0xFFFF)});
    Pause(kStepWaitMs);
    SendTyped<CMD_SETMODELSAVE>(link);
    Pause(kStepWaitMs);
    return ConfigApplyResult::Sent;
}

#include "config_sequence.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "device_text.h"

namespace {

// The block of each command must be the one its catalogue entry names, as for SendTyped.
template <CommandId Id>
    requires kTakesNoBlock<Id>
ConfigCommand Command() {
    return {Id, NoArgs{}};
}

template <CommandId Id>
    requires(!kTakesNoBlock<Id> && !std::is_same_v<CommandBlock<Id>, TextArg>)
ConfigCommand Command(const CommandBlock<Id>& block) {
    return {Id, block};
}

template <CommandId Id>
    requires std::is_same_v<CommandBlock<Id>, TextArg>
ConfigCommand Command(const QByteArray& text) {
    return {Id, text};
}

}  // namespace

std::vector<ConfigStep> ConfigWriteSequence(const ModuleConfig& config) {
    std::vector<ConfigStep> steps;
    steps.push_back({ConfigStepId::Identity, "identity and switches",
                     {Command<CMD_SETSN>(EncodeDeviceText(config.serial)),
                      Command<CMD_SETMODULEID>({static_cast<std::int8_t>(Byte(config.id).value)}),
                      Command<CMD_SETMODELCH>(Byte(config.channels)),
                      Command<CMD_SETTRIGCHANNEL>(Byte(config.trigChannels)),
                      Command<CMD_SETUSEPACKET>(Byte(config.usePacket)),
                      Command<CMD_SETUSEONOFF>(Byte(config.useOnOff)),
                      Command<CMD_SETSOFTSTART>(Byte(config.useSoft)),
                      Command<CMD_SETUSETRIG>(Byte(config.useTrig)),
                      Command<CMD_SETUSEPWM>(Byte(config.usePwm)),
                      Command<CMD_SETDEBUG>(Byte(config.useDebug))},
                     false});
    steps.push_back({ConfigStepId::SaveSerial, "save serial number", {Command<CMD_SAVESN>()}, true});
    steps.push_back({ConfigStepId::SaveId, "save module ID", {Command<CMD_SAVEID>()}, true});
    ConfigStep dac{ConfigStepId::DacTable, "DAC table",
                   {Command<CMD_SETBANDWIDTH>({0, config.bandwidthLow[0], config.bandwidthHigh[0]})}, false};
    for (int i = 0; i < kChannelCount; ++i) {
        const auto row = config.bandwidthAll != 0 ? std::size_t{0} : static_cast<std::size_t>(i);
        dac.commands.push_back(Command<CMD_SETBANDWIDTHEX>(
            {static_cast<std::uint8_t>(i), config.bandwidthLow[row], config.bandwidthHigh[row]}));
    }
    steps.push_back(std::move(dac));
    steps.push_back({ConfigStepId::Offset, "offset",
                     {Command<CMD_SETOFFSET>({static_cast<std::uint16_t>(config.offset & 0xFFFF)})}, false});
    steps.push_back({ConfigStepId::SaveModel, "save model", {Command<CMD_SETMODELSAVE>()}, true});
    return steps;
}

void SendConfigCommand(DeviceLink& link, const ConfigCommand& command) {
    std::visit(
        [&link, &command](const auto& args) {
            using Args = std::decay_t<decltype(args)>;
            if constexpr (std::is_same_v<Args, NoArgs>) {
                link.SendCommand(command.id, nullptr);
            } else if constexpr (std::is_same_v<Args, QByteArray>) {
                const TextArg text{args.constData()};
                link.SendCommand(command.id, &text);
            } else {
                link.SendCommand(command.id, &args);
            }
        },
        command.args);
}

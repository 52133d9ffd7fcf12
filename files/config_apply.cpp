#include "config_apply.h"

#include <cstddef>

#include "command_send.h"
#include "config_sequence.h"
#include "pause.h"

namespace {

// After every step but the first, whether or not the controller writes its flash then.
constexpr int kStepWaitMs = 500;

// Every row's own pair must be a range, even when "All" sends row 0's pair for all rows.
bool DacRowsAreRanges(const ModuleConfig& config) {
    for (std::size_t row = 0; row < config.bandwidthLow.size(); ++row) {
        if (!(config.bandwidthLow[row] < config.bandwidthHigh[row])) {
            return false;
        }
    }
    return true;
}

}  // namespace

ConfigApplyResult SendConfigToModule(DeviceLink& link, const ModuleConfig& config) {
    // The model name has a command of its own that puts nothing on the line.
    SendTyped<CMD_RESERVED50>(link);
    for (const ConfigStep& step : ConfigWriteSequence(config)) {
        if (step.id == ConfigStepId::DacTable && !DacRowsAreRanges(config)) {
            return ConfigApplyResult::InvalidBandwidth;
        }
        for (const ConfigCommand& command : step.commands) {
            SendConfigCommand(link, command);
        }
        if (step.id != ConfigStepId::Identity) {
            Pause(kStepWaitMs);
        }
    }
    return ConfigApplyResult::Sent;
}

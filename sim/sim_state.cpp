#include "sim_state.h"

namespace sim {

State DefaultState(const Identity& identity) {
    State s;
    s.model = identity.model;
    s.serial = identity.serial;
    s.firmware = identity.firmware;
    s.fpga = identity.fpga;
    s.build = identity.build;
    s.moduleId = static_cast<std::uint8_t>(identity.moduleId);
    s.modelChannels = identity.channels;
    s.trigChannels = identity.trigChannels;

    s.usePwm = 1;
    s.softStart = 1;

    for (int c = 0; c < kChannels; ++c) {
        s.bandwidthLow[c] = 0.5f;
        s.bandwidthHigh[c] = 2.5f;
        s.manualBright[c] = 512;
    }

    const int channels = identity.channels < kChannels ? identity.channels : kChannels;
    const auto allOn = static_cast<std::uint16_t>((1u << channels) - 1u);
    for (int m = 0; m < kMemories; ++m) {
        for (int c = 0; c < kChannels; ++c) {
            s.bright[m].level[c] = static_cast<std::uint16_t>(100 * (m + 1) + c);
        }
        s.bright[m].onMask = allOn;
        for (int t = 0; t < kTriggers; ++t) {
            Trigger& tr = s.trigger[m][t];
            tr.number = static_cast<std::uint8_t>(t);
            tr.delay = 9;
            tr.onTime = 9;
            tr.offTime = 90;
        }
    }

    s.working = s.bright[0];
    for (int t = 0; t < kTriggers; ++t) {
        s.workingTriggers[t] = s.trigger[0][t];
    }

    s.inputs = identity.inputs;
    s.totalOnOff = identity.totalOnOff;
    s.usePacket = identity.usePacket;
    s.errorCode = identity.errorCode;
    s.errorDetail = identity.errorDetail;
    for (int i = 0; i < kSwitches; ++i) {
        s.switches[i] = identity.switches[i];
    }
    s.echo = identity.echo;
    return s;
}

}  // namespace sim

#pragma once
// Field-by-field equality of device states (the record has padding, so memcmp would not do).

#include <cstring>

#include "device_state.h"

inline bool operator==(const TriggerSetting& a, const TriggerSetting& b) {
    return a.triggerNo == b.triggerNo && a.enable == b.enable && a.edge == b.edge &&
           a.delay == b.delay && a.onTime == b.onTime && a.offTime == b.offTime;
}

inline bool SameState(const DeviceState& a, const DeviceState& b) {
    auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    if (!(a.trigChannelCount == b.trigChannelCount && a.softStart == b.softStart &&
          a.useTrig == b.useTrig && a.useOnOff == b.useOnOff && a.usePwm == b.usePwm &&
          a.debug == b.debug && a.moduleId == b.moduleId && a.modelChannels == b.modelChannels &&
          a.usePacket == b.usePacket && a.errorCode == b.errorCode &&
          a.errorDetail == b.errorDetail && a.totalOnOff == b.totalOnOff && a.out0 == b.out0 &&
          a.out1 == b.out1 && a.in0 == b.in0 && a.in1 == b.in1 && a.brightIndex == b.brightIndex &&
          a.trigIndex == b.trigIndex && a.offset == b.offset)) {
        return false;
    }
    // Arrays without padding inside compare bytewise.
    if (!(same(a.moduleName, b.moduleName) && same(a.serialNumber, b.serialNumber) &&
          same(a.firmwareVersion, b.firmwareVersion) && same(a.fpgaVersion, b.fpgaVersion) &&
          same(a.buildInfo, b.buildInfo) && same(a.bandwidthLow, b.bandwidthLow) &&
          same(a.bandwidthHigh, b.bandwidthHigh) && same(a.onMask, b.onMask) &&
          same(a.brightness, b.brightness) && same(a.switches, b.switches) &&
          same(a.manualBright, b.manualBright))) {
        return false;
    }
    for (int m = 0; m < kMemoryCount; ++m) {
        for (int t = 0; t < kTriggersPerMemory; ++t) {
            if (!(a.trigger[m][t] == b.trigger[m][t])) {
                return false;
            }
        }
    }
    return true;
}

#pragma once
// A trigger row as CMD_SETTRIGGER carries it, built the one way that the panel and the API
// both send it. Times are as sent: the microseconds shown minus one. Pure; any thread.

#include <cstdint>

#include "device_state.h"

// The controller takes an off time with every row: ten times the on time, both as sent.
// Wide, so that an on time out of range still gives its whole product (the panel shows it).
constexpr std::uint64_t TriggerOffTime(std::uint64_t sentOnTime) {
    return 10 * sentOnTime;
}

// The block for trigger row (0-based); the off time follows from the on time, in 16 bits.
constexpr TriggerSetting MakeTriggerSetting(std::uint8_t row, std::uint8_t enable, std::uint8_t edge,
                                            std::uint16_t sentDelay, std::uint16_t sentOnTime) {
    TriggerSetting s;
    s.triggerNo = row;
    s.enable = enable;
    s.edge = edge;
    s.delay = sentDelay;
    s.onTime = sentOnTime;
    s.offTime = static_cast<std::uint16_t>(TriggerOffTime(sentOnTime));
    return s;
}

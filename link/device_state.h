#pragma once
// The controller's state as its replies report it. Written only by the reply dispatcher;
// the panel reads copies taken with DeviceLink::TakeSnapshot.

#include <cstdint>

constexpr int kChannelCount = 16;
constexpr int kMemoryCount = 10;
constexpr int kTriggersPerMemory = 16;
constexpr int kSwitchCount = 4;

// One trigger's settings; also the argument block of CMD_SETTRIGGER.
// Times are in microseconds, the value the panel shows minus one.
struct TriggerSetting {
    std::uint8_t triggerNo = 0;
    std::uint8_t enable = 0;
    std::uint8_t edge = 0;  // 0 "Positive", other values "Negative"
    std::uint16_t delay = 0;
    std::uint16_t onTime = 0;
    std::uint16_t offTime = 0;
};

// Texts are NUL-terminated; the last byte of each text field is never written.
struct DeviceState {
    std::int32_t trigChannelCount = 0;
    std::int32_t softStart = 0;
    std::int32_t useTrig = 0;
    std::int32_t useOnOff = 0;
    std::int32_t usePwm = 0;
    std::int32_t debug = 0;
    std::int32_t moduleId = 0;
    std::int32_t modelChannels = 0;
    std::int32_t usePacket = 0;
    std::uint8_t errorCode = 0;
    std::uint8_t errorDetail = 0;
    std::uint8_t totalOnOff = 0;
    char moduleName[32] = {};
    char serialNumber[16] = {};
    char firmwareVersion[16] = {};
    char fpgaVersion[16] = {};
    float bandwidthLow[kChannelCount] = {};
    float bandwidthHigh[kChannelCount] = {};
    char buildInfo[16] = {};
    std::uint8_t out0 = 0;
    std::uint8_t out1 = 0;
    std::uint8_t in0 = 0;
    std::uint8_t in1 = 0;
    std::uint8_t brightIndex = 0;  // not bounded: rows beyond 9 do not exist
    std::uint16_t onMask[kMemoryCount] = {};
    std::uint16_t brightness[kMemoryCount][kChannelCount] = {};
    std::uint8_t trigIndex = 0;
    std::uint16_t offset = 0;
    TriggerSetting trigger[kMemoryCount][kTriggersPerMemory] = {};
    std::uint8_t switches[kSwitchCount] = {};  // MODE, GRAB, HOLD, HIGH/LOW
    std::uint16_t manualBright[kChannelCount] = {};
};

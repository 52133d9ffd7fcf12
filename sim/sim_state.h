#pragma once
// What the virtual controller remembers: identity, configuration, memories and I/O.
//
// This is the controller's own picture of itself, independent of the panel's record of it
// (link/device_state.h): the two meet only on the wire.

#include <cstdint>
#include <string>

namespace sim {

constexpr int kChannels = 16;         // channel slots of the hardware, whatever the model uses
constexpr int kMinModelChannels = 4;  // fewest channels a model has
constexpr int kMemories = 10;         // bright memories and trigger memories each
constexpr int kTriggers = 16;         // triggers per trigger memory
constexpr int kSwitches = 4;          // MODE, GRAB, HOLD, HIGH/LOW
constexpr int kMaxTextLength = 63;    // identity texts (one word each)

struct Trigger {
    std::uint8_t number = 0;
    std::uint8_t enable = 0;
    std::uint8_t edge = 0;       // 0 rising, any other value falling
    std::uint16_t delay = 0;     // microseconds minus one, as the panel sends them
    std::uint16_t onTime = 0;
    std::uint16_t offTime = 0;
};

struct BrightMemory {
    std::uint16_t level[kChannels] = {};
    std::uint16_t onMask = 0;    // bit n = channel n on
};

// Start-up values that the command line can change; everything else has fixed defaults.
struct Identity {
    std::string model = "LX-1608";
    std::string serial = "LX24A00017";
    std::string firmware = "2.5.0";
    std::string fpga = "1.3";
    std::string build = "20130225";
    int moduleId = 1;              // 0..255
    int channels = 8;              // 4..16
    int trigChannels = 4;          // 0..16
    std::uint8_t inputs = 0;       // bit 0 IN0, bit 1 IN1
    std::uint8_t totalOnOff = 0;   // TOF input
    std::uint8_t usePacket = 0;    // packet mode at start ("getusepacket")
    std::uint8_t errorCode = 0;
    std::uint8_t errorDetail = 0;
    std::uint8_t switches[kSwitches] = {0, 0, 0, 1};
    bool echo = true;              // terminal-style echo of received command lines
};

struct State {
    std::string model;
    std::string serial;
    std::string firmware;
    std::string fpga;
    std::string build;
    std::uint8_t moduleId = 0;
    int modelChannels = 0;
    int trigChannels = 0;

    std::uint8_t usePwm = 0;
    std::uint8_t usePacket = 0;
    std::uint8_t debug = 0;
    std::uint8_t useTrig = 0;
    std::uint8_t useOnOff = 0;
    std::uint8_t softStart = 0;

    std::uint16_t offset = 0;
    float bandwidthLow[kChannels] = {};
    float bandwidthHigh[kChannels] = {};

    // The outputs run on working values: the brightness and on commands change them, "savebright
    // M" copies them into memory M, "loadbright M" copies memory M into them and selects M.
    // The queries report the working values under the selected memory's number. Triggers
    // work the same way with their own memories.
    BrightMemory bright[kMemories];
    BrightMemory working;
    std::uint8_t brightIndex = 0;   // memory last loaded
    Trigger trigger[kMemories][kTriggers];
    Trigger workingTriggers[kTriggers];
    std::uint8_t trigIndex = 0;     // trigger memory last loaded

    std::uint8_t outputs = 0;      // bit 0 OUT0, bit 1 OUT1
    std::uint8_t inputs = 0;
    std::uint8_t totalOnOff = 0;
    std::uint8_t errorCode = 0;
    std::uint8_t errorDetail = 0;
    std::uint8_t errorIgnore = 0;
    std::uint8_t buzzer = 0;
    std::uint8_t switches[kSwitches] = {};
    std::uint16_t manualBright[kChannels] = {};
    std::uint8_t fpgaRegister[256] = {};
    std::uint8_t trigTest = 0;

    bool echo = true;
};

// The state a controller with this identity starts in (and returns to on "factoryreset",
// saved serial number and module ID included):
// every bright memory m holds 100 * (m + 1) + c on channel c and has the model's channels on,
// PWM and soft start on, bandwidth 0.5 ~ 2.5 on every channel, triggers disabled with
// delay 9, on time 9, off time 90; memory 0 and trigger memory 0 loaded.
State DefaultState(const Identity& identity);

}  // namespace sim

#pragma once
// ModuleConfig: the module configuration of the panel's "[Config]" group, without widgets.
// The panel copies its members and check boxes into this record before a save or an apply,
// and copies it back after a load. The defaults are the panel's initial values.

#include <QString>

#include <array>

#include "device_state.h"

struct ModuleConfig {
    QString model = QStringLiteral("Model Name");  // "model", one word in the file
    QString serial;                                 // "S/N", one word in the file
    int id = 0;                                     // "ID"; sent as a signed byte
    int channels = 8;                               // "channel"; valid 4..16, not checked here
    int offset = 17;                                // "pwm_offset"; sent as its low 16 bits
    int trigChannels = 0;                           // not in the file

    // Check states, 0 or 1. The first three are in the file, the other three are not.
    int usePwm = 0;
    int usePacket = 0;
    int useDebug = 0;
    int useOnOff = 0;
    int useSoft = 0;
    int useTrig = 0;

    // The DAC "All" check box: apply sends row 0's pair for every row. Not in the file.
    int bandwidthAll = 0;

    // DAC bandwidth rows "1".."16" (index 0..15).
    std::array<float, kChannelCount> bandwidthLow = MakeRows(0.0f);
    std::array<float, kChannelCount> bandwidthHigh = MakeRows(1.2f);

    friend bool operator==(const ModuleConfig&, const ModuleConfig&) = default;

private:
    static std::array<float, kChannelCount> MakeRows(float value) {
        std::array<float, kChannelCount> rows{};
        rows.fill(value);
        return rows;
    }
};

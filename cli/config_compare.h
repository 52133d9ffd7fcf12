#pragma once
// The controller's configuration as the read-all reports it, and its comparison with a
// module configuration file. Pure; any thread.

#include <QString>

#include <array>
#include <vector>

#include "config_file.h"
#include "device_state.h"
#include "module_config.h"

// What the panel's read-all copies into its "[Config]" group: model name and serial number
// decoded from the controller's bytes, ID, channel count, offset, trigger channel count, the
// six switches as check states (0 or 1) and the DAC table; the DAC "All" box stays clear.
ModuleConfig ConfigFromState(const DeviceState& state);

// Which fields a read file gives: a flag per keyword and one per DAC row.
struct ConfigFields {
    bool model = false;
    bool serial = false;
    bool id = false;
    bool channels = false;
    bool offset = false;
    bool usePwm = false;
    bool usePacket = false;
    bool useDebug = false;
    std::array<bool, kChannelCount> dacRow{};
};

// The fields of the known lines among lines (as ReadConfigText left them).
ConfigFields FieldsGiven(const ConfigLines& lines);

struct ConfigDifference {
    QString field;            // the file's keyword; "dac_bandwidth N" for DAC row N (0-based)
    QString fileValue;        // as the file line writes it
    QString controllerValue;  // in the same form
};

// The given fields in which the controller differs from file, in the order of a saved
// file's lines. A field is compared in the form that "Apply to module" puts on the line: ID and
// channel count as their low byte, the offset as its low 16 bits, a switch as on or off, a
// DAC pair with six decimals; model name and serial number exactly (the controller keeps at
// most 31 and 15 characters of them).
std::vector<ConfigDifference> CompareConfig(const ModuleConfig& file, const ConfigFields& given,
                                            const DeviceState& controller);

#pragma once
// Helpers that several of the panel's handler files share. Private to panel/.

#include <QString>

#include <cstdint>

#include "commands.h"
#include "control_panel.h"
#include "updown_spin.h"
#include "device_state.h"
#include "module_config.h"

namespace panel_detail {

// Periods of the panel's timers.
constexpr int kStatusPeriodMs = 200;
constexpr int kTestPeriodMs = 30;

// A brightness command's block: the channel index and the low 16 bits of the value.
inline BrightnessArg Brightness(int channel, long long value) {
    return {static_cast<std::uint8_t>(channel), static_cast<std::uint16_t>(value & 0xFFFF)};
}

// The memory number of a memory spin ("bright" or "trigger" memory) as the one byte its
// command carries. The spin's text holds any number; one that does not fit a byte would wrap
// onto another memory (256 would save over memory 0), so it is refused with a line in the
// message list instead, and false is returned.
bool MemoryNumber(CControlPanelDlg& panel, const char* kind, const CUpDownSpin* spin, OneValueArg& number);

// The port number of a drop-down entry ("COM3 /dev/ttyUSB0 ..."): the number after "COM"
// when the text starts with it; false (number untouched) otherwise.
bool ParsePortNumber(const QString& text, int& number);

// Shows the label, slider and on box of channels 0..count-1, the all-channels box and Grab.
void ShowChannelRows(CControlPanelDlg& panel, int count);
// Hides every channel control (sliders back to 0, boxes other than Grab cleared; Grab only
// hidden, it keeps its state).
void HideChannelRows(CControlPanelDlg& panel);
// Enables or disables what may not change while a port is open: the port drop-down and the
// "Channel" edit.
void EnablePortChoice(CControlPanelDlg& panel, bool enable);

// The on mask of the ticked on boxes of channels 0..count-1.
std::uint32_t OnMaskFromBoxes(const CControlPanelDlg& panel);

// Copies what the read-all action shows of a snapshot into the members and controls, in the
// order the read-back needs (the spins' changes run their nested actions on the way).
void CopySnapshotToPanel(CControlPanelDlg& panel, const DeviceState& state);

// The "[Config]" group as a configuration record, and back (the three check boxes that the
// file holds change at once; the others are not in a file).
ModuleConfig ConfigFromPanel(const CControlPanelDlg& panel);
void ConfigToPanel(CControlPanelDlg& panel, const ModuleConfig& config);

// One trigger row as the trigger actions read it from its controls. The times are the shown
// positions minus one. Position 0 gives 65535 (minus one in 16 bits); a position above 65536
// keeps its full value instead of wrapping, so that every position outside 1..4001 fails
// CheckTriggerRow and none turns into a short valid time.
struct TriggerRow {
    std::uint32_t delay = 0;
    std::uint32_t onTime = 0;
    std::uint8_t enable = 0;  // the "TriggerN" box, 0 or 1
    std::uint8_t edge = 0;    // index of the edge drop-down; 255 when nothing is selected
};
TriggerRow ReadTriggerRow(const CControlPanelDlg& panel, int row);

enum class TriggerFault { None, Delay, OnTime };
// The row check of every trigger action: the delay first, then the on time; above 4000 fails.
TriggerFault CheckTriggerRow(const TriggerRow& row);

// What CMD_SETTRIGGER carries for a valid row: triggerNo = row, the off time ten times the
// on time (in 16 bits).
TriggerSetting TriggerSettingOf(const TriggerRow& row, int rowIndex);

// The "Max Freq." text: the inverse of one period (the three times plus one microsecond for
// each phase) in kHz, "%8.3f" in the C locale.
QString TriggerMaxFrequency(const TriggerSetting& setting);

}  // namespace panel_detail

#pragma once
// Writing a module configuration into the controller ("Apply to module").
//
// Window thread only: it sends through DeviceLink::SendCommand and blocks in Pause for
// 2.5 s of waits (plus 10 ms per command), or 1 s when the DAC check stops it.

#include "device_link.h"
#include "module_config.h"

inline constexpr char kInvalidBandwidthMessage[] = "Invalid parameter,Check please!!";

enum class ConfigApplyResult {
    Sent,
    // A DAC row whose low value is not strictly below its high value (or is NaN). The identity
    // and switch commands, savesn and saveid have been sent already; no bandwidth, offset or
    // setmodelsave command was. The panel shows kInvalidBandwidthMessage.
    InvalidBandwidth,
};

// Sends the configuration write (ConfigWriteSequence, config_sequence.h) step by step with a
// 500 ms wait after each step but the first: setsn .. setdebug, savesn, 500 ms, saveid, 500 ms;
// then checks every DAC row; then setbandwidth and the 16 setbandwidthex, 500 ms, setoffset,
// 500 ms, setmodelsave, 500 ms.
// The model name is not sent: its command puts nothing on the line. A command that the link
// refuses (no port open, a serial number too long for a command) is skipped silently, as
// SendCommand does.
ConfigApplyResult SendConfigToModule(DeviceLink& link, const ModuleConfig& config);

#pragma once
// The configuration write: which commands write a module configuration into the controller,
// in which order, grouped in the steps a report names, and after which of them the controller
// writes its flash. The panel's "Apply to module" and the API's applyConfiguration both send
// this one sequence, each with its own waits (the panel its fixed pauses, the API the answers
// and a wait for each flash write).
//
// Pure: building a sequence checks nothing and sends nothing. Any thread.

#include <QByteArray>

#include <variant>
#include <vector>

#include "command_send.h"
#include "module_config.h"

enum class ConfigStepId { Identity, SaveSerial, SaveId, DacTable, Offset, SaveModel };

// One command of the sequence with its argument block; setsn's text is held as its bytes
// (code page 949), which a TextArg points into when the command is sent.
struct ConfigCommand {
    CommandId id = CMD_SETSN;
    std::variant<NoArgs, OneValueArg, SignedValueArg, BandwidthArg, Value16Arg, QByteArray> args;
};

struct ConfigStep {
    ConfigStepId id = ConfigStepId::Identity;
    const char* name = "";  // as a report of the steps written names it: "save serial number"
    std::vector<ConfigCommand> commands;
    // The controller writes its flash after this step and gives no sign when it is done.
    bool savesToFlash = false;
};

// The steps, in order:
//   Identity    setsn, setmoduleid (the ID's low byte as a signed number), setmodelch and
//               settrigchannel (low bytes), setusepacket, setuseonoff, setsoftstart,
//               setusetrig, setusepwm, setdebug
//   SaveSerial  savesn (flash)
//   SaveId      saveid (flash)
//   DacTable    setbandwidth with row 0, then setbandwidthex for rows 0..15 (row 0's pair for
//               every row when bandwidthAll is set)
//   Offset      setoffset (the low 16 bits)
//   SaveModel   setmodelsave (flash)
// The model name is not in it: no command puts it on the line. Values are taken as they are;
// whether the DAC rows are ranges is the caller's check (the panel makes it after SaveId).
std::vector<ConfigStep> ConfigWriteSequence(const ModuleConfig& config);

// Sends one command of the sequence through DeviceLink::SendCommand (its write, log entry and
// 10 ms pause; nothing without an open port, or for a text too long for a command).
// Window thread, as SendCommand.
void SendConfigCommand(DeviceLink& link, const ConfigCommand& command);

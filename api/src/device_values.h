#pragma once
// The link's record of the controller (DeviceState) in the API's terms, and the API's values in
// the link's, for the calls of controller.cpp and recipe_apply.cpp alike.

#include <vector>

#include "commands.h"
#include "device_state.h"
#include "lumitrax/controller.h"
#include "wire.h"

namespace lumitrax::detail {

// getmoduleinfo, getbuildinfo, getfwversioninfo, getfpgaversioninfo, getsn, getmoduleid.
std::vector<Outgoing> IdentityCommands();
Identity IdentityOf(const DeviceState& s);
// CMD_SETTRIGGER's block for a checked row.
TriggerSetting TriggerSettingOf(const TriggerRow& row);

}  // namespace lumitrax::detail

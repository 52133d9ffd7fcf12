#pragma once
// One trigger row as the panel's "[Trigger option]" group forms it, without the widgets:
// the values it sends and the row check of "Apply" and "OneShotTrig". Pure; any thread.

#include <string>

#include "device_state.h"

// Caption of the panel's message box for an invalid row.
inline constexpr char kInvalidTriggerCaption[] = "Invalid value!!";

// The setting of row (0-based) from the positions the panel shows: delay and ON time are
// the position minus one, cut to 16 bits (a position of 0 gives 65535); the OFF time is ten
// times the sent ON time, cut to 16 bits; edge and enable are sent as given.
TriggerSetting TriggerRowSetting(int row, int delayPosition, int onPosition, int edge, int enable);

// Empty when the row may be sent; otherwise the panel's text for it: "trig:%d,delay:%d" when
// the delay is above 4000 (checked first), else "trig:%d,on:%d" when the ON time is.
std::string TriggerRowProblem(const TriggerSetting& setting);

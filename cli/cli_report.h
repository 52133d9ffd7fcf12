#pragma once
// What the tool prints about a controller: the state of a read-all, a bright memory, the
// trigger rows and a configuration, each as plain lines for a person and as JSON objects
// with named fields for a script. Texts from the controller are decoded from its 8-bit
// bytes; numbers are formatted in the C locale. Pure; any thread.

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include "device_state.h"
#include "module_config.h"

// Identity, switches, error status, features, inputs and outputs, the selected memories, the
// offset; the channels of the current bright memory, the four trigger rows of the current
// trigger memory and the DAC table.
QJsonObject StateJson(const DeviceState& state);
QStringList StateLines(const DeviceState& state);

// Brightness and on state of the 16 channels of bright memory (nothing when it is not 0..9).
QJsonArray ChannelsJson(const DeviceState& state, int memory);
QStringList ChannelLines(const DeviceState& state, int memory);

// Trigger rows 1..4 of trigger memory, with delay and ON time as the panel shows them (the
// stored value plus one) and the OFF time as stored (nothing when memory is not 0..9).
QJsonArray TriggersJson(const DeviceState& state, int memory);
QStringList TriggerLines(const DeviceState& state, int memory);

// The fields of a configuration file.
QJsonObject ConfigJson(const ModuleConfig& config);

// A float as JSON number with the six decimals the protocol carries (1.2f gives 1.2).
double SixDecimals(float value);

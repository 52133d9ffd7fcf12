#pragma once
// The report of what the Controller API returns, shared by the tool and lumitraxd: plain lines
// for a person and the JSON schema (docs/json.md) shared by info, read-config and verify-config: the same field names for
// the same facts, channels and DAC rows counted from 1, booleans as JSON booleans.
// Pure; any thread.

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <lumitrax/controller.h>
#include <lumitrax/recipe.h>

constexpr int kJsonSchema = 1;

QJsonObject IdentityJson(const lumitrax::Identity& identity);
QJsonObject StateJson(const lumitrax::State& state);
// Only the fields the configuration holds, under the names StateJson gives them.
QJsonObject ConfigJson(const lumitrax::Configuration& configuration);
QJsonArray ChannelsJson(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels);
QJsonArray TriggersJson(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers);
QJsonObject ErrorJson(const lumitrax::Error& error);
// status: "connection", "error_status" and "io" (in0, in1, out0, out1), named as in StateJson.
QJsonObject StatusJson(lumitrax::ConnectionState connection, const lumitrax::ErrorStatus& error,
                       const lumitrax::PortStatus& io);

// The recipe under its file's own keys (name, number, brightness, on, trigger rows as
// "triggers", bright_memory, trigger_memory) and sha256; a key the recipe lacks is left out.
QJsonObject RecipeJson(const lumitrax::Recipe& recipe);
// The report's fields in snake_case: result, differences [{field, wanted, found}],
// steps_written, steps_not_written, error, saved_bright_memory, saved_trigger_memory,
// duration_ms.
QJsonObject RecipeReportJson(const lumitrax::RecipeReport& report);

QStringList StateLines(const lumitrax::State& state);
QStringList ChannelLines(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels);
QStringList TriggerLines(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers);
// "connected  error 0,0h  in 0 0  out 1 0": the error code in decimal and its detail in hex, as
// the panel shows them; inputs IN0 IN1, outputs OUT0 OUT1.
QString StatusLine(lumitrax::ConnectionState connection, const lumitrax::ErrorStatus& error,
                   const lumitrax::PortStatus& io);

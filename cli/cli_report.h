#pragma once
// The tool's report of what the Controller API returns: plain lines for a person and the JSON
// schema (docs/json.md) shared by info, read-config and verify-config: the same field names for
// the same facts, channels and DAC rows counted from 1, booleans as JSON booleans.
// Pure; any thread.

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <lumitrax/controller.h>

constexpr int kJsonSchema = 1;

QJsonObject IdentityJson(const lumitrax::Identity& identity);
QJsonObject StateJson(const lumitrax::State& state);
// Only the fields the configuration holds, under the names StateJson gives them.
QJsonObject ConfigJson(const lumitrax::Configuration& configuration);
QJsonArray ChannelsJson(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels);
QJsonArray TriggersJson(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers);
QJsonObject ErrorJson(const lumitrax::Error& error);

QStringList StateLines(const lumitrax::State& state);
QStringList ChannelLines(const std::array<lumitrax::ChannelState, lumitrax::kChannels>& channels);
QStringList TriggerLines(const std::array<lumitrax::TriggerRow, lumitrax::kTriggerRows>& triggers);

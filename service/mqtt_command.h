#pragma once
// A command that came over MQTT on <prefix>/<controller>/set, read strictly and turned into the
// controller request it stands for (Service::Command):
//
//   {"id": "c1", "channel": 3, "brightness": 512, "on": true}   brightness, on or both
//   {"id": "c2", "recipe": "housing-a12-top"}
//   "sent": "2026-12-11T10:00:00Z" (optional in either): when the sender sent it, for the expiry
//
// The values themselves (brightness 0..1024, a recipe that exists) are the service core's to
// check. Pure; any thread.

#include <cstdint>
#include <optional>
#include <string>

namespace service {

constexpr std::size_t kMaxMqttPayload = 64 * 1024;

struct MqttCommand {
    std::optional<std::string> id;        // echoed in the result
    std::optional<std::int64_t> sentMs;   // "sent", milliseconds since the epoch
    std::string method;                   // the controller request: "PUT", "POST"
    std::string path;
    std::string body;
};

struct MqttCommandError {
    std::string kind;  // "argument", "too large"
    std::string message;
};

// payload as it came. False with error set when it is not a command; cmd.id is set even then
// when the payload had a string id, so that the error can name it.
bool ParseMqttCommand(const std::string& controller, const std::string& payload, MqttCommand& cmd,
                      MqttCommandError& error);

}  // namespace service

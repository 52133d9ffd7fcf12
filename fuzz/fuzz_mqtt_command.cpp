// Any payload on a command topic through the MQTT command reader: what it accepts is a request
// on that one controller with a JSON object for its body; what it refuses leaves no request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <QByteArray>
#include <QJsonDocument>

#include "mqtt_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string payload(reinterpret_cast<const char*>(data), size);
    service::MqttCommand cmd;
    service::MqttCommandError error;
    if (service::ParseMqttCommand("top", payload, cmd, error)) {
        const std::string head = "/api/v1/controllers/top/";
        if (cmd.path.compare(0, head.size(), head) != 0) std::abort();
        if (cmd.method != "PUT" && cmd.method != "POST") std::abort();
        if (!QJsonDocument::fromJson(QByteArray::fromStdString(cmd.body)).isObject()) std::abort();
        if (!error.kind.empty()) std::abort();
    } else if (!cmd.path.empty() || !cmd.body.empty() || error.kind.empty() || error.message.empty()) {
        std::abort();
    }
    return 0;
}

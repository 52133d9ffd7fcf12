#include "mqtt_command.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

#include <lumitrax/controller.h>

namespace service {

namespace {

bool Fail(MqttCommandError& error, const std::string& kind, const std::string& message) {
    error = MqttCommandError{kind, message};
    return false;
}

}  // namespace

bool ParseMqttCommand(const std::string& controller, const std::string& payload, MqttCommand& cmd,
                      MqttCommandError& error) {
    cmd = MqttCommand{};
    if (payload.size() > kMaxMqttPayload) return Fail(error, "too large", "the command is over 64 KiB");
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(payload), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        return Fail(error, "argument", "the command is not a JSON object");
    }
    const QJsonObject o = doc.object();
    if (o.contains(QLatin1String("id"))) {
        const QJsonValue id = o.value(QLatin1String("id"));
        if (!id.isString() || id.toString().size() > 256) {
            return Fail(error, "argument", "id must be a string of at most 256 characters");
        }
        cmd.id = id.toString().toStdString();
    }
    static const char* const kAllowed[] = {"id", "sent", "channel", "brightness", "on", "recipe"};
    for (auto it = o.begin(); it != o.end(); ++it) {
        bool known = false;
        for (const char* k : kAllowed) known = known || it.key() == QLatin1String(k);
        if (!known) {
            return Fail(error, "argument",
                        "unknown field \"" + it.key().toStdString() +
                            "\" (allowed: id, sent, channel, brightness, on, recipe)");
        }
    }
    if (o.contains(QLatin1String("sent"))) {
        const QJsonValue v = o.value(QLatin1String("sent"));
        const QDateTime t = v.isString() ? QDateTime::fromString(v.toString(), Qt::ISODateWithMs) : QDateTime();
        if (!t.isValid() || t.timeSpec() == Qt::LocalTime) {
            return Fail(error, "argument", "sent must be an ISO 8601 time with its zone, e.g. 2026-12-11T10:00:00Z");
        }
        cmd.sentMs = t.toMSecsSinceEpoch();
    }
    const bool recipe = o.contains(QLatin1String("recipe"));
    const bool channel = o.contains(QLatin1String("channel"));
    const bool light = o.contains(QLatin1String("brightness")) || o.contains(QLatin1String("on"));
    if (recipe == channel) {
        return Fail(error, "argument", "give either channel (with brightness, on or both) or recipe");
    }
    if (recipe) {
        if (light) return Fail(error, "argument", "a recipe command takes no brightness or on");
        const QJsonValue v = o.value(QLatin1String("recipe"));
        if (!v.isString() || v.toString().isEmpty()) return Fail(error, "argument", "recipe must be a recipe's name");
        cmd.method = "POST";
        cmd.path = "/api/v1/controllers/" + controller + "/recipe";
        cmd.body = QJsonDocument(QJsonObject{{"recipe", v}}).toJson(QJsonDocument::Compact).toStdString();
        return true;
    }
    const QJsonValue ch = o.value(QLatin1String("channel"));
    const double d = ch.toDouble(std::nan(""));
    if (!ch.isDouble() || std::floor(d) != d || d < 1 || d > lumitrax::kChannels) {
        return Fail(error, "argument", "channel must be an integer 1..16");
    }
    if (!light) return Fail(error, "argument", "give brightness, on or both");
    // Their values are checked where HTTP's are: the same words for the same mistakes.
    QJsonObject body;
    if (o.contains(QLatin1String("brightness"))) body[QLatin1String("brightness")] = o.value(QLatin1String("brightness"));
    if (o.contains(QLatin1String("on"))) body[QLatin1String("on")] = o.value(QLatin1String("on"));
    cmd.method = "PUT";
    cmd.path = "/api/v1/controllers/" + controller + "/channels/" + std::to_string(static_cast<int>(d));
    cmd.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    return true;
}

}  // namespace service

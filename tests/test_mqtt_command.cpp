// Commands taken over MQTT: what each payload turns into, and what is refused before the
// service core sees it.

#include <gtest/gtest.h>

#include <string>

#include "mqtt_command.h"

namespace {

using service::MqttCommand;
using service::MqttCommandError;
using service::ParseMqttCommand;

TEST(MqttCommand, GoodCommandsBecomeTheirRequest) {
    const struct {
        std::string payload;
        std::string method, path, body;
        const char* id;
    } good[] = {
        {R"({"id":"c1","channel":3,"brightness":512,"on":true})", "PUT", "/api/v1/controllers/top/channels/3",
         R"({"brightness":512,"on":true})", "c1"},
        {R"({"channel":16,"on":false})", "PUT", "/api/v1/controllers/top/channels/16", R"({"on":false})", nullptr},
        {R"({"id":"c2","recipe":"housing-a12-top"})", "POST", "/api/v1/controllers/top/recipe",
         R"({"recipe":"housing-a12-top"})", "c2"},
        // The values are the core's to check: passed on as given.
        {R"({"channel":1,"brightness":5000})", "PUT", "/api/v1/controllers/top/channels/1", R"({"brightness":5000})",
         nullptr},
    };
    for (const auto& g : good) {
        MqttCommand cmd;
        MqttCommandError error;
        ASSERT_TRUE(ParseMqttCommand("top", g.payload, cmd, error)) << g.payload << ": " << error.message;
        EXPECT_EQ(cmd.method, g.method);
        EXPECT_EQ(cmd.path, g.path);
        EXPECT_EQ(cmd.body, g.body);
        EXPECT_EQ(cmd.id.has_value(), g.id != nullptr);
        if (g.id) {
            EXPECT_EQ(*cmd.id, g.id);
        }
    }
}

TEST(MqttCommand, SentTimeNeedsItsZone) {
    MqttCommand cmd;
    MqttCommandError error;
    ASSERT_TRUE(ParseMqttCommand("top", R"({"recipe":"r","sent":"2026-12-11T10:00:00.250Z"})", cmd, error));
    ASSERT_TRUE(cmd.sentMs);
    EXPECT_EQ(*cmd.sentMs, 1796983200250LL);
    ASSERT_TRUE(ParseMqttCommand("top", R"({"recipe":"r","sent":"2026-12-11T11:00:00+01:00"})", cmd, error));
    EXPECT_EQ(*cmd.sentMs, 1796983200000LL);
    EXPECT_FALSE(ParseMqttCommand("top", R"({"recipe":"r","sent":"2026-12-11T10:00:00"})", cmd, error));
    EXPECT_FALSE(ParseMqttCommand("top", R"({"recipe":"r","sent":12})", cmd, error));
}

TEST(MqttCommand, BadCommandsAreRefusedWithTheirKind) {
    const struct {
        std::string payload;
        const char* kind;
        const char* words;  // in the message
        bool idKept;
    } bad[] = {
        {"", "argument", "not a JSON object", false},
        {"not json", "argument", "not a JSON object", false},
        {"[1,2]", "argument", "not a JSON object", false},
        {R"({"id":7,"recipe":"r"})", "argument", "id must be a string", false},
        {R"({"id":"x","recipe":"r","colour":"red"})", "argument", "unknown field \"colour\"", true},
        {R"({"id":"x"})", "argument", "either channel", true},
        {R"({"id":"x","channel":1,"recipe":"r"})", "argument", "either channel", true},
        {R"({"id":"x","recipe":"r","on":true})", "argument", "takes no brightness", true},
        {R"({"id":"x","recipe":""})", "argument", "recipe's name", true},
        {R"({"id":"x","recipe":3})", "argument", "recipe's name", true},
        {R"({"id":"x","channel":0,"on":true})", "argument", "channel must be", true},
        {R"({"id":"x","channel":17,"on":true})", "argument", "channel must be", true},
        {R"({"id":"x","channel":2.5,"on":true})", "argument", "channel must be", true},
        {R"({"id":"x","channel":"3","on":true})", "argument", "channel must be", true},
        {R"({"id":"x","channel":3})", "argument", "brightness, on or both", true},
        {R"({"id":"x","channel":3,"on":true,"pad":")" + std::string(70000, 'x') + "\"}", "too large", "64 KiB",
         false},
    };
    for (const auto& b : bad) {
        MqttCommand cmd;
        MqttCommandError error;
        EXPECT_FALSE(ParseMqttCommand("top", b.payload, cmd, error)) << b.payload.substr(0, 80);
        EXPECT_EQ(error.kind, b.kind) << b.payload.substr(0, 80);
        EXPECT_NE(error.message.find(b.words), std::string::npos) << error.message;
        EXPECT_EQ(cmd.id.has_value(), b.idKept) << b.payload.substr(0, 80);
        EXPECT_TRUE(cmd.path.empty());
    }
}

}  // namespace

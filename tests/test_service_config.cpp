// lumitraxd's configuration reading, and the checks Service::Handle makes before any
// controller is looked at (no socket, no controller).

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <sys/stat.h>

#include "service.h"
#include "service_config.h"

namespace {

using service::Config;
using service::ConfigError;
using service::HttpRequest;
using service::ParseConfig;

std::string Problems(const std::string& text) {
    try {
        ParseConfig(text, "d.toml");
    } catch (const ConfigError& e) {
        return e.Text();
    }
    return {};
}

TEST(ServiceConfig, ReadsEveryKey) {
    const Config c = ParseConfig(R"(listen = "[::1]:9000"
recipes = "/r"
record = "/rec.jsonl"
token_file = "/t"
[controllers.top]
target = "/dev/ttyUSB0"
[controllers.side]
target = "rfc2217://10.0.0.5:4001"
timeout_ms = 250
)",
                                 "d.toml");
    EXPECT_EQ(c.listenHost, "::1");
    EXPECT_EQ(c.listenPort, 9000);
    EXPECT_EQ(c.recipes, "/r");
    EXPECT_TRUE(c.recipesGiven);
    EXPECT_EQ(c.record, "/rec.jsonl");
    EXPECT_EQ(c.tokenFile, "/t");
    ASSERT_EQ(c.controllers.size(), 2u);
    EXPECT_EQ(c.controllers[0].name, "top");
    EXPECT_EQ(c.controllers[0].timeoutMs, 1000);
    EXPECT_EQ(c.controllers[1].target, "rfc2217://10.0.0.5:4001");
    EXPECT_EQ(c.controllers[1].timeoutMs, 250);
}

TEST(ServiceConfig, DefaultsAreLoopbackWithoutToken) {
    const Config c = ParseConfig("", "d.toml");
    EXPECT_EQ(c.listenHost, "127.0.0.1");
    EXPECT_EQ(c.listenPort, 8470);
    EXPECT_FALSE(c.recipesGiven);
    EXPECT_TRUE(c.tokenFile.empty());
    EXPECT_TRUE(c.controllers.empty());
}

TEST(ServiceConfig, BadConfigurationsNameLineAndColumn) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"speed = 3\n", "d.toml:1:1: unknown key speed"},
        {"listen = 8470\n", "d.toml:1:10: listen must be a string"},
        {"listen = \"8470\"\n", "d.toml:1:10: listen must be \"HOST:PORT\""},
        {"listen = \"127.0.0.1:65536\"\n", "d.toml:1:10: listen must be"},
        {"listen = \"::1:80\"\n", "d.toml:1:10: listen must be"},
        {"listen = \"0.0.0.0:8470\"\n", "d.toml:1:10: listen on 0.0.0.0 (not loopback) needs token_file"},
        {"record = \"\"\n", "d.toml:1:10: record must not be empty"},
        {"\n[controllers.a]\ntarget = 5\n", "d.toml:3:10: target must be a string"},
        {"[controllers.a]\ntarget = \"tcp://host\"\n", "d.toml:2:10: target: "},
        {"[controllers.a]\ntarget = \"/dev/x\"\ntimeout_ms = 0\n", "d.toml:3:14: timeout_ms must be an integer"},
        {"[controllers.a]\ntarget = \"/dev/x\"\n  baud = 9600\n", "d.toml:3:3: unknown key controllers.a.baud"},
        {"[controllers.a]\n", "controllers.a has no target"},
        {"[controllers.\"a b\"]\ntarget = \"/dev/x\"\n", "controller name \"a b\" is not"},
        {"controllers = 3\n", "d.toml:1:15: controllers must be a table"},
        {"listen = \"127.0.0.1:1\"\nlisten = \"x\"\n", "d.toml:2:"},  // TOML's own error
        {"listen = \n", "d.toml:1:"},
    };
    for (const Case& c : cases) {
        const std::string problems = Problems(c.text);
        EXPECT_NE(problems.find(c.expected), std::string::npos) << c.text << "\ngave: " << problems;
    }
}

TEST(ServiceConfig, ModbusIsOffUnlessConfiguredAndUnitsPickControllers) {
    EXPECT_EQ(ParseConfig("", "d.toml").modbusPort, -1);
    const Config c = ParseConfig(R"(modbus = "0.0.0.0:1502"
modbus_allow = ["10.0.0.7", "::1"]
status_poll_ms = 200
[controllers.a]
target = "/dev/x"
unit = 3
[controllers.b]
target = "/dev/y"
unit = 255
[controllers.c]
target = "/dev/z"
)",
                                 "d.toml");
    EXPECT_EQ(c.modbusHost, "0.0.0.0");
    EXPECT_EQ(c.modbusPort, 1502);
    EXPECT_EQ(c.modbusAllow, (std::vector<std::string>{"10.0.0.7", "::1"}));
    EXPECT_EQ(c.statusPollMs, 200);
    ASSERT_EQ(c.controllers.size(), 3u);
    EXPECT_EQ(c.controllers[0].unit, 3);
    EXPECT_EQ(c.controllers[2].unit, service::kNoUnit);
    struct Case {
        int configured;
        int requested;
        bool matches;
    };
    const Case cases[] = {
        {3, 3, true},     {3, 4, false},   {255, 0, true},  {255, 255, true}, {0, 255, true},
        {255, 1, false},  {3, 0, false},   {service::kNoUnit, 0, false},      {service::kNoUnit, 255, false},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(service::UnitMatches(k.configured, k.requested), k.matches) << k.configured << " " << k.requested;
    }
}

TEST(ServiceConfig, BadModbusSettingsAreRefused) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"modbus = \"0.0.0.0:1502\"\n", "d.toml:1:10: modbus on 0.0.0.0 (not loopback) needs modbus_allow"},
        {"modbus = \"1502\"\n", "d.toml:1:10: modbus must be \"HOST:PORT\""},
        {"modbus_allow = \"10.0.0.7\"\n", "modbus_allow must be a list"},
        {"modbus_allow = [7]\n", "modbus_allow: each entry must be a client address"},
        {"status_poll_ms = 10\n", "status_poll_ms must be an integer 50..60000"},
        {"[controllers.a]\ntarget = \"/dev/x\"\nunit = 248\n", "d.toml:3:8: unit must be an integer 1..247"},
        {"[controllers.a]\ntarget = \"/dev/x\"\nunit = \"1\"\n", "unit must be an integer"},
        {"[controllers.a]\ntarget = \"/dev/x\"\nunit = 2\n[controllers.b]\ntarget = \"/dev/y\"\nunit = 2\n",
         "controllers.b and a have the same unit 2"},
        {"[controllers.a]\ntarget = \"/dev/x\"\nunit = 0\n[controllers.b]\ntarget = \"/dev/y\"\nunit = 255\n",
         "controllers.b and a have the same unit 255"},
    };
    for (const Case& c : cases) {
        const std::string problems = Problems(c.text);
        EXPECT_NE(problems.find(c.expected), std::string::npos) << c.text << "\ngave: " << problems;
    }
    // Listening beyond loopback with an allow list is accepted.
    EXPECT_EQ(Problems("modbus = \"0.0.0.0:1502\"\nmodbus_allow = [\"10.0.0.7\"]\n"), "");
}

TEST(ServiceConfig, EveryProblemIsReportedNotOnlyTheFirst) {
    const std::string problems = Problems("speed = 1\nrecord = 2\n");
    EXPECT_NE(problems.find("d.toml:1:1:"), std::string::npos) << problems;
    EXPECT_NE(problems.find("d.toml:2:10:"), std::string::npos) << problems;
}

TEST(ServiceConfig, MqttTableReadStrictly) {
    const Config c = ParseConfig(R"([mqtt]
url = "mqtts://broker.plant:8884"
prefix = "lumitrax/plant1/line3"
client_id = "line3-pc1"
username = "line3"
password_file = "/p"
ca_file = "/ca.pem"
state_interval_s = 30
command_expiry_s = 5
)",
                                 "d.toml");
    EXPECT_TRUE(c.mqtt.enabled);
    EXPECT_EQ(c.mqtt.host, "broker.plant");
    EXPECT_EQ(c.mqtt.port, 8884);
    EXPECT_TRUE(c.mqtt.tls);
    EXPECT_EQ(c.mqtt.prefix, "lumitrax/plant1/line3");
    EXPECT_EQ(c.mqtt.stateIntervalS, 30);
    EXPECT_EQ(c.mqtt.commandExpiryS, 5);
    EXPECT_FALSE(ParseConfig("", "d.toml").mqtt.enabled);
    const Config defaults = ParseConfig("[mqtt]\nurl = \"mqtt://[::1]\"\nprefix = \"p\"\n", "d.toml");
    EXPECT_EQ(defaults.mqtt.host, "::1");
    EXPECT_EQ(defaults.mqtt.port, 1883);
    EXPECT_EQ(defaults.mqtt.stateIntervalS, 60);
    EXPECT_EQ(defaults.mqtt.commandExpiryS, 10);

    const struct {
        const char* table;
        const char* problem;
    } bad[] = {
        {"url = \"http://b\"\nprefix = \"p\"", "mqtt.url must be"},
        {"url = \"mqtt://b:0\"\nprefix = \"p\"", "mqtt.url must be"},
        {"url = \"mqtt://b:99999\"\nprefix = \"p\"", "mqtt.url must be"},
        {"url = \"mqtt://b/x\"\nprefix = \"p\"", "mqtt.url must be"},
        {"url = \"mqtt://b\"\nprefix = \"a/#\"", "mqtt.prefix must be"},
        {"url = \"mqtt://b\"\nprefix = \"a/+/c\"", "mqtt.prefix must be"},
        {"url = \"mqtt://b\"\nprefix = \"a//c\"", "mqtt.prefix must be"},
        {"url = \"mqtt://b\"\nprefix = \"/a\"", "mqtt.prefix must be"},
        {"url = \"mqtt://b\"\nprefix = \"$SYS\"", "mqtt.prefix must be"},
        {"url = \"mqtt://b\"", "mqtt has no prefix"},
        {"prefix = \"p\"", "mqtt has no url"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\npassword_file = \"/p\"", "needs mqtt.username"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\nca_file = \"/c\"", "needs an mqtts:// url"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\nstate_interval_s = 0", "state_interval_s must be"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\ncommand_expiry_s = 3601", "command_expiry_s must be"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\nclient_id = \"a b\"", "client_id must be"},
        {"url = \"mqtt://b\"\nprefix = \"p\"\nqos = 2", "unknown key mqtt.qos"},
    };
    for (const auto& b : bad) {
        EXPECT_NE(Problems(std::string("[mqtt]\n") + b.table + "\n").find(b.problem), std::string::npos)
            << b.table << "\n" << Problems(std::string("[mqtt]\n") + b.table + "\n");
    }
}

TEST(ServiceConfig, MqttPasswordFileMustBePrivate) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("pw").toStdString();
    std::ofstream(path) << "  s3cret \nsecond line\n";
    chmod(path.c_str(), 0600);
    EXPECT_EQ(service::ReadPasswordFile(path), "s3cret");
    chmod(path.c_str(), 0640);
    EXPECT_THROW(service::ReadPasswordFile(path), ConfigError);
    chmod(path.c_str(), 0604);
    EXPECT_THROW(service::ReadPasswordFile(path), ConfigError);
    EXPECT_THROW(service::ReadPasswordFile(dir.filePath("none").toStdString()), ConfigError);
}

TEST(ServiceConfig, SplitListen) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1:8470", true, "127.0.0.1", 8470}, {"[::1]:0", true, "::1", 0},
        {"localhost:65535", true, "localhost", 65535}, {"host:", false, "", 0},
        {":80", false, "", 0}, {"host:8x", false, "", 0}, {"host:123456", false, "", 0},
        {"[::1:80", false, "", 0}, {"fe80::1:80", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        int port = -1;
        EXPECT_EQ(service::SplitListen(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(ServiceConfig, TokenFileMustBePrivateAndLongEnough) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("token").toStdString();
    struct Case {
        const char* content;
        mode_t mode;
        const char* problem;  // empty: accepted
    };
    const Case cases[] = {
        {"  a-long-enough-token-123 \nsecond line\n", 0600, ""},
        {"a-long-enough-token-123\n", 0640, "group or others"},
        {"a-long-enough-token-123\n", 0604, "group or others"},
        {"short\n", 0600, "at least 16"},
        {"\n", 0600, "empty"},
    };
    for (const Case& c : cases) {
        std::ofstream(path) << c.content;
        chmod(path.c_str(), c.mode);
        try {
            EXPECT_EQ(service::ReadTokenFile(path), "a-long-enough-token-123") << c.content;
            EXPECT_STREQ(c.problem, "") << c.content;
        } catch (const ConfigError& e) {
            EXPECT_NE(e.Text().find(c.problem), std::string::npos) << c.content << ": " << e.Text();
            EXPECT_STRNE(c.problem, "");
        }
    }
}

// Handle() on a service with no controller: the checks before any route.
class ServiceChecks : public ::testing::Test {
protected:
    service::HttpResponse Handle(const std::string& method, const std::string& path,
                                 std::map<std::string, std::string> headers, const std::string& body = {}) {
        HttpRequest r;
        r.method = method;
        r.path = path;
        r.headers = std::move(headers);
        r.body = body;
        r.client = "127.0.0.1";
        return svc_->Handle(r);
    }
    void Make(const std::string& token) {
        Config c;
        c.listenHost = "127.0.0.1";
        c.listenPort = 8470;
        c.recipes = "/nonexistent-recipes-folder";
        svc_ = std::make_unique<service::Service>(c, token, [](const std::string&) {});
    }
    std::unique_ptr<service::Service> svc_;
};

TEST_F(ServiceChecks, RefusalsComeInTheirOrder) {
    Make("a-long-enough-token-123");
    const std::string auth = "Bearer a-long-enough-token-123";
    struct Case {
        const char* name;
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;
        std::string body;
        int status;
    };
    const std::vector<Case> cases = {
        {"health needs nothing", "GET", "/healthz", {{"host", "evil"}}, "", 200},
        {"body too large first", "PUT", "/api/v1/controllers/a/outputs", {}, std::string(service::kMaxBodyBytes + 1, ' '), 413},
        {"foreign Host before token", "GET", "/api/v1/controllers", {{"host", "evil.example:8470"}}, "", 403},
        {"no token", "GET", "/api/v1/controllers", {{"host", "127.0.0.1:8470"}}, "", 401},
        {"token, then Origin", "PUT", "/api/v1/controllers/a/outputs",
         {{"host", "127.0.0.1:8470"}, {"authorization", auth}, {"origin", "http://other:8470"}}, "", 403},
        {"token, unknown route", "GET", "/api/v2/x", {{"host", "[::1]:8470"}, {"authorization", auth}}, "", 404},
        {"content type before controller", "PUT", "/api/v1/controllers/a/outputs",
         {{"host", "localhost:8470"}, {"authorization", auth}}, "{}", 415},
        {"value before controller", "PUT", "/api/v1/controllers/a/outputs",
         {{"authorization", auth}, {"content-type", "application/json"}}, R"({"out0": 1, "out1": true})", 400},
        {"then the unknown controller", "PUT", "/api/v1/controllers/a/outputs",
         {{"authorization", auth}, {"content-type", "application/json; charset=utf-8"}}, R"({"out0": false, "out1": true})", 404},
        {"ready with no controller", "GET", "/readyz", {{"authorization", auth}}, "", 200},
        {"wrong method", "DELETE", "/api/v1/controllers", {{"authorization", auth}}, "", 405},
    };
    for (const Case& c : cases) {
        const service::HttpResponse r = Handle(c.method, c.path, c.headers, c.body);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.body;
        if (r.status != 200) {
            EXPECT_NE(r.body.find("\"kind\""), std::string::npos) << c.name;
        }
    }
}

TEST_F(ServiceChecks, MetricsNameRoutesByPatternNotByTheRequestsText) {
    Make("");
    for (const std::string path : {"/api/v1/controllers/a/memories/zz1/3/save", "/api/v1/controllers/a/zz2",
                                   "/api/v1/controllers/zz3/channels/4", "/api/v1/recipes/zz4", "/zz5"}) {
        Handle("GET", path, {});
    }
    const std::string metrics = Handle("GET", "/metrics", {}).body;
    EXPECT_EQ(metrics.find("zz"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("route=\"/api/v1/controllers/{name}/memories/{kind}/{n}/{op}\",code=\"405\""),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("route=\"/api/v1/controllers/{name}/channels/{n}\",code=\"405\""), std::string::npos)
        << metrics;
}

TEST_F(ServiceChecks, EventsRouteAsksForAStream) {
    Make("");
    const service::HttpResponse plain = Handle("GET", "/api/v1/events", {});
    EXPECT_TRUE(plain.eventStream);
    EXPECT_FALSE(plain.traffic);
    HttpRequest r;
    r.method = "GET";
    r.path = "/api/v1/events";
    r.query["traffic"] = "1";
    EXPECT_TRUE(svc_->Handle(r).traffic);
}

TEST(EventQueue, DropsTheOldestWhenFullAndFiltersTraffic) {
    service::EventBus bus;
    service::EventQueue withTraffic(bus, true);
    service::EventQueue plain(bus, false);
    for (std::size_t i = 0; i < service::EventQueue::kMaxQueued + 2; ++i) {
        bus.Publish({"traffic", std::to_string(i)});
    }
    bus.Publish({"change", "c"});
    service::Event e;
    ASSERT_TRUE(plain.Next(e, std::chrono::milliseconds(0)));
    EXPECT_EQ(e.json, "c");
    EXPECT_FALSE(plain.Next(e, std::chrono::milliseconds(0)));
    ASSERT_TRUE(withTraffic.Next(e, std::chrono::milliseconds(0)));
    EXPECT_EQ(e.json, "3");  // 0, 1 and 2 made room
    EXPECT_EQ(withTraffic.Dropped(), 3u);
}

}  // namespace

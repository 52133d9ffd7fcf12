#pragma once
// lumitraxd's configuration file (TOML), read strictly: an unknown key, a wrong type or a bad
// value is an error that names the file, line and column.
//
//   listen = "127.0.0.1:8470"          # HOST:PORT ([v6] in brackets); port 0 picks a free one
//   recipes = "/etc/lumitrax/recipes"
//   record = "/var/lib/lumitrax/record.jsonl"
//   token_file = "/etc/lumitrax/token" # required when HOST is not a loopback address
//   modbus = "127.0.0.1:1502"          # optional: Modbus TCP (docs/modbus.md); off without it
//   modbus_allow = ["10.0.0.7"]        # required when the modbus HOST is not loopback
//   status_poll_ms = 500               # optional, 50..60000: how often status is read
//   [controllers.top]
//   target = "/dev/serial/by-id/..."   # or tcp://HOST:PORT, rfc2217://HOST:PORT
//   timeout_ms = 1000                  # optional, 1..600000
//   unit = 1                           # optional Modbus unit identifier: 1..247, or 0/255
//                                      # for the controller that unit 0 and 255 reach
//   [mqtt]                             # optional; without it the service speaks no MQTT
//   url = "mqtts://broker.plant:8883"  # mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883)
//   prefix = "lumitrax/plant1/line3"   # the service's topics live under it
//   client_id = "line3-pc1"            # optional; default lumitraxd-HOSTNAME
//   username = "line3"                 # optional
//   password_file = "/etc/lumitrax/mqtt.password"  # optional, with username; mode 600
//   ca_file = "/etc/ssl/certs/plant-ca.pem"        # mqtts: the CA to trust (default: the system's)
//   state_interval_s = 60              # optional, 1..86400: each state published again
//   command_expiry_s = 10              # optional, 1..3600: an older command is not carried out
//
// Pure; any thread.

#include <string>
#include <vector>

namespace service {

constexpr const char* kDefaultConfigPath = "/etc/lumitrax/lumitraxd.toml";
constexpr const char* kDefaultListen = "127.0.0.1:8470";
constexpr const char* kDefaultRecipes = "/etc/lumitrax/recipes";

constexpr int kNoUnit = -1;
constexpr int kDefaultStatusPollMs = 500;

struct ControllerConfig {
    std::string name;
    std::string target;
    int timeoutMs = 1000;
    int unit = kNoUnit;  // the Modbus unit identifier; kNoUnit: none
};

struct MqttConfig {
    bool enabled = false;  // an [mqtt] table was given
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string prefix;
    std::string clientId;
    std::string username;
    std::string passwordFile;
    std::string caFile;
    int stateIntervalS = 60;
    int commandExpiryS = 10;
};

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" ([V6] in brackets) into config's host, port
// and tls; false when it is not of that form.
bool ParseMqttUrl(const std::string& url, MqttConfig& config);
// A topic prefix: 1..200 bytes, levels of letters, digits, '.', '_', '-' joined by '/', no
// wildcard, no empty level, no leading '$'.
bool ValidMqttPrefix(const std::string& prefix);

struct Config {
    std::string listenHost = "127.0.0.1";
    int listenPort = 8470;
    std::string recipes = kDefaultRecipes;
    bool recipesGiven = false;  // a missing default folder is no error; a named one is
    std::string record;         // empty: nothing is recorded
    std::string tokenFile;      // empty: no token is asked for
    std::vector<ControllerConfig> controllers;  // in file order
    // Modbus TCP: off while modbusPort is -1.
    std::string modbusHost;
    int modbusPort = -1;
    std::vector<std::string> modbusAllow;  // client addresses; empty: any (loopback only)
    int statusPollMs = kDefaultStatusPollMs;
    MqttConfig mqtt;
};

// Thrown with every problem found, each "SOURCE:LINE:COLUMN: what is wrong".
struct ConfigError {
    std::vector<std::string> problems;
    std::string Text() const;  // the problems, one per line
};

// Reads text (source names it in the messages). Throws ConfigError.
Config ParseConfig(const std::string& text, const std::string& source);
// Reads the file; one that cannot be read is a ConfigError too.
Config ReadConfigFile(const std::string& path);

// "127.0.0.1", "::1", any 127.x.y.z, "localhost".
bool IsLoopbackHost(const std::string& host);
// Whether the request's unit identifier reaches a controller configured with unit: its own
// number, or for 0 and 255 the controller configured with either of them.
bool UnitMatches(int configured, int requested);

// Splits "HOST:PORT" / "[V6]:PORT"; false when it is not of that form or PORT is not 0..65535.
bool SplitListen(const std::string& listen, std::string& host, int& port);

// The token from token_file: its first line, without surrounding blanks. Throws ConfigError
// when the file cannot be read, is empty, or can be read by group or others.
std::string ReadTokenFile(const std::string& path);
// The MQTT password from password_file: its first line, without surrounding blanks. Throws
// ConfigError when the file cannot be read, is empty, or can be read by group or others.
std::string ReadPasswordFile(const std::string& path);

}  // namespace service

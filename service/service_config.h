#pragma once
// lumitraxd's configuration file (TOML), read strictly: an unknown key, a wrong type or a bad
// value is an error that names the file, line and column.
//
//   listen = "127.0.0.1:8470"          # HOST:PORT ([v6] in brackets); port 0 picks a free one
//   recipes = "/etc/lumitrax/recipes"
//   record = "/var/lib/lumitrax/record.jsonl"
//   token_file = "/etc/lumitrax/token" # required when HOST is not a loopback address
//   [controllers.top]
//   target = "/dev/serial/by-id/..."   # or tcp://HOST:PORT, rfc2217://HOST:PORT
//   timeout_ms = 1000                  # optional, 1..600000
//
// Pure; any thread.

#include <string>
#include <vector>

namespace service {

constexpr const char* kDefaultConfigPath = "/etc/lumitrax/lumitraxd.toml";
constexpr const char* kDefaultListen = "127.0.0.1:8470";
constexpr const char* kDefaultRecipes = "/etc/lumitrax/recipes";

struct ControllerConfig {
    std::string name;
    std::string target;
    int timeoutMs = 1000;
};

struct Config {
    std::string listenHost = "127.0.0.1";
    int listenPort = 8470;
    std::string recipes = kDefaultRecipes;
    bool recipesGiven = false;  // a missing default folder is no error; a named one is
    std::string record;         // empty: nothing is recorded
    std::string tokenFile;      // empty: no token is asked for
    std::vector<ControllerConfig> controllers;  // in file order
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
// Splits "HOST:PORT" / "[V6]:PORT"; false when it is not of that form or PORT is not 0..65535.
bool SplitListen(const std::string& listen, std::string& host, int& port);

// The token from token_file: its first line, without surrounding blanks. Throws ConfigError
// when the file cannot be read, is empty, or can be read by group or others.
std::string ReadTokenFile(const std::string& path);

}  // namespace service

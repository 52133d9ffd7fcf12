#include "service_config.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include <toml++/toml.h>

#include <lumitrax/controller.h>
#include <lumitrax/error.h>

namespace service {

namespace {

class Problems {
public:
    explicit Problems(std::string source) : source_(std::move(source)) {}
    void Add(const toml::source_region& where, const std::string& what) {
        std::ostringstream s;
        s << source_ << ':' << where.begin.line << ':' << where.begin.column << ": " << what;
        list_.push_back(s.str());
    }
    void ThrowIfAny() const {
        if (!list_.empty()) throw ConfigError{list_};
    }

private:
    std::string source_;
    std::vector<std::string> list_;
};

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}

const std::string* Text(const toml::node& n, const std::string& key, Problems& problems) {
    const auto* s = n.as_string();
    if (!s) {
        problems.Add(n.source(), key + " must be a string");
        return nullptr;
    }
    if (s->get().empty()) {
        problems.Add(n.source(), key + " must not be empty");
        return nullptr;
    }
    return &s->get();
}

void ReadController(const std::string& name, const toml::node& node, Config& config, Problems& problems) {
    if (!ValidName(name)) {
        problems.Add(node.source(), "controller name \"" + name + "\" is not 1..64 letters, digits, '.', '_' or '-'");
    }
    const toml::table* t = node.as_table();
    if (!t) {
        problems.Add(node.source(), "controllers." + name + " must be a table with target = \"...\"");
        return;
    }
    ControllerConfig c;
    c.name = name;
    bool hasTarget = false;
    for (const auto& [k, v] : *t) {
        const std::string key(k.str());
        if (key == "target") {
            if (const std::string* s = Text(v, key, problems)) {
                try {
                    lumitrax::checkTarget(*s);
                    c.target = *s;
                    hasTarget = true;
                } catch (const lumitrax::Error& e) {
                    problems.Add(v.source(), std::string("target: ") + e.what());
                }
            }
        } else if (key == "timeout_ms") {
            const auto* i = v.as_integer();
            if (!i || i->get() < 1 || i->get() > lumitrax::kMaxTimeoutMs) {
                problems.Add(v.source(), "timeout_ms must be an integer 1..600000");
            } else {
                c.timeoutMs = static_cast<int>(i->get());
            }
        } else if (key == "unit") {
            const auto* i = v.as_integer();
            if (!i || !((i->get() >= 1 && i->get() <= 247) || i->get() == 0 || i->get() == 255)) {
                problems.Add(v.source(), "unit must be an integer 1..247, or 0 or 255 for the default controller");
            } else {
                c.unit = static_cast<int>(i->get());
            }
        } else {
            problems.Add(k.source(),
                         "unknown key controllers." + name + "." + key + " (allowed: target, timeout_ms, unit)");
        }
    }
    if (!hasTarget && !t->contains("target")) {
        problems.Add(node.source(), "controllers." + name + " has no target");
    }
    config.controllers.push_back(std::move(c));
}

bool ValidLevel(const std::string& level) {
    if (level.empty()) return false;
    for (const char c : level) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}

void ReadMqtt(const toml::node& node, Config& config, Problems& problems) {
    const toml::table* t = node.as_table();
    if (!t) {
        problems.Add(node.source(), "mqtt must be a table ([mqtt] with url and prefix)");
        return;
    }
    MqttConfig& m = config.mqtt;
    m.enabled = true;
    const auto seconds = [&](const toml::node& v, const std::string& key, int hi, int& out) {
        const auto* i = v.as_integer();
        if (!i || i->get() < 1 || i->get() > hi) {
            problems.Add(v.source(), "mqtt." + key + " must be an integer 1.." + std::to_string(hi));
        } else {
            out = static_cast<int>(i->get());
        }
    };
    for (const auto& [k, v] : *t) {
        const std::string key(k.str());
        if (key == "url") {
            if (const std::string* s = Text(v, key, problems)) {
                if (!ParseMqttUrl(*s, m)) {
                    problems.Add(v.source(), "mqtt.url must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
                }
            }
        } else if (key == "prefix") {
            if (const std::string* s = Text(v, key, problems)) {
                if (!ValidMqttPrefix(*s)) {
                    problems.Add(v.source(), "mqtt.prefix must be topic levels of letters, digits, '.', '_' or '-' "
                                             "joined by '/' (no wildcard, no empty level), at most 200 bytes");
                } else {
                    m.prefix = *s;
                }
            }
        } else if (key == "client_id") {
            if (const std::string* s = Text(v, key, problems)) {
                if (s->size() > 64 || !ValidLevel(*s)) {
                    problems.Add(v.source(), "mqtt.client_id must be 1..64 letters, digits, '.', '_' or '-'");
                } else {
                    m.clientId = *s;
                }
            }
        } else if (key == "username") {
            if (const std::string* s = Text(v, key, problems)) m.username = *s;
        } else if (key == "password_file") {
            if (const std::string* s = Text(v, key, problems)) m.passwordFile = *s;
        } else if (key == "ca_file") {
            if (const std::string* s = Text(v, key, problems)) m.caFile = *s;
        } else if (key == "state_interval_s") {
            seconds(v, key, 86400, m.stateIntervalS);
        } else if (key == "command_expiry_s") {
            seconds(v, key, 3600, m.commandExpiryS);
        } else {
            problems.Add(k.source(), "unknown key mqtt." + key +
                                         " (allowed: url, prefix, client_id, username, password_file, ca_file, "
                                         "state_interval_s, command_expiry_s)");
        }
    }
    if (!t->contains("url")) problems.Add(node.source(), "mqtt has no url");
    if (!t->contains("prefix")) problems.Add(node.source(), "mqtt has no prefix");
    if (!m.passwordFile.empty() && m.username.empty()) {
        problems.Add(node.source(), "mqtt.password_file needs mqtt.username");
    }
    if (!m.caFile.empty() && !m.tls) {
        problems.Add(node.source(), "mqtt.ca_file needs an mqtts:// url");
    }
}

// The first line of a secret file, refused when others may read it.
std::string ReadSecretFile(const std::string& path, const std::string& key) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        throw ConfigError{{path + ": " + key + " cannot be read"}};
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw ConfigError{{path + ": " + key + " must not be readable by group or others (chmod 600)"}};
    }
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        throw ConfigError{{path + ": " + key + " cannot be read or is empty"}};
    }
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos) {
        throw ConfigError{{path + ": " + key + "'s first line is empty"}};
    }
    return line.substr(first, last - first + 1);
}

}  // namespace

bool ParseMqttUrl(const std::string& url, MqttConfig& config) {
    std::string rest;
    bool tls = false;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        tls = true;
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string host = rest;
    int port = tls ? 8883 : 1883;
    const auto close = rest.find(']');
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        if (!SplitListen(rest, host, port) || port == 0) return false;
    } else if (!host.empty() && host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host.size() > 253) return false;
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != ':') return false;
    }
    config.host = host;
    config.port = port;
    config.tls = tls;
    return true;
}

bool ValidMqttPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.size() > 200) return false;
    std::size_t start = 0;
    for (;;) {
        const auto slash = prefix.find('/', start);
        const std::string level = prefix.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!ValidLevel(level)) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

std::string ConfigError::Text() const {
    std::string out;
    for (const std::string& p : problems) {
        out += p;
        out += '\n';
    }
    return out;
}

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool UnitMatches(int configured, int requested) {
    if (configured == kNoUnit) return false;
    const auto isDefault = [](int u) { return u == 0 || u == 255; };
    if (isDefault(requested)) return isDefault(configured);
    return configured == requested;
}

bool SplitListen(const std::string& listen, std::string& host, int& port) {
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size() || listen.size() - colon - 1 > 5) {
        return false;
    }
    host = listen.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;  // a v6 address needs its brackets
    }
    port = 0;
    for (std::size_t i = colon + 1; i < listen.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(listen[i]))) return false;
        port = port * 10 + (listen[i] - '0');
    }
    return port <= 65535;
}

Config ParseConfig(const std::string& text, const std::string& source) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        std::ostringstream s;
        s << source << ':' << e.source().begin.line << ':' << e.source().begin.column << ": " << e.description();
        throw ConfigError{{s.str()}};
    }
    Config config;
    Problems problems(source);
    for (const auto& [k, v] : root) {
        const std::string key(k.str());
        if (key == "listen") {
            if (const std::string* s = Text(v, key, problems)) {
                if (!SplitListen(*s, config.listenHost, config.listenPort)) {
                    problems.Add(v.source(), "listen must be \"HOST:PORT\" (\"[V6]:PORT\"), PORT 0..65535");
                }
            }
        } else if (key == "recipes") {
            if (const std::string* s = Text(v, key, problems)) {
                config.recipes = *s;
                config.recipesGiven = true;
            }
        } else if (key == "record") {
            if (const std::string* s = Text(v, key, problems)) config.record = *s;
        } else if (key == "token_file") {
            if (const std::string* s = Text(v, key, problems)) config.tokenFile = *s;
        } else if (key == "modbus") {
            if (const std::string* s = Text(v, key, problems)) {
                if (!SplitListen(*s, config.modbusHost, config.modbusPort)) {
                    problems.Add(v.source(), "modbus must be \"HOST:PORT\" (\"[V6]:PORT\"), PORT 0..65535");
                    config.modbusPort = -1;
                }
            }
        } else if (key == "modbus_allow") {
            const toml::array* a = v.as_array();
            if (!a) {
                problems.Add(v.source(), "modbus_allow must be a list of client addresses");
                continue;
            }
            for (const toml::node& item : *a) {
                const auto* s = item.as_string();
                if (!s || s->get().empty() || s->get().size() > 64) {
                    problems.Add(item.source(), "modbus_allow: each entry must be a client address (\"10.0.0.7\")");
                } else {
                    config.modbusAllow.push_back(s->get());
                }
            }
        } else if (key == "status_poll_ms") {
            const auto* i = v.as_integer();
            if (!i || i->get() < 50 || i->get() > 60000) {
                problems.Add(v.source(), "status_poll_ms must be an integer 50..60000");
            } else {
                config.statusPollMs = static_cast<int>(i->get());
            }
        } else if (key == "mqtt") {
            ReadMqtt(v, config, problems);
        } else if (key == "controllers") {
            const toml::table* t = v.as_table();
            if (!t) {
                problems.Add(v.source(), "controllers must be a table of [controllers.NAME] tables");
                continue;
            }
            // toml++ keeps keys sorted; the controllers are listed as the file has them.
            std::vector<std::pair<std::string, const toml::node*>> inFileOrder;
            for (const auto& [name, c] : *t) inFileOrder.emplace_back(std::string(name.str()), &c);
            std::stable_sort(inFileOrder.begin(), inFileOrder.end(), [](const auto& a, const auto& b) {
                const auto& x = a.second->source().begin;
                const auto& y = b.second->source().begin;
                return x.line != y.line ? x.line < y.line : x.column < y.column;
            });
            for (const auto& [name, c] : inFileOrder) {
                ReadController(name, *c, config, problems);
            }
        } else {
            problems.Add(k.source(),
                         "unknown key " + key +
                             " (allowed: listen, recipes, record, token_file, modbus, modbus_allow, status_poll_ms, "
                             "[controllers.NAME], [mqtt])");
        }
    }
    if (config.tokenFile.empty() && !IsLoopbackHost(config.listenHost)) {
        const toml::node* listen = root.get("listen");
        problems.Add(listen ? listen->source() : root.source(),
                     "listen on " + config.listenHost + " (not loopback) needs token_file");
    }
    if (config.modbusPort >= 0 && config.modbusAllow.empty() && !IsLoopbackHost(config.modbusHost)) {
        const toml::node* modbus = root.get("modbus");
        problems.Add(modbus ? modbus->source() : root.source(),
                     "modbus on " + config.modbusHost +
                         " (not loopback) needs modbus_allow, the list of PLC addresses that may connect");
    }
    // Two controllers on one unit would make a PLC's target depend on file order.
    if (const toml::node* controllers = root.get("controllers")) {
        for (std::size_t i = 0; i < config.controllers.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                const int a = config.controllers[i].unit;
                if (a != kNoUnit && UnitMatches(config.controllers[j].unit, a)) {
                    problems.Add(controllers->source(), "controllers." + config.controllers[i].name + " and " +
                                                            config.controllers[j].name + " have the same unit " +
                                                            std::to_string(a) + " (0 and 255 are one)");
                }
            }
        }
    }
    problems.ThrowIfAny();
    return config;
}

Config ReadConfigFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ConfigError{{path + ": cannot be read"}};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseConfig(text.str(), path);
}

std::string ReadTokenFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        throw ConfigError{{path + ": token_file cannot be read"}};
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw ConfigError{{path + ": token_file must not be readable by group or others (chmod 600)"}};
    }
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        throw ConfigError{{path + ": token_file cannot be read or is empty"}};
    }
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos) {
        throw ConfigError{{path + ": token_file's first line is empty"}};
    }
    std::string token = line.substr(first, last - first + 1);
    if (token.size() < 16) {
        throw ConfigError{{path + ": the token must be at least 16 characters"}};
    }
    return token;
}

}  // namespace service

namespace service {

std::string ReadPasswordFile(const std::string& path) { return ReadSecretFile(path, "password_file"); }

}  // namespace service

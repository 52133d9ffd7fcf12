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

}  // namespace

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
                             "[controllers.NAME])");
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

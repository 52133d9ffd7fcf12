#include "service.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <sstream>

#include <lumitrax/error.h>
#include <lumitrax/recipe.h>

#include "cli_report.h"
#include "openapi_json.h"

namespace service {

using lumitrax::ConnectionState;
using lumitrax::Controller;
using lumitrax::ErrorKind;

struct Service::Entry {
    ControllerConfig config;
    std::atomic<bool> closing{false};  // cuts short an open still connecting to a network target
    std::mutex mutex;
    std::unique_ptr<Controller> controller;  // set once opened; lives until the Service ends
    std::optional<lumitrax::Identity> identity;
    std::string openError;
    lumitrax::Subscription subscription;
    std::thread opener;
    std::atomic<std::uint64_t> reconnects{0};
    std::atomic<std::uint64_t> commandsSent{0};
    std::atomic<bool> wasConnected{false};

    Controller* Get() {
        std::lock_guard lock(mutex);
        return controller.get();
    }

    // Closes the controller (the lights stay as they are).
    ~Entry() {
        closing = true;
        if (opener.joinable()) opener.join();
        subscription.cancel();
        std::unique_ptr<Controller> c;
        {
            std::lock_guard lock(mutex);
            c = std::move(controller);
        }
        c.reset();
    }
};

struct Service::Routed {
    std::string route;  // the route's pattern, for metrics
    HttpResponse response;
};

namespace {

std::string Json(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

HttpResponse Fail(int status, const std::string& kind, const std::string& message) {
    HttpResponse r;
    r.status = status;
    r.body = Json(QJsonObject{{"error", QJsonObject{{"kind", Q(kind)}, {"message", Q(message)}}}});
    return r;
}

HttpResponse Ok(const QJsonObject& o) {
    HttpResponse r;
    r.body = Json(o);
    return r;
}

int StatusOf(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Argument: return 400;
    case ErrorKind::Port: return 503;
    case ErrorKind::NoAnswer: return 504;
    case ErrorKind::Refused: return 502;
    case ErrorKind::File: return 500;
    case ErrorKind::Interrupted: return 503;
    }
    return 500;
}

HttpResponse FromError(const lumitrax::Error& e) {
    HttpResponse r;
    r.status = StatusOf(e.kind());
    r.body = Json(QJsonObject{{"error", ErrorJson(e)}});
    return r;
}

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    return parts;
}

// A whole decimal number without sign or leading zeros; -1 otherwise.
int Index(const std::string& s) {
    if (s.empty() || s.size() > 4 || (s.size() > 1 && s[0] == '0')) return -1;
    int v = 0;
    for (const char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Header(const HttpRequest& r, const std::string& name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
}

bool SameBytes(const std::string& a, const std::string& b) {
    // Constant time in the content: every byte of the longer is looked at.
    const std::size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff = static_cast<unsigned char>(diff | (x ^ y));
    }
    return diff == 0;
}

// "HOST[:PORT]" without the port and brackets.
std::string HostPart(const std::string& hostHeader) {
    if (!hostHeader.empty() && hostHeader.front() == '[') {
        const auto close = hostHeader.find(']');
        return close == std::string::npos ? hostHeader : hostHeader.substr(1, close - 1);
    }
    return hostHeader.substr(0, hostHeader.find(':'));
}

std::string Now() {
    char buf[32];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// A request body read strictly: an object whose keys are all known.
class Body {
public:
    // Empty optional and err set when the body is not a JSON object of the allowed keys.
    static std::optional<QJsonObject> Read(const HttpRequest& r, const std::vector<QString>& allowed,
                                           HttpResponse& err) {
        const std::string type = Lower(Header(r, "content-type"));
        if (type.rfind("application/json", 0) != 0) {
            err = Fail(415, "unsupported media type", "the body must be JSON (Content-Type: application/json)");
            return std::nullopt;
        }
        QJsonParseError parse{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.body), &parse);
        if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
            err = Fail(400, "argument", "the body is not a JSON object");
            return std::nullopt;
        }
        const QJsonObject o = doc.object();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end()) {
                QStringList names;
                for (const QString& a : allowed) names.append(a);
                err = Fail(400, "argument",
                           "unknown field \"" + it.key().toStdString() + "\" (allowed: " +
                               names.join(QStringLiteral(", ")).toStdString() + ")");
                return std::nullopt;
            }
        }
        return o;
    }
};

// A JSON integer in lo..hi, or an error naming field.
std::optional<int> Int(const QJsonValue& v, const std::string& field, int lo, int hi, HttpResponse& err) {
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || std::floor(d) != d || d < lo || d > hi) {
        err = Fail(400, "argument",
                   field + " must be an integer " + std::to_string(lo) + ".." + std::to_string(hi));
        return std::nullopt;
    }
    return static_cast<int>(d);
}

std::optional<bool> Bool(const QJsonValue& v, const std::string& field, HttpResponse& err) {
    if (!v.isBool()) {
        err = Fail(400, "argument", field + " must be true or false");
        return std::nullopt;
    }
    return v.toBool();
}

std::string Label(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

Service::Service(Config config, std::string token, Log log)
    : config_(std::move(config)), token_(std::move(token)), log_(std::move(log)) {
    listenPort_ = config_.listenPort;
    for (const ControllerConfig& c : config_.controllers) {
        auto e = std::make_shared<Entry>();
        e->config = c;
        entries_.push_back(std::move(e));
    }
}

Service::~Service() {
    std::vector<std::shared_ptr<Entry>> all;
    {
        std::lock_guard lock(entriesMutex_);
        all.swap(entries_);
    }
    // Every open cut short at once, then each closed.
    for (auto& e : all) e->closing = true;
    all.clear();
}

void Service::Start() {
    for (auto& e : Entries()) {
        Entry* entry = e.get();
        entry->opener = std::thread([this, entry] { Open(*entry); });
    }
}

std::vector<std::shared_ptr<Service::Entry>> Service::Entries() {
    std::lock_guard lock(entriesMutex_);
    return entries_;
}

std::string Service::Token() {
    std::lock_guard lock(tokenMutex_);
    return token_;
}

void Service::Reload(const Config& next, std::string token) {
    std::vector<std::shared_ptr<Entry>> added;
    std::vector<std::shared_ptr<Entry>> removed;
    int kept = 0;
    {
        std::lock_guard lock(entriesMutex_);
        std::vector<std::shared_ptr<Entry>> old = entries_;
        std::vector<std::shared_ptr<Entry>> now;
        for (const ControllerConfig& c : next.controllers) {
            const auto same = std::find_if(old.begin(), old.end(), [&c](const std::shared_ptr<Entry>& e) {
                return e && e->config.name == c.name && e->config.target == c.target &&
                       e->config.timeoutMs == c.timeoutMs;
            });
            if (same != old.end()) {
                now.push_back(std::move(*same));
                ++kept;
                continue;
            }
            auto e = std::make_shared<Entry>();
            e->config = c;
            now.push_back(e);
            added.push_back(std::move(e));
        }
        for (auto& e : old) {
            if (e) removed.push_back(std::move(e));
        }
        entries_ = std::move(now);
    }
    {
        std::lock_guard lock(tokenMutex_);
        token_ = std::move(token);
    }
    if (next.listenHost != config_.listenHost || next.listenPort != config_.listenPort) {
        log_("lumitraxd: reload: listen changed; it takes a restart (still on " + config_.listenHost + ":" +
             std::to_string(listenPort_) + ")");
    }
    if (next.recipes != config_.recipes || next.record != config_.record) {
        log_("lumitraxd: reload: recipes or record changed; it takes a restart");
    }
    for (auto& e : removed) {
        log_("lumitraxd: " + e->config.name + ": closed (no longer configured)");
        e->closing = true;
    }
    // Each is closed here unless a request still uses it; then when that request is over.
    removed.clear();
    for (auto& e : added) {
        Entry* entry = e.get();
        entry->opener = std::thread([this, entry] { Open(*entry); });
    }
    log_("lumitraxd: reload: " + std::to_string(added.size()) + " added, " + std::to_string(kept) + " kept");
}

void Service::Open(Entry& e) {
    lumitrax::Options options;
    options.timeoutMs = e.config.timeoutMs;
    options.reconnect = true;
    options.requireOpen = false;  // an unplugged controller holds up nothing and is retried
    std::unique_ptr<Controller> c;
    try {
        c = std::make_unique<Controller>(e.config.target, options, e.closing);
    } catch (const lumitrax::Error& err) {
        std::lock_guard lock(e.mutex);
        e.openError = err.what();
        log_("lumitraxd: " + e.config.name + ": " + err.what());
        return;
    }
    const std::string name = e.config.name;
    c->setTrafficHandler([this, name, &e](lumitrax::Direction d, const std::string& line) {
        if (d == lumitrax::Direction::Sent) ++e.commandsSent;
        Publish("traffic", Json(QJsonObject{{"controller", Q(name)},
                                            {"direction", d == lumitrax::Direction::Sent ? "sent" : "received"},
                                            {"line", Q(line)}}));
    });
    lumitrax::Subscription sub = c->onConnectionChange([this, &e](ConnectionState s) { OnConnection(e, s); });
    Controller* raw = c.get();
    {
        std::lock_guard lock(e.mutex);
        e.controller = std::move(c);
        e.subscription = std::move(sub);
    }
    OnConnection(e, raw->connectionState());
}

void Service::OnConnection(Entry& e, ConnectionState s) {
    const bool connected = s == ConnectionState::Connected;
    if (connected && e.wasConnected.exchange(true)) {
        ++e.reconnects;
    }
    log_("lumitraxd: " + e.config.name + ": " + lumitrax::connectionStateName(s));
    Publish("connection", Json(QJsonObject{{"controller", Q(e.config.name)},
                                           {"state", lumitrax::connectionStateName(s)},
                                           {"time", Q(Now())}}));
    if (connected) {
        Controller* c = e.Get();
        if (!c) return;
        try {
            lumitrax::Identity id = c->identity();
            std::lock_guard lock(e.mutex);
            e.identity = std::move(id);
        } catch (const lumitrax::Error& err) {
            log_("lumitraxd: " + e.config.name + ": identity: " + err.what());
        }
    }
}

std::vector<std::string> Service::ControllerNames() {
    std::vector<std::string> names;
    for (auto& e : Entries()) names.push_back(e->config.name);
    return names;
}

std::pair<int, int> Service::ConnectedCount() {
    int connected = 0;
    const auto all = Entries();
    const int total = static_cast<int>(all.size());
    for (auto& e : all) {
        Controller* c = e->Get();
        if (c && c->isConnected()) ++connected;
    }
    return {connected, total};
}

void Service::Publish(const std::string& type, const std::string& json) { events_.Publish(Event{type, json}); }

std::shared_ptr<Service::Entry> Service::Find(const std::string& name) {
    for (auto& e : Entries()) {
        if (e->config.name == name) return e;
    }
    return nullptr;
}

bool Service::HostAllowed(const HttpRequest& r) const {
    if (!IsLoopbackHost(config_.listenHost)) return true;  // the token guards it
    const auto it = r.headers.find("host");
    if (it == r.headers.end()) return true;
    const std::string host = Lower(HostPart(it->second));
    return host == "localhost" || host == "127.0.0.1" || host == "::1" || host == Lower(config_.listenHost);
}

HttpResponse Service::Handle(const HttpRequest& request) {
    const auto start = std::chrono::steady_clock::now();
    Routed routed;
    if (request.method == "HEAD") {
        // The server sends a GET's headers without its body.
        HttpRequest get = request;
        get.method = "GET";
        routed = Route(get);
    } else {
        routed = Route(request);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    {
        std::lock_guard lock(metricsMutex_);
        Metric& m = metrics_[routed.route];
        ++m.byStatus[routed.response.status];
        m.seconds += seconds;
        ++m.count;
    }
    std::ostringstream line;
    line << "lumitraxd: " << request.client << ' ' << request.method << ' ' << request.path << ' '
         << routed.response.status << ' ' << static_cast<long>(seconds * 1000.0 + 0.5) << " ms";
    // A liveness answer (systemd's watchdog asks every few seconds) is counted, not logged.
    if (routed.route != "/healthz" || routed.response.status != 200) log_(line.str());
    return std::move(routed.response);
}

HttpResponse Service::Command(const std::string& method, const std::string& path, const std::string& body,
                              const std::string& client) {
    const auto start = std::chrono::steady_clock::now();
    HttpRequest r;
    r.method = method;
    r.path = path;
    r.body = body;
    r.client = client;
    if (!body.empty()) r.headers["content-type"] = "application/json";
    const std::vector<std::string> parts = Split(path);
    Routed routed;
    if (body.size() > kMaxBodyBytes) {
        routed = {"(too large)", Fail(413, "too large", "the body is over 64 KiB")};
    } else if (parts.size() < 4 || parts[0] != "api" || parts[1] != "v1" || parts[2] != "controllers") {
        routed = {"(unknown)", Fail(404, "not found", "no route " + path)};
    } else {
        routed = ControllerRoute(r, parts);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    {
        std::lock_guard lock(metricsMutex_);
        Metric& m = metrics_[routed.route];
        ++m.byStatus[routed.response.status];
        m.seconds += seconds;
        ++m.count;
    }
    return std::move(routed.response);
}

Service::Routed Service::Route(const HttpRequest& r) {
    if (r.body.size() > kMaxBodyBytes) {
        return {"(too large)", Fail(413, "too large", "the body is over 64 KiB")};
    }
    const std::vector<std::string> parts = Split(r.path);
    if (r.path == "/healthz") {
        if (r.method != "GET" && r.method != "HEAD") return {"/healthz", Fail(405, "method", "use GET")};
        return {"/healthz", Ok(QJsonObject{{"status", "ok"}})};
    }
    if (!HostAllowed(r)) {
        return {"(refused)", Fail(403, "forbidden", "Host is not this service's address")};
    }
    if (const std::string token = Token(); !token.empty()) {
        const std::string auth = Header(r, "authorization");
        const std::string prefix = "Bearer ";
        if (auth.rfind(prefix, 0) != 0 || !SameBytes(auth.substr(prefix.size()), token)) {
            HttpResponse resp = Fail(401, "unauthorized", "a valid Authorization: Bearer token is needed");
            resp.headers["WWW-Authenticate"] = "Bearer";
            return {"(refused)", resp};
        }
    }
    if (r.method != "GET" && r.method != "HEAD") {
        const auto origin = r.headers.find("origin");
        if (origin != r.headers.end()) {
            const std::string& o = origin->second;
            const auto scheme = o.find("://");
            const std::string originHost = scheme == std::string::npos ? std::string() : o.substr(scheme + 3);
            if (originHost.empty() || Lower(originHost) != Lower(Header(r, "host"))) {
                return {"(refused)", Fail(403, "forbidden", "a write from another origin (" + o + ") is refused")};
            }
        }
    }
    const auto only = [&](const char* route, const char* method) -> std::optional<Routed> {
        if (r.method != method) return Routed{route, Fail(405, "method", std::string("use ") + method)};
        return std::nullopt;
    };
    if (r.path == "/readyz") {
        if (auto m = only("/readyz", "GET")) return *m;
        QJsonArray down;
        for (auto& e : Entries()) {
            Controller* c = e->Get();
            if (!c || !c->isConnected()) down.append(Q(e->config.name));
        }
        QJsonObject o{{"ready", down.isEmpty()}, {"not_connected", down}};
        if (!down.isEmpty()) {
            QStringList names;
            for (const QJsonValue& n : down) names.append(n.toString());
            o["error"] = QJsonObject{{"kind", "port"},
                                     {"message", QStringLiteral("not connected: ") + names.join(QStringLiteral(", "))}};
        }
        HttpResponse resp = Ok(o);
        resp.status = down.isEmpty() ? 200 : 503;
        return {"/readyz", resp};
    }
    if (r.path == "/metrics") {
        if (auto m = only("/metrics", "GET")) return *m;
        HttpResponse resp;
        resp.contentType = "text/plain; version=0.0.4";
        resp.body = Metrics();
        return {"/metrics", resp};
    }
    if (parts.size() < 3 || parts[0] != "api" || parts[1] != "v1") {
        return {"(unknown)", Fail(404, "not found", "no route " + r.path)};
    }
    if (r.path == "/api/v1/openapi.json") {
        if (auto m = only("/api/v1/openapi.json", "GET")) return *m;
        HttpResponse resp;
        resp.body = kOpenApiJson;
        return {"/api/v1/openapi.json", resp};
    }
    if (parts[2] == "events" && parts.size() == 3) {
        if (auto m = only("/api/v1/events", "GET")) return *m;
        HttpResponse resp;
        resp.contentType = "text/event-stream";
        resp.eventStream = true;
        const auto t = r.query.find("traffic");
        resp.traffic = t != r.query.end() && (t->second == "1" || t->second == "true");
        return {"/api/v1/events", resp};
    }
    if (parts[2] == "recipes" && parts.size() <= 4) {
        const std::string route = parts.size() == 3 ? "/api/v1/recipes" : "/api/v1/recipes/{name}";
        if (auto m = only(route.c_str(), "GET")) return *m;
        std::vector<lumitrax::Recipe> recipes;
        try {
            if (config_.recipesGiven || std::filesystem::is_directory(config_.recipes)) {
                recipes = lumitrax::readRecipeFolder(config_.recipes);
            }
        } catch (const lumitrax::Error& e) {
            return {route, FromError(e)};
        }
        if (parts.size() == 3) {
            QJsonArray list;
            for (const auto& rec : recipes) list.append(RecipeJson(rec));
            return {route, Ok(QJsonObject{{"recipes", list}})};
        }
        for (const auto& rec : recipes) {
            if (rec.name == parts[3]) return {route, Ok(QJsonObject{{"recipe", RecipeJson(rec)}})};
        }
        return {route, Fail(404, "not found", "no recipe " + parts[3])};
    }
    if (parts[2] == "controllers") {
        return ControllerRoute(r, parts);
    }
    return {"(unknown)", Fail(404, "not found", "no route " + r.path)};
}

Service::Routed Service::ControllerRoute(const HttpRequest& r, const std::vector<std::string>& parts) {
    if (parts.size() == 3) {
        const char* route = "/api/v1/controllers";
        if (r.method != "GET") return {route, Fail(405, "method", "use GET")};
        QJsonArray list;
        for (auto& e : Entries()) {
            QJsonObject o{{"name", Q(e->config.name)}, {"target", Q(e->config.target)}};
            Controller* c = e->Get();
            std::lock_guard lock(e->mutex);
            o["connection"] = c ? lumitrax::connectionStateName(c->connectionState()) : "opening";
            if (!e->openError.empty()) {
                o["connection"] = "failed";
                o["error"] = Q(e->openError);
            }
            if (e->identity) o["identity"] = IdentityJson(*e->identity);
            list.append(o);
        }
        return {route, Ok(QJsonObject{{"controllers", list}})};
    }
    const std::string& name = parts[3];
    const std::string rest = parts.size() > 4 ? parts[4] : std::string();
    // The route's pattern names the metrics: never a part of the request's own text.
    std::string route = "/api/v1/controllers/{name}";
    if (parts.size() == 5 && (rest == "status" || rest == "channels" || rest == "outputs" || rest == "recipe")) {
        route += "/" + rest;
    } else if (parts.size() == 6 && (rest == "channels" || rest == "triggers")) {
        route += "/" + rest + "/{n}";
    } else if (parts.size() == 8 && rest == "memories") {
        route += "/memories/{kind}/{n}/{op}";
    } else if (parts.size() != 4) {
        route = "(unknown)";
    }
    // The request's shape and every value are checked first; the controller is looked at after.
    HttpResponse err;
    std::function<HttpResponse(Controller&, Entry&)> act;
    std::string what;  // for the change event; empty for a read
    const std::string method = r.method;
    const auto wrong = [&](const char* use) { return Routed{route, Fail(405, "method", std::string("use ") + use)}; };

    if (parts.size() == 4) {
        if (method != "GET") return wrong("GET");
        act = [](Controller& c, Entry& e) {
            const lumitrax::State s = c.state();
            {
                std::lock_guard lock(e.mutex);
                e.identity = s.identity;
            }
            return Ok(QJsonObject{{"state", StateJson(s)}});
        };
    } else if (rest == "status" && parts.size() == 5) {
        if (method != "GET") return wrong("GET");
        act = [](Controller& c, Entry&) {
            const lumitrax::ErrorStatus error = c.errorStatus();
            const lumitrax::PortStatus io = c.portStatus();
            return Ok(StatusJson(c.connectionState(), error, io));
        };
    } else if (rest == "channels" && parts.size() == 6) {
        if (method != "PUT") return wrong("PUT");
        const int channel = Index(parts[5]);
        if (channel < 1 || channel > lumitrax::kChannels) {
            return {route, Fail(400, "argument", "channel must be 1..16")};
        }
        const auto body = Body::Read(r, {"brightness", "on"}, err);
        if (!body) return {route, err};
        std::optional<int> brightness;
        std::optional<bool> on;
        if (body->contains("brightness")) {
            brightness = Int(body->value("brightness"), "brightness", 0, lumitrax::kMaxBrightness, err);
            if (!brightness) return {route, err};
        }
        if (body->contains("on")) {
            on = Bool(body->value("on"), "on", err);
            if (!on) return {route, err};
        }
        if (!brightness && !on) return {route, Fail(400, "argument", "give brightness, on or both")};
        what = "channel " + std::to_string(channel);
        if (brightness) what += " brightness " + std::to_string(*brightness);
        if (on) what += *on ? " on" : " off";
        act = [channel, brightness, on](Controller& c, Entry&) {
            if (brightness) c.setBrightness(channel, *brightness);
            if (on) c.switchChannels({channel}, *on);
            return Ok(QJsonObject{{"done", true}});
        };
    } else if (rest == "channels" && parts.size() == 5) {
        if (method != "PUT") return wrong("PUT");
        const auto body = Body::Read(r, {"brightness", "on"}, err);
        if (!body) return {route, err};
        std::vector<int> values;
        std::optional<std::uint16_t> mask;
        int highest = 0;  // the highest channel the request names
        if (body->contains("brightness")) {
            const QJsonValue v = body->value("brightness");
            if (!v.isArray() || v.toArray().isEmpty() || v.toArray().size() > lumitrax::kChannels) {
                return {route, Fail(400, "argument", "brightness must be a list of 1..16 values 0..1024, channel 1 first")};
            }
            for (int i = 0; i < v.toArray().size(); ++i) {
                const auto b = Int(v.toArray().at(i), "brightness " + std::to_string(i + 1), 0,
                                   lumitrax::kMaxBrightness, err);
                if (!b) return {route, err};
                values.push_back(*b);
            }
            highest = static_cast<int>(values.size());
        }
        if (body->contains("on")) {
            const QJsonValue v = body->value("on");
            if (!v.isArray()) return {route, Fail(400, "argument", "on must be a list of channels 1..16")};
            mask = 0;
            for (const QJsonValue& item : v.toArray()) {
                const auto ch = Int(item, "on", 1, lumitrax::kChannels, err);
                if (!ch) return {route, err};
                *mask = static_cast<std::uint16_t>(*mask | (1u << (*ch - 1)));
                highest = std::max(highest, *ch);
            }
        }
        if (values.empty() && !mask) return {route, Fail(400, "argument", "give brightness, on or both")};
        what = "channels";
        if (!values.empty()) what += " brightness";
        if (mask) what += " on mask " + std::to_string(*mask);
        act = [values, mask, highest](Controller& c, Entry&) {
            // Several commands: the model's channel count is checked before the first of them.
            const int count = c.channelCount();
            if (highest > count) {
                throw lumitrax::Error(ErrorKind::Argument, "channel " + std::to_string(highest) + " is not 1.." +
                                                               std::to_string(count) + " (the model has " +
                                                               std::to_string(count) + " channels)");
            }
            if (!values.empty()) c.setBrightnessList(values);
            if (mask) c.setOnMask(*mask);
            return Ok(QJsonObject{{"done", true}});
        };
    } else if (rest == "triggers" && parts.size() == 6) {
        if (method != "PUT") return wrong("PUT");
        lumitrax::TriggerRow row;
        row.row = Index(parts[5]);
        if (row.row < 1 || row.row > lumitrax::kTriggerRows) {
            return {route, Fail(400, "argument", "trigger row must be 1..4")};
        }
        const auto body = Body::Read(r, {"enable", "edge", "delay_us", "on_us"}, err);
        if (!body) return {route, err};
        for (const char* key : {"enable", "edge", "delay_us", "on_us"}) {
            if (!body->contains(QLatin1String(key))) {
                return {route, Fail(400, "argument", std::string("give enable, edge, delay_us and on_us (") + key +
                                                         " is missing)")};
            }
        }
        const auto enable = Bool(body->value("enable"), "enable", err);
        if (!enable) return {route, err};
        const QString edge = body->value("edge").toString();
        if (edge != QLatin1String("positive") && edge != QLatin1String("negative")) {
            return {route, Fail(400, "argument", "edge must be \"positive\" or \"negative\"")};
        }
        const auto delay = Int(body->value("delay_us"), "delay_us", 1, lumitrax::kMaxTriggerUs, err);
        if (!delay) return {route, err};
        const auto onUs = Int(body->value("on_us"), "on_us", 1, lumitrax::kMaxTriggerUs, err);
        if (!onUs) return {route, err};
        row.enable = *enable;
        row.edge = edge == QLatin1String("positive") ? lumitrax::Edge::Positive : lumitrax::Edge::Negative;
        row.delayUs = *delay;
        row.onUs = *onUs;
        what = "trigger " + std::to_string(row.row);
        act = [row](Controller& c, Entry&) {
            c.setTrigger(row);
            return Ok(QJsonObject{{"done", true}});
        };
    } else if (rest == "outputs" && parts.size() == 5) {
        if (method != "PUT") return wrong("PUT");
        const auto body = Body::Read(r, {"out0", "out1"}, err);
        if (!body) return {route, err};
        if (!body->contains("out0") || !body->contains("out1")) {
            return {route, Fail(400, "argument", "give out0 and out1")};
        }
        const auto out0 = Bool(body->value("out0"), "out0", err);
        if (!out0) return {route, err};
        const auto out1 = Bool(body->value("out1"), "out1", err);
        if (!out1) return {route, err};
        what = std::string("outputs ") + (*out0 ? "1" : "0") + " " + (*out1 ? "1" : "0");
        act = [o0 = *out0, o1 = *out1](Controller& c, Entry&) {
            c.setOutputs(o0, o1);
            return Ok(QJsonObject{{"done", true}});
        };
    } else if (rest == "memories" && parts.size() == 8) {
        if (method != "POST") return wrong("POST");
        const std::string& kind = parts[5];
        const int memory = Index(parts[6]);
        const std::string& op = parts[7];
        if (kind != "bright" && kind != "trigger") {
            return {route, Fail(404, "not found", "memories are bright or trigger")};
        }
        if (op != "save" && op != "load") return {route, Fail(404, "not found", "a memory is saved or loaded")};
        if (memory < 0 || memory >= lumitrax::kMemories) {
            return {route, Fail(400, "argument", "memory must be 0..9")};
        }
        if (!r.body.empty()) {
            if (!Body::Read(r, {}, err)) return {route, err};
        }
        what = op + " " + kind + " memory " + std::to_string(memory);
        act = [kind, op, memory](Controller& c, Entry&) {
            QJsonObject o{{"memory", memory}};
            if (kind == "bright" && op == "save") c.saveBrightMemory(memory);
            if (kind == "trigger" && op == "save") c.saveTriggerMemory(memory);
            if (kind == "bright" && op == "load") o["channels"] = ChannelsJson(c.loadBrightMemory(memory));
            if (kind == "trigger" && op == "load") o["triggers"] = TriggersJson(c.loadTriggerMemory(memory));
            return Ok(o);
        };
    } else if (rest == "recipe" && parts.size() == 5) {
        if (method != "POST") return wrong("POST");
        const auto body = Body::Read(r, {"recipe"}, err);
        if (!body) return {route, err};
        if (!body->value("recipe").isString()) {
            return {route, Fail(400, "argument", "recipe must be a recipe's name")};
        }
        const std::string wanted = body->value("recipe").toString().toStdString();
        std::optional<lumitrax::Recipe> recipe;
        try {
            for (auto& rec : lumitrax::readRecipeFolder(config_.recipes)) {
                if (rec.name == wanted) recipe = std::move(rec);
            }
        } catch (const lumitrax::Error& e) {
            return {route, FromError(e)};
        }
        if (!recipe) return {route, Fail(404, "not found", "no recipe " + wanted)};
        what = "recipe " + wanted;
        const std::string client = r.client;
        act = [this, recipe = *recipe, client, name](Controller& c, Entry&) {
            const lumitrax::RecipeReport report = c.applyRecipe(recipe, config_.record);
            const QJsonObject reportJson = RecipeReportJson(report);
            Publish("recipe", Json(QJsonObject{{"controller", Q(name)},
                                               {"recipe", Q(recipe.name)},
                                               {"client", Q(client)},
                                               {"report", reportJson},
                                               {"time", Q(Now())}}));
            HttpResponse resp = Ok(QJsonObject{{"recipe", reportJson}});
            if (report.result == lumitrax::RecipeResult::Differs) {
                resp.status = 409;
                resp.body = Json(QJsonObject{
                    {"recipe", reportJson},
                    {"error", QJsonObject{{"kind", "mismatch"},
                                          {"message", QStringLiteral("the controller differs from recipe %1 in %2 field(s)")
                                                          .arg(Q(recipe.name))
                                                          .arg(report.differences.size())}}}});
            } else if (report.result == lumitrax::RecipeResult::Failed) {
                resp.status = 502;
                resp.body = Json(QJsonObject{{"recipe", reportJson},
                                             {"error", QJsonObject{{"kind", "failed"}, {"message", Q(report.error)}}}});
            }
            return resp;
        };
    } else {
        return {"(unknown)", Fail(404, "not found", "no route " + r.path)};
    }

    const std::shared_ptr<Entry> e = Find(name);
    if (!e) return {route, Fail(404, "not found", "no controller " + name)};
    Controller* c = e->Get();
    if (!c || !c->isConnected()) {
        return {route, Fail(503, "port", name + ": not connected (" +
                                             (c ? lumitrax::connectionStateName(c->connectionState()) : "opening") +
                                             ")")};
    }
    try {
        HttpResponse resp = act(*c, *e);
        if (!what.empty() && resp.status < 300) {
            Publish("change", Json(QJsonObject{{"controller", Q(name)},
                                               {"what", Q(what)},
                                               {"client", Q(r.client)},
                                               {"time", Q(Now())}}));
            log_("lumitraxd: " + name + ": " + what + " (from " + r.client + ")");
        }
        return {route, resp};
    } catch (const lumitrax::Error& ex) {
        return {route, FromError(ex)};
    }
}

std::string Service::Metrics() {
    std::ostringstream out;
    out << "# HELP lumitraxd_requests_total HTTP requests by route and status.\n"
           "# TYPE lumitraxd_requests_total counter\n";
    std::map<std::string, Metric> copy;
    {
        std::lock_guard lock(metricsMutex_);
        copy = metrics_;
    }
    for (const auto& [route, m] : copy) {
        for (const auto& [status, n] : m.byStatus) {
            out << "lumitraxd_requests_total{route=\"" << Label(route) << "\",code=\"" << status << "\"} " << n << '\n';
        }
    }
    out << "# HELP lumitraxd_request_duration_seconds Time to answer, by route.\n"
           "# TYPE lumitraxd_request_duration_seconds summary\n";
    for (const auto& [route, m] : copy) {
        out << "lumitraxd_request_duration_seconds_sum{route=\"" << Label(route) << "\"} " << m.seconds << '\n';
        out << "lumitraxd_request_duration_seconds_count{route=\"" << Label(route) << "\"} " << m.count << '\n';
    }
    out << "# HELP lumitraxd_reconnects_total Connections regained after a loss, by controller.\n"
           "# TYPE lumitraxd_reconnects_total counter\n";
    for (auto& e : Entries()) {
        out << "lumitraxd_reconnects_total{controller=\"" << Label(e->config.name) << "\"} " << e->reconnects << '\n';
    }
    out << "# HELP lumitraxd_commands_sent_total Commands written to the controller, queries included.\n"
           "# TYPE lumitraxd_commands_sent_total counter\n";
    for (auto& e : Entries()) {
        out << "lumitraxd_commands_sent_total{controller=\"" << Label(e->config.name) << "\"} " << e->commandsSent
            << '\n';
    }
    out << "# HELP lumitraxd_connected Whether the controller is connected (1) or not (0).\n"
           "# TYPE lumitraxd_connected gauge\n";
    for (auto& e : Entries()) {
        Controller* c = e->Get();
        out << "lumitraxd_connected{controller=\"" << Label(e->config.name) << "\"} "
            << (c && c->isConnected() ? 1 : 0) << '\n';
    }
    return out.str();
}

}  // namespace service

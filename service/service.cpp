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
#include "web_files.h"

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
    std::atomic<int> unit{kNoUnit};  // changes on a reload
    ControllerView view;
    std::mutex applierMutex;  // StartRecipe from two connections: one joins while one starts
    std::thread applier;      // a recipe apply started by StartRecipe

    void Join(std::thread& t) {
        if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
        if (t.joinable()) t.detach();  // only its own thread ends it: it returns right after
    }

    Controller* Get() {
        std::lock_guard lock(mutex);
        return controller.get();
    }

    // Closes the controller (the lights stay as they are).
    ~Entry() {
        closing = true;
        if (opener.joinable()) opener.join();
        Join(applier);
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
        e->unit = c.unit;
        entries_.push_back(std::move(e));
    }
}

Service::~Service() {
    {
        std::lock_guard lock(pollMutex_);
        pollStop_ = true;
    }
    pollWake_.notify_all();
    if (poller_.joinable()) poller_.join();
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
    // Only Modbus reads from the view between writes; without it an idle controller is left
    // alone (no serial traffic, no wake-ups).
    if (config_.modbusPort >= 0) poller_ = std::thread([this] { PollLoop(); });
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
                (*same)->unit = c.unit;  // a unit is only looked up: it changes in place
                now.push_back(std::move(*same));
                ++kept;
                continue;
            }
            auto e = std::make_shared<Entry>();
            e->config = c;
            e->unit = c.unit;
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
    if (next.modbusHost != config_.modbusHost || next.modbusPort != config_.modbusPort ||
        next.modbusAllow != config_.modbusAllow || next.statusPollMs != config_.statusPollMs) {
        log_("lumitraxd: reload: modbus, modbus_allow or status_poll_ms changed; it takes a restart");
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
    e.view.SetConnected(connected);
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
    Count(routed, seconds);
    // No browser guesses another type than the one sent (a JSON error read as HTML, say).
    routed.response.headers.emplace("X-Content-Type-Options", "nosniff");
    std::ostringstream line;
    line << "lumitraxd: " << request.client << ' ' << request.method << ' ' << request.path << ' '
         << routed.response.status << ' ' << static_cast<long>(seconds * 1000.0 + 0.5) << " ms";
    // A liveness answer (systemd's watchdog asks every few seconds) is counted, not logged.
    if (routed.route != "/healthz" || routed.response.status != 200) log_(line.str());
    return std::move(routed.response);
}

void Service::Count(const Routed& routed, double seconds) {
    std::lock_guard lock(metricsMutex_);
    Metric& m = metrics_[routed.route];
    ++m.byStatus[routed.response.status];
    m.seconds += seconds;
    ++m.count;
}

HttpResponse Service::Command(const std::string& method, const std::string& path, const std::string& body,
                              const std::string& client) {
    const auto start = std::chrono::steady_clock::now();
    HttpRequest r;
    r.method = method;
    r.path = path;
    r.body = body;
    r.client = client;
    r.via = client;
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
    Count(routed, seconds);
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
    // The panel's files need no token, so that the page can load and ask for it; what it then
    // asks of the API does.
    if (r.path.rfind("/api/", 0) != 0 && r.path != "/readyz" && r.path != "/metrics") {
        const char* route = r.path == "/" ? "/" : "/{file}";
        if (r.method != "GET") return {route, Fail(405, "method", "use GET")};
        if (auto file = ServeWebFile(r, EmbeddedWebFiles())) return {route, std::move(*file)};
        return {route, Fail(404, "not found", "no file " + r.path)};
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
    // The change event's values, so that a client shows them without reading the controller.
    QJsonObject set;
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
        set["channel"] = channel;
        if (brightness) set["brightness"] = *brightness;
        if (on) set["on"] = *on;
        act = [channel, brightness, on](Controller& c, Entry& e) {
            if (brightness) {
                c.setBrightness(channel, *brightness);
                e.view.SetBrightness(channel, *brightness);
            }
            if (on) e.view.SetOnMask(c.switchChannels({channel}, *on));
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
        if (!values.empty()) set["brightness"] = body->value("brightness");
        if (mask) set["on"] = body->value("on");
        act = [values, mask, highest](Controller& c, Entry& e) {
            // Several commands: the model's channel count is checked before the first of them.
            const int count = c.channelCount();
            if (highest > count) {
                throw lumitrax::Error(ErrorKind::Argument, "channel " + std::to_string(highest) + " is not 1.." +
                                                               std::to_string(count) + " (the model has " +
                                                               std::to_string(count) + " channels)");
            }
            if (!values.empty()) {
                c.setBrightnessList(values);
                for (std::size_t i = 0; i < values.size(); ++i) {
                    e.view.SetBrightness(static_cast<int>(i) + 1, values[i]);
                }
            }
            if (mask) {
                c.setOnMask(*mask);
                e.view.SetOnMask(*mask);
            }
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
        // The off time is the controller's to derive: a client reads it back.
        set = QJsonObject{{"trigger", row.row}, {"enable", row.enable}, {"edge", edge},
                          {"delay_us", row.delayUs}, {"on_us", row.onUs}};
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
        set = QJsonObject{{"out0", *out0}, {"out1", *out1}};
        act = [o0 = *out0, o1 = *out1](Controller& c, Entry& e) {
            c.setOutputs(o0, o1);
            e.view.SetOutputs(o0, o1);
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
        // Runs on this thread (below): what a load brought goes into the change event.
        act = [kind, op, memory, &set](Controller& c, Entry& e) {
            QJsonObject o{{"memory", memory}};
            if (kind == "bright" && op == "save") c.saveBrightMemory(memory);
            if (kind == "trigger" && op == "save") c.saveTriggerMemory(memory);
            if (kind == "bright" && op == "load") {
                const auto channels = c.loadBrightMemory(memory);
                std::array<int, lumitrax::kChannels> brightness{};
                std::uint16_t mask = 0;
                for (std::size_t i = 0; i < channels.size(); ++i) {
                    brightness[i] = channels[i].brightness;
                    if (channels[i].on) mask = static_cast<std::uint16_t>(mask | (1u << i));
                }
                e.view.SetLight(brightness, mask);
                o["channels"] = ChannelsJson(channels);
            }
            if (kind == "trigger" && op == "load") o["triggers"] = TriggersJson(c.loadTriggerMemory(memory));
            if (op == "load") set = o;
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
        act = [this, recipe = *recipe, client, name](Controller& c, Entry& e) {
            const lumitrax::RecipeReport report = c.applyRecipe(recipe, config_.record);
            if (report.result == lumitrax::RecipeResult::Verified) {
                e.view.SetLight(recipe.channelBrightness(), recipe.onMask());
            } else {
                e.view.ForgetLight();
            }
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

    if (what.empty()) {
        const std::shared_ptr<Entry> e = Find(name);
        if (!e) return {route, Fail(404, "not found", "no controller " + name)};
        Controller* c = e->Get();
        if (!c || !c->isConnected()) {
            return {route, Fail(503, "port", name + ": not connected (" +
                                                 (c ? lumitrax::connectionStateName(c->connectionState()) : "opening") +
                                                 ")")};
        }
        try {
            return {route, act(*c, *e)};
        } catch (const lumitrax::Error& ex) {
            return {route, FromError(ex)};
        }
    }
    HttpResponse resp;
    const OpResult result = Change(
        name, what, Origin{r.client, r.via},
        [&](Controller& c, Entry& e) {
            resp = act(c, e);
            return resp.status < 300;
        },
        &set);
    switch (result.code) {
    case OpResult::Code::Done: return {route, resp};
    case OpResult::Code::NoController: return {route, Fail(404, "not found", "no controller " + name)};
    case OpResult::Code::NotConnected: return {route, Fail(503, "port", result.message)};
    case OpResult::Code::Failed: return {route, FromError(*result.error)};
    case OpResult::Code::Unknown:
    case OpResult::Code::Busy: break;  // not asked by these routes
    }
    return {route, Fail(500, "internal", result.message)};
}

void Service::PublishChange(const std::string& name, const std::string& what, const Origin& origin,
                            const QJsonObject* set) {
    QJsonObject event{{"controller", Q(name)},
                      {"what", Q(what)},
                      {"client", Q(origin.client)},
                      {"via", Q(origin.via)},
                      {"time", Q(Now())}};
    if (set && !set->isEmpty()) event["set"] = *set;
    Publish("change", Json(event));
    log_("lumitraxd: " + name + ": " + what + " (from " + origin.client + " via " + origin.via + ")");
    std::lock_guard lock(metricsMutex_);
    ++changes_[{name, origin.via}];
}

OpResult Service::Change(const std::string& name, const std::string& what, const Origin& origin,
                         const std::function<bool(Controller&, Entry&)>& act, const QJsonObject* set) {
    OpResult result;
    const std::shared_ptr<Entry> e = Find(name);
    if (!e) {
        result.code = OpResult::Code::NoController;
        return result;
    }
    Controller* c = e->Get();
    if (!c || !c->isConnected()) {
        result.code = OpResult::Code::NotConnected;
        result.message = name + ": not connected (" +
                         (c ? lumitrax::connectionStateName(c->connectionState()) : "opening") + ")";
        return result;
    }
    try {
        if (act(*c, *e)) PublishChange(name, what, origin, set);
    } catch (const lumitrax::Error& ex) {
        // A write cut short may have changed part of the light.
        if (ex.kind() != ErrorKind::Argument) e->view.ForgetLight();
        result.code = OpResult::Code::Failed;
        result.message = ex.what();
        result.error = ex;
    }
    return result;
}

std::string Service::ControllerForUnit(int unit) {
    for (auto& e : Entries()) {
        if (UnitMatches(e->unit, unit)) return e->config.name;
    }
    return {};
}

std::optional<ViewSnapshot> Service::View(const std::string& name) {
    const std::shared_ptr<Entry> e = Find(name);
    if (!e) return std::nullopt;
    return e->view.Snapshot();
}

OpResult Service::SetBrightness(const std::string& name, int first, const std::vector<int>& values,
                                const Origin& origin) {
    std::string what = "channels";
    for (std::size_t i = 0; i < values.size(); ++i) {
        what += " " + std::to_string(first + static_cast<int>(i)) + ":" + std::to_string(values[i]);
    }
    what += " brightness";
    QJsonObject set;  // as the HTTP routes give it, where the values say it whole
    return Change(
        name, what, origin,
        [&](Controller& c, Entry& e) {
        const int last = first + static_cast<int>(values.size()) - 1;
        if (values.empty() || first < 1 || last > lumitrax::kChannels) {
            throw lumitrax::Error(ErrorKind::Argument, "channels must be 1..16");
        }
        for (const int v : values) lumitrax::checkBrightness(v);
        const int count = c.channelCount();
        if (last > count) {
            throw lumitrax::Error(ErrorKind::Argument, "channel " + std::to_string(last) + " is not 1.." +
                                                           std::to_string(count) + " (the model has " +
                                                           std::to_string(count) + " channels)");
        }
        if (first == 1) {
            // The API sends one packet where the controller takes packets and every channel is
            // named, else one command each.
            c.setBrightnessList(values);
        } else {
            for (std::size_t i = 0; i < values.size(); ++i) c.setBrightness(first + static_cast<int>(i), values[i]);
        }
        for (std::size_t i = 0; i < values.size(); ++i) e.view.SetBrightness(first + static_cast<int>(i), values[i]);
        const ViewSnapshot v = e.view.Snapshot();
        if (values.size() == 1) {
            set = QJsonObject{{"channel", first}, {"brightness", values[0]}};
        } else if (first == 1 || v.lightKnown) {
            QJsonArray list;
            for (int ch = 1; ch <= last; ++ch) list.append(v.brightness[static_cast<std::size_t>(ch - 1)]);
            set = QJsonObject{{"brightness", list}};
        }
        return true;
        },
        &set);
}

OpResult Service::SetOn(const std::string& name, int first, const std::vector<bool>& on, const Origin& origin) {
    std::string what = "channels";
    for (std::size_t i = 0; i < on.size(); ++i) {
        what += " " + std::to_string(first + static_cast<int>(i)) + (on[i] ? ":on" : ":off");
    }
    QJsonObject set;  // the on mask that results, as the HTTP channel list gives it
    return Change(
        name, what, origin,
        [&](Controller& c, Entry& e) {
        const int last = first + static_cast<int>(on.size()) - 1;
        if (on.empty() || first < 1 || last > lumitrax::kChannels) {
            throw lumitrax::Error(ErrorKind::Argument, "channels must be 1..16");
        }
        const auto onList = [&set](std::uint16_t mask) {
            QJsonArray list;
            for (int ch = 1; ch <= lumitrax::kChannels; ++ch) {
                if (mask & (1u << (ch - 1))) list.append(ch);
            }
            set = QJsonObject{{"on", list}};
        };
        if (on.size() == 1) {
            const std::uint16_t mask = c.switchChannels({first}, on[0]);
            e.view.SetOnMask(mask);
            onList(mask);
            return true;
        }
        ViewSnapshot v = e.view.Snapshot();
        std::uint16_t mask = v.onMask;
        if (!v.lightKnown) {
            const lumitrax::Brightness now = c.currentBrightness();
            std::array<int, lumitrax::kChannels> b{};
            for (std::size_t i = 0; i < b.size(); ++i) b[i] = now.channels[i].brightness;
            e.view.SetLight(b, now.onMask);
            mask = now.onMask;
        }
        for (std::size_t i = 0; i < on.size(); ++i) {
            const auto bit = static_cast<std::uint16_t>(1u << (static_cast<std::size_t>(first - 1) + i));
            mask = static_cast<std::uint16_t>(on[i] ? (mask | bit) : (mask & ~bit));
        }
        c.setOnMask(mask);
        e.view.SetOnMask(mask);
        onList(mask);
        return true;
        },
        &set);
}

OpResult Service::StartRecipe(const std::string& name, int number, const Origin& origin) {
    OpResult result;
    const std::shared_ptr<Entry> e = Find(name);
    if (!e) {
        result.code = OpResult::Code::NoController;
        return result;
    }
    std::optional<lumitrax::Recipe> recipe;
    try {
        if (config_.recipesGiven || std::filesystem::is_directory(config_.recipes)) {
            for (auto& rec : lumitrax::readRecipeFolder(config_.recipes)) {
                if (rec.number && *rec.number == number) recipe = std::move(rec);
            }
        }
    } catch (const lumitrax::Error& ex) {
        result.code = OpResult::Code::Failed;
        result.message = ex.what();
        result.error = ex;
        return result;
    }
    if (!recipe) {
        result.code = OpResult::Code::Unknown;
        result.message = "no recipe number " + std::to_string(number);
        return result;
    }
    Controller* c = e->Get();
    if (!c || !c->isConnected()) {
        result.code = OpResult::Code::NotConnected;
        result.message = name + ": not connected";
        return result;
    }
    if (!e->view.BeginApply(number)) {
        result.code = OpResult::Code::Busy;
        result.message = name + ": a recipe is still being applied";
        return result;
    }
    std::lock_guard applierLock(e->applierMutex);
    // The previous apply has ended (the state was not "applying"): its thread only returns.
    if (e->applier.joinable()) e->applier.join();
    PublishChange(name, "recipe " + recipe->name + " (number " + std::to_string(number) + ")", origin);
    Entry* entry = e.get();
    e->applier = std::thread([this, entry, c, recipe = *recipe, name, origin, number] {
        lumitrax::RecipeReport report;
        try {
            report = c->applyRecipe(recipe, config_.record);
        } catch (const lumitrax::Error& ex) {
            // A record that could not be written: the light was set, but the apply is not
            // on file, which an operator must hear of.
            report.result = lumitrax::RecipeResult::Failed;
            report.error = ex.what();
        }
        if (report.result == lumitrax::RecipeResult::Verified) {
            entry->view.SetLight(recipe.channelBrightness(), recipe.onMask());
        } else {
            entry->view.ForgetLight();
        }
        const ApplyState state = report.result == lumitrax::RecipeResult::Verified ? ApplyState::Verified
                                 : report.result == lumitrax::RecipeResult::Differs ? ApplyState::Differs
                                                                                     : ApplyState::Failed;
        entry->view.EndApply(state, static_cast<int>(report.differences.size()));
        Publish("recipe", Json(QJsonObject{{"controller", Q(name)},
                                           {"recipe", Q(recipe.name)},
                                           {"number", number},
                                           {"client", Q(origin.client)},
                                           {"via", Q(origin.via)},
                                           {"report", RecipeReportJson(report)},
                                           {"time", Q(Now())}}));
        log_("lumitraxd: " + name + ": recipe " + recipe.name + " " + lumitrax::recipeResultName(report.result) +
             (report.error.empty() ? "" : ": " + report.error));
    });
    return result;
}

void Service::CountModbus(int function, int exception) {
    std::lock_guard lock(metricsMutex_);
    ++modbusRequests_[{function, exception}];
}

void Service::PollLoop() {
    std::unique_lock lock(pollMutex_);
    while (!pollStop_) {
        lock.unlock();
        for (auto& e : Entries()) {
            {
                std::lock_guard stopLock(pollMutex_);
                if (pollStop_) return;
            }
            PollOne(*e);
        }
        lock.lock();
        pollWake_.wait_for(lock, std::chrono::milliseconds(config_.statusPollMs), [this] { return pollStop_; });
    }
}

void Service::PollOne(Entry& e) {
    Controller* c = e.Get();
    if (!c || !c->isConnected() || e.closing) return;
    try {
        const lumitrax::ErrorStatus error = c->errorStatus();
        const lumitrax::PortStatus io = c->portStatus();
        e.view.SetStatus(error, io);
        if (e.view.Snapshot().modelChannels == 0) {
            const int channels = c->channelCount();
            std::string serial;
            {
                std::lock_guard lock(e.mutex);
                if (e.identity) serial = e.identity->serialNumber;
            }
            e.view.SetIdentity(serial, channels);
        }
        if (!e.view.Snapshot().lightKnown) {
            const lumitrax::Brightness now = c->currentBrightness();
            std::array<int, lumitrax::kChannels> b{};
            for (std::size_t i = 0; i < b.size(); ++i) b[i] = now.channels[i].brightness;
            e.view.SetLight(b, now.onMask);
        }
    } catch (const lumitrax::Error&) {
        // A controller that does not answer shows as lost through its connection state; the
        // view keeps its last values until then.
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
    out << "# HELP lumitraxd_changes_total Writes made through the service, by controller and front end.\n"
           "# TYPE lumitraxd_changes_total counter\n";
    std::map<std::pair<std::string, std::string>, std::uint64_t> changes;
    std::map<std::pair<int, int>, std::uint64_t> modbus;
    {
        std::lock_guard lock(metricsMutex_);
        changes = changes_;
        modbus = modbusRequests_;
    }
    for (const auto& [key, n] : changes) {
        out << "lumitraxd_changes_total{controller=\"" << Label(key.first) << "\",via=\"" << Label(key.second)
            << "\"} " << n << '\n';
    }
    out << "# HELP lumitraxd_modbus_requests_total Modbus requests by function code and exception code (0: none).\n"
           "# TYPE lumitraxd_modbus_requests_total counter\n";
    for (const auto& [key, n] : modbus) {
        out << "lumitraxd_modbus_requests_total{function=\"" << key.first << "\",exception=\"" << key.second
            << "\"} " << n << '\n';
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

#include "mqtt_bridge.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mqtt_protocol.h>
#include <mosquitto.h>
#include <unistd.h>

#include "mqtt_command.h"

namespace service {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kKeepAliveS = 15;
constexpr auto kCoalesce = 200ms;  // a burst of changes is read and published once
constexpr int kMaxBackoffS = 30;
constexpr std::size_t kReadBatch = 16;

std::string Json(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

QJsonObject Object(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

QJsonObject ErrorResult(const std::string& kind, const std::string& message) {
    return QJsonObject{{"ok", false},
                       {"error", QJsonObject{{"kind", QString::fromStdString(kind)},
                                             {"message", QString::fromStdString(message)}}}};
}

std::string DefaultClientId() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string id = "lumitraxd-";
    for (const char* p = host; *p && id.size() < 40; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-') id += *p;
    }
    return id + "-" + std::to_string(getpid());
}

void InitLibrary() {
    static const int once = [] { return mosquitto_lib_init(); }();
    (void)once;
}

// Puts what a change event's "set" says into the fields of the last read (read: a JSON object
// with "channels" and "io"), so that the state follows a write without reading the controller,
// which would hold up the commands behind it for the read's ~0.3 s. False when the set says
// nothing these fields show whole (a trigger row, a memory load): then the controller is read.
bool ApplySet(std::string& read, const QJsonObject& set) {
    QJsonObject doc = Object(read);
    QJsonArray channels = doc.value(QLatin1String("channels")).toArray();
    if (channels.isEmpty()) return false;
    const auto setChannel = [&channels](int channel, const char* key, const QJsonValue& value) {
        if (channel < 1 || channel > channels.size()) return;
        QJsonObject c = channels.at(channel - 1).toObject();
        c[QLatin1String(key)] = value;
        channels.replace(channel - 1, c);
    };
    if (set.contains(QLatin1String("channel"))) {
        const int channel = set.value(QLatin1String("channel")).toInt();
        if (set.contains(QLatin1String("brightness"))) setChannel(channel, "brightness", set.value(QLatin1String("brightness")));
        if (set.contains(QLatin1String("on"))) setChannel(channel, "on", set.value(QLatin1String("on")));
    } else if (set.contains(QLatin1String("brightness")) || set.contains(QLatin1String("on"))) {
        const QJsonArray values = set.value(QLatin1String("brightness")).toArray();
        for (int i = 0; i < values.size(); ++i) setChannel(i + 1, "brightness", values.at(i));
        if (set.contains(QLatin1String("on"))) {  // exactly these on, every other off
            std::set<int> on;
            for (const QJsonValue& v : set.value(QLatin1String("on")).toArray()) on.insert(v.toInt());
            for (int ch = 1; ch <= channels.size(); ++ch) setChannel(ch, "on", on.count(ch) > 0);
        }
    } else if (set.contains(QLatin1String("out0")) && set.contains(QLatin1String("out1"))) {
        QJsonObject io = doc.value(QLatin1String("io")).toObject();
        io[QLatin1String("out0")] = set.value(QLatin1String("out0"));
        io[QLatin1String("out1")] = set.value(QLatin1String("out1"));
        doc[QLatin1String("io")] = io;
    } else {
        return false;
    }
    doc[QLatin1String("channels")] = channels;
    read = Json(doc);
    return true;
}

}  // namespace

MqttBridge::MqttBridge(Service& svc, MqttConfig config, std::string password, Service::Log log)
    : svc_(svc), config_(std::move(config)), log_(std::move(log)) {
    InitLibrary();
    const std::string clientId = config_.clientId.empty() ? DefaultClientId() : config_.clientId;
    mosq_ = mosquitto_new(clientId.c_str(), true, this);
    if (!mosq_) {
        log_("lumitraxd: mqtt: cannot make a client");
        return;
    }
    mosquitto_threaded_set(mosq_, true);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    const std::string status = config_.prefix + "/status";
    mosquitto_will_set_v5(mosq_, status.c_str(), 7, "offline", 1, true, nullptr);
    if (!config_.username.empty()) {
        mosquitto_username_pw_set(mosq_, config_.username.c_str(), password.empty() ? nullptr : password.c_str());
    }
    if (config_.tls) {
        const int rc = config_.caFile.empty()
                           ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(mosq_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) log_("lumitraxd: mqtt: TLS: " + std::string(mosquitto_strerror(rc)));
    }
    mosquitto_connect_v5_callback_set(mosq_, &MqttBridge::OnConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, &MqttBridge::OnDisconnect);
    mosquitto_message_v5_callback_set(mosq_, &MqttBridge::OnMessage);
    mosquitto_publish_v5_callback_set(mosq_, &MqttBridge::OnPublish);

    for (const std::string& name : svc_.ControllerNames()) states_[name].dirtySince = Clock::now();
    subscription_ = svc_.Events().Subscribe([this](const Event& e) { OnEvent(e); });
    statesThread_ = std::thread([this] { RunStates(); });
    loopThread_ = std::thread([this] { RunLoop(); });
}

MqttBridge::~MqttBridge() {
    if (!mosq_) return;
    svc_.Events().Unsubscribe(subscription_);
    std::vector<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        for (auto& [name, w] : workers_) workers.push_back(std::move(w));
    }
    wake_.notify_all();
    work_.notify_all();
    // A command in progress finishes and is answered; those waiting are dropped (the sender's
    // expiry covers them).
    for (auto& w : workers) w->thread.join();
    statesThread_.join();
    // "offline" said by the service itself, acknowledged before it goes: a clean end leaves no
    // will to be sent.
    int mid = 0;
    {
        std::unique_lock lock(mutex_);
        if (connected_) {
            const std::string status = config_.prefix + "/status";
            // Acknowledgements are kept from here on: one may come before publish returns.
            ackedKept_ = true;
            lock.unlock();
            const int rc = mosquitto_publish_v5(mosq_, &mid, status.c_str(), 7, "offline", 1, true, nullptr);
            lock.lock();
            if (rc == MOSQ_ERR_SUCCESS) {
                published_.wait_for(lock, 2s, [this, mid] { return acked_.count(mid) > 0 || !connected_; });
            }
        }
        loopStop_ = true;
    }
    mosquitto_disconnect(mosq_);
    loopWake_.notify_all();
    loopThread_.join();
    mosquitto_destroy(mosq_);
}

void MqttBridge::RunLoop() {
    int backoff = 1;
    bool first = true;
    bool needConnect = true;
    std::string lastError;
    const auto pause = [&] {
        std::unique_lock lock(mutex_);
        loopWake_.wait_for(lock, std::chrono::seconds(backoff), [this] { return loopStop_; });
        backoff = std::min(backoff * 2, kMaxBackoffS);
    };
    const auto note = [&](int rc) {
        const std::string text = mosquitto_strerror(rc);
        if (text != lastError) log_("lumitraxd: mqtt: " + config_.host + ":" + std::to_string(config_.port) + ": " + text);
        lastError = text;
    };
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (loopStop_) return;
            if (connackSeen_) {
                backoff = 1;
                connackSeen_ = false;
                lastError.clear();
            }
        }
        if (needConnect) {
            // Not mosquitto_loop_forever: it gives up for good on a failed name lookup, TLS or
            // authentication, and a PC that boots before its network must still come online.
            const int rc = first ? mosquitto_connect_bind_async(mosq_, config_.host.c_str(), config_.port,
                                                                kKeepAliveS, nullptr)
                                 : mosquitto_reconnect_async(mosq_);
            first = false;
            if (rc != MOSQ_ERR_SUCCESS) {
                note(rc);
                pause();
                continue;
            }
            needConnect = false;
        }
        const int rc = mosquitto_loop(mosq_, 250, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            {
                std::lock_guard lock(mutex_);
                if (loopStop_) return;
            }
            note(rc);
            needConnect = true;
            pause();
        }
    }
}

void MqttBridge::OnConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    static_cast<MqttBridge*>(self)->Connected(rc);
}

void MqttBridge::OnDisconnect(mosquitto*, void* self, int, const mosquitto_property*) {
    auto* b = static_cast<MqttBridge*>(self);
    std::lock_guard lock(b->mutex_);
    b->connected_ = false;
    b->published_.notify_all();
}

void MqttBridge::OnPublish(mosquitto*, void* self, int mid, int, const mosquitto_property*) {
    auto* b = static_cast<MqttBridge*>(self);
    std::lock_guard lock(b->mutex_);
    if (b->ackedKept_) {
        b->acked_.insert(mid);
        b->published_.notify_all();
    }
}

void MqttBridge::OnMessage(mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props) {
    static_cast<MqttBridge*>(self)->Message(msg, props);
}

void MqttBridge::Connected(int rc) {
    if (rc != 0) {
        std::lock_guard lock(mutex_);
        // A broker of MQTT 3.1.1 refuses the version (3.1.1's code 1, 5's 0x84): ask again in 3.1.1.
        if (v5_ && (rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)) {
            v5_ = false;
            mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            log_("lumitraxd: mqtt: the broker refuses MQTT 5; using 3.1.1");
        } else {
            log_("lumitraxd: mqtt: connection refused: " + std::string(mosquitto_reason_string(rc)));
        }
        return;
    }
    const std::string sub = config_.prefix + "/+/set";
    mosquitto_subscribe(mosq_, nullptr, sub.c_str(), 1);
    PublishText(config_.prefix + "/status", "online", 1, true);
    {
        std::lock_guard lock(mutex_);
        connected_ = true;
        connackSeen_ = true;
        republish_ = true;
    }
    wake_.notify_all();
    log_("lumitraxd: mqtt: connected to " + config_.host + ":" + std::to_string(config_.port) + " (MQTT " +
         (v5_ ? "5" : "3.1.1") + "), topics under " + config_.prefix + "/");
}

void MqttBridge::PublishText(const std::string& topic, const std::string& payload, int qos, bool retain,
                             const std::string& correlation) {
    mosquitto_property* props = nullptr;
    if (!correlation.empty()) {
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<std::uint16_t>(correlation.size()));
    }
    mosquitto_publish_v5(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain,
                         props);
    mosquitto_property_free_all(&props);
}

void MqttBridge::OnEvent(const Event& event) {
    if (event.type != "connection" && event.type != "change" && event.type != "recipe") return;
    const QJsonObject o = Object(event.json);
    const std::string name = o.value(QLatin1String("controller")).toString().toStdString();
    if (name.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (stop_) return;
        State& s = states_[name];
        if (!s.dirty) s.dirtySince = Clock::now();
        if (event.type == "connection") {
            s.connection = o.value(QLatin1String("state")).toString().toStdString();
            // A connected controller is read (and published after); any other state is published
            // as it is.
            if (s.connection == "connected") {
                s.dirty = true;
            } else {
                s.changed = true;
            }
        } else if (event.type == "change" && !s.dirty && o.value(QLatin1String("set")).isObject() &&
                   ApplySet(s.read, o.value(QLatin1String("set")).toObject())) {
            s.changed = true;  // published as the write left it, without a read
        } else {
            s.dirty = true;
        }
        if (event.type == "recipe") {
            const QJsonObject report = o.value(QLatin1String("report")).toObject();
            s.lastRecipe = Json(QJsonObject{{"recipe", o.value(QLatin1String("recipe"))},
                                       {"result", report.value(QLatin1String("result"))},
                                       {"client", o.value(QLatin1String("client"))},
                                       {"time", o.value(QLatin1String("time"))}});
        }
    }
    wake_.notify_all();
    PublishText(config_.prefix + "/" + name + "/event", QJsonDocument(QJsonObject{{"type", QString::fromStdString(event.type)}, {"event", o}}).toJson(QJsonDocument::Compact).toStdString(), 0, false);
}

void MqttBridge::RunStates() {
    const auto interval = std::chrono::seconds(config_.stateIntervalS);
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const auto now = Clock::now();
        auto next = now + 1s;
        std::vector<std::string> toRead;
        std::vector<std::string> toPublish;
        const bool all = republish_ && connected_;
        if (all) republish_ = false;
        for (auto& [name, s] : states_) {
            if (s.dirty && now >= s.dirtySince + kCoalesce) {
                toRead.push_back(name);
            } else if (s.dirty) {
                next = std::min(next, s.dirtySince + kCoalesce);
            }
            if (all || s.changed || (connected_ && !s.published.empty() && now >= s.publishedAt + interval)) {
                toPublish.push_back(name);
            }
        }
        if (toRead.empty() && toPublish.empty()) {
            wake_.wait_until(lock, next);
            continue;
        }
        for (const std::string& name : toRead) states_[name].dirty = false;
        lock.unlock();
        // One read after a change, never on the interval: each costs the controller's time.
        // Controllers are read side by side (each has its own line), a batch at a time.
        std::map<std::string, QJsonObject> reads;
        std::vector<std::string> bodies(toRead.size());
        for (std::size_t first = 0; first < toRead.size(); first += kReadBatch) {
            std::vector<std::thread> readers;
            for (std::size_t i = first; i < std::min(toRead.size(), first + kReadBatch); ++i) {
                readers.emplace_back([this, &toRead, &bodies, i] {
                    const HttpResponse r = svc_.Command("GET", "/api/v1/controllers/" + toRead[i], "", "mqtt");
                    if (r.status == 200) bodies[i] = r.body;
                });
            }
            for (auto& t : readers) t.join();
        }
        for (std::size_t i = 0; i < toRead.size(); ++i) {
            if (!bodies[i].empty()) reads[toRead[i]] = Object(bodies[i]).value(QLatin1String("state")).toObject();
        }
        lock.lock();
        for (const std::string& name : toRead) {
            if (std::find(toPublish.begin(), toPublish.end(), name) == toPublish.end()) toPublish.push_back(name);
        }
        std::vector<std::pair<std::string, std::string>> out;
        for (const std::string& name : toPublish) {
            State& s = states_[name];
            s.changed = false;
            if (const auto it = reads.find(name); it != reads.end()) {
                QJsonObject read;
                for (const char* key : {"identity", "error_status", "io", "bright_memory", "channels"}) {
                    read[QLatin1String(key)] = it->second.value(QLatin1String(key));
                }
                s.read = Json(read);
            }
            QJsonObject doc = Object(s.read);
            doc[QStringLiteral("controller")] = QString::fromStdString(name);
            doc[QStringLiteral("connection")] = QString::fromStdString(s.connection);
            doc[QStringLiteral("last_recipe")] = s.lastRecipe.empty() ? QJsonValue() : QJsonValue(Object(s.lastRecipe));
            const std::string json = Json(doc);
            const bool refresh = Clock::now() >= s.publishedAt + interval;
            if (!connected_ || (json == s.published && !refresh && !all)) continue;
            s.published = json;
            s.publishedAt = Clock::now();
            out.emplace_back(name, json);
        }
        lock.unlock();
        for (const auto& [name, json] : out) PublishText(config_.prefix + "/" + name + "/state", json, 1, true);
        lock.lock();
    }
}

void MqttBridge::Message(const mosquitto_message* msg, const mosquitto_property* props) {
    const std::string topic = msg->topic ? msg->topic : "";
    const std::string head = config_.prefix + "/";
    // Only the service's own command topics are taken, whatever the broker delivers.
    if (topic.rfind(head, 0) != 0 || topic.size() <= head.size() + 4 ||
        topic.compare(topic.size() - 4, 4, "/set") != 0) {
        return;
    }
    const std::string name = topic.substr(head.size(), topic.size() - head.size() - 4);
    if (name.find('/') != std::string::npos) return;

    Pending p;
    p.controller = name;
    p.arrived = Clock::now();
    if (static_cast<std::size_t>(std::max(msg->payloadlen, 0)) > kMaxMqttPayload) {
        // Not copied, not queued, not read for its id.
        Reply(p, std::nullopt, Json(ErrorResult("too large", "the command is over 64 KiB")));
        return;
    }
    if (msg->payloadlen > 0) p.payload.assign(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen));
    std::uint32_t expiry = 0;
    if (mosquitto_property_read_int32(props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false)) {
        p.expires = p.arrived + std::chrono::seconds(expiry);
    }
    char* response = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false) && response) {
        p.responseTopic = response;
    }
    std::free(response);
    void* correlation = nullptr;
    std::uint16_t correlationLen = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &correlationLen, false) &&
        correlation) {
        p.correlation.assign(static_cast<const char*>(correlation), correlationLen);
    }
    std::free(correlation);

    const std::vector<std::string> names = svc_.ControllerNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        MqttCommand cmd;
        MqttCommandError error;
        ParseMqttCommand(name, p.payload, cmd, error);
        Reply(p, cmd.id, Json(ErrorResult("not found", "no controller " + name)));
        return;
    }
    std::unique_lock lock(mutex_);
    if (stop_) return;
    std::unique_ptr<Worker>& w = workers_[name];
    if (!w) {
        w = std::make_unique<Worker>();
        w->thread = std::thread([this, name] { RunWorker(name); });
    }
    if (w->queue.size() >= kMaxQueued) {
        lock.unlock();
        MqttCommand cmd;
        MqttCommandError error;
        ParseMqttCommand(name, p.payload, cmd, error);
        Reply(p, cmd.id, Json(ErrorResult("busy", name + ": " + std::to_string(kMaxQueued) + " commands wait already")));
        return;
    }
    w->queue.push_back(std::move(p));
    lock.unlock();
    work_.notify_all();
}

void MqttBridge::RunWorker(const std::string& controller) {
    std::unique_lock lock(mutex_);
    for (;;) {
        Worker* w = nullptr;
        work_.wait(lock, [&] {
            if (stop_) return true;
            const auto it = workers_.find(controller);
            w = it == workers_.end() ? nullptr : it->second.get();
            return w && !w->queue.empty();
        });
        if (stop_) return;
        Pending p = std::move(w->queue.front());
        w->queue.pop_front();
        lock.unlock();
        Execute(p);
        lock.lock();
    }
}

void MqttBridge::Execute(const Pending& p) {
    MqttCommand cmd;
    MqttCommandError error;
    if (!ParseMqttCommand(p.controller, p.payload, cmd, error)) {
        Reply(p, cmd.id, Json(ErrorResult(error.kind, error.message)));
        return;
    }
    // A command that waited past its time (a broker that kept it while the service was away, a
    // queue behind a slow recipe) is not carried out: the line has moved on.
    const auto expiry = std::chrono::seconds(config_.commandExpiryS);
    bool expired = false;
    if (p.expires) {
        expired = Clock::now() >= *p.expires;
    } else if (cmd.sentMs) {
        expired = QDateTime::currentMSecsSinceEpoch() >= *cmd.sentMs + std::chrono::milliseconds(expiry).count();
    } else {
        expired = Clock::now() >= p.arrived + expiry;
    }
    if (expired) {
        Reply(p, cmd.id, Json(ErrorResult("expired", "the command is older than its expiry; nothing was written")));
        return;
    }
    const HttpResponse r = svc_.Command(cmd.method, cmd.path, cmd.body, "mqtt");
    QJsonObject result = Object(r.body);
    result[QStringLiteral("ok")] = r.status < 300;
    Reply(p, cmd.id, Json(result));
}

void MqttBridge::Reply(const Pending& p, const std::optional<std::string>& id, const std::string& resultJson) {
    QJsonObject result = Object(resultJson);
    result[QStringLiteral("id")] = id ? QJsonValue(QString::fromStdString(*id)) : QJsonValue();
    result[QStringLiteral("controller")] = QString::fromStdString(p.controller);
    bool v5 = false;
    {
        std::lock_guard lock(mutex_);
        v5 = v5_;
    }
    const std::string topic =
        v5 && !p.responseTopic.empty() ? p.responseTopic : config_.prefix + "/" + p.controller + "/result";
    PublishText(topic, Json(result), 1, false, v5 ? p.correlation : std::string());
}

}  // namespace service

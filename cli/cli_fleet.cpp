#include "cli_fleet.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <mosquitto.h>
#include <sys/stat.h>

#include "cli_options.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    QString broker;
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;
    QString username;
    QString passwordFile;
    QStringList prefixes;
    int waitMs = 0;  // 0: until a quiet moment
    bool apply = false;
    QString recipe;
    QString where;
    int timeoutS = 30;
};

bool ParseUrl(const QString& url, Options& o) {
    QString rest;
    if (url.startsWith(QLatin1String("mqtt://"))) {
        rest = url.mid(7);
    } else if (url.startsWith(QLatin1String("mqtts://"))) {
        rest = url.mid(8);
        o.tls = true;
    } else {
        return false;
    }
    if (rest.endsWith(QLatin1Char('/'))) rest.chop(1);
    o.port = o.tls ? 8883 : 1883;
    const int close = rest.indexOf(QLatin1Char(']'));
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    QString host = rest;
    if (colon >= 0 && colon > close) {
        bool ok = false;
        const int port = rest.mid(colon + 1).toInt(&ok);
        if (!ok || port < 1 || port > 65535) return false;
        o.port = port;
        host = rest.left(colon);
    }
    if (host.startsWith(QLatin1Char('['))) {
        if (!host.endsWith(QLatin1Char(']')) || host.size() < 3) return false;
        host = host.mid(1, host.size() - 2);
    }
    if (host.isEmpty() || host.contains(QLatin1Char('/'))) return false;
    o.host = host;
    return true;
}

bool ValidFilter(const QString& f) {
    if (f.isEmpty() || f.size() > 1024) return false;
    const QStringList levels = f.split(QLatin1Char('/'));
    for (int i = 0; i < levels.size(); ++i) {
        const QString& l = levels[i];
        if (l.contains(QLatin1Char('#')) && (l != QLatin1String("#") || i + 1 != levels.size())) return false;
        if (l.contains(QLatin1Char('+')) && l != QLatin1String("+")) return false;
    }
    return true;
}

// A libmosquitto client driven from this thread's point of view: connect, subscribe and wait
// for the broker's acknowledgement, collect what arrives.
class Session {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    Session() {
        mosquitto_lib_init();
        const std::string id = "lumitrax-fleet-" + std::to_string(getpid());
        mosq_ = mosquitto_new(id.c_str(), true, this);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            auto* s = static_cast<Session*>(self);
            std::lock_guard lock(s->mutex_);
            s->connackRc_ = rc;
            s->changed_.notify_all();
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int mid, int, const int*) {
            auto* s = static_cast<Session*>(self);
            std::lock_guard lock(s->mutex_);
            s->subacks_.insert(mid);
            s->changed_.notify_all();
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Session*>(self);
            Message msg{QString::fromUtf8(m->topic),
                        QByteArray(static_cast<const char*>(m->payload), m->payloadlen > 0 ? m->payloadlen : 0),
                        m->retain};
            std::lock_guard lock(s->mutex_);
            s->messages_.push_back(std::move(msg));
            s->lastMessage_ = Clock::now();
            s->changed_.notify_all();
        });
    }
    ~Session() {
        if (started_) {
            mosquitto_disconnect(mosq_);
            mosquitto_loop_stop(mosq_, false);
        }
        mosquitto_destroy(mosq_);
        mosquitto_lib_cleanup();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // An empty string when connected; else why not.
    QString Connect(const Options& o, const std::string& password) {
        if (!o.username.isEmpty()) {
            mosquitto_username_pw_set(mosq_, o.username.toStdString().c_str(),
                                      password.empty() ? nullptr : password.c_str());
        }
        if (o.tls) {
            const std::string ca = o.caFile.toStdString();
            const int rc = ca.empty() ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                      : mosquitto_tls_set(mosq_, ca.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) return QString::fromUtf8(mosquitto_strerror(rc));
        }
        int rc = mosquitto_connect(mosq_, o.host.toStdString().c_str(), o.port, 30);
        if (rc != MOSQ_ERR_SUCCESS) {
            return QString::fromUtf8(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        }
        rc = mosquitto_loop_start(mosq_);
        if (rc != MOSQ_ERR_SUCCESS) return QString::fromUtf8(mosquitto_strerror(rc));
        started_ = true;
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 10s, [this] { return connackRc_ >= 0; })) return QStringLiteral("no answer");
        if (connackRc_ != 0) return QString::fromUtf8(mosquitto_connack_string(connackRc_));
        return {};
    }

    bool Subscribe(const QStringList& filters) {
        std::vector<int> mids;
        for (const QString& f : filters) {
            int mid = 0;
            if (mosquitto_subscribe(mosq_, &mid, f.toStdString().c_str(), 1) != MOSQ_ERR_SUCCESS) return false;
            mids.push_back(mid);
        }
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] {
            for (int m : mids) {
                if (!subacks_.count(m)) return false;
            }
            return true;
        });
    }

    bool Publish(const QString& topic, const QByteArray& payload) {
        return mosquitto_publish(mosq_, nullptr, topic.toStdString().c_str(), static_cast<int>(payload.size()),
                                 payload.constData(), 1, false) == MOSQ_ERR_SUCCESS;
    }

    // Waits until quiet has passed with no message (or until a fixed total when fixed).
    void Collect(std::chrono::milliseconds quiet, bool fixed) {
        const auto start = Clock::now();
        std::unique_lock lock(mutex_);
        lastMessage_ = start;
        if (fixed) {
            changed_.wait_until(lock, start + quiet, [] { return false; });
            return;
        }
        // A quiet moment, but never longer than 10 s in all (a busy broker never goes quiet).
        while (Clock::now() < start + 10s) {
            const auto until = lastMessage_ + quiet;
            if (Clock::now() >= until) break;
            changed_.wait_until(lock, until);
        }
    }

    // Waits until done(messages) holds or the deadline passes.
    template <typename Done>
    bool WaitFor(Clock::time_point deadline, Done done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return done(messages_); });
    }

    std::vector<Message> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mosquitto* mosq_ = nullptr;
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    int connackRc_ = -1;
    std::set<int> subacks_;
    std::vector<Message> messages_;
    Clock::time_point lastMessage_{};
};

struct Found {
    QString where;       // the state's topic without "/state"
    QJsonObject state;
    QString service;     // "online", "offline" or empty (not known)
};

// The controllers among the retained messages: states, and their services' status.
std::vector<Found> Controllers(const std::vector<Session::Message>& messages) {
    std::map<QString, QJsonObject> states;
    std::map<QString, QString> status;
    for (const auto& m : messages) {
        if (!m.retained) continue;
        if (m.topic.endsWith(QLatin1String("/state"))) {
            const QJsonDocument doc = QJsonDocument::fromJson(m.payload);
            if (doc.isObject()) states[m.topic.chopped(6)] = doc.object();
        } else if (m.topic.endsWith(QLatin1String("/status"))) {
            status[m.topic.chopped(7)] = QString::fromUtf8(m.payload);
        }
    }
    std::vector<Found> out;
    for (const auto& [where, state] : states) {
        Found f{where, state, QString()};
        const QString service = where.left(where.lastIndexOf(QLatin1Char('/')));
        if (const auto it = status.find(service); it != status.end()) f.service = it->second;
        out.push_back(f);
    }
    return out;
}

QString Text(const QJsonValue& v) {
    const QString s = v.isString() ? v.toString() : QString();
    return s.isEmpty() ? QStringLiteral("-") : s;
}

int Fail(const FleetOutput& out, bool json, int status, const QString& kind, const QString& message) {
    if (json) {
        out.json(QJsonObject{{"schema", 1},
                             {"command", "fleet"},
                             {"exit", status},
                             {"error", QJsonObject{{"kind", kind}, {"message", message}}}});
    }
    out.error(QStringLiteral("lumitrax: fleet: ") + message);
    return status;
}

std::string ReadPassword(const QString& path, QString& error) {
    struct stat st {};
    const std::string p = path.toStdString();
    if (stat(p.c_str(), &st) != 0) {
        error = path + QStringLiteral(": cannot be read");
        return {};
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = path + QStringLiteral(": must not be readable by group or others (chmod 600)");
        return {};
    }
    FILE* f = std::fopen(p.c_str(), "r");
    if (!f) {
        error = path + QStringLiteral(": cannot be read");
        return {};
    }
    char buf[1024] = {};
    const bool got = std::fgets(buf, sizeof buf, f) != nullptr;
    std::fclose(f);
    const QString line = QString::fromUtf8(buf).trimmed();
    if (!got || line.isEmpty()) {
        error = path + QStringLiteral(": the first line is empty");
        return {};
    }
    return line.toStdString();
}

}  // namespace

QString FleetStateFilter(const QString& filter) {
    return filter.endsWith(QLatin1Char('#')) ? filter : filter + QStringLiteral("/state");
}

int RunFleet(const QStringList& args, bool json, const FleetOutput& out) {
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&](QString& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        QString v;
        bool ok = true;
        if (a == QLatin1String("--broker")) {
            ok = value(o.broker) && ParseUrl(o.broker, o);
        } else if (a == QLatin1String("--prefix")) {
            ok = value(v) && ValidFilter(v);
            o.prefixes.append(v);
        } else if (a == QLatin1String("--where")) {
            ok = value(o.where) && ValidFilter(o.where);
        } else if (a == QLatin1String("--wait")) {
            ok = value(v);
            o.waitMs = v.toInt(&ok);
            ok = ok && o.waitMs >= 1 && o.waitMs <= 600000;
        } else if (a == QLatin1String("--timeout")) {
            ok = value(v);
            o.timeoutS = v.toInt(&ok);
            ok = ok && o.timeoutS >= 1 && o.timeoutS <= 3600;
        } else if (a == QLatin1String("--ca-file")) {
            ok = value(o.caFile);
        } else if (a == QLatin1String("--username")) {
            ok = value(o.username);
        } else if (a == QLatin1String("--password-file")) {
            ok = value(o.passwordFile);
        } else if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("apply") && !o.apply) {
            o.apply = true;
            ok = value(o.recipe) && !o.recipe.isEmpty();
        } else {
            return Fail(out, json, kExitUsage, QStringLiteral("argument"),
                        QStringLiteral("unknown argument %1\nTry 'lumitrax help fleet'.").arg(a));
        }
        if (!ok) {
            return Fail(out, json, kExitUsage, QStringLiteral("argument"),
                        QStringLiteral("%1: a missing or bad value (lumitrax help fleet)").arg(a));
        }
    }
    if (o.host.isEmpty()) {
        return Fail(out, json, kExitUsage, QStringLiteral("argument"),
                    QStringLiteral("give --broker mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"));
    }
    if (o.apply && o.where.isEmpty()) {
        return Fail(out, json, kExitUsage, QStringLiteral("argument"),
                    QStringLiteral("apply needs --where FILTER, the controllers to set"));
    }
    if (!o.apply && !o.where.isEmpty()) {
        return Fail(out, json, kExitUsage, QStringLiteral("argument"), QStringLiteral("--where goes with apply"));
    }
    if (o.prefixes.isEmpty()) o.prefixes.append(QStringLiteral("lumitrax/#"));
    std::string password;
    if (!o.passwordFile.isEmpty()) {
        QString error;
        password = ReadPassword(o.passwordFile, error);
        if (!error.isEmpty()) return Fail(out, json, kExitUsage, QStringLiteral("file"), error);
    }

    Session session;
    if (const QString error = session.Connect(o, password); !error.isEmpty()) {
        return Fail(out, json, kExitPortFailed, QStringLiteral("port"),
                    QStringLiteral("%1: %2").arg(o.broker, error));
    }
    QStringList filters;
    for (const QString& p : o.apply ? QStringList{o.where} : o.prefixes) {
        filters.append(FleetStateFilter(p));
        // The services' "online"/"offline", one level up from where their controllers are.
        if (!p.endsWith(QLatin1Char('#'))) {
            const int slash = p.lastIndexOf(QLatin1Char('/'));
            if (slash > 0) filters.append(p.left(slash) + QStringLiteral("/status"));
        }
    }
    if (!session.Subscribe(filters)) {
        return Fail(out, json, kExitNoAnswer, QStringLiteral("no answer"), QStringLiteral("the broker did not take the subscription"));
    }
    session.Collect(std::chrono::milliseconds(o.waitMs > 0 ? o.waitMs : 300), o.waitMs > 0);
    const std::vector<Found> found = Controllers(session.Messages());

    if (!o.apply) {
        QJsonArray list;
        for (const Found& f : found) {
            const QJsonObject& s = f.state;
            const QString connection = f.service == QLatin1String("offline") ? QStringLiteral("service-offline")
                                                                             : Text(s.value(QLatin1String("connection")));
            const QJsonObject recipe = s.value(QLatin1String("last_recipe")).toObject();
            const QJsonObject error = s.value(QLatin1String("error_status")).toObject();
            const QString serial = Text(s.value(QLatin1String("identity")).toObject().value(QLatin1String("serial")));
            list.append(QJsonObject{{"where", f.where},
                                    {"controller", s.value(QLatin1String("controller"))},
                                    {"service", f.service.isEmpty() ? QJsonValue() : QJsonValue(f.service)},
                                    {"connection", s.value(QLatin1String("connection"))},
                                    {"serial", serial == QLatin1String("-") ? QJsonValue() : QJsonValue(serial)},
                                    {"recipe", recipe.value(QLatin1String("recipe"))},
                                    {"result", recipe.value(QLatin1String("result"))},
                                    {"error_status", error.isEmpty() ? QJsonValue() : QJsonValue(error)}});
            if (!json) {
                const QString err = error.isEmpty() ? QStringLiteral("-")
                                                    : QStringLiteral("%1,%2h")
                                                          .arg(error.value(QLatin1String("code")).toInt())
                                                          .arg(error.value(QLatin1String("detail")).toInt(), 0, 16);
                out.line(QStringLiteral("%1  %2  serial %3  recipe %4  %5  error %6")
                             .arg(f.where, connection, serial, Text(recipe.value(QLatin1String("recipe"))),
                                  Text(recipe.value(QLatin1String("result"))), err));
            }
        }
        if (json) out.json(QJsonObject{{"schema", 1}, {"command", "fleet"}, {"exit", kExitDone}, {"controllers", list}});
        if (found.empty()) out.error(QStringLiteral("lumitrax: fleet: no controller state under ") + o.prefixes.join(QStringLiteral(", ")));
        return kExitDone;
    }

    if (found.empty()) {
        return Fail(out, json, kExitNoAnswer, QStringLiteral("not found"),
                    QStringLiteral("no controller state under ") + o.where);
    }
    QStringList results;
    for (const Found& f : found) results.append(f.where + QStringLiteral("/result"));
    if (!session.Subscribe(results)) {
        return Fail(out, json, kExitNoAnswer, QStringLiteral("no answer"), QStringLiteral("the broker did not take the subscription"));
    }
    const QString run = QStringLiteral("fleet-%1-%2").arg(getpid()).arg(QDateTime::currentMSecsSinceEpoch());
    std::map<QString, QString> idOf;  // where -> id
    const QString sent = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    for (std::size_t i = 0; i < found.size(); ++i) {
        // A controller whose service is gone would only time out: it is not sent anything.
        if (found[i].service == QLatin1String("offline")) continue;
        const QString id = run + QStringLiteral("-%1").arg(i + 1);
        idOf[found[i].where] = id;
        const QByteArray payload = QJsonDocument(QJsonObject{{"id", id}, {"recipe", o.recipe}, {"sent", sent}})
                                       .toJson(QJsonDocument::Compact);
        session.Publish(found[i].where + QStringLiteral("/set"), payload);
    }
    std::map<QString, QJsonObject> answers;
    const auto collect = [&](const std::vector<Session::Message>& messages) {
        for (const auto& m : messages) {
            if (m.retained || !m.topic.endsWith(QLatin1String("/result"))) continue;
            const QString where = m.topic.chopped(7);
            const auto it = idOf.find(where);
            if (it == idOf.end()) continue;
            const QJsonObject r = QJsonDocument::fromJson(m.payload).object();
            if (r.value(QLatin1String("id")).toString() == it->second) answers[where] = r;
        }
        return answers.size() == idOf.size();
    };
    session.WaitFor(Clock::now() + std::chrono::seconds(o.timeoutS), [&](const std::vector<Session::Message>& m) {
        answers.clear();
        return collect(m);
    });
    int verified = 0;
    int differs = 0;
    int failed = 0;
    QJsonArray list;
    for (const Found& f : found) {
        const auto it = answers.find(f.where);
        QString outcome;
        QString message;
        QJsonObject item{{"where", f.where}, {"controller", f.state.value(QLatin1String("controller"))}};
        if (f.service == QLatin1String("offline")) {
            outcome = QStringLiteral("failed");
            message = QStringLiteral("port: its service is offline; nothing was sent");
            item[QStringLiteral("error")] = QJsonObject{{"kind", "port"}, {"message", QStringLiteral("its service is offline; nothing was sent")}};
        } else if (it == answers.end()) {
            outcome = QStringLiteral("failed");
            message = QStringLiteral("no answer: no result within %1 s").arg(o.timeoutS);
            item[QStringLiteral("error")] = QJsonObject{{"kind", "no answer"}, {"message", QStringLiteral("no result within %1 s").arg(o.timeoutS)}};
        } else {
            const QJsonObject& r = it->second;
            const QString result = r.value(QLatin1String("recipe")).toObject().value(QLatin1String("result")).toString();
            if (r.contains(QLatin1String("recipe"))) item[QStringLiteral("recipe")] = r.value(QLatin1String("recipe"));
            if (r.contains(QLatin1String("error"))) item[QStringLiteral("error")] = r.value(QLatin1String("error"));
            if (result == QLatin1String("verified") && r.value(QLatin1String("ok")).toBool()) {
                outcome = QStringLiteral("verified");
            } else if (result == QLatin1String("differs")) {
                outcome = QStringLiteral("differs");
            } else {
                outcome = QStringLiteral("failed");
                const QJsonObject e = r.value(QLatin1String("error")).toObject();
                message = e.value(QLatin1String("kind")).toString() + QStringLiteral(": ") +
                          e.value(QLatin1String("message")).toString();
            }
        }
        item[QStringLiteral("result")] = outcome;
        list.append(item);
        if (outcome == QLatin1String("verified")) ++verified;
        else if (outcome == QLatin1String("differs")) ++differs;
        else ++failed;
        if (!json) out.line(f.where + QStringLiteral("  ") + outcome + (message.isEmpty() ? QString() : QStringLiteral(" (") + message + QLatin1Char(')')));
    }
    const int status = differs + failed > 0 ? kExitNoAnswer : kExitDone;
    if (json) {
        out.json(QJsonObject{{"schema", 1},
                             {"command", "fleet apply"},
                             {"recipe", o.recipe},
                             {"controllers", list},
                             {"verified", verified},
                             {"differs", differs},
                             {"failed", failed},
                             {"exit", status}});
    } else {
        out.line(QStringLiteral("%1 controller(s): %2 verified, %3 differ, %4 failed")
                     .arg(found.size()).arg(verified).arg(differs).arg(failed));
    }
    return status;
}

#pragma once
// lumitraxd on the plant's MQTT broker (docs/mqtt.md): for each controller a retained state
// and its events under <prefix>/<controller>/, commands taken on <prefix>/<controller>/set and
// answered on .../result, and <prefix>/status "online" (retained; "offline" is the will).
//
// Threads: libmosquitto's loop thread takes the broker's messages; one thread reads and
// publishes the states; one worker per controller carries its commands out through
// Service::Command, so a slow recipe on one controller holds up no other. Any thread may
// construct and destroy it (not from a callback of its own).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service.h"
#include "service_config.h"

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace service {

class MqttBridge {
public:
    // password: empty when none. Connects in the background and keeps reconnecting.
    MqttBridge(Service& svc, MqttConfig config, std::string password, Service::Log log);
    // Publishes "offline" and disconnects.
    ~MqttBridge();
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // At most this many commands wait for one controller; more are refused as busy.
    static constexpr std::size_t kMaxQueued = 32;

private:
    struct Pending {
        std::string controller;
        std::string payload;
        std::chrono::steady_clock::time_point arrived;
        std::optional<std::chrono::steady_clock::time_point> expires;  // from the message's own expiry
        std::string responseTopic;
        std::string correlation;
    };
    struct Worker {
        std::deque<Pending> queue;
        std::thread thread;
    };
    struct State {
        bool dirty = true;      // to be read again
        std::chrono::steady_clock::time_point dirtySince{};
        std::string connection = "opening";
        std::string read;       // the fields of its last read (a JSON object)
        std::string lastRecipe; // the last recipe's outcome (a JSON object), or empty
        bool changed = false;   // to be published without a read (a lost connection)
        std::string published;  // the JSON last published
        std::chrono::steady_clock::time_point publishedAt{};
    };

    static void OnConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void OnPublish(mosquitto*, void* self, int mid, int rc, const mosquitto_property*);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props);

    void RunLoop();
    void Connected(int rc);
    void Message(const mosquitto_message* msg, const mosquitto_property* props);
    void OnEvent(const Event& event);
    void RunStates();
    void RunWorker(const std::string& controller);
    void Execute(const Pending& p);
    void Reply(const Pending& p, const std::optional<std::string>& id, const std::string& resultJson);
    void PublishText(const std::string& topic, const std::string& payload, int qos, bool retain,
                     const std::string& responseCorrelation = std::string());

    Service& svc_;
    MqttConfig config_;
    Service::Log log_;
    mosquitto* mosq_ = nullptr;
    std::uint64_t subscription_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;       // the state thread
    std::condition_variable work_;       // the workers
    bool stop_ = false;
    bool connected_ = false;
    bool v5_ = true;                     // MQTT 5 until a broker refuses it
    bool republish_ = false;             // every state again after a connect
    std::map<std::string, State> states_;
    std::map<std::string, std::unique_ptr<Worker>> workers_;
    std::thread statesThread_;
    // The network loop: stopped last, after "offline" is acknowledged.
    std::condition_variable loopWake_;
    std::condition_variable published_;
    bool loopStop_ = false;
    bool connackSeen_ = false;
    bool ackedKept_ = false;
    std::set<int> acked_;  // message ids the broker acknowledged while stopping
    std::thread loopThread_;
};

}  // namespace service

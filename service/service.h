#pragma once
// lumitraxd's core: the controllers of the configuration, each through one reconnecting
// lumitrax::Controller, and the HTTP API over them as a plain function from a request to a
// response (http_server.h puts it on a socket; docs/http.md lists the routes). Everything a
// request is checked for (size, Host, token, Origin, content type, every value) is checked
// here, before anything reaches a controller.
//
// Threads: Handle() may run on many threads at once. Calls for one controller are served one
// at a time in arrival order (the Controller's own queue); different controllers in parallel.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <lumitrax/controller.h>

#include "controller_view.h"
#include "event_bus.h"
#include "op_result.h"
#include "service_config.h"

class QJsonObject;

namespace service {

constexpr std::size_t kMaxBodyBytes = 64 * 1024;

struct HttpRequest {
    std::string method;  // "GET", "PUT", ...
    std::string path;    // without the query
    std::map<std::string, std::string> query;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string client;  // the peer's address
    std::string via = "http";  // the front end, as change events and metrics name it
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers;
    // /api/v1/events: the server streams the event bus after this response's headers.
    bool eventStream = false;
    bool traffic = false;  // the stream includes the wire's lines
};

class Service {
public:
    using Log = std::function<void(const std::string& line)>;

    // token: empty when none is asked for. log gets one line per request and per event.
    Service(Config config, std::string token, Log log);
    // Closes every controller (the lights stay as they are).
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Opens every controller in the background: a missing one starts lost and keeps trying.
    void Start();
    // The port the server listens on, for the Host check (known once bound).
    void SetListenPort(int port) { listenPort_ = port; }

    HttpResponse Handle(const HttpRequest& request);

    // A request on a controller (path under /api/v1/controllers/) from another front end, such as
    // MQTT: the same checks, controller queue, change event (naming client) and metrics as over
    // HTTP, without the Host, token and Origin checks, which are HTTP's (that front end
    // authenticates its own clients). body is JSON or empty. client names the front end ("mqtt"),
    // as the change's client and its via.
    HttpResponse Command(const std::string& method, const std::string& path, const std::string& body,
                         const std::string& client);

    // Takes a new configuration: controllers added are opened, removed ones closed, those with
    // the same name, target and timeout kept as they are (no reconnect); the token replaced.
    // What cannot change while running (listen, recipes, record) is logged and left as it was.
    void Reload(const Config& next, std::string token);

    // The configured controllers' names, in configuration order.
    std::vector<std::string> ControllerNames();

    // How many controllers are connected, and how many are configured.
    std::pair<int, int> ConnectedCount();

    EventBus& Events() { return events_; }

    // ---- operations for front ends other than HTTP (Modbus); HTTP's writes share their path ----

    // The controller a Modbus unit identifier reaches (docs/modbus.md); empty when none.
    std::string ControllerForUnit(int unit);
    // The service's view of a controller; empty when there is no such controller.
    std::optional<ViewSnapshot> View(const std::string& name);
    // Brightness of channels first, first + 1, ... (each 0..1024). Several values go out
    // together in one brightness packet, the channels not named as the view holds them.
    OpResult SetBrightness(const std::string& name, int first, const std::vector<int>& values, const Origin& origin);
    // Channels first, first + 1, ... on or off, in one on mask.
    OpResult SetOn(const std::string& name, int first, const std::vector<bool>& on, const Origin& origin);
    // Starts applying and verifying the recipe with number (recipe files' "number") on the
    // controller's queue and returns: the view's apply state says how it ends.
    OpResult StartRecipe(const std::string& name, int number, const Origin& origin);
    // One Modbus request answered, with its exception code (0: none), for the metrics.
    void CountModbus(int function, int exception);

private:
    struct Entry;
    struct Routed;
    struct Metric {
        std::map<int, std::uint64_t> byStatus;
        double seconds = 0;
        std::uint64_t count = 0;
    };

    Routed Route(const HttpRequest& request);
    // One request answered, for the metrics.
    void Count(const Routed& routed, double seconds);
    Routed ControllerRoute(const HttpRequest& request, const std::vector<std::string>& parts);
    bool HostAllowed(const HttpRequest& request) const;
    void Open(Entry& entry);
    void OnConnection(Entry& entry, lumitrax::ConnectionState state);
    void Publish(const std::string& type, const std::string& json);
    std::string Metrics();
    std::shared_ptr<Entry> Find(const std::string& name);
    // The one path of every write: the controller found and connected, act run (on the
    // controller's queue), the view kept, the change published, logged and counted. act returns
    // whether it changed something (false: the front end reports it as refused).
    // set, when given, is read after act ran: the values written, for the change event.
    OpResult Change(const std::string& name, const std::string& what, const Origin& origin,
                    const std::function<bool(lumitrax::Controller&, Entry&)>& act, const QJsonObject* set = nullptr);
    void PublishChange(const std::string& name, const std::string& what, const Origin& origin,
                       const QJsonObject* set = nullptr);
    // The status poll: every statusPollMs, error status and inputs/outputs of each connected
    // controller; the light and identity where the view lacks them.
    void PollLoop();
    void PollOne(Entry& entry);

    std::vector<std::shared_ptr<Entry>> Entries();
    std::string Token();

    Config config_;  // as started; Reload() changes only the controllers and the token
    std::mutex tokenMutex_;
    std::string token_;
    Log log_;
    std::atomic<int> listenPort_{0};
    EventBus events_;  // outlives the controllers, whose threads publish on it
    // Requests work on a copy of the list: a controller removed by a reload is closed when the
    // last request using it is over.
    std::mutex entriesMutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::mutex metricsMutex_;
    std::map<std::string, Metric> metrics_;  // by route
    std::map<std::pair<std::string, std::string>, std::uint64_t> changes_;  // by controller, via
    std::map<std::pair<int, int>, std::uint64_t> modbusRequests_;          // by function, exception
    std::mutex pollMutex_;
    std::condition_variable pollWake_;
    bool pollStop_ = false;
    std::thread poller_;
};

}  // namespace service

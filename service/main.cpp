// lumitraxd: the controllers of this PC over HTTP (docs/http.md).
//
//   lumitraxd [--config FILE] [--check] [--simulate]
//
// The first line on standard output is the address served ("http://127.0.0.1:8470"), and with
// a Modbus TCP server configured (docs/modbus.md) the second is its address
// ("modbus://127.0.0.1:1502"); logs go to standard error, one line each. SIGTERM or SIGINT: stop accepting, finish the requests in
// flight, exit 0. SIGHUP: read the configuration again (Service::Reload); one that fails its
// check is logged and the running one kept.
//
// Under systemd (Type=notify): READY=1 once the socket listens, STATUS= with the controllers
// connected, STOPPING=1 on SIGTERM; with WatchdogSec, WATCHDOG=1 only while the server answers
// a request of its own.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <iostream>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <systemd/sd-daemon.h>

#include <lumitrax/controller.h>

#include "http_server.h"
#include "modbus_server.h"
#include "mqtt_bridge.h"
#include "service.h"
#include "service_config.h"
#include "sim_child.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

void Usage(std::ostream& out) {
    out << "Usage: lumitraxd [--config FILE] [--check] [--simulate]\n"
           "  --config FILE  the configuration (default " << service::kDefaultConfigPath << ")\n"
           "  --check        check the configuration and exit: 0 good, 2 with its problems\n"
           "  --simulate     add a virtual controller named sim (lumitrax-sim on a pseudo-terminal);\n"
           "                 without --config, nothing else is read\n"
           "  --version, --help\n";
}

std::string ExeDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The simulated controller answers Modbus units 0 and 255 unless a configured one does.
int SimUnit(const service::Config& config) {
    for (const service::ControllerConfig& c : config.controllers) {
        if (service::UnitMatches(c.unit, 255)) return service::kNoUnit;
    }
    return 255;
}

// Keeps systemd told: the controllers connected as STATUS=, and, when the unit has a watchdog,
// WATCHDOG=1 at half its interval, each only after the HTTP server answered a request of its
// own (a stuck accept loop or a worker pool with no free thread stops the pings, and systemd
// restarts the service). Runs only under a notify socket.
class SystemdMonitor {
public:
    using Log = service::Service::Log;
    SystemdMonitor(service::Service& svc, std::string host, int port, Log log)
        : svc_(svc), host_(std::move(host)), port_(port), log_(std::move(log)) {
        if (!getenv("NOTIFY_SOCKET")) return;
        thread_ = std::thread([this] { Run(); });
    }
    ~SystemdMonitor() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    SystemdMonitor(const SystemdMonitor&) = delete;
    SystemdMonitor& operator=(const SystemdMonitor&) = delete;

private:
    void Run() {
        using namespace std::chrono;
        uint64_t usec = 0;
        const bool watchdog = sd_watchdog_enabled(0, &usec) > 0 && usec > 0;
        const microseconds every = watchdog ? microseconds(usec / 2) : microseconds(0);
        const milliseconds tick = watchdog ? std::min<milliseconds>(duration_cast<milliseconds>(every), 1s) : 1s;
        const int probeMs = static_cast<int>(
            std::clamp<milliseconds>(duration_cast<milliseconds>(every) / 2, 100ms, 2000ms).count());
        auto nextPing = steady_clock::now();
        bool failing = false;
        std::string lastStatus;
        std::unique_lock lock(mutex_);
        while (!stop_) {
            lock.unlock();
            const auto [connected, total] = svc_.ConnectedCount();
            const std::string status =
                std::to_string(connected) + " of " + std::to_string(total) + " controllers connected";
            if (status != lastStatus) {
                sd_notify(0, ("STATUS=" + status).c_str());
                lastStatus = status;
            }
            if (watchdog && steady_clock::now() >= nextPing) {
                if (service::HttpServer::Probe(host_, port_, probeMs)) {
                    sd_notify(0, "WATCHDOG=1");
                    nextPing = steady_clock::now() + every;
                    if (failing) log_("lumitraxd: watchdog: the HTTP server answers again");
                    failing = false;
                } else if (!failing) {
                    log_("lumitraxd: watchdog: the HTTP server does not answer; no ping");
                    failing = true;
                }
            }
            lock.lock();
            wake_.wait_for(lock, tick, [this] { return stop_; });
        }
    }

    service::Service& svc_;
    std::string host_;
    int port_;
    Log log_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string configPath = service::kDefaultConfigPath;
    bool configGiven = false;
    bool check = false;
    bool simulate = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--config" && i + 1 < argc) {
            configPath = argv[++i];
            configGiven = true;
        } else if (a.rfind("--config=", 0) == 0) {
            configPath = a.substr(9);
            configGiven = true;
        } else if (a == "--check") {
            check = true;
        } else if (a == "--simulate") {
            simulate = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        } else if (a == "--version") {
            std::cout << "lumitraxd " << lumitrax::version() << '\n';
            return 0;
        } else {
            std::cerr << "lumitraxd: unknown argument " << a << '\n';
            Usage(std::cerr);
            return kExitUsage;
        }
    }

    service::Config config;
    std::string token;
    std::string mqttPassword;
    try {
        if (configGiven || !simulate || check) {
            config = service::ReadConfigFile(configPath);
        }
        if (!config.tokenFile.empty()) {
            token = service::ReadTokenFile(config.tokenFile);
        }
        if (!config.mqtt.passwordFile.empty()) {
            mqttPassword = service::ReadPasswordFile(config.mqtt.passwordFile);
        }
    } catch (const service::ConfigError& e) {
        std::cerr << e.Text();
        return kExitUsage;
    }
    if (check) {
        std::cout << configPath << ": ok (" << config.controllers.size() << " controller(s))\n";
        return 0;
    }

    // Signals go to the thread that waits for them, never to a server thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<service::SimChild> sim;
    if (simulate) {
        std::string path = ExeDir() + "/lumitrax-sim";
#ifdef LUMITRAX_SIM_PATH
        if (!Exists(path)) path = LUMITRAX_SIM_PATH;
#endif
        if (!Exists(path)) path = "lumitrax-sim";
        std::string error;
        sim = service::SimChild::Start(path, error);
        if (!sim) {
            std::cerr << "lumitraxd: --simulate: " << error << '\n';
            return kExitFailed;
        }
        config.controllers.push_back(
            service::ControllerConfig{"sim", sim->DevicePath(), lumitrax::kDefaultTimeoutMs, SimUnit(config)});
    }

    const auto log = [](const std::string& line) {
        // One write per line, so lines from different threads never mix.
        const std::string text = line + '\n';
        (void)!write(2, text.data(), text.size());
    };
    int exitCode = 0;
    {
        service::Service svc(config, token, log);
        service::HttpServer server(svc);
        const int port = server.Bind(config.listenHost, config.listenPort);
        if (port < 0) {
            std::cerr << "lumitraxd: cannot listen on " << config.listenHost << ':' << config.listenPort << '\n';
            return kExitFailed;
        }
        svc.SetListenPort(port);
        const std::string host =
            config.listenHost.find(':') != std::string::npos ? "[" + config.listenHost + "]" : config.listenHost;
        // Off unless configured; destroyed before the service, whose operations it calls.
        std::unique_ptr<service::ModbusServer> modbus;
        int modbusPort = -1;
        if (config.modbusPort >= 0) {
            modbus = std::make_unique<service::ModbusServer>(svc, config.modbusAllow, log);
            std::string error;
            modbusPort = modbus->Listen(config.modbusHost, config.modbusPort, error);
            if (modbusPort < 0) {
                std::cerr << "lumitraxd: modbus: " << error << '\n';
                return kExitFailed;
            }
        }
        std::cout << "http://" << host << ':' << port << std::endl;
        if (modbus) {
            const std::string mhost =
                config.modbusHost.find(':') != std::string::npos ? "[" + config.modbusHost + "]" : config.modbusHost;
            // The second line, for a caller that asked for port 0.
            std::cout << "modbus://" << mhost << ':' << modbusPort << std::endl;
            log("lumitraxd: modbus: listening on " + mhost + ":" + std::to_string(modbusPort) +
                (config.modbusAllow.empty() ? "" : " (clients in modbus_allow only)"));
        }
        log("lumitraxd: listening on http://" + host + ":" + std::to_string(port) +
            (token.empty() ? "" : " (token required)"));
        svc.Start();
        if (modbus) modbus->Start();
        // The socket listens: requests queue until Serve() takes them. Controllers may still
        // be connecting; STATUS= tells how many are.
        sd_notify(0, "READY=1");
        SystemdMonitor monitor(svc, config.listenHost, port, log);
        std::unique_ptr<service::MqttBridge> mqtt;
        if (config.mqtt.enabled) {
            mqtt = std::make_unique<service::MqttBridge>(svc, config.mqtt, mqttPassword, log);
        }

        const std::string simTarget = sim ? sim->DevicePath() : std::string();
        std::thread waiter([&] {
            int signo = 0;
            while (sigwait(&signals, &signo) == 0 && signo == SIGHUP) {
                sd_notify(0, "RELOADING=1");
                log("lumitraxd: reload: reading " + configPath);
                try {
                    service::Config next = service::ReadConfigFile(configPath);
                    std::string nextToken;
                    if (!next.tokenFile.empty()) nextToken = service::ReadTokenFile(next.tokenFile);
                    // The socket stays where it was bound: off loopback, a token stays required.
                    if (nextToken.empty() && !service::IsLoopbackHost(config.listenHost)) {
                        throw service::ConfigError{{configPath + ": listening on " + config.listenHost +
                                                    " (not loopback) needs token_file"}};
                    }
                    if (sim) {
                        next.controllers.push_back(
                            service::ControllerConfig{"sim", simTarget, lumitrax::kDefaultTimeoutMs, SimUnit(next)});
                    }
                    svc.Reload(next, nextToken);
                    const auto& m = config.mqtt;
                    const auto& n = next.mqtt;
                    if (m.enabled != n.enabled || m.host != n.host || m.port != n.port || m.tls != n.tls ||
                        m.prefix != n.prefix || m.clientId != n.clientId || m.username != n.username ||
                        m.passwordFile != n.passwordFile || m.caFile != n.caFile ||
                        m.stateIntervalS != n.stateIntervalS || m.commandExpiryS != n.commandExpiryS) {
                        log("lumitraxd: reload: [mqtt] changed; it takes a restart");
                    }
                } catch (const service::ConfigError& e) {
                    std::string text = e.Text();
                    while (!text.empty() && text.back() == '\n') text.pop_back();
                    log("lumitraxd: reload refused, the running configuration is kept:\n" + text);
                }
                sd_notify(0, "READY=1");
            }
            sd_notify(0, "STOPPING=1");
            if (modbus) modbus->Stop();
            server.Stop();
        });
        if (!server.Serve()) exitCode = kExitFailed;
        // Serve() returned by itself: wake the waiter.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        mqtt.reset();  // "offline" before the controllers close
        log("lumitraxd: stopped");
    }
    return exitCode;
}

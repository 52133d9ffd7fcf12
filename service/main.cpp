// lumitraxd: the controllers of this PC over HTTP (docs/http.md).
//
//   lumitraxd [--config FILE] [--check] [--simulate]
//
// The first line on standard output is the address served ("http://127.0.0.1:8470"); logs go
// to standard error, one line each. SIGTERM or SIGINT: stop accepting, finish the requests in
// flight, exit 0.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <lumitrax/controller.h>

#include "http_server.h"
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
    try {
        if (configGiven || !simulate || check) {
            config = service::ReadConfigFile(configPath);
        }
        if (!config.tokenFile.empty()) {
            token = service::ReadTokenFile(config.tokenFile);
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
        config.controllers.push_back(service::ControllerConfig{"sim", sim->DevicePath(), lumitrax::kDefaultTimeoutMs});
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
        std::cout << "http://" << host << ':' << port << std::endl;
        log("lumitraxd: listening on http://" + host + ":" + std::to_string(port) +
            (token.empty() ? "" : " (token required)"));
        svc.Start();

        std::thread waiter([&server, &signals] {
            int signo = 0;
            sigwait(&signals, &signo);
            server.Stop();
        });
        if (!server.Serve()) exitCode = kExitFailed;
        // Serve() returned by itself: wake the waiter.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        log("lumitraxd: stopped");
    }
    return exitCode;
}

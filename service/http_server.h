#pragma once
// The Service on a socket: cpp-httplib's server with the limits set (thread pool = the most
// connections served at once, header and body sizes, read/write/idle timeouts), every request
// handed to Service::Handle, and /api/v1/events streamed from the event bus.

#include <atomic>
#include <memory>
#include <string>

#include "service.h"

namespace httplib {
class Server;
}

namespace service {

struct ServerLimits {
    int threads = 16;           // connections served at once (an event stream holds one)
    int readTimeoutS = 5;
    int writeTimeoutS = 5;
    // Idle time of a kept-alive connection; also how long one can hold up a stop.
    int keepAliveTimeoutS = 2;
};

class HttpServer {
public:
    HttpServer(Service& service, ServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds host:port (port 0: a free one); returns the port, or -1 with nothing bound.
    int Bind(const std::string& host, int port);
    // Serves until Stop(); blocks.
    bool Serve();
    // Stops accepting; requests in flight finish, event streams end within ~250 ms. Any
    // thread, but not a signal handler.
    void Stop();
    // Asks GET /healthz of the server at host:port (a wildcard host: its loopback) and waits up
    // to timeoutMs: whether any HTTP answer came, i.e. the accept loop and a worker are alive.
    static bool Probe(const std::string& host, int port, int timeoutMs);

private:
    Service& service_;
    std::unique_ptr<httplib::Server> server_;
    std::atomic<bool> stopping_{false};
};

}  // namespace service

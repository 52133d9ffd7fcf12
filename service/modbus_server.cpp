#include "modbus_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <modbus/modbus.h>

#include "modbus_map.h"

namespace service {

namespace {

constexpr std::size_t kMbapLength = 7;  // transaction, protocol, length, unit

// The map's view of the service for one client.
class ServiceBackend : public modbus::Backend {
public:
    ServiceBackend(Service& service, std::string client) : service_(service), origin_{std::move(client), "modbus"} {}
    std::string ControllerForUnit(int unit) override { return service_.ControllerForUnit(unit); }
    std::optional<ViewSnapshot> View(const std::string& controller) override { return service_.View(controller); }
    OpResult SetBrightness(const std::string& controller, int first, const std::vector<int>& values) override {
        return service_.SetBrightness(controller, first, values, origin_);
    }
    OpResult SetOn(const std::string& controller, int first, const std::vector<bool>& on) override {
        return service_.SetOn(controller, first, on, origin_);
    }
    OpResult StartRecipe(const std::string& controller, int number) override {
        return service_.StartRecipe(controller, number, origin_);
    }

private:
    Service& service_;
    Origin origin_;
};

std::string PeerAddress(const sockaddr_storage& addr, socklen_t len) {
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return "?";
    }
    std::string s = host;
    // An IPv4 client of a dual-stack socket is the IPv4 address it is.
    if (s.rfind("::ffff:", 0) == 0 && s.find('.') != std::string::npos) s = s.substr(7);
    return s;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly size bytes, each within timeoutMs of the one before.
bool ReadAll(int fd, std::uint8_t* data, std::size_t size, int timeoutMs) {
    while (size > 0) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        const ssize_t n = recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

struct ModbusServer::Connection {
    int fd = -1;
    std::string client;
    std::thread thread;
    std::atomic<bool> done{false};
};

ModbusServer::ModbusServer(Service& service, std::vector<std::string> allow, Service::Log log)
    : service_(service), allow_(std::move(allow)), log_(std::move(log)) {}

ModbusServer::~ModbusServer() {
    Stop();
    if (listenFd_ >= 0) close(listenFd_);
    for (int fd : wake_) {
        if (fd >= 0) close(fd);
    }
}

int ModbusServer::Listen(const std::string& host, int port, std::string& error) {
    // libmodbus resolves and binds (IPv4 or IPv6, SO_REUSEADDR); the context only serves that.
    modbus_t* ctx = modbus_new_tcp_pi(host.c_str(), std::to_string(port).c_str());
    if (!ctx) {
        error = std::string("cannot listen: ") + modbus_strerror(errno);
        return -1;
    }
    const int fd = modbus_tcp_pi_listen(ctx, kMaxConnections);
    const int listenErrno = errno;
    modbus_free(ctx);  // frees the context; the listening socket is ours
    if (fd < 0) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + modbus_strerror(listenErrno);
        return -1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        close(fd);
        error = "cannot listen: " + std::string(strerror(errno));
        return -1;
    }
    listenFd_ = fd;
    return addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port)
                                      : ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
}

void ModbusServer::Start() {
    if (listenFd_ < 0 || acceptor_.joinable()) return;
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

void ModbusServer::Stop() {
    if (stopping_.exchange(true)) return;
    if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
    if (acceptor_.joinable()) acceptor_.join();
    {
        // A connection waiting for its next request ends at once; one whose write is under way
        // ends after it.
        std::lock_guard lock(mutex_);
        for (auto& c : connections_) shutdown(c->fd, SHUT_RDWR);
    }
    Reap(true);
}

bool ModbusServer::Allowed(const std::string& address) const {
    return allow_.empty() || std::find(allow_.begin(), allow_.end(), address) != allow_.end();
}

void ModbusServer::Reap(bool all) {
    std::list<std::unique_ptr<Connection>> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done) {
                ended.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : ended) {
        if (c->thread.joinable()) c->thread.join();
        // Closed only here, off the list: Stop() never shuts down a number reused meanwhile.
        close(c->fd);
    }
}

void ModbusServer::AcceptLoop() {
    while (!stopping_) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, 1000) < 0 && errno != EINTR) break;
        Reap(false);
        if (p[1].revents != 0 || stopping_) break;
        if ((p[0].revents & POLLIN) == 0) continue;
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const std::string client = PeerAddress(addr, len);
        if (!Allowed(client)) {
            log_("lumitraxd: modbus: " + client + " refused (not in modbus_allow)");
            close(fd);
            continue;
        }
        std::lock_guard lock(mutex_);
        const auto open = std::count_if(connections_.begin(), connections_.end(),
                                        [](const std::unique_ptr<Connection>& c) { return !c->done; });
        if (open >= kMaxConnections) {
            log_("lumitraxd: modbus: " + client + " refused (" + std::to_string(kMaxConnections) +
                 " connections already)");
            close(fd);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->client = client;
        Connection* raw = c.get();
        connections_.push_back(std::move(c));
        raw->thread = std::thread([this, raw] { Serve(*raw); });
    }
}

void ModbusServer::Serve(Connection& c) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", MODBUS_TCP_DEFAULT_PORT);  // only frames; never connects
    if (!ctx) {
        c.done = true;
        shutdown(c.fd, SHUT_RDWR);
        return;
    }
    modbus_set_socket(ctx, c.fd);
    modbus_set_indication_timeout(ctx, kIdleSeconds, 0);
    modbus_set_byte_timeout(ctx, 0, kByteTimeoutMs * 1000);
    ServiceBackend backend(service_, c.client);
    std::uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
    std::string why = "closed by the client";
    while (!stopping_) {
        const int n = modbus_receive(ctx, request);
        if (n < 0) {
            if (errno == ETIMEDOUT) why = "idle or half a frame, closed";
            else if (errno != ECONNRESET && errno != 0) why = std::string("closed: ") + modbus_strerror(errno);
            break;
        }
        if (n < static_cast<int>(kMbapLength) + 1) continue;
        const auto size = static_cast<std::size_t>(n);
        const unsigned protocol = (request[2] << 8) | request[3];
        const std::size_t length = (static_cast<std::size_t>(request[4]) << 8) | request[5];  // unit + PDU
        // libmodbus sizes a frame by its function code; the header says how long it is. A
        // frame of a function it does not know is read to its end here, then answered.
        if (protocol != 0 || length < 2 || kMbapLength - 1 + length > sizeof request || size > kMbapLength - 1 + length) {
            why = "not Modbus TCP, closed";
            break;
        }
        const std::size_t total = kMbapLength - 1 + length;
        if (size < total && !ReadAll(c.fd, request + size, total - size, kByteTimeoutMs)) {
            why = "half a frame, closed";
            break;
        }
        const std::uint8_t unit = request[6];
        const modbus::Reply reply = modbus::Answer(backend, unit, request + kMbapLength, total - kMbapLength);
        service_.CountModbus(request[7], reply.exception);
        bool sent = false;
        if (reply.exception != modbus::kNone) {
            sent = modbus_reply_exception(ctx, request, reply.exception) > 0;
        } else {
            std::vector<std::uint8_t> out(request, request + kMbapLength);
            const std::size_t answerLength = 1 + reply.pdu.size();
            out[4] = static_cast<std::uint8_t>(answerLength >> 8);
            out[5] = static_cast<std::uint8_t>(answerLength & 0xFF);
            out.insert(out.end(), reply.pdu.begin(), reply.pdu.end());
            sent = SendAll(c.fd, out.data(), out.size());
        }
        if (!sent) {
            why = "the answer could not be sent, closed";
            break;
        }
    }
    log_("lumitraxd: modbus: " + c.client + " " + why);
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
    // The client hears the end now; the descriptor is closed once this thread is joined.
    c.done = true;
    shutdown(c.fd, SHUT_RDWR);
}

}  // namespace service

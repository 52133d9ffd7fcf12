#pragma once
// lumitraxd's Modbus TCP server (docs/modbus.md): libmodbus frames the requests, the register
// map (modbus_map.h) answers them through the service's operations.
//
// One thread accepts; each connection has a thread of its own, so a PLC whose write waits on a
// slow controller, or a client that sends half a frame, holds up only itself. Limits: at most
// kMaxConnections at once (more are closed at once), a connection idle for kIdleSeconds is
// closed, and so is one that pauses kByteTimeoutMs inside a frame or sends what is not a frame.
// With an allow list, a client whose address is not on it is closed at once.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service.h"

namespace service {

class ModbusServer {
public:
    static constexpr int kMaxConnections = 16;
    static constexpr int kIdleSeconds = 60;
    static constexpr int kByteTimeoutMs = 1000;

    // allow: client addresses that may connect; empty: any.
    ModbusServer(Service& service, std::vector<std::string> allow, Service::Log log);
    // Stops: every connection closed, its thread joined.
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens on host:port (port 0: a free one); the port, or -1 with error set.
    int Listen(const std::string& host, int port, std::string& error);
    // Accepts connections on a thread of its own until Stop().
    void Start();
    void Stop();

private:
    struct Connection;
    void AcceptLoop();
    void Serve(Connection& connection);
    bool Allowed(const std::string& address) const;
    void Reap(bool all);

    Service& service_;
    std::vector<std::string> allow_;
    Service::Log log_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};  // a byte on it ends the accept loop
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace service

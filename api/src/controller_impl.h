#pragma once
// The inside of a Controller: its connection (a Wire, replaced at each reconnection), the
// order in which calls take the line, and the supervisor thread that notices a loss, sends the
// heartbeat and reopens the target.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "events.h"
#include "lumitrax/controller.h"
#include "wire.h"

namespace lumitrax {

namespace detail {

// A mutex that hands the lock on in the order it was asked for: calls from several threads are
// served first come, first served (std::mutex promises no order).
class TicketLock {
public:
    void lock() {
        std::unique_lock l(mutex_);
        const std::uint64_t ticket = next_++;
        cv_.wait(l, [&] { return serving_ == ticket; });
    }
    void unlock() {
        std::lock_guard l(mutex_);
        ++serving_;
        cv_.notify_all();
    }
    // Nobody holds it or waits for it.
    bool idle() {
        std::lock_guard l(mutex_);
        return serving_ == next_;
    }
    // Takes it only when idle.
    bool try_lock() {
        std::lock_guard l(mutex_);
        if (serving_ != next_) {
            return false;
        }
        ++next_;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t next_ = 0;
    std::uint64_t serving_ = 0;
};

}  // namespace detail

struct Controller::Impl {
    using Clock = std::chrono::steady_clock;

    Impl(const std::string& t, const Options& o);
    ~Impl();

    const std::string target;
    const Options options;
    std::atomic<int> timeoutMs;
    std::atomic<bool> cancelled{false};
    std::atomic<std::uint64_t> cancelGeneration{0};

    detail::TicketLock call;  // one call on the line at a time, in arrival order
    // The connection. Replaced only with both call and wireMutex held; a call uses it under
    // call, the supervisor looks at it under wireMutex.
    std::unique_ptr<detail::Wire> wire;
    std::mutex wireMutex;
    int channels = 0;  // the model's channel count on this connection, 0 until asked (under call)
    int packetMode = -1;  // whether it takes the brightness packet, -1 until asked (the same)

    std::atomic<ConnectionState> state{ConnectionState::Lost};
    std::atomic<bool> closing{false};
    std::mutex opening;  // one open of the target at a time (reconnect() and the supervisor)
    std::shared_ptr<detail::EventHub> hub = std::make_shared<detail::EventHub>();

    std::mutex trafficMutex;
    std::function<void(Direction, const std::string&)> traffic;  // the caller's handler
    std::atomic<std::int64_t> lastActivity{0};                  // Clock ticks of the last line

    std::mutex supervisorMutex;
    std::condition_variable supervisorWake;
    bool supervisorWoken = false;  // under supervisorMutex: look now, do not wait out the sleep
    std::thread supervisor;

    // Opens the target (stop: the caller's) and starts the supervisor; throws as Wire does,
    // but with options.requireOpen off a target that does not open is only retried.
    void Start(const std::atomic<bool>* stop);
    // Opens the target once (stop: closing); throws as Wire does.
    std::unique_ptr<detail::Wire> Open();
    // Puts w in place of the connection (none) and announces Connected.
    void Install(std::unique_ptr<detail::Wire> w);
    // Marks the connection lost (from any thread); the supervisor drops it and, with
    // reconnection on, reopens.
    void NoteLoss();
    // Any thread not holding supervisorMutex.
    void WakeSupervisor();
    void SetState(ConnectionState s);
    void Supervise();
    void Heartbeat();
    void Shutdown();

    // Throws Error(Port) when no call can go to the line now.
    void RequireConnected() const;
    // Runs f under the call lock with the cancel flag cleared, after checking the connection.
    template <typename F>
    auto Run(F&& f) -> decltype(f());
    // Sends the commands, waits for their answers, returns the link's state; on a loss names
    // the commands that went out.
    DeviceState Ask(const std::vector<detail::Outgoing>& commands);
    // The model's channel count on this connection (asked once); inside Run.
    int ChannelCount();
};

namespace detail {
// Marks the calling thread as inside a call of impl (or, with handler, inside its traffic
// handler) for the scope's life.
class InCall {
public:
    explicit InCall(const Controller::Impl* impl, bool handler = false);
    ~InCall();
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;
    // Error(Argument) on a thread inside a call of impl or its traffic handler (handlerOnly:
    // inside the handler), where a call would wait for itself.
    static void Refuse(const Controller::Impl* impl, bool handlerOnly = false);

private:
    const Controller::Impl* impl_;
    bool handler_;
    const InCall* outer_;
};
}  // namespace detail

template <typename F>
auto Controller::Impl::Run(F&& f) -> decltype(f()) {
    detail::InCall::Refuse(this);
    RequireConnected();
    std::lock_guard lock(call);
    const detail::InCall inside(this);
    cancelled.store(false);
    RequireConnected();
    if (!wire->Connected()) {
        NoteLoss();
        RequireConnected();
    }
    try {
        return f();
    } catch (const Error& e) {
        if (closing.load() && e.kind() == ErrorKind::Interrupted) {
            throw Error(ErrorKind::Port, target + ": the Controller was closed during the call", e.stepsWritten(),
                        e.stepsNotWritten());
        }
        if (e.kind() == ErrorKind::Port) {
            NoteLoss();
        }
        throw;
    }
}

}  // namespace lumitrax

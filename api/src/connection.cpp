// A Controller's connection: opening, losing and reopening its target, the heartbeat, and the
// subscriptions that watch it.

#include <algorithm>

#include <QFileInfo>
#include <QString>

#include "controller_impl.h"
#include "port_list.h"
#include "text.h"

namespace lumitrax {

namespace {

using Clock = std::chrono::steady_clock;

// How often the supervisor looks for a target to reopen while reconnecting.
constexpr auto kWatch = std::chrono::milliseconds(25);
// How long it sleeps while connected with no heartbeat due. The link reports a loss as it
// happens (Wire's onLost wakes it), so an idle controller costs no wake-ups; this only bounds
// how late a loss nobody reported would be noticed.
constexpr auto kIdleWatch = std::chrono::milliseconds(1000);
constexpr auto kFirstRetry = std::chrono::milliseconds(100);
constexpr auto kLongestRetry = std::chrono::milliseconds(2000);
constexpr int kMinHeartbeatMs = 100;

thread_local const detail::InCall* tlInCall = nullptr;

void Require(bool ok, const std::string& message) {
    if (!ok) {
        throw Error(ErrorKind::Argument, message);
    }
}

std::int64_t Now() { return Clock::now().time_since_epoch().count(); }

// A device path that is not there now (an adapter unplugged, a link not yet re-pointed) is
// not worth an open: it is looked for at every watch, and opened once it appears.
bool Absent(const std::string& target) {
    const QString name = QString::fromStdString(target);
    if (IsNetworkPortName(name) || target.rfind("COM", 0) == 0) {
        return false;
    }
    return !QFileInfo::exists(PathRelativeToHere(name));
}

}  // namespace

namespace detail {

InCall::InCall(const Controller::Impl* impl, bool handler) : impl_(impl), handler_(handler), outer_(tlInCall) {
    tlInCall = this;
}
InCall::~InCall() { tlInCall = outer_; }

void InCall::Refuse(const Controller::Impl* impl, bool handlerOnly) {
    for (const InCall* i = tlInCall; i != nullptr; i = i->outer_) {
        if (i->impl_ == impl && (i->handler_ || !handlerOnly)) {
            throw Error(ErrorKind::Argument, impl->target + ": a call from inside its own " +
                                                 (i->handler_ ? "traffic handler" : "call") +
                                                 " would wait for itself (a Controller takes one call at a time)");
        }
    }
}

}  // namespace detail

const char* connectionStateName(ConnectionState state) noexcept {
    switch (state) {
    case ConnectionState::Connected: return "connected";
    case ConnectionState::Lost: return "lost";
    case ConnectionState::Reconnecting: return "reconnecting";
    case ConnectionState::Closed: return "closed";
    }
    return "?";
}

Controller::Impl::Impl(const std::string& t, const Options& o) : target(t), options(o), timeoutMs(o.timeoutMs) {}

Controller::Impl::~Impl() { Shutdown(); }

std::unique_ptr<detail::Wire> Controller::Impl::Open() {
    return std::make_unique<detail::Wire>(target, &closing, options.connectTimeoutMs, [this] { NoteLoss(); });
}

void Controller::Impl::Install(std::unique_ptr<detail::Wire> w) {
    w->SetTraffic([this](Direction direction, const std::string& text) {
        lastActivity.store(Now());
        if (direction == Direction::Received) {
            hub->Line(text);
        }
        std::lock_guard lock(trafficMutex);
        if (traffic) {
            const detail::InCall inside(this, true);
            traffic(direction, text);
        }
    });
    {
        std::lock_guard lock(call);
        std::lock_guard wl(wireMutex);
        wire = std::move(w);
        channels = 0;
        packetMode = -1;
        lastActivity.store(Now());
        if (closing.load()) {
            wire.reset();
            return;
        }
        SetState(ConnectionState::Connected);
    }
}

void Controller::Impl::SetState(ConnectionState s) {
    if (state.exchange(s) != s) {
        hub->Change(s);
    }
}

void Controller::Impl::NoteLoss() {
    ConnectionState expected = ConnectionState::Connected;
    const ConnectionState next = options.reconnect ? ConnectionState::Reconnecting : ConnectionState::Lost;
    if (state.compare_exchange_strong(expected, next)) {
        hub->Change(next);
        WakeSupervisor();
    }
}

void Controller::Impl::WakeSupervisor() {
    {
        std::lock_guard lock(supervisorMutex);
        supervisorWoken = true;
    }
    supervisorWake.notify_all();
}

void Controller::Impl::RequireConnected() const {
    switch (state.load()) {
    case ConnectionState::Connected:
        return;
    case ConnectionState::Reconnecting:
        throw Error(ErrorKind::Port, target + ": connection lost, reconnecting");
    case ConnectionState::Lost:
        throw Error(ErrorKind::Port, target + ": the connection was lost");
    case ConnectionState::Closed:
        break;
    }
    throw Error(ErrorKind::Port, target + ": the Controller is closed");
}

// Sends one query once the line has been idle a heartbeat long; no answer is a loss.
void Controller::Impl::Heartbeat() {
    const auto idle = Clock::duration(Now() - lastActivity.load());
    if (options.heartbeatMs == 0 || idle < std::chrono::milliseconds(options.heartbeatMs) || !call.try_lock()) {
        return;
    }
    std::lock_guard lock(call, std::adopt_lock);
    if (state.load() != ConnectionState::Connected) {
        return;
    }
    try {
        const std::atomic<bool> never{false};
        wire->Exchange({detail::Make(CMD_GETOFFSET)}, timeoutMs.load(), &never);
    } catch (const Error& e) {
        if (e.kind() == ErrorKind::NoAnswer || e.kind() == ErrorKind::Port) {
            NoteLoss();
        }
    }
    lastActivity.store(Now());
}

void Controller::Impl::Supervise() {
    auto retry = kFirstRetry;
    auto nextTry = Clock::now();
    std::unique_lock lock(supervisorMutex);
    while (!closing.load()) {
        Clock::duration sleep = kIdleWatch;
        if (state.load() == ConnectionState::Reconnecting) {
            sleep = kWatch;
        } else if (state.load() == ConnectionState::Connected && options.heartbeatMs > 0) {
            const auto due = Clock::duration(lastActivity.load()) + std::chrono::milliseconds(options.heartbeatMs) -
                             Clock::now().time_since_epoch();
            sleep = std::clamp<Clock::duration>(due, kWatch, kIdleWatch);
        }
        supervisorWake.wait_for(lock, sleep, [this] { return supervisorWoken || closing.load(); });
        supervisorWoken = false;
        if (closing.load()) {
            break;
        }
        lock.unlock();
        const ConnectionState s = state.load();
        if (s == ConnectionState::Connected) {
            bool gone = false;
            {
                std::lock_guard wl(wireMutex);
                gone = wire == nullptr || !wire->Connected();
            }
            if (gone) {
                NoteLoss();
            } else {
                Heartbeat();
            }
        }
        if (state.load() != ConnectionState::Connected && state.load() != ConnectionState::Closed) {
            // Drop the dead connection once the call that saw it has ended.
            bool had = false;
            {
                std::lock_guard wl(wireMutex);
                had = wire != nullptr;
            }
            if (had) {
                std::lock_guard cl(call);
                std::lock_guard wl(wireMutex);
                wire.reset();
                retry = kFirstRetry;
                nextTry = Clock::now();
            }
        }
        if (state.load() == ConnectionState::Reconnecting && Clock::now() >= nextTry && !Absent(target)) {
            std::unique_lock ol(opening, std::try_to_lock);
            if (ol.owns_lock() && state.load() == ConnectionState::Reconnecting) {
                try {
                    Install(Open());
                    retry = kFirstRetry;
                } catch (const Error&) {
                    nextTry = Clock::now() + retry;
                    retry = std::min(retry * 2, kLongestRetry);
                }
            }
        }
        lock.lock();
    }
}

void Controller::Impl::Shutdown() {
    if (closing.exchange(true)) {
        if (supervisor.joinable() && supervisor.get_id() != std::this_thread::get_id()) {
            supervisor.join();
        }
        return;
    }
    cancelled.store(true);  // a call in flight ends now (as Error(Port), see Run)
    {
        std::lock_guard lock(supervisorMutex);
        supervisorWake.notify_all();
    }
    if (supervisor.joinable()) {
        supervisor.join();
    }
    {
        std::lock_guard cl(call);
        std::lock_guard wl(wireMutex);
        wire.reset();
        SetState(ConnectionState::Closed);
    }
    hub->Stop();
}

// ---- Controller: construction and the connection ----

namespace {

Options CheckedOptions(const Options& o) {
    Require(o.timeoutMs >= 1 && o.timeoutMs <= kMaxTimeoutMs, "the timeout is not 1..600000 ms");
    Require(o.connectTimeoutMs >= 1 && o.connectTimeoutMs <= kMaxTimeoutMs, "the connect timeout is not 1..600000 ms");
    Require(o.heartbeatMs == 0 || (o.heartbeatMs >= kMinHeartbeatMs && o.heartbeatMs <= kMaxTimeoutMs),
            "the heartbeat is not 0 (off) or 100..600000 ms");
    return o;
}

Options WithTimeout(int timeoutMs) {
    Options o;
    o.timeoutMs = timeoutMs;
    return o;
}

}  // namespace

void Controller::Impl::Start(const std::atomic<bool>* stop) {
    checkTarget(target);
    try {
        // The first open may be cut short by the caller's stop, later ones by closing.
        Install(std::make_unique<detail::Wire>(target, stop, options.connectTimeoutMs, [this] { NoteLoss(); }));
    } catch (const Error& e) {
        if (options.requireOpen || e.kind() != ErrorKind::Port) {
            throw;
        }
        SetState(options.reconnect ? ConnectionState::Reconnecting : ConnectionState::Lost);
    }
    supervisor = std::thread([this] { Supervise(); });
}

Controller::Controller(const std::string& target, int timeoutMs)
    : d(std::make_unique<Impl>(target, CheckedOptions(WithTimeout(timeoutMs)))) {
    d->Start(nullptr);
}

Controller::Controller(const std::string& target, int timeoutMs, const std::atomic<bool>& stop)
    : d(std::make_unique<Impl>(target, CheckedOptions(WithTimeout(timeoutMs)))) {
    d->Start(&stop);
}

Controller::Controller(const std::string& target, const Options& options)
    : d(std::make_unique<Impl>(target, CheckedOptions(options))) {
    d->Start(nullptr);
}

Controller::Controller(const std::string& target, const Options& options, const std::atomic<bool>& stop)
    : d(std::make_unique<Impl>(target, CheckedOptions(options))) {
    d->Start(&stop);
}

Controller::~Controller() = default;

const std::string& Controller::target() const noexcept { return d->target; }

ConnectionState Controller::connectionState() const noexcept { return d->state.load(); }

bool Controller::isConnected() const noexcept { return d->state.load() == ConnectionState::Connected; }

void Controller::reconnect() {
    detail::InCall::Refuse(d.get());
    std::lock_guard ol(d->opening);
    if (d->closing.load()) {
        d->RequireConnected();
    }
    {
        std::lock_guard cl(d->call);
        std::lock_guard wl(d->wireMutex);
        d->wire.reset();
        d->SetState(ConnectionState::Reconnecting);
    }
    try {
        d->Install(d->Open());
    } catch (const Error& e) {
        if (!d->options.reconnect) {
            d->SetState(ConnectionState::Lost);
        } else {
            d->WakeSupervisor();  // it slept as for a connected controller
        }
        throw Error(ErrorKind::Port, e.what());
    }
}

void Controller::close() {
    detail::InCall::Refuse(d.get());
    d->Shutdown();
}

Subscription Controller::onConnectionChange(std::function<void(ConnectionState)> onChange) {
    return subscribe({}, std::move(onChange));
}

Subscription Controller::subscribe(std::function<void(const std::string&)> onLine,
                                   std::function<void(ConnectionState)> onChange) {
    return Subscription(d->hub->Add(std::move(onLine), std::move(onChange)));
}

}  // namespace lumitrax

#pragma once
// The object behind lumitrax.Controller: the library's Controller, shared with the calls
// running on other threads so that close() can let them finish, and the subscriptions a
// script made on it.

#include "casters.h"
#include "interrupt.h"
#include "monitor.h"

#include <lumitrax/controller.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumitrax::python {

// lumitrax.Subscription: a Python callback subscribed to a Controller's connection changes.
class Watch {
public:
    explicit Watch(lumitrax::Subscription subscription) : subscription_(std::move(subscription)) {}
    ~Watch();

    // Ends the deliveries; when it returns no call of the callback runs any more (unless called
    // from inside the callback, which only stops later ones). GIL held or not.
    void Cancel();
    bool active() const;

private:
    mutable std::mutex mutex_;  // guards the members below
    lumitrax::Subscription subscription_;
    bool active_ = true;
};

// Ends every Python callback of every Controller before the interpreter goes down (atexit):
// a delivery thread must not wait for a GIL that a finalizing interpreter no longer hands out.
void CancelCallbacksAtExit();

class PyController {
public:
    // Opens target; stop set ends an open still connecting to a device server.
    PyController(const std::string& target, const lumitrax::Options& options, const std::atomic<bool>& stop);
    ~PyController();

    // The Controller for one call; Error(Port) once closed. Any thread, GIL held or not.
    std::shared_ptr<lumitrax::Controller> Get() const;

    // Closes the port once every call that is running on another thread has ended: such a call
    // is let finish (a configuration write is not cut in half); running monitors end. Sends
    // nothing. Called with the GIL released.
    void Close();

    // Cancels the running call (the library's cancel()) and ends the running monitors.
    void Cancel();

    // Closed once close() was called; never blocks.
    lumitrax::ConnectionState connectionState() const;

    // Hands handler (a callable, or None to remove it) to the library's traffic handler; it is
    // called with the GIL taken, and what it raises is reported as unraisable. GIL held.
    void SetTrafficHandler(const py::object& handler);

    // Subscribes callback(state) to the connection's changes; it is called with the GIL taken
    // on the library's delivery thread, and what it raises is reported as unraisable. The
    // Subscription is kept here as well, so that it lives as long as the Controller. GIL held.
    std::shared_ptr<Watch> OnConnectionChange(const py::object& callback);

    std::unique_ptr<Monitor> StartMonitor();

    bool closed() const;
    const std::string& target() const { return target_; }

private:
    // What close() takes away. The Controller goes first (its subscribers hear Closed), then
    // the watches.
    struct Dropped {
        std::vector<std::shared_ptr<Watch>> watches;
        std::shared_ptr<lumitrax::Controller> controller;
    };
    Dropped Drop();
    bool InOwnHandler() const;
    void EndMonitors();

    std::string target_;
    bool reconnects_;
    mutable std::mutex mutex_;  // guards the members below
    std::shared_ptr<lumitrax::Controller> controller_;
    std::vector<std::shared_ptr<Watch>> watches_;
    std::vector<std::weak_ptr<LineQueue>> monitors_;
};

// A Controller call bound as a method: f(controller, args...) on the open Controller, which a
// close() on another thread cannot destroy while f runs. Bind it with the GIL released.
template <typename R, typename... A>
auto Waiting(R (*f)(lumitrax::Controller&, A...)) {
    return [f](PyController& self, A... args) -> R {
        const std::shared_ptr<lumitrax::Controller> c = self.Get();
        return Interruptible(*c, [&] { return f(*c, args...); });
    };
}

}  // namespace lumitrax::python

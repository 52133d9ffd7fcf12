#pragma once
// The object behind lumitrax.Controller: the library's Controller, shared with the calls
// running on other threads so that close() can let them finish.

#include "casters.h"
#include "interrupt.h"
#include "monitor.h"

#include <lumitrax/controller.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace lumitrax::python {

class PyController {
public:
    // Opens target; stop set ends an open still connecting to a device server.
    PyController(const std::string& target, int timeoutMs, const std::atomic<bool>& stop);
    ~PyController();

    // The Controller for one call; Error(Port) once closed. Any thread, GIL held or not.
    std::shared_ptr<lumitrax::Controller> Get() const;

    // Closes the port once every call that is running on another thread has ended: such a call
    // is let finish (a configuration write is not cut in half), a running monitor is cancelled.
    // Sends nothing. Called with the GIL released.
    void Close();

    // Hands handler (a callable, or None to remove it) to the library's traffic handler; it is
    // called with the GIL taken, and what it raises is reported as unraisable. GIL held.
    void SetTrafficHandler(const py::object& handler);

    std::unique_ptr<Monitor> StartMonitor();

    bool closed() const;
    const std::string& target() const { return target_; }

private:
    std::weak_ptr<lumitrax::Controller> Drop();
    bool InOwnHandler() const;

    std::string target_;
    mutable std::mutex mutex_;  // guards controller_
    std::shared_ptr<lumitrax::Controller> controller_;
    std::shared_ptr<std::atomic<int>> monitors_ = std::make_shared<std::atomic<int>>(0);
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

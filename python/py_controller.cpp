#include "py_controller.h"

#include "conversions.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace lumitrax::python {
namespace {

// The Controllers whose traffic handler runs on this thread (innermost last).
thread_local std::vector<const PyController*> handlersRunning;

// Every Watch made, for CancelCallbacksAtExit.
std::mutex watchesMutex;
std::vector<std::weak_ptr<Watch>> allWatches;

// False once the interpreter is going down: a library thread must not ask for the GIL then.
bool PythonRunning() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsInitialized() != 0 && Py_IsFinalizing() == 0;
#else
    return Py_IsInitialized() != 0 && _Py_IsFinalizing() == 0;
#endif
}

// Runs f with the GIL released when this thread holds it: for a wait on a library thread that
// may itself be waiting for the GIL.
template <typename F>
void WithoutGil(const F& f) {
    if (Py_IsInitialized() != 0 && PyGILState_Check() != 0) {
        py::gil_scoped_release release;
        f();
    } else {
        f();
    }
}

}  // namespace

Watch::~Watch() { Cancel(); }

void Watch::Cancel() {
    lumitrax::Subscription ending;
    {
        std::lock_guard lock(mutex_);
        if (!std::exchange(active_, false)) {
            return;  // without letting go of the GIL: a caller may hold a lock (pruning)
        }
        ending = std::move(subscription_);
    }
    // Waits for a call of the callback under way, which waits for the GIL.
    WithoutGil([&] { ending.cancel(); });
}

bool Watch::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void CancelCallbacksAtExit() {
    std::vector<std::shared_ptr<Watch>> live;
    {
        std::lock_guard lock(watchesMutex);
        for (const std::weak_ptr<Watch>& w : allWatches) {
            if (auto s = w.lock()) {
                live.push_back(std::move(s));
            }
        }
        allWatches.clear();
    }
    for (const auto& w : live) {
        w->Cancel();
    }
    WithoutGil([&] { live.clear(); });
}

PyController::PyController(const std::string& target, const lumitrax::Options& options, const std::atomic<bool>& stop)
    : target_(target), reconnects_(options.reconnect),
      controller_(std::make_shared<lumitrax::Controller>(target, options, stop)) {}

PyController::~PyController() {
    EndMonitors();
    if (InOwnHandler()) {
        // Dropped by its own traffic handler: the port cannot close on a thread that is inside
        // it, so another thread closes it once the handler has returned.
        std::thread([d = Drop()]() mutable {
            d.controller.reset();
            d.watches.clear();
        }).detach();
        return;
    }
    // Python drops the object with the GIL held; the receive thread may be waiting for it in
    // the traffic handler, and the delivery thread in a callback, so let go while the port
    // closes.
    WithoutGil([this] { Drop(); });
}

std::shared_ptr<lumitrax::Controller> PyController::Get() const {
    std::lock_guard lock(mutex_);
    if (!controller_) {
        throw lumitrax::Error(lumitrax::ErrorKind::Port, target_ + ": the port is closed");
    }
    return controller_;
}

void PyController::Close() {
    if (InOwnHandler()) {
        throw lumitrax::Error(lumitrax::ErrorKind::Argument,
                              target_ + ": close() from its own traffic handler would wait for itself; "
                                        "call cancel() there and close() after the call");
    }
    EndMonitors();
    Dropped dropped = Drop();
    std::weak_ptr<lumitrax::Controller> last = std::exchange(dropped.controller, nullptr);
    // The last call running on another thread destroys the Controller as it ends (and the
    // subscribers hear Closed); the watches go after that.
    while (!last.expired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PyController::Cancel() {
    Get()->cancel();
    EndMonitors();
}

lumitrax::ConnectionState PyController::connectionState() const {
    std::lock_guard lock(mutex_);
    return controller_ ? controller_->connectionState() : lumitrax::ConnectionState::Closed;
}

void PyController::SetTrafficHandler(const py::object& handler) {
    std::function<void(lumitrax::Direction, const std::string&)> f;
    if (!handler.is_none() && PyCallable_Check(handler.ptr()) == 0) {
        throw py::type_error("the traffic handler is a callable or None");
    }
    if (!handler.is_none()) {
        f = [held = HoldCallable(handler), owner = this](lumitrax::Direction direction, const std::string& text) {
            py::gil_scoped_acquire gil;
            handlersRunning.push_back(owner);
            try {
                (*held)(direction, text);
            } catch (py::error_already_set& e) {
                e.discard_as_unraisable("lumitrax traffic handler");
            }
            handlersRunning.pop_back();
        };
    }
    const auto c = Get();
    py::gil_scoped_release release;
    c->setTrafficHandler(std::move(f));
}

std::shared_ptr<Watch> PyController::OnConnectionChange(const py::object& callback) {
    if (PyCallable_Check(callback.ptr()) == 0) {
        throw py::type_error("the connection change callback is a callable");
    }
    std::function<void(lumitrax::ConnectionState)> f = [held = HoldCallable(callback)](lumitrax::ConnectionState s) {
        if (!PythonRunning()) {
            return;
        }
        py::gil_scoped_acquire gil;
        try {
            (*held)(s);
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("lumitrax connection change callback");
        }
    };
    const auto c = Get();
    lumitrax::Subscription subscription;
    {
        py::gil_scoped_release release;
        subscription = c->onConnectionChange(std::move(f));
    }
    auto watch = std::make_shared<Watch>(std::move(subscription));
    {
        std::lock_guard lock(mutex_);
        watches_.erase(std::remove_if(watches_.begin(), watches_.end(), [](const auto& w) { return !w->active(); }),
                       watches_.end());
        watches_.push_back(watch);
    }
    std::lock_guard lock(watchesMutex);
    allWatches.erase(std::remove_if(allWatches.begin(), allWatches.end(), [](const auto& w) { return w.expired(); }),
                     allWatches.end());
    allWatches.push_back(watch);
    return watch;
}

std::unique_ptr<Monitor> PyController::StartMonitor() {
    const auto c = Get();
    auto queue = std::make_shared<LineQueue>(target_, reconnects_);
    auto monitor = std::make_unique<Monitor>(*c, queue);
    std::lock_guard lock(mutex_);
    monitors_.erase(std::remove_if(monitors_.begin(), monitors_.end(), [](const auto& q) { return q.expired(); }),
                    monitors_.end());
    monitors_.push_back(queue);
    return monitor;
}

bool PyController::closed() const {
    std::lock_guard lock(mutex_);
    return !controller_;
}

PyController::Dropped PyController::Drop() {
    std::lock_guard lock(mutex_);
    return {std::exchange(watches_, {}), std::exchange(controller_, nullptr)};
}

bool PyController::InOwnHandler() const {
    return std::find(handlersRunning.begin(), handlersRunning.end(), this) != handlersRunning.end();
}

void PyController::EndMonitors() {
    std::lock_guard lock(mutex_);
    for (const std::weak_ptr<LineQueue>& q : monitors_) {
        if (auto queue = q.lock()) {
            queue->End(false);
        }
    }
    monitors_.clear();
}

}  // namespace lumitrax::python

#include "py_controller.h"

#include "conversions.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace lumitrax::python {
namespace {

// The Controllers whose traffic handler runs on this thread (innermost last).
thread_local std::vector<const PyController*> handlersRunning;

}  // namespace

PyController::PyController(const std::string& target, int timeoutMs, const std::atomic<bool>& stop)
    : target_(target), controller_(std::make_shared<lumitrax::Controller>(target, timeoutMs, stop)) {}

PyController::~PyController() {
    if (InOwnHandler()) {
        // Dropped by its own traffic handler: the port cannot close on a thread that is inside
        // it, so another thread closes it once the handler has returned.
        std::shared_ptr<lumitrax::Controller> c = std::move(controller_);
        std::thread([c = std::move(c)]() mutable { c.reset(); }).detach();
        return;
    }
    // Python drops the object with the GIL held; the receive thread may be waiting for it in
    // the traffic handler, so let go while the port closes.
    if (Py_IsInitialized() != 0 && PyGILState_Check() != 0) {
        py::gil_scoped_release release;
        Drop();
    } else {
        Drop();
    }
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
    std::weak_ptr<lumitrax::Controller> last = Drop();
    while (auto c = last.lock()) {
        // Asked again and again: the library clears its cancel flag when a call starts, and
        // a monitor may be queued behind another call.
        if (monitors_->load() > 0) {
            c->cancel();
        }
        c.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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

std::unique_ptr<Monitor> PyController::StartMonitor() { return std::make_unique<Monitor>(Get(), monitors_); }

bool PyController::closed() const {
    std::lock_guard lock(mutex_);
    return !controller_;
}

std::weak_ptr<lumitrax::Controller> PyController::Drop() {
    std::lock_guard lock(mutex_);
    return std::exchange(controller_, nullptr);
}

bool PyController::InOwnHandler() const {
    return std::find(handlersRunning.begin(), handlersRunning.end(), this) != handlersRunning.end();
}

}  // namespace lumitrax::python

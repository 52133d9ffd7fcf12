#include "monitor.h"

#include <chrono>
#include <utility>

namespace lumitrax::python {

Monitor::Monitor(std::shared_ptr<lumitrax::Controller> controller, std::shared_ptr<std::atomic<int>> running)
    : controller_(controller) {
    ++*running;
    struct Uncount {
        std::atomic<int>* n;
        ~Uncount() {
            if (n != nullptr) {
                --*n;
            }
        }
    } uncount{running.get()};  // unless the thread starts
    thread_ = std::thread([this, controller, running] {
        try {
            controller->monitor([this](const std::string& line) {
                std::lock_guard lock(mutex_);
                // A loop slower than the line must not fill memory: the newest lines are kept.
                if (lines_.size() >= kKeptLines) {
                    lines_.pop_front();
                }
                lines_.push_back(line);
                arrived_.notify_one();
                return !stop_.load();
            });
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
        }
        --*running;
        std::lock_guard lock(mutex_);
        running_ = false;
        arrived_.notify_one();
    });
    uncount.n = nullptr;
}

Monitor::~Monitor() { Stop(); }

std::optional<std::string> Monitor::Next() {
    for (;;) {
        {
            py::gil_scoped_release release;
            std::unique_lock lock(mutex_);
            arrived_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !lines_.empty() || !running_; });
            if (!lines_.empty()) {
                std::string line = std::move(lines_.front());
                lines_.pop_front();
                return line;
            }
            if (!running_) {
                lock.unlock();
                Join();
                if (error_) {
                    std::rethrow_exception(std::exchange(error_, nullptr));
                }
                return std::nullopt;
            }
        }
        if (PyErr_CheckSignals() != 0) {
            const py::error_already_set interrupt;  // KeyboardInterrupt, usually
            Stop();
            throw interrupt;
        }
    }
}

void Monitor::Stop() {
    py::gil_scoped_release release;
    stop_.store(true);
    for (;;) {
        // The library clears its cancel flag when a call starts, so ask until it has ended.
        if (auto c = controller_.lock()) {
            c->cancel();
        }
        std::unique_lock lock(mutex_);
        if (arrived_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !running_; })) {
            break;
        }
    }
    Join();
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void Monitor::Join() {
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace lumitrax::python

#include "monitor.h"

#include <lumitrax/error.h>

#include <chrono>
#include <utility>

namespace lumitrax::python {

void LineQueue::Push(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (ended_) {
        return;
    }
    // A loop slower than the line must not fill memory: the newest lines are kept.
    if (lines_.size() >= kKeptLines) {
        lines_.pop_front();
    }
    lines_.push_back(line);
    changed_.notify_one();
}

void LineQueue::Change(lumitrax::ConnectionState state) {
    std::lock_guard lock(mutex_);
    if (ended_) {
        return;
    }
    if (state == lumitrax::ConnectionState::Lost && !reconnects_) {
        lost_ = true;
        ended_ = true;
    } else if (state == lumitrax::ConnectionState::Closed) {
        ended_ = true;
    }
    changed_.notify_one();
}

void LineQueue::End(bool drop) {
    std::lock_guard lock(mutex_);
    ended_ = true;
    if (drop) {
        lines_.clear();
    }
    changed_.notify_one();
}

std::optional<std::string> LineQueue::Take(std::chrono::milliseconds wait, bool& ended) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return !lines_.empty() || ended_; });
    ended = false;
    if (!lines_.empty()) {
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        return line;
    }
    if (ended_) {
        ended = true;
        if (std::exchange(lost_, false)) {
            throw lumitrax::Error(lumitrax::ErrorKind::Port, target_ + ": the connection was lost");
        }
    }
    return std::nullopt;
}

Monitor::Monitor(lumitrax::Controller& c, std::shared_ptr<LineQueue> queue) : queue_(std::move(queue)) {
    subscription_ = c.subscribe([q = queue_](const std::string& line) { q->Push(line); },
                                [q = queue_](lumitrax::ConnectionState state) { q->Change(state); });
    // Subscribed after a loss that no reconnection follows: nothing would ever come.
    if (c.connectionState() == lumitrax::ConnectionState::Lost) {
        queue_->Change(lumitrax::ConnectionState::Lost);
    }
}

Monitor::~Monitor() { Stop(); }

std::optional<std::string> Monitor::Next() {
    for (;;) {
        bool ended = false;
        std::optional<std::string> line;
        {
            py::gil_scoped_release release;
            line = queue_->Take(std::chrono::milliseconds(100), ended);
        }
        if (line || ended) {
            return line;
        }
        if (PyErr_CheckSignals() != 0) {
            const py::error_already_set interrupt;  // KeyboardInterrupt, usually
            Stop();
            throw interrupt;
        }
    }
}

void Monitor::Stop() {
    queue_->End(true);
    lumitrax::Subscription ending;
    {
        std::lock_guard lock(mutex_);
        ending = std::move(subscription_);
    }
    // Cancelling waits for a delivery under way, which never needs the GIL; let go of it all
    // the same, as for every wait.
    if (PyGILState_Check() != 0) {
        py::gil_scoped_release release;
        ending.cancel();
    } else {
        ending.cancel();
    }
}

}  // namespace lumitrax::python

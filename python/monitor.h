#pragma once
// The running Controller.monitor(): a subscription to the Controller's received lines queues
// them, so that the Python side can wait in short steps and let signal handlers (Ctrl+C) run
// between them. It is no call: the Controller's calls run beside it, from any thread, the one
// iterating included.

#include "casters.h"

#include <lumitrax/controller.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace lumitrax::python {

// The lines a monitor has not handed out yet, filled on the library's delivery thread.
class LineQueue {
public:
    // reconnects: the Controller reopens its target by itself, so a loss does not end the
    // monitor.
    LineQueue(std::string target, bool reconnects) : target_(std::move(target)), reconnects_(reconnects) {}

    // A received line; of the lines not yet taken the newest kKeptLines are kept.
    void Push(const std::string& line);
    // A change of the connection: the monitor ends on Closed, and fails on Lost unless the
    // Controller reconnects; across a reconnection it goes on.
    void Change(lumitrax::ConnectionState state);
    // Ends the monitor (stop(), cancel(), close()); lines already queued are still handed out
    // unless drop is set.
    void End(bool drop);

    // The next line, waiting at most wait (call it with the GIL released); nullopt, with ended
    // set once the monitor has ended; throws Error(Port) once, when the connection was lost.
    std::optional<std::string> Take(std::chrono::milliseconds wait, bool& ended);

    static constexpr std::size_t kKeptLines = 4096;

private:
    const std::string target_;
    const bool reconnects_;
    std::mutex mutex_;  // guards the members below
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    bool ended_ = false;
    bool lost_ = false;
};

class Monitor {
public:
    // Subscribes to c's lines. A Controller already Lost (with reconnection off) fails the
    // monitor's first next().
    Monitor(lumitrax::Controller& c, std::shared_ptr<LineQueue> queue);
    ~Monitor();

    // The next line, or nullopt once the monitor ended. Called with the GIL held; raises
    // PortError when the connection was lost, or KeyboardInterrupt after stopping the monitor.
    std::optional<std::string> Next();

    // Ends the monitor and its subscription; the lines not yet taken are dropped. GIL held or not.
    void Stop();

private:
    std::shared_ptr<LineQueue> queue_;
    std::mutex mutex_;  // guards subscription_
    lumitrax::Subscription subscription_;
};

}  // namespace lumitrax::python

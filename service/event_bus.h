#pragma once
// The service's one stream of events: connection changes, every change made through the
// service (what, which controller, which client), recipe results, and the wire's lines. The
// event stream (/api/v1/events), the log and the metrics read it. Any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace service {

struct Event {
    std::string type;  // "connection", "change", "recipe", "traffic"
    std::string json;  // one JSON object, compact (no line break)
};

class EventBus {
public:
    using Handler = std::function<void(const Event&)>;
    // handler is called on the publishing thread, never under a lock a publisher holds; it must
    // not block.
    std::uint64_t Subscribe(Handler handler);
    // When it returns, the handler is not running and is not called again.
    void Unsubscribe(std::uint64_t id);
    void Publish(const Event& event);

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    std::map<std::uint64_t, Handler> handlers_;
    std::uint64_t next_ = 1;
    int publishing_ = 0;
};

// One reader's queue on the bus (an event stream client). At most kMaxQueued events wait; a
// slower reader loses the oldest, and the next event it takes says how many were dropped.
class EventQueue {
public:
    static constexpr std::size_t kMaxQueued = 1024;

    EventQueue(EventBus& bus, bool traffic);
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // The next event, waiting at most wait; false when none came.
    bool Next(Event& event, std::chrono::milliseconds wait);
    std::uint64_t Dropped() const;

private:
    EventBus& bus_;
    bool traffic_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Event> queue_;
    std::uint64_t dropped_ = 0;
    std::uint64_t id_ = 0;
};

}  // namespace service

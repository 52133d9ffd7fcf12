#pragma once
// The deliveries of one Controller's subscribers: received lines and changes of the
// connection, queued by whichever thread saw them and handed out, in order, on one thread of
// the Controller's own, so that a subscriber never runs on the receive thread or under a lock
// a call holds.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lumitrax/controller.h"

namespace lumitrax::detail {

class EventHub;

}  // namespace lumitrax::detail

namespace lumitrax {

struct Subscription::Impl {
    std::function<void(const std::string&)> onLine;
    std::function<void(ConnectionState)> onChange;
    std::weak_ptr<detail::EventHub> hub;
    std::atomic<std::uint64_t> dropped{0};
};

}  // namespace lumitrax

namespace lumitrax::detail {

class EventHub : public std::enable_shared_from_this<EventHub> {
public:
    // Received lines waiting beyond this many are dropped, the oldest first.
    static constexpr std::size_t kMaxWaiting = 4096;

    // The hub's thread starts with the first subscriber.
    EventHub() = default;
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    std::shared_ptr<Subscription::Impl> Add(std::function<void(const std::string&)> onLine,
                                            std::function<void(ConnectionState)> onChange);
    // Ends the deliveries to s; waits for one of its callbacks that is running, unless called
    // from inside it.
    void Remove(Subscription::Impl* s);

    // Any thread; cheap when nobody listens for lines.
    void Line(const std::string& text);
    void Change(ConnectionState state);

    // Delivers what is queued, then stops the thread (from the hub's own thread: lets it end
    // by itself once the running callback returns).
    void Stop();

private:
    struct Event {
        bool line = false;
        std::string text;
        ConnectionState state = ConnectionState::Connected;
    };
    void Push(Event e);
    void Deliver();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Event> queue_;
    std::size_t waitingLines_ = 0;
    std::vector<std::shared_ptr<Subscription::Impl>> subscribers_;
    std::size_t lineSubscribers_ = 0;
    const Subscription::Impl* running_ = nullptr;  // whose callback runs now
    bool stopping_ = false;
    std::thread thread_;
    std::thread::id threadId_;  // the delivering thread's, kept when it is let go by Stop()
};

}  // namespace lumitrax::detail

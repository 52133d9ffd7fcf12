#include "event_bus.h"

#include <vector>

namespace service {

std::uint64_t EventBus::Subscribe(Handler handler) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = next_++;
    handlers_.emplace(id, std::move(handler));
    return id;
}

void EventBus::Unsubscribe(std::uint64_t id) {
    std::unique_lock lock(mutex_);
    handlers_.erase(id);
    // A publisher may hold a copy of the handler: wait until none is delivering.
    idle_.wait(lock, [this] { return publishing_ == 0; });
}

void EventBus::Publish(const Event& event) {
    std::vector<Handler> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, h] : handlers_) handlers.push_back(h);
        ++publishing_;
    }
    for (const Handler& h : handlers) h(event);
    std::lock_guard lock(mutex_);
    if (--publishing_ == 0) idle_.notify_all();
}

EventQueue::EventQueue(EventBus& bus, bool traffic) : bus_(bus), traffic_(traffic) {
    id_ = bus_.Subscribe([this](const Event& e) {
        if (e.type == "traffic" && !traffic_) return;
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueued) {
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back(e);
        ready_.notify_one();
    });
}

EventQueue::~EventQueue() { bus_.Unsubscribe(id_); }

bool EventQueue::Next(Event& event, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, wait, [this] { return !queue_.empty(); })) return false;
    event = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

std::uint64_t EventQueue::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace service

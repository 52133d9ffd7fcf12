#include "events.h"

#include <algorithm>

namespace lumitrax::detail {

EventHub::~EventHub() { Stop(); }

std::shared_ptr<Subscription::Impl> EventHub::Add(std::function<void(const std::string&)> onLine,
                                                  std::function<void(ConnectionState)> onChange) {
    auto s = std::make_shared<Subscription::Impl>();
    s->onLine = std::move(onLine);
    s->onChange = std::move(onChange);
    s->hub = weak_from_this();
    std::lock_guard lock(mutex_);
    subscribers_.push_back(s);
    if (s->onLine) {
        ++lineSubscribers_;
    }
    if (!thread_.joinable() && !stopping_) {
        // The thread holds the hub: a Controller destroyed from a callback leaves it running
        // until that callback returns.
        thread_ = std::thread([self = shared_from_this()] { self->Deliver(); });
    }
    return s;
}

void EventHub::Remove(Subscription::Impl* s) {
    std::unique_lock lock(mutex_);
    const auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                                 [s](const std::shared_ptr<Subscription::Impl>& p) { return p.get() == s; });
    if (it != subscribers_.end()) {
        if ((*it)->onLine) {
            --lineSubscribers_;
        }
        subscribers_.erase(it);
    }
    if (std::this_thread::get_id() != threadId_) {
        cv_.wait(lock, [&] { return running_ != s; });
    }
}

void EventHub::Line(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        if (lineSubscribers_ == 0) {
            return;
        }
    }
    Push({true, text, ConnectionState::Connected});
}

void EventHub::Change(ConnectionState state) { Push({false, {}, state}); }

void EventHub::Push(Event e) {
    std::lock_guard lock(mutex_);
    if (stopping_ || subscribers_.empty()) {
        return;
    }
    if (e.line) {
        if (waitingLines_ >= kMaxWaiting) {
            const auto oldest = std::find_if(queue_.begin(), queue_.end(), [](const Event& q) { return q.line; });
            queue_.erase(oldest);
            --waitingLines_;
            for (const auto& s : subscribers_) {
                if (s->onLine) {
                    s->dropped.fetch_add(1);
                }
            }
        }
        ++waitingLines_;
    }
    queue_.push_back(std::move(e));
    cv_.notify_all();
}

void EventHub::Deliver() {
    std::unique_lock lock(mutex_);
    threadId_ = std::this_thread::get_id();
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping, and everything delivered
        }
        Event e = std::move(queue_.front());
        queue_.pop_front();
        if (e.line) {
            --waitingLines_;
        }
        const std::vector<std::shared_ptr<Subscription::Impl>> to = subscribers_;
        for (const auto& s : to) {
            // Removed meanwhile (by an earlier callback of this event): no more calls.
            if (std::find(subscribers_.begin(), subscribers_.end(), s) == subscribers_.end()) {
                continue;
            }
            if ((e.line && !s->onLine) || (!e.line && !s->onChange)) {
                continue;
            }
            running_ = s.get();
            lock.unlock();
            try {
                if (e.line) {
                    s->onLine(e.text);
                } else {
                    s->onChange(e.state);
                }
            } catch (...) {  // no one to hand it to on this thread
            }
            lock.lock();
            running_ = nullptr;
            cv_.notify_all();
        }
    }
}

void EventHub::Stop() {
    std::thread t;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        t = std::move(thread_);
        cv_.notify_all();
    }
    if (!t.joinable()) {
        return;
    }
    if (t.get_id() == std::this_thread::get_id()) {
        t.detach();  // the Controller is destroyed from a callback: the thread ends after it
    } else {
        t.join();
    }
}

}  // namespace lumitrax::detail

namespace lumitrax {

Subscription::Subscription() noexcept = default;
Subscription::Subscription(std::shared_ptr<Impl> impl) noexcept : d(std::move(impl)) {}
Subscription::~Subscription() { cancel(); }
Subscription::Subscription(Subscription&& other) noexcept = default;

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        d = std::move(other.d);
    }
    return *this;
}

void Subscription::cancel() noexcept {
    if (!d) {
        return;
    }
    if (const std::shared_ptr<detail::EventHub> hub = d->hub.lock()) {
        hub->Remove(d.get());
    }
    d.reset();
}

std::uint64_t Subscription::dropped() const noexcept { return d ? d->dropped.load() : 0; }

}  // namespace lumitrax

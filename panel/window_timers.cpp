#include "window_timers.h"

#include <QObject>

WindowTimers::~WindowTimers() { KillAll(); }

void WindowTimers::Set(int id, int milliseconds) {
    Kill(id);
    const int qtId = owner_->startTimer(milliseconds, Qt::PreciseTimer);
    if (qtId != 0) {
        running_[id] = {qtId, milliseconds};
    }
}

void WindowTimers::Kill(int id) {
    const auto it = running_.find(id);
    if (it == running_.end()) {
        return;
    }
    owner_->killTimer(it->second.qtId);
    running_.erase(it);
}

void WindowTimers::KillAll() {
    for (const auto& [id, timer] : running_) {
        owner_->killTimer(timer.qtId);
    }
    running_.clear();
}

int WindowTimers::Interval(int id) const {
    const auto it = running_.find(id);
    return it == running_.end() ? 0 : it->second.milliseconds;
}

int WindowTimers::Id(int qtTimerId) const {
    for (const auto& [id, timer] : running_) {
        if (timer.qtId == qtTimerId) {
            return id;
        }
    }
    return 0;
}

#pragma once
// Numbered window timers in the platform's style (SetTimer/KillTimer with the window's own
// ids) over QObject timers. The owner forwards its timerEvent to Id() to learn which of its
// numbered timers ticked. Window thread only.

#include <map>

class QObject;

class WindowTimers {
public:
    explicit WindowTimers(QObject* owner) : owner_(owner) {}
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

    // Starts timer id with the period; a timer already running under id is replaced.
    void Set(int id, int milliseconds);
    // Stops timer id; nothing happens when it does not run.
    void Kill(int id);
    void KillAll();
    bool IsRunning(int id) const { return running_.count(id) != 0; }
    // Period of a running timer, 0 when it does not run.
    int Interval(int id) const;
    // The id of the numbered timer behind a QTimerEvent's timerId, 0 when it is none of ours.
    int Id(int qtTimerId) const;

private:
    struct Running {
        int qtId;
        int milliseconds;
    };
    QObject* owner_;
    std::map<int, Running> running_;
};

#pragma once
// The running Controller.monitor(): a thread of its own runs the library's monitor() and queues
// the lines, so that the Python side can wait in short steps and let signal handlers (Ctrl+C)
// run between them.

#include "casters.h"

#include <lumitrax/controller.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace lumitrax::python {

class Monitor {
public:
    // running counts the monitors of one Controller that are running, for its close().
    Monitor(std::shared_ptr<lumitrax::Controller> controller, std::shared_ptr<std::atomic<int>> running);
    ~Monitor();

    // The next line, or nullopt once the monitor ended. Called with the GIL held; raises the
    // monitor's error (PortError), or KeyboardInterrupt after stopping the monitor.
    std::optional<std::string> Next();

    // Ends the monitor and waits for its thread; the lines not yet taken are dropped.
    void Stop();

private:
    void Join();

    static constexpr std::size_t kKeptLines = 4096;

    std::weak_ptr<lumitrax::Controller> controller_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;  // guards lines_, running_, error_
    std::condition_variable arrived_;
    std::deque<std::string> lines_;
    bool running_ = true;
    std::exception_ptr error_;
    std::mutex joinMutex_;
    std::thread thread_;  // last: started when every member above exists
};

}  // namespace lumitrax::python

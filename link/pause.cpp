#include "pause.h"

#include <chrono>
#include <thread>
#include <utility>

namespace {
PauseFunction& installed() {
    static PauseFunction fn;
    return fn;
}
}  // namespace

void Pause(int milliseconds) {
    if (const PauseFunction& fn = installed()) {
        fn(milliseconds);
        return;
    }
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

PauseFunction SetPauseFunction(PauseFunction replacement) {
    return std::exchange(installed(), std::move(replacement));
}

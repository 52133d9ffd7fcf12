#pragma once
// Ctrl+C during a blocking call on Python's main thread. Python runs its signal handlers on
// the main thread only, between bytecodes; a call waiting on the line would hold Ctrl+C until
// its timeout. So a call made on the main thread is handed to a thread of its own while the
// main thread looks for signals and, on KeyboardInterrupt, cancels the call.

#include "casters.h"

#include <lumitrax/controller.h>

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace lumitrax::python {

// Notes which thread is Python's main thread. Called once, at import.
void RememberMainThread();

// Runs call(); called with the GIL released. On Python's main thread the call runs on a thread
// of its own while this one looks for Ctrl+C every 50 ms: a KeyboardInterrupt cancels the call
// (cancel(), asked until the call has ended; a controller stops waiting within 250 ms) and is
// raised once the call has ended, with the call's own error (a CancelledError naming the steps
// written) as its context, or with a note when the call completed all the same. Elsewhere
// call() runs on the calling thread.
void RunInterruptible(const std::function<void()>& cancel, const std::function<void()>& call);

// The same for a call with a result.
template <typename C, typename F>
auto InterruptibleBy(const C& cancel, const F& call) -> decltype(call()) {
    using Result = decltype(call());
    if constexpr (std::is_void_v<Result>) {
        RunInterruptible(cancel, call);
    } else {
        std::optional<Result> result;
        RunInterruptible(cancel, [&] { result.emplace(call()); });
        return std::move(*result);
    }
}

// The same for a call of controller c, which cancel() stops.
template <typename F>
auto Interruptible(lumitrax::Controller& c, const F& call) -> decltype(call()) {
    return InterruptibleBy([&c] { c.cancel(); }, call);
}

}  // namespace lumitrax::python

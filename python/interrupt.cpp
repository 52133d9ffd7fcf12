#include "interrupt.h"

#include "errors.h"

#include <chrono>
#include <future>
#include <system_error>

namespace lumitrax::python {
namespace {

// Python's main thread, the one its signal handlers (Ctrl+C) run on.
unsigned long mainThread = 0;

}  // namespace

void RememberMainThread() {
    mainThread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

void RunInterruptible(const std::function<void()>& cancel, const std::function<void()>& call) {
    if (PyThread_get_thread_ident() != mainThread) {
        call();
        return;
    }
    std::future<void> done;
    try {
        done = std::async(std::launch::async, call);
    } catch (const std::system_error&) {  // no thread to be had: no Ctrl+C either
        call();
        return;
    }
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) {
            continue;
        }
        const py::error_already_set interrupt;
        {
            // The library clears its cancel flag when a call starts: ask until this one has
            // ended, in case it was still waiting for a call on another thread.
            py::gil_scoped_release release;
            do {
                cancel();
            } while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready);
        }
        try {
            done.get();
            // Stopped too late: its last command had been answered. Say so, or a script would
            // take a completed write for an interrupted one.
            if (py::hasattr(interrupt.value(), "add_note")) {
                interrupt.value().attr("add_note")("lumitrax: the call had completed when it was interrupted");
            }
        } catch (const lumitrax::Error& e) {
            Raise(e);
            const py::error_already_set failed;
            if (PyExceptionInstance_Check(interrupt.value().ptr()) != 0) {
                PyException_SetContext(interrupt.value().ptr(), failed.value().inc_ref().ptr());
            }
        } catch (...) {  // the interrupt is what the caller hears
        }
        throw interrupt;
    }
    done.get();
}

}  // namespace lumitrax::python

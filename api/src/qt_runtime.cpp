#include "qt_runtime.h"

#include <QCoreApplication>

#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "lumitrax/error.h"

namespace lumitrax::detail {

namespace {

void RunApplication(std::mutex* mutex, std::condition_variable* cv, bool* ready) {
    static int argc = 1;
    static char name[] = "liblumitrax";
    static char* argv[] = {name, nullptr};
    // Never destroyed: it must outlive every port, and the process may end at any moment.
    auto* app = new QCoreApplication(argc, argv);
    (void)app;
    {
        // Notified under the lock: the caller's mutex and condition live on its stack and
        // are gone as soon as it may return.
        std::lock_guard lock(*mutex);
        *ready = true;
        cv->notify_all();
    }
    // This thread only holds the application object; it never needs to run an event loop
    // because every port runs its own on its own thread.
    std::mutex idle;
    std::unique_lock hold(idle);
    std::condition_variable never;
    never.wait(hold, [] { return false; });
}

}  // namespace

void EnsureQtRuntime() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication::instance() != nullptr) {
            return;
        }
        std::mutex mutex;
        std::condition_variable cv;
        bool ready = false;
        try {
            std::thread(RunApplication, &mutex, &cv, &ready).detach();
        } catch (const std::system_error& e) {
            // Not set up, so the next call tries again.
            throw Error(ErrorKind::Port, std::string("the library's thread could not be started: ") + e.what());
        }
        std::unique_lock lock(mutex);
        cv.wait(lock, [&ready] { return ready; });
    });
}

}  // namespace lumitrax::detail

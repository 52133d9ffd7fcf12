// Time from a device's return to Connected: a lumitrax-sim behind a symbolic link is stopped
// and a new one started on the same link, as a USB adapter re-plugged under
// /dev/serial/by-id/. Counted from the moment the new simulator has made the link (its first
// line of output) to the Controller's Connected callback. Median of N.
//   bench_reconnect LUMITRAX_SIM [N]
#include <lumitrax/controller.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sim {
    pid_t pid = -1;
};

// Starts the simulator with --link and returns once it printed its device path.
Sim Start(const char* program, const std::string& link) {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(program, program, "--link", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
    }
    close(out[0]);
    return {pid};
}

void Stop(Sim& s) {
    kill(s.pid, SIGTERM);
    waitpid(s.pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LUMITRAX_SIM [N]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    char dir[] = "/tmp/lumitrax-bench-XXXXXX";
    const std::string link = std::string(mkdtemp(dir)) + "/ttyLX";
    Sim sim = Start(argv[1], link);
    lumitrax::Controller c{link};
    std::mutex m;
    std::condition_variable cv;
    lumitrax::ConnectionState last = lumitrax::ConnectionState::Connected;
    Clock::time_point connectedAt;
    lumitrax::Subscription sub = c.onConnectionChange([&](lumitrax::ConnectionState s) {
        std::lock_guard lock(m);
        last = s;
        if (s == lumitrax::ConnectionState::Connected) {
            connectedAt = Clock::now();
        }
        cv.notify_all();
    });
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        Stop(sim);
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return last == lumitrax::ConnectionState::Reconnecting; });
        }
        sim = Start(argv[1], link);
        const Clock::time_point back = Clock::now();
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return last == lumitrax::ConnectionState::Connected; });
        ms.push_back(std::chrono::duration<double, std::milli>(connectedAt - back).count());
    }
    c.setBrightness(1, 1);  // and the line works
    Stop(sim);
    std::sort(ms.begin(), ms.end());
    std::printf("device back to Connected, %d runs: best %.1f ms, median %.1f ms, worst %.1f ms\n", runs, ms.front(),
                ms[ms.size() / 2], ms.back());
    return 0;
}

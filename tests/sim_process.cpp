#include "sim_process.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 10000;

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    std::vector<std::string> all = {LUMITRAX_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    fcntl(err_, F_SETFL, fcntl(err_, F_GETFL) | O_NONBLOCK);
    if (rc != 0) {
        pid_ = -1;
        return;
    }

    // The first line of output is the device path.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char c = 0;
        const ssize_t n = read(out_, &c, 1);
        if (n <= 0) {
            break;  // the simulator ended without a path
        }
        if (c == '\n') {
            devicePath_ = line;
            break;
        }
        line.push_back(c);
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !reaped_ && Stop(SIGTERM, 5000) == -1 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
    if (err_ >= 0) {
        close(err_);
    }
}

bool SimProcess::running() const {
    return pid_ > 0 && !reaped_;
}

int SimProcess::Stop(int signo, int timeoutMs) {
    if (running()) {
        kill(pid_, signo);
    }
    return Wait(timeoutMs);
}

int SimProcess::Wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        DrainErrors();
        const pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            reaped_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DrainErrors();
    return (reaped_ && WIFEXITED(status_)) ? WEXITSTATUS(status_) : -1;
}

std::string SimProcess::ErrorOutput() {
    DrainErrors();
    return errors_;
}

void SimProcess::DrainErrors() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = err_ >= 0 ? read(err_, buffer, sizeof buffer) : -1;
        if (n <= 0) {
            return;
        }
        errors_.append(buffer, static_cast<std::size_t>(n));
    }
}

int RunSimToEnd(const std::vector<std::string>& args, std::string& errors) {
    SimProcess sim(args);
    const int status = sim.Wait(10000);
    errors = sim.ErrorOutput();
    return status;
}

#include "sim_child.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace service {

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 3000;

}  // namespace

std::unique_ptr<SimChild> SimChild::Start(const std::string& program, std::string& error) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = "no pipe";
        return nullptr;
    }
    std::unique_ptr<SimChild> child(new SimChild);
    child->out_ = out[0];
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const int rc = posix_spawnp(&child->pid_, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        child->pid_ = -1;
        error = program + " could not be started";
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{child->out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (read(child->out_, &c, 1) != 1) break;
        if (c == '\n') {
            child->devicePath_ = line;
            return child;
        }
        line += c;
    }
    error = program + " printed no device path";
    return nullptr;
}

SimChild::~SimChild() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            // Polls the child's end; the simulator stops within milliseconds of SIGTERM.
            pollfd none{-1, 0, 0};
            poll(&none, 0, 20);
        }
    }
    if (out_ >= 0) close(out_);
}

}  // namespace service

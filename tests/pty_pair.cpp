#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        return;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    const char* name = ptsname(master_);
    path_ = name ? name : "";
    // Raw from the start, so that nothing is echoed or translated before the port opens.
    const int slave = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        close(slave);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    Hangup();
}

bool PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    int stalled = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stalled = 0;
            continue;
        }
        if (++stalled > 20) {
            return false;  // nobody reads the other end
        }
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return done == bytes.size();
}

std::string PtyPair::Read(std::size_t count, int timeoutMs) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (master_ >= 0 && out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (p.revents & (POLLHUP | POLLERR)) {
            // No slave open and nothing buffered.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return out;
}

std::string PtyPair::ReadAll(int timeoutMs) {
    return Read(static_cast<std::size_t>(-1), timeoutMs);
}

void PtyPair::Hangup() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

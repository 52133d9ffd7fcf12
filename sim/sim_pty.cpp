#include "sim_pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::string Failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

Pty::~Pty() { Close(); }

bool Pty::Open(std::string& error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = Failure("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = Failure("grantpt/unlockpt");
        Close();
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        error = Failure("ptsname");
        Close();
        return false;
    }
    devicePath_ = name;

    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = Failure(name);
        Close();
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) {
        error = Failure("tcgetattr");
        Close();
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
        error = Failure("tcsetattr");
        Close();
        return false;
    }

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
        error = Failure("fcntl");
        Close();
        return false;
    }

    // Best effort: without the watch the simulator works, it only cannot tell connections apart.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    return true;
}

void Pty::Close() {
    if (watch_ >= 0) {
        ::close(watch_);
        watch_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

long Pty::Read(unsigned char* buffer, std::size_t size) {
    if (master_ < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(master_, buffer, size);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        return -1;
    }
}

long Pty::Write(const char* data, std::size_t size) {
    if (master_ < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t n = ::write(master_, data, size);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        return -1;
    }
}

bool Pty::WasOpened() {
    bool opened = false;
    alignas(inotify_event) char events[1024];
    while (watch_ >= 0) {
        const ssize_t n = ::read(watch_, events, sizeof events);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event event;
            std::memcpy(&event, events + at, sizeof event);
            opened = opened || (event.mask & IN_OPEN) != 0;
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    return opened;
}

int Pty::Unread() const {
    int n = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &n) != 0) {
        return 0;
    }
    return n;
}

void Pty::DiscardUnread() {
    if (slave_ >= 0) {
        tcflush(slave_, TCIFLUSH);
    }
}

}  // namespace sim

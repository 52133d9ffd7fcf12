#include "sim_server.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

constexpr auto kUnreadCheckPeriod = std::chrono::milliseconds(1000);
constexpr auto kHangupGrace = std::chrono::milliseconds(1000);
constexpr auto kSettle = std::chrono::milliseconds(50);

std::string Printable(const std::string& bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c > 0x7E) {
            static const char kDigits[] = "0123456789abcdef";
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

Server::Server(const Options& options)
    : options_(options), controller_(options.identity), random_(options.seed) {
    controller_.Refuse(options.refuse);
}

Server::~Server() { Stop(); }

bool Server::Start(std::string& error) {
    if (!pty_.Open(error)) {
        return false;
    }
    if (!options_.linkPath.empty()) {
        struct stat st {};
        if (lstat(options_.linkPath.c_str(), &st) == 0) {
            // A link left by a simulator that was killed is taken over; anything else is not ours.
            if (!S_ISLNK(st.st_mode)) {
                error = options_.linkPath + " exists and is not a symbolic link";
                Stop();
                return false;
            }
            ::unlink(options_.linkPath.c_str());
        }
        if (symlink(DevicePath().c_str(), options_.linkPath.c_str()) != 0) {
            error = options_.linkPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
        linkMade_ = true;
    }
    if (!options_.transcriptPath.empty()) {
        transcript_ = std::fopen(options_.transcriptPath.c_str(), "w");
        if (transcript_ == nullptr) {
            error = options_.transcriptPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
    }
    connectionStarted_ = pty_.OpenWatchFd() < 0;
    const auto now = Clock::now();
    nextUnreadCheck_ = now + kUnreadCheckPeriod;
    nextSwitch_ = now + std::chrono::milliseconds(options_.switchEveryMs);
    return true;
}

void Server::Stop() {
    RemoveLink();
    pty_.Close();
    if (transcript_ != nullptr) {
        std::fclose(transcript_);
        transcript_ = nullptr;
    }
}

void Server::RemoveLink() {
    if (!linkMade_) {
        return;
    }
    linkMade_ = false;
    // Only our own link goes: another simulator may have taken the name over since.
    char target[PATH_MAX];
    const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && DevicePath() == std::string(target, static_cast<std::size_t>(n))) {
        ::unlink(options_.linkPath.c_str());
    }
}

void Server::Serve(const volatile std::sig_atomic_t& stop, const sigset_t* waitMask) {
    while (stop == 0) {
        const auto now = Clock::now();

        while (!delayed_.empty() && delayed_.front().first <= now) {
            Send(delayed_.front().second);
            delayed_.pop_front();
        }
        if (options_.switchEveryMs > 0 && now >= nextSwitch_) {
            nextSwitch_ = now + std::chrono::milliseconds(options_.switchEveryMs);
            const std::string line = controller_.NextSwitchLine();
            if (!options_.silent && pty_.IsOpen() && !hangupPending_) {
                Note("->", line);
                Send(line);
            }
        }
        if (now >= nextUnreadCheck_) {
            CheckUnread(now);
        }
        Flush();
        if (hangupPending_ && !hungUp_ && delayed_.empty() && pending_.empty() &&
            ((now >= lastWrite_ + kSettle && pty_.Unread() == 0) || now >= hangupDeadline_)) {
            HangUp();
        }

        // Sleep until the next timed event, or input, or room for pending output.
        auto wake = nextUnreadCheck_;
        if (!delayed_.empty()) {
            wake = std::min(wake, delayed_.front().first);
        }
        if (options_.switchEveryMs > 0) {
            wake = std::min(wake, nextSwitch_);
        }
        if (hangupPending_ && !hungUp_) {
            wake = std::min(wake, now + std::chrono::milliseconds(10));
        }
        const auto wait = std::max<Clock::duration>(wake - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};

        pollfd fds[2] = {{-1, 0, 0}, {-1, 0, 0}};
        pollfd& fd = fds[0];
        if (pty_.IsOpen()) {
            fd.fd = pty_.MasterFd();
            fd.events = static_cast<short>((hangupPending_ ? 0 : POLLIN) |
                                           (pending_.empty() ? 0 : POLLOUT));
            fds[1].fd = pty_.OpenWatchFd();
            fds[1].events = POLLIN;
        }
        const int ready = ppoll(fds, 2, &timeout, waitMask);
        if (ready < 0) {
            continue;  // EINTR: a signal; the loop condition looks at it
        }
        if (ready > 0 && (fd.revents & POLLIN) != 0) {
            ReadInput();
        } else if (pty_.WasOpened()) {
            connectionStarted_ = true;  // opened, nothing sent yet
        }
        if (ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (fd.revents & POLLIN) == 0) {
            // Should not happen while we hold the slave open; do not spin on it.
            struct timespec pause{0, 50 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    // Commands that arrived together with the stop signal still reach the transcript.
    if (pty_.IsOpen() && !hangupPending_) {
        ReadInput();
    }
}

void Server::ReadInput() {
    unsigned char buffer[4096];
    std::vector<Controller::Received> received;
    for (;;) {
        // Looked at before every read: an opener's first bytes come after its open, and the
        // panel may close and open again while earlier bytes are being answered.
        if (pty_.WasOpened()) {
            connectionStarted_ = true;
        }
        const long n = pty_.Read(buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        const auto now = Clock::now();
        if (now - lastInput_ >= kStaleInput && controller_.HasUnfinished()) {
            Note("--", "unfinished command dropped after a pause");
            controller_.DropUnfinished();
        }
        lastInput_ = now;
        received.clear();
        controller_.Feed(buffer, static_cast<std::size_t>(n), received);
        for (Controller::Received& r : received) {
            if (hangupPending_) {
                return;  // the line is about to go dead; later commands are never seen
            }
            commandSinceCheck_ = true;
            if (transcript_ != nullptr) {
                std::fputs(r.transcript.c_str(), transcript_);
                std::fputc('\n', transcript_);
                std::fflush(transcript_);
            }
            Note("<-", r.transcript);
            if (connectionStarted_) {
                connectionStarted_ = false;
                r.answer.insert(0, controller_.Execute("getswitch"));
            }
            if (!r.answer.empty()) {
                Answer(std::move(r.answer));
            }
            if (r.isCommand && options_.hangupAfter > 0 && ++commands_ >= options_.hangupAfter) {
                hangupPending_ = true;
                hangupDeadline_ = Clock::now() + std::chrono::milliseconds(options_.delayMs) +
                                  kHangupGrace;
            }
        }
    }
}

void Server::Answer(std::string bytes) {
    if (options_.silent) {
        return;
    }
    if (options_.garbage) {
        AddGarbage(bytes);
    }
    Note("->", bytes);
    if (options_.delayMs > 0) {
        delayed_.emplace_back(Clock::now() + std::chrono::milliseconds(options_.delayMs),
                              std::move(bytes));
        return;
    }
    Send(bytes);
}

// Puts a junk line before the answer and, before every fourth answer, a line longer than a
// receiver takes (over 1000 bytes). Junk never contains a line feed and starts with a byte
// above 0x7F, so it cannot pass for a reply and leaves the real lines after it intact.
void Server::AddGarbage(std::string& bytes) {
    std::uniform_int_distribution<int> high(0x80, 0xFF);
    std::uniform_int_distribution<int> any(0x00, 0xFF);
    std::string junk;
    if (++answers_ % 4 == 0) {
        const int length = std::uniform_int_distribution<int>(1001, 1400)(random_);
        for (int i = 0; i < length; ++i) {
            junk.push_back(static_cast<char>(high(random_)));
        }
        junk.append("\r\n");
    }
    const int length = std::uniform_int_distribution<int>(1, 40)(random_);
    junk.push_back(static_cast<char>(high(random_)));
    for (int i = 1; i < length; ++i) {
        int b = any(random_);
        if (b == '\n') {
            b = 0x00;
        }
        junk.push_back(static_cast<char>(b));
    }
    junk.append("\r\n");
    bytes.insert(0, junk);
}

void Server::Send(const std::string& bytes) {
    if (!pty_.IsOpen() || bytes.empty()) {
        return;
    }
    if (pending_.size() + bytes.size() > kPendingLimit) {
        return;  // nobody is reading: drop whole answers rather than cut lines
    }
    pending_ += bytes;
    Flush();
}

void Server::Flush() {
    while (!pending_.empty() && pty_.IsOpen()) {
        const long n = pty_.Write(pending_.data(), pending_.size());
        if (n < 0) {
            pending_.clear();
            return;
        }
        if (n == 0) {
            return;
        }
        pending_.erase(0, static_cast<std::size_t>(n));
        writtenSinceCheck_ += n;
        lastWrite_ = Clock::now();
    }
}

void Server::CheckUnread(Clock::time_point now) {
    nextUnreadCheck_ = now + kUnreadCheckPeriod;
    int unread = pty_.Unread();
    // Nothing was taken for a whole period and the panel sent nothing: nobody is attached.
    if (!commandSinceCheck_ && unreadBefore_ > 0 && unread >= unreadBefore_ + writtenSinceCheck_) {
        pty_.DiscardUnread();
        pending_.clear();
        unread = 0;
    }
    unreadBefore_ = unread;
    writtenSinceCheck_ = 0;
    commandSinceCheck_ = false;
}

void Server::HangUp() {
    hungUp_ = true;
    pending_.clear();
    delayed_.clear();
    RemoveLink();
    pty_.Close();
    std::fprintf(stderr, "lumitrax-sim: terminal closed after %ld commands\n", commands_);
}

void Server::Note(const char* prefix, const std::string& text) const {
    if (options_.verbose) {
        std::fprintf(stderr, "%s %s\n", prefix, Printable(text).c_str());
    }
}

}  // namespace sim

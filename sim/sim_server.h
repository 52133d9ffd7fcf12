#pragma once
// The simulator's event loop: moves bytes between the pseudo-terminal and the Controller,
// writes the transcript, and applies the fault modes of the Options.
//
// Output towards the panel never blocks: what the terminal does not take at once waits in a
// buffer of kPendingLimit bytes (an answer that does not fit is dropped whole), and bytes
// that lie unread in the terminal for a whole second while the panel sends nothing are
// thrown away, as a serial line with nothing attached loses them. A panel that connects
// later therefore does not receive stale answers or a backlog of switch lines.
//
// A connection starts with the switches: when the device has been opened, the answer to the
// first line or packet that arrives is preceded by one unasked "getswitch" line, as a module
// reports its switches to whoever connects (the panel never asks for them). It goes with that
// first answer rather than at the open itself, when the opener may not be reading yet. Where
// opens cannot be watched, only the first line of all gets it.
//
// A command left unfinished (part of a line or of a brightness packet) is dropped when the next
// bytes come after kStaleInput of silence: a panel killed in the middle of a command never
// finishes it, and what it left must not be glued onto the next connection's first command.
//
// Hang-up (--hangup-after N): the N-th command is answered; once the answer has been taken
// from the terminal (or a second has passed), both ends are closed and the --link removed.
// The simulator then idles until it is told to stop. A blank line is not a command.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <random>
#include <string>

#include "sim_controller.h"
#include "sim_options.h"
#include "sim_pty.h"

namespace sim {

class Server {
public:
    static constexpr std::size_t kPendingLimit = 64 * 1024;
    static constexpr std::chrono::milliseconds kStaleInput{100};

    explicit Server(const Options& options);
    ~Server();  // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the terminal, makes the --link and opens the --transcript. False with a message
    // on failure; nothing is left behind then.
    bool Start(std::string& error);
    const std::string& DevicePath() const { return pty_.DevicePath(); }

    // Serves until stop becomes non-zero. Waits with ppoll under waitMask (null: the current
    // mask), so signals that are blocked otherwise and unblocked in waitMask end a wait.
    void Serve(const volatile std::sig_atomic_t& stop, const sigset_t* waitMask);

    // Removes the link, closes the terminal and the transcript. Idempotent.
    void Stop();

private:
    using Clock = std::chrono::steady_clock;

    void ReadInput();
    void Answer(std::string bytes);
    void Send(const std::string& bytes);
    void Flush();
    void AddGarbage(std::string& bytes);
    void CheckUnread(Clock::time_point now);
    void HangUp();
    void RemoveLink();
    void Note(const char* prefix, const std::string& text) const;

    Options options_;
    Controller controller_;
    Pty pty_;
    std::FILE* transcript_ = nullptr;
    bool linkMade_ = false;

    std::string pending_;
    std::deque<std::pair<Clock::time_point, std::string>> delayed_;
    std::mt19937 random_;
    unsigned answers_ = 0;

    long commands_ = 0;
    bool hangupPending_ = false;
    bool hungUp_ = false;
    Clock::time_point hangupDeadline_{};
    Clock::time_point lastWrite_{};
    Clock::time_point lastInput_{};
    bool connectionStarted_ = false;  // the next answer starts with the switches

    Clock::time_point nextSwitch_{};
    Clock::time_point nextUnreadCheck_{};
    int unreadBefore_ = 0;
    long writtenSinceCheck_ = 0;
    bool commandSinceCheck_ = false;
};

}  // namespace sim

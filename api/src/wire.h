#pragma once
// The Controller API's one connection: a DeviceLink that leaves the lights as they are when
// it closes, with every received line also queued here, so that a call can wait for the
// answers it expects instead of for a fixed time.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "device_link.h"
#include "device_state.h"
#include "lumitrax/controller.h"

namespace lumitrax::detail {

// A reply line that answers a command: its first word and at least minWords words in all, so
// that a terminal's echo of a query ("getoffset") never passes for its answer ("getoffset 17").
struct Accept {
    const char* keyword;
    int minWords;
};

// The replies one command expects: count lines, each accepted by one of accepts.
struct Expectation {
    std::vector<Accept> accepts;
    int count = 1;
};

// One command, encoded and checked when it is made, with the replies it expects.
struct Outgoing {
    int id = 0;
    std::vector<unsigned char> block;  // the argument block's bytes
    std::string textArg;               // the text of a TextArg block (its pointer is set at send)
    std::string shown;                 // the command as a person reads it
    std::vector<Expectation> expect;
    // Acknowledged by a line a terminal's echo would also give ("# 2 512" for "# 2 512"): its
    // first line proves nothing, since the acknowledgement or a refusal may still follow the
    // echo. Exchange says how such a command's outcome is decided.
    bool echoLike = false;
};

// Builds the command; throws Error(Argument) when it would not fit the link (longer than 63
// characters) or cannot be encoded. The expected replies follow from the command.
Outgoing MakeCommand(int id, const void* block, std::size_t blockSize, const std::string& textArg = {});

template <typename Block>
Outgoing Make(int id, const Block& block) {
    return MakeCommand(id, &block, sizeof block);
}
inline Outgoing Make(int id) { return MakeCommand(id, nullptr, 0); }
inline Outgoing MakeText(int id, const std::string& text) { return MakeCommand(id, nullptr, 0, text); }

// Number of blank-separated words and the first of them.
int CountWords(const std::string& line);
std::string FirstWord(const std::string& line);

class Wire {
public:
    // How long a stopped call still waits for the answers of the commands it sent: a controller
    // answers in milliseconds, and an interrupt must not wait out a long timeout.
    static constexpr std::chrono::milliseconds kStopGrace{250};

    // Opens target; throws Error(Port) with the reason, Error(Interrupted) when *stop was set
    // while it connected to a network port.
    // connectTimeoutMs bounds the connecting to a network target. onLost, when given, is
    // called once on the link's receive thread when the connection goes away by itself
    // (Connected() turns false); it must not block or call into the wire.
    explicit Wire(const std::string& target, const std::atomic<bool>* stop = nullptr,
                  int connectTimeoutMs = kDefaultConnectTimeoutMs, std::function<void()> onLost = {});
    ~Wire();

    struct Outcome {
        std::size_t sent = 0;            // commands written
        // SendAndCollect: the lines received meanwhile, as bytes (the newest few thousand).
        // Exchange keeps none: the values come from the link's state, and a line that never
        // stops coming must not fill memory while the call waits.
        std::vector<std::string> lines;
    };

    // Forgets the lines received so far, sends the commands in order (10 ms apart) and waits
    // until every expected reply came. An echo-like command's outcome is decided by a line
    // that only the controller's answer gives, never by time: where the wire has seen that
    // the controller echoes (echoes_), it takes two lines, the echo and then the
    // acknowledgement, in whose place a refusal comes; otherwise the exchange ends with one
    // more query, "getoffset", whose answer ("getoffset 17", never an echo) the controller
    // sends after every line of the commands before it. Throws Refused at an "error" line,
    // NoAnswer when timeoutMs after the last command the replies are incomplete, Port when a
    // write fails. With stop given and set, sends no further command, waits for the answers
    // of those sent and returns (sent tells how many); an answer not in within kStopGrace of
    // the stop throws Interrupted. After an exchange that threw, the next one first finds
    // where the controller's answers stand (see Resync). sent, when given, counts the commands
    // written as they go (the closing query not among them), so that a caller still knows it
    // when the exchange throws.
    Outcome Exchange(const std::vector<Outgoing>& commands, int timeoutMs,
                     const std::atomic<bool>* stop = nullptr, std::size_t* sent = nullptr);

    // Forgets the lines received so far.
    void Forget();
    // Sends one command (10 ms pacing) without waiting for anything; throws as Exchange.
    void Send(const Outgoing& command);

    // Sends one command and collects every line for exactly waitMs (after a Resync where the
    // last exchange threw); throws Interrupted when stop is set meanwhile.
    Outcome SendAndCollect(const Outgoing& command, int waitMs, const std::atomic<bool>* stop = nullptr);

    // The next received line, waiting at most waitMs; false when none came.
    bool NextLine(std::string& line, int waitMs);

    // Any thread; the handler runs under the wire's lock and must not call back into it.
    void SetTraffic(std::function<void(Direction, const std::string&)> handler);

    // Marks the calling thread as inside a call on this wire (or, with handler, inside its
    // traffic handler) for the scope's life.
    class Inside {
    public:
        Inside(const Wire& wire, bool handler);
        ~Inside();
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        friend class Wire;
        const Wire* wire_;
        bool handler_;
        const Inside* outer_;
    };
    // Throws Error(Argument) on a thread inside a call on this wire or its traffic handler
    // (handlerOnly: inside the handler): calling back from there would wait on itself.
    void RefuseCallFromInside(bool handlerOnly) const;

    bool Connected() const;
    DeviceState Snapshot();
    const std::string& Target() const { return target_; }

private:
    void Received(const char* line, bool whole);
    // An exchange that failed may have left answers on their way (a controller answering
    // after the timeout, the commands sent after a refused one); with the same first word,
    // they would pass for the next call's. The controller answers in order: everything
    // before the answer to one more query belongs to earlier calls and is passed over.
    // Throws as Exchange when that answer does not come. Learns echoes_ from that answer.
    void Resync(int timeoutMs, const std::atomic<bool>* stop);

    std::string target_;
    std::mutex mutex_;  // guards lines_ and traffic_
    std::function<void(Direction, const std::string&)> traffic_;
    std::condition_variable arrived_;
    struct Line {
        std::string text;
        bool whole = true;  // false: it lost bytes on the way (see DeviceLink::TrafficObserver)
    };
    std::deque<Line> lines_;
    bool resync_ = false;  // the last exchange threw (calls are serialised by the caller)
    // The controller echoes command lines: a query's own text came just before its answer at
    // the last query answered (false: it came without, or nothing tells yet). Set and read by
    // the calling thread only; raw text sent makes it false again. Wrongly true it can only
    // cost a timeout (an acknowledgement that never comes), never pass a refusal for success.
    bool echoes_ = false;
    // Last: destroyed first, so that no received line arrives into members already gone.
    DeviceLink link_;
};

}  // namespace lumitrax::detail

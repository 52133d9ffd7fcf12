#include "wire.h"

#include <QString>

#include <cstring>
#include <mutex>
#include <optional>

#include "port_list.h"
#include "qt_runtime.h"
#include "text.h"

namespace lumitrax::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kKeptLines = 4096;
// How often a wait looks whether the connection is still there.
constexpr auto kConnectionCheck = std::chrono::milliseconds(50);

thread_local const Wire::Inside* tlInside = nullptr;

// "COM<n>", n from 1: a port by the number the port list gives it.
bool IsComName(const std::string& name) {
    return name.size() > 3 && name.rfind("COM", 0) == 0 && name[3] != '0' &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The replies a command expects. The answer to a command starts with its own first word; the
// identity queries are answered by information heads ("modulename", "S/N:", ...).
std::vector<Expectation> Expected(int id, const std::vector<unsigned char>& block) {
    const auto one = [](std::initializer_list<Accept> accepts, int count = 1) {
        return std::vector<Expectation>{Expectation{std::vector<Accept>(accepts), count}};
    };
    const bool all = !block.empty() && block[0] == 255;  // "getbrightness 255": every channel
    switch (id) {
    case CMD_RAW:
        return {};
    case CMD_GETMODULEINFO: return one({{"modulename", 1}});
    case CMD_GETBUILDINFO: return one({{"build", 1}});
    case CMD_GETVERSIONINFO: return one({{"f/w_version", 1}});
    case CMD_GETFWVERSIONINFO: return one({{"getfwversioninfo", 2}, {"f/w_version", 1}});
    // A module without an FPGA may answer without a version.
    case CMD_GETFPGAVERSIONINFO: return one({{"getfpgaversioninfo", 1}, {"fpga_version", 1}});
    case CMD_GETSN: return one({{"S/N:", 1}});
    case CMD_GETMODULEID: return one({{"ID:", 2}});
    case CMD_GETUSEPACKET:
    case CMD_GETTRIGCHANNEL:
    case CMD_GETUSEONOFF:
    case CMD_GETUSETRIG:
    case CMD_GETSOFTSTART:
    case CMD_GETUSEPWM:
    case CMD_GETMODELCH:
    case CMD_GETDEBUG:
    case CMD_GETOFFSET:
    case CMD_GETBRIGHTINDEX:
    case CMD_GETTRIGINDEX:
    case CMD_GETTOTALONOFF:
        return one({{kCommandCatalogue[id].format, 2}});
    case CMD_GETBANDWIDTH:
    case CMD_GETONEX:
    case CMD_GETERRSTATUS:
    case CMD_GETPORTSTATUS:
        return one({{kCommandCatalogue[id].format, 3}});
    case CMD_GETSWITCH: return one({{"getswitch", 5}});
    case CMD_GETBANDWIDTHEX: return one({{"getbandwidthex", 4}}, all ? kChannelCount : 1);
    case CMD_GETBRIGHTNESS: return one({{"$", 4}, {"getbrightness", 4}}, all ? kChannelCount : 1);
    case CMD_GETTRIGGER: return one({{"gettrigger", 9}});
    default:
        break;
    }
    // Everything else is acknowledged by a line that starts with the command's own word.
    const char* own = id == CMD_SETBRIGHTPACKET ? "setbrightpacket" : kCommandCatalogue[id].format;
    return one({{own, 1}});
}

// keyword may be a catalogue format: it is compared up to its first blank.
bool Accepts(const Accept& a, const std::string& first, int words) {
    const std::size_t n = std::strcspn(a.keyword, " \r");
    return words >= a.minWords && first.size() == n && std::strncmp(first.c_str(), a.keyword, n) == 0;
}

}  // namespace

int CountWords(const std::string& line) {
    int n = 0;
    bool inWord = false;
    for (const char c : line) {
        const bool blank = IsBlank(c);
        if (!blank && !inWord) {
            ++n;
        }
        inWord = !blank;
    }
    return n;
}

std::string FirstWord(const std::string& line) {
    std::size_t b = 0;
    while (b < line.size() && IsBlank(line[b])) {
        ++b;
    }
    std::size_t e = b;
    while (e < line.size() && !IsBlank(line[e])) {
        ++e;
    }
    return line.substr(b, e - b);
}

Outgoing MakeCommand(int id, const void* block, std::size_t blockSize, const std::string& textArg) {
    Outgoing out;
    out.id = id;
    if (block != nullptr) {
        const auto* bytes = static_cast<const unsigned char*>(block);
        out.block.assign(bytes, bytes + blockSize);
    }
    out.textArg = textArg;
    EncodedCommand encoded;
    TextArg text{out.textArg.c_str()};
    const void* args = !out.block.empty() ? static_cast<const void*>(out.block.data())
                                          : static_cast<const void*>(&text);
    const EncodeResult result = EncodeCommand(id, args, encoded);
    std::string shown = id == CMD_SETBRIGHTPACKET ? std::string("(brightness packet)") : std::string(encoded.logText + 3);
    while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n')) {
        shown.pop_back();
    }
    if (result == EncodeResult::TooLong) {
        throw Error(ErrorKind::Argument, "the command is too long for the link (at most 63 characters): " +
                                             DecodeToUtf8(shown.empty() ? textArg : shown));
    }
    if (result != EncodeResult::Ok) {
        throw Error(ErrorKind::Argument, "the command cannot be encoded");
    }
    out.shown = DecodeToUtf8(shown);
    out.expect = Expected(id, out.block);
    const std::string own = FirstWord(shown);
    for (const Expectation& e : out.expect) {
        for (const Accept& a : e.accepts) {
            out.echoLike = out.echoLike || (a.minWords == 1 && own == std::string(a.keyword, std::strcspn(a.keyword, " \r")));
        }
    }
    return out;
}

Wire::Wire(const std::string& target, const std::atomic<bool>* stop, int connectTimeoutMs, std::function<void()> onLost)
    : target_(target) {
    EnsureQtRuntime();
    link_.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
    link_.SetPacing(DeviceLink::Pacing::BeforeNext);
    link_.SetConnectTimeout(connectTimeoutMs);
    link_.SetLostObserver(std::move(onLost));
    link_.SetTrafficObserver([this](bool sent, const char* text, bool whole) {
        if (!sent) {
            Received(text, whole);
        }
    });
    RefuseNul(target, ErrorKind::Port, "port name");
    int number = 0;
    const QString path = QString::fromStdString(target);
    if (IsComName(target)) {
        // Numbered as ports() lists them: in a process that has not listed them yet (the tool
        // run once per command), list them now, so that COM3 names the same device here.
        static std::mutex listing;  // probes side by side list once, one at a time
        std::lock_guard lock(listing);
        if (ResolvePortName(target.c_str()).isEmpty()) {
            ListPorts();
        }
        if (!ResolvePortName(target.c_str()).isEmpty()) {
            number = std::atoi(target.c_str() + 3);
        }
    } else if (!target.empty()) {
        number = PortNumberForPath(PathRelativeToHere(path));
    }
    if (number <= 0 || link_.OpenPort(number, stop) == 0) {
        const OpenFailure failure = number <= 0 ? OpenFailure::NotFound : link_.LastOpenFailure();
        const QString reason = number > 0          ? DescribeOpenFailure(failure, number, link_.LastOpenMessage(), connectTimeoutMs)
                               : IsComName(target) ? QStringLiteral("%1: no port has this number").arg(path)
                                                   : QStringLiteral("%1: no such port").arg(path);
        throw Error(failure == OpenFailure::Interrupted ? ErrorKind::Interrupted : ErrorKind::Port,
                    reason.toStdString());
    }
}

Wire::~Wire() { link_.ClosePort(); }

Wire::Inside::Inside(const Wire& wire, bool handler) : wire_(&wire), handler_(handler), outer_(tlInside) {
    tlInside = this;
}

Wire::Inside::~Inside() { tlInside = outer_; }

void Wire::RefuseCallFromInside(bool handlerOnly) const {
    for (const Inside* i = tlInside; i != nullptr; i = i->outer_) {
        if (i->wire_ == this && (i->handler_ || !handlerOnly)) {
            throw Error(ErrorKind::Argument, target_ + ": a call from inside its own " +
                                                 (i->handler_ ? "traffic handler" : "call") +
                                                 " would wait for itself (a Controller takes one call at a time)");
        }
    }
}

void Wire::SetTraffic(std::function<void(Direction, const std::string&)> handler) {
    RefuseCallFromInside(true);
    std::lock_guard lock(mutex_);
    traffic_ = std::move(handler);
}

void Wire::Forget() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void Wire::Received(const char* line, bool whole) {
    std::lock_guard lock(mutex_);
    // Unasked lines (switch reports) pile up between calls; only the newest are kept.
    if (lines_.size() >= kKeptLines) {
        lines_.pop_front();
    }
    lines_.push_back({line, whole});
    if (traffic_) {
        const Inside inside(*this, true);
        try {
            traffic_(Direction::Received, DecodeToUtf8(lines_.back().text));
        } catch (...) {  // the receive thread has no one to hand it to
        }
    }
    arrived_.notify_all();
}

bool Wire::Connected() const { return link_.IsConnected(); }

DeviceState Wire::Snapshot() {
    DeviceState s;
    link_.TakeSnapshot(s);
    return s;
}

void Wire::Send(const Outgoing& c) {
    TextArg text{c.textArg.c_str()};
    const void* args = !c.block.empty() ? static_cast<const void*>(c.block.data()) : static_cast<const void*>(&text);
    {
        std::lock_guard lock(mutex_);
        if (traffic_) {
            const Inside inside(*this, true);
            traffic_(Direction::Sent, c.shown);
        }
    }
    switch (link_.SendCommand(c.id, c.id == CMD_RAW || !c.block.empty() || !c.textArg.empty() ? args : nullptr)) {
    case DeviceLink::SendResult::Sent:
        return;
    case DeviceLink::SendResult::NotEncoded:
        throw Error(ErrorKind::Argument, "the command cannot be sent: " + c.shown);
    case DeviceLink::SendResult::NotOpen:
    case DeviceLink::SendResult::WriteFailed:
        break;
    }
    throw Error(ErrorKind::Port, target_ + ": the connection was lost while sending " + c.shown);
}

Wire::Outcome Wire::Exchange(const std::vector<Outgoing>& commands, int timeoutMs, const std::atomic<bool>* stop,
                             std::size_t* sent) {
    struct Pending {
        const Expectation* e;
        const Outgoing* command;
        int count;  // lines it takes: the expected replies, and first the echo where that counts
        int seen;
    };
    Outcome out;
    if (resync_) {
        Resync(timeoutMs, stop);
    }
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    // Until it returns, an answer may still be on its way.
    resync_ = true;
    const bool echoes = echoes_;
    bool raw = false;
    const Outgoing* unconfirmed = nullptr;  // the last echo-like command sent while the echo is not known
    std::vector<Pending> pending;
    for (const Outgoing& c : commands) {
        if (stop != nullptr && stop->load()) {
            break;
        }
        Send(c);
        ++out.sent;
        if (sent != nullptr) {
            *sent = out.sent;
        }
        raw = raw || c.id == CMD_RAW;
        if (c.echoLike && !echoes) {
            unconfirmed = &c;
        }
        for (const Expectation& e : c.expect) {
            pending.push_back({&e, &c, e.count + (c.echoLike && echoes ? 1 : 0), 0});
        }
    }
    // The controller answers in order: once this query is answered, every line of the commands
    // before it is in, a refusal however late among them. Sent after a stop too: it only asks.
    std::optional<Outgoing> confirm;
    if (unconfirmed != nullptr) {
        confirm = Make(CMD_GETOFFSET);
        Send(*confirm);
    }
    if (raw) {
        echoes_ = false;  // a raw "echo 0", "echo 1" or "reboot" may have changed it
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<Clock::time_point> stopped;
    std::size_t unmet = pending.size();
    bool confirmed = !confirm;
    // The line before the current one, for telling whether the controller echoes: a query's own
    // text just before its answer is its echo.
    std::string previous;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!lines_.empty()) {
            std::string line = std::move(lines_.front().text);
            const bool whole = lines_.front().whole;
            lines_.pop_front();
            if (!whole) {
                // Noise, or an answer that lost bytes: what is left of it (the tail of an
                // over-long line, the text before a NUL) must not pass for an answer.
                previous.clear();
                continue;
            }
            const std::string first = FirstWord(line);
            if (first == "error") {
                throw Error(ErrorKind::Refused, target_ + ": the controller refused: " + DecodeToUtf8(line));
            }
            const int words = CountWords(line);
            bool answer = false;
            for (Pending& p : pending) {
                if (p.seen >= p.count) {
                    continue;
                }
                for (const Accept& a : p.e->accepts) {
                    answer = answer || Accepts(a, first, words);
                }
                if (answer) {
                    // The packet is binary and never echoed: its answer says nothing of the echo.
                    if (p.seen == 0 && !raw && !p.command->echoLike && p.command->id != CMD_GETSWITCH &&
                        p.command->id != CMD_SETBRIGHTPACKET) {
                        echoes_ = previous == p.command->shown;
                    }
                    if (++p.seen == p.count) {
                        --unmet;
                    }
                    break;
                }
            }
            // Only after every other answer: an answer to an earlier query (one that Resync
            // passed over) must not confirm commands whose own lines have not come yet.
            if (!answer && !confirmed && unmet == 0 && Accepts(confirm->expect.front().accepts.front(), first, words)) {
                answer = true;
                confirmed = true;
                if (!raw) {
                    echoes_ = previous == confirm->shown;
                }
            }
            // An unasked switch report may come between an echo and its answer.
            if (answer || first != "getswitch") {
                previous = std::move(line);
            }
        }
        const auto now = Clock::now();
        if (unmet == 0 && confirmed) {
            resync_ = false;
            return out;
        }
        if (!Connected()) {
            throw Error(ErrorKind::Port, target_ + ": the connection was lost");
        }
        if (stop != nullptr && stop->load() && !stopped) {
            stopped = now;
        }
        const bool givenUp = stopped && now >= *stopped + kStopGrace;
        if (now >= deadline || givenUp) {
            for (const Pending& p : pending) {
                if (p.seen < p.count && givenUp) {
                    throw Error(ErrorKind::Interrupted,
                                target_ + ": interrupted before the controller answered \"" + p.command->shown + "\"");
                }
                if (p.seen < p.count) {
                    throw Error(ErrorKind::NoAnswer, target_ + ": the controller did not answer \"" + p.command->shown +
                                                         "\" within " + std::to_string(timeoutMs) + " ms");
                }
            }
            const std::string asked = "\"" + confirm->shown + "\" (asked after \"" + unconfirmed->shown +
                                      "\" to learn whether it was refused)";
            if (givenUp) {
                throw Error(ErrorKind::Interrupted, target_ + ": interrupted before the controller answered " + asked);
            }
            throw Error(ErrorKind::NoAnswer, target_ + ": the controller did not answer " + asked + " within " +
                                                 std::to_string(timeoutMs) + " ms");
        }
        arrived_.wait_until(lock, std::min(deadline, now + kConnectionCheck));
    }
}

void Wire::Resync(int timeoutMs, const std::atomic<bool>* stop) {
    const Outgoing probe = Make(CMD_GETOFFSET);
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    Send(probe);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string previous;  // as in Exchange: the probe's echo comes just before its answer
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!lines_.empty()) {
            std::string line = std::move(lines_.front().text);
            const bool whole = lines_.front().whole;
            lines_.pop_front();
            const std::string first = FirstWord(line);
            if (whole && Accepts(probe.expect.front().accepts.front(), first, CountWords(line))) {
                echoes_ = previous == probe.shown;
                resync_ = false;
                return;
            }
            if (!whole) {
                previous.clear();
            } else if (first != "getswitch") {
                previous = std::move(line);
            }
        }
        const auto now = Clock::now();
        if (!Connected()) {
            throw Error(ErrorKind::Port, target_ + ": the connection was lost");
        }
        if (stop != nullptr && stop->load()) {
            throw Error(ErrorKind::Interrupted, target_ + ": interrupted before the controller answered \"" +
                                                    probe.shown + "\" (asked after the previous call failed)");
        }
        if (now >= deadline) {
            throw Error(ErrorKind::NoAnswer, target_ + ": the controller did not answer \"" + probe.shown + "\" within " +
                                                 std::to_string(timeoutMs) + " ms (asked after the previous call failed)");
        }
        arrived_.wait_until(lock, std::min(deadline, now + kConnectionCheck));
    }
}

Wire::Outcome Wire::SendAndCollect(const Outgoing& command, int waitMs, const std::atomic<bool>* stop) {
    Outcome out;
    if (resync_) {
        Resync(waitMs, stop);
    }
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    Send(command);
    out.sent = 1;
    echoes_ = false;  // the text may have been "echo 0", "echo 1" or "reboot"
    const auto until = Clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock lock(mutex_);
    while (Clock::now() < until) {
        if (stop != nullptr && stop->load()) {
            resync_ = true;
            throw Error(ErrorKind::Interrupted, target_ + ": interrupted while collecting the answer");
        }
        arrived_.wait_until(lock, std::min(until, Clock::now() + kConnectionCheck));
    }
    for (Line& l : lines_) {
        out.lines.push_back(std::move(l.text));
    }
    lines_.clear();
    resync_ = out.lines.empty();  // an answer may yet come
    return out;
}

bool Wire::NextLine(std::string& line, int waitMs) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !lines_.empty(); })) {
        return false;
    }
    line = std::move(lines_.front().text);
    lines_.pop_front();
    return true;
}

}  // namespace lumitrax::detail

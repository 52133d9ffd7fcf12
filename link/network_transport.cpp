#include "network_transport.h"

#include <QSocketNotifier>
#include <QUrl>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Telnet answers that the server does not read are dropped beyond this backlog, so that a
// server sending requests without reading cannot make the client buffer without bound.
constexpr std::size_t kAnswerBacklogLimit = 64 * 1024;

// Data held while opening beyond this is no server's notice: it goes on to the sink.
constexpr std::size_t kHeldLimit = 4096;
// A notice is quoted up to this many characters.
constexpr int kNoticeLength = 100;
// At most this much is read from a connection found lost (what its server sent last).
constexpr std::size_t kRestLimit = 256 * 1024;

// The few calls that differ between BSD sockets and Winsock. A socket is kept as a qintptr
// (what QSocketNotifier takes), -1 when there is none.
#ifdef _WIN32
using Native = SOCKET;
using IoSize = int;
constexpr int kInProgress = WSAEWOULDBLOCK;  // what a non-blocking connect reports
constexpr int kInterrupted = WSAEINTR;
constexpr int kRefused = WSAECONNREFUSED;
bool Unreachable(int error) { return error == WSAENETUNREACH || error == WSAEHOSTUNREACH; }
constexpr int kShutWrite = SD_SEND;
constexpr int kSendFlags = 0;
int LastError() { return WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
void CloseSocket(qintptr s) { ::closesocket(static_cast<SOCKET>(s)); }
int Poll(pollfd* p, int timeoutMs) { return ::WSAPoll(p, 1, timeoutMs); }
bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
qintptr NewSocket(const addrinfo& a) {
    const SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    return static_cast<qintptr>(s);
}
#else
using Native = int;
using IoSize = std::size_t;
constexpr int kInProgress = EINPROGRESS;
constexpr int kInterrupted = EINTR;
constexpr int kRefused = ECONNREFUSED;
bool Unreachable(int error) { return error == ENETUNREACH || error == EHOSTUNREACH || error == EADDRNOTAVAIL; }
constexpr int kShutWrite = SHUT_WR;
// A peer gone away must not raise SIGPIPE (macOS has SO_NOSIGPIPE on the socket instead).
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif
int LastError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
void CloseSocket(qintptr s) { ::close(static_cast<int>(s)); }
int Poll(pollfd* p, int timeoutMs) { return ::poll(p, 1, timeoutMs); }
bool StartSockets() { return true; }
qintptr NewSocket(const addrinfo& a) {
    const int s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s < 0) {
        return -1;
    }
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    return s;
}
#endif

Native N(qintptr s) {
    return static_cast<Native>(s);
}

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool IsSet(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

// Waits until one of events (POLLIN, POLLOUT) comes on s, the deadline passes or stop is set
// (looked at every kStopCheckMs); returns what came, errors and hang-ups included (0: nothing
// in time, or stopped).
short PollUntil(qintptr s, short events, Clock::time_point deadline, const std::atomic<bool>* stop = nullptr) {
    while (!IsSet(stop)) {
        pollfd p{};
        p.fd = N(s);
        p.events = events;
        const int left = MsLeft(deadline);
        const int n = Poll(&p, stop != nullptr ? std::min(left, NetworkTransport::kStopCheckMs) : left);
        if (n > 0) {
            return p.revents;
        }
        if ((n == 0 && (stop == nullptr || left == 0)) || (n < 0 && LastError() != kInterrupted)) {
            return 0;
        }
    }
    return 0;
}

void SetOption(qintptr s, int level, int name, int value) {
    ::setsockopt(N(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// Keep-alive probing of an idle connection: the first probe after kKeepIdleS seconds without
// traffic, then one every kKeepIntervalS, and the connection is given up after kKeepCount
// unanswered ones: a dead server is noticed within about 8 s.
constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 1;
constexpr int kKeepCount = 3;

// Commands are a few bytes each: send them at once. Probe an idle connection, so that a
// server that vanished without a word (power, cable) is noticed. Where the system lacks an
// option, its own default stands (on macOS the idle time is TCP_KEEPALIVE).
void TuneSocket(qintptr s) {
    SetOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
#if defined(TCP_KEEPIDLE)
    SetOption(s, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
#elif defined(TCP_KEEPALIVE)
    SetOption(s, IPPROTO_TCP, TCP_KEEPALIVE, kKeepIdleS);
#endif
#ifdef TCP_KEEPINTVL
    SetOption(s, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
#endif
#ifdef TCP_KEEPCNT
    SetOption(s, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
#endif
}

// A host name lookup on a thread of its own, so that a slow name server cannot hold Open
// past its deadline. The thread owns its share of the state and ends by itself when the
// opener has stopped waiting.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    addrinfo* addresses = nullptr;  // null when the name did not resolve

    ~Lookup() {
        if (addresses != nullptr) {
            ::freeaddrinfo(addresses);
        }
    }
};

// The lookup, or null when it did not end by the deadline or before stop was set.
std::shared_ptr<Lookup> Resolve(const QString& host, std::uint16_t port, Clock::time_point deadline,
                                const std::atomic<bool>* stop) {
    auto lookup = std::make_shared<Lookup>();
    // International names go out in their ASCII form; addresses are taken as they are.
    QByteArray name = QUrl::toAce(host);
    if (name.isEmpty()) {
        name = host.toUtf8();
    }
    const auto run = [lookup, name = std::move(name), service = std::to_string(port)] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name.constData(), service.c_str(), &hints, &found) != 0) {
            found = nullptr;
        }
        std::lock_guard lock(lookup->mutex);
        lookup->addresses = found;
        lookup->finished = true;
        lookup->done.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to be had: look up here, without the deadline
    }
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished && Clock::now() < deadline && !IsSet(stop)) {
        lookup->done.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(
                                                                            NetworkTransport::kStopCheckMs)));
    }
    return lookup->finished ? lookup : nullptr;
}

// What a server sent before it closed, as a quote for the operator: a short printable text,
// line breaks and runs of blanks as one space, cut at kNoticeLength; empty for anything else
// (nothing, binary bytes, a controller's traffic).
QString Notice(const std::vector<std::uint8_t>& bytes) {
    QString text;
    for (const std::uint8_t b : bytes) {
        if (b == '\r' || b == '\n' || b == '\t' || b == ' ') {
            if (!text.isEmpty() && !text.endsWith(QLatin1Char(' '))) {
                text += QLatin1Char(' ');
            }
        } else if (b > ' ' && b < 0x7F) {
            text += QLatin1Char(static_cast<char>(b));
        } else {
            return {};
        }
    }
    text = text.trimmed();
    if (text.size() > kNoticeLength) {
        text = text.left(kNoticeLength) + QStringLiteral("...");
    }
    return text;
}

Rfc2217Session::LineSettings RemoteLine(const LineSettings& s) {
    Rfc2217Session::LineSettings r;
    r.baud = static_cast<std::uint32_t>(s.baud);
    r.dataSize = static_cast<std::uint8_t>(s.dataBits);
    r.parity = s.parity == QSerialPort::OddParity ? 2 : s.parity == QSerialPort::EvenParity ? 3 : 1;
    r.stopSize = s.stopBits == QSerialPort::TwoStop ? 2 : 1;
    r.control = s.flow == QSerialPort::HardwareControl ? 3 : s.flow == QSerialPort::SoftwareControl ? 2 : 1;
    return r;
}

}  // namespace

NetworkTransport::NetworkTransport(NetworkPortName target, const LineSettings& settings,
                                   const std::atomic<bool>* stop, int connectTimeoutMs)
    : target_(std::move(target)), settings_(settings), stop_(stop), connectTimeoutMs_(std::max(connectTimeoutMs, 1)) {}

NetworkTransport::~NetworkTransport() {
    Close();
}

OpenFailure NetworkTransport::Connect() {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs_);
    if (!StartSockets()) {
        return OpenFailure::Other;
    }
    const std::shared_ptr<Lookup> lookup = Resolve(target_.host, target_.port, deadline, stop_);
    if (!lookup) {
        return IsSet(stop_) ? OpenFailure::Interrupted : OpenFailure::NoAnswer;
    }
    if (lookup->addresses == nullptr) {
        return OpenFailure::HostNotFound;
    }
    // Each address in turn; the last one's failure is the answer.
    OpenFailure failure = OpenFailure::NoAnswer;
    for (const addrinfo* a = lookup->addresses; a != nullptr && Clock::now() < deadline; a = a->ai_next) {
        socket_ = NewSocket(*a);
        if (socket_ == -1) {
            failure = OpenFailure::NoAnswer;
            continue;
        }
        int error = 0;
        const Clock::time_point started = Clock::now();
        if (::connect(N(socket_), a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) != 0) {
            error = LastError();
        }
        if (error == kInProgress || error == kInterrupted) {
            if (PollUntil(socket_, POLLOUT, deadline, stop_) == 0) {
                if (IsSet(stop_)) {
                    CloseSocket(socket_);
                    socket_ = -1;
                    return OpenFailure::Interrupted;
                }
                error = kInProgress;  // no answer in time
            } else {
                socklen_t size = sizeof error;
                ::getsockopt(N(socket_), SOL_SOCKET, SO_ERROR,
                             reinterpret_cast<char*>(&error), &size);
            }
        }
        if (error == 0) {
            roundTripMs_ = static_cast<int>(std::min<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count(),
                kNegotiateTimeoutMs));
            return OpenFailure::None;
        }
        failure = error == kRefused      ? OpenFailure::Refused
                  : Unreachable(error) ? OpenFailure::Unreachable
                                       : OpenFailure::NoAnswer;
        CloseSocket(socket_);
        socket_ = -1;
    }
    return failure;
}

template <typename Done>
bool NetworkTransport::WaitFor(Done done, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The deadline holds even while bytes keep coming: a server that streams without pause
    // must not hold Open or Close for as long as it streams. What waits already when it has
    // passed (this thread woke late) is still looked at, once.
    for (bool last = false; connected_ && !done() && !last && !Stopped();) {
        last = Clock::now() >= deadline;
        const short events = static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT));
        const short got = PollUntil(socket_, events, deadline, opening_ ? stop_ : nullptr);
        if (got == 0) {
            break;
        }
        if ((got & ~POLLOUT) != 0) {
            OnReadable();
        }
        if ((got & POLLOUT) != 0) {
            Flush();
        }
    }
    return done();
}

OpenFailure NetworkTransport::Open(QObject* context, const Sink& sink) {
    sink_ = sink;
    opening_ = true;
    const OpenFailure failure = Connect();
    if (failure != OpenFailure::None) {
        opening_ = false;
        Discard();
        return failure;
    }
    holding_ = true;
    TuneSocket(socket_);
    readable_ = new QSocketNotifier(socket_, QSocketNotifier::Read, context);
    QObject::connect(readable_, &QSocketNotifier::activated, context, [this] { OnReadable(); });
    writable_ = new QSocketNotifier(socket_, QSocketNotifier::Write, context);
    writable_->setEnabled(false);
    QObject::connect(writable_, &QSocketNotifier::activated, context, [this] { Flush(); });
    connected_ = true;
    if (target_.rfc2217) {
        out_.clear();
        session_.Start(out_);
        Send(out_.data(), out_.size());
        WaitFor([this] { return session_.Settled(); }, kNegotiateTimeoutMs);
        if (lineSent_) {
            WaitFor([this] { return session_.LineConfirmed(); }, kNegotiateTimeoutMs);
            // A server that keeps its line at other settings would make every answer noise,
            // reported later as "no answer"; say it now, with the settings it named.
            if (const std::string difference = session_.LineDifference(); !difference.empty() && !Stopped()) {
                openMessage_ = QString::fromStdString(difference);
                opening_ = false;
                Discard();
                return OpenFailure::LineSettings;
            }
        }
    } else {
        // The server's close answers our last handshake packet: it comes a round trip after
        // the connection was made, at the earliest.
        WaitFor([] { return false; }, kSettleMs + roundTripMs_);
    }
    // A server that spoke before anything was asked is refusing, its words ahead of its
    // close, or greets with a banner: its close is waited for, not the clock.
    if (connected_ && holding_ && !Notice(held_).isEmpty() && !Stopped()) {
        WaitFor([this] { return !holding_ || Notice(held_).isEmpty(); }, kNoticeCloseMs);
    }
    const bool stopped = Stopped();
    opening_ = false;
    if (stopped || !connected_) {
        // A server that hung up at once usually says why: its serial port is held by another
        // client, or it could not open it.
        openMessage_ = stopped || !holding_ ? QString() : Notice(held_);
        Discard();
        return stopped ? OpenFailure::Interrupted : OpenFailure::ConnectionLost;
    }
    ReleaseHeld();
    return OpenFailure::None;
}

void NetworkTransport::ReleaseHeld() {
    holding_ = false;
    std::vector<std::uint8_t> held;
    held.swap(held_);
    if (!held.empty()) {
        sink_.received(held.data(), held.size());
    }
}

std::uint32_t NetworkTransport::Write(const unsigned char* data, std::uint32_t length) {
    if (!connected_ || closing_ || length == 0) {
        return 0;
    }
    if (target_.rfc2217) {
        out_.clear();
        Rfc2217Session::AppendData(data, length, out_);
        Send(out_.data(), out_.size());
    } else {
        Send(data, length);
    }
    while (connected_ && !pending_.empty()) {
        if (PollUntil(socket_, POLLOUT, Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs)) == 0) {
            // The server takes nothing any more: a connection no better than a lost one.
            Lost();
            return 0;
        }
        Flush();
    }
    return connected_ ? length : 0;
}

void NetworkTransport::Close() {
    if (socket_ == -1) {
        return;
    }
    closing_ = true;
    // End our side only, and read until the server ends its side: closing with unread bytes
    // would reset the connection, and a reset may cost the server the last bytes written.
    if (connected_) {
        ::shutdown(N(socket_), kShutWrite);
        WaitFor([this] { return !connected_; }, kCloseTimeoutMs);
    }
    Discard();
}

void NetworkTransport::Discard() {
    connected_ = false;
    holding_ = false;
    held_.clear();
    // The notifiers go before the socket they watch.
    delete readable_;
    readable_ = nullptr;
    delete writable_;
    writable_ = nullptr;
    if (socket_ != -1) {
        CloseSocket(socket_);
        socket_ = -1;
    }
    pending_.clear();
}

void NetworkTransport::Send(const std::uint8_t* bytes, std::size_t n) {
    pending_.insert(pending_.end(), bytes, bytes + n);
    Flush();
}

void NetworkTransport::Flush() {
    while (connected_ && !pending_.empty()) {
        const auto sent = ::send(N(socket_), reinterpret_cast<const char*>(pending_.data()),
                                 static_cast<IoSize>(pending_.size()), kSendFlags);
        if (sent > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + sent);
            continue;
        }
        const int error = LastError();
        if (error == kInterrupted) {
            continue;
        }
        if (!WouldBlock(error)) {
            Lost();
        }
        break;
    }
    if (connected_) {
        writable_->setEnabled(!pending_.empty());
    }
}

void NetworkTransport::OnReadable() {
    if (!connected_) {
        return;
    }
    // One read per call: more waiting makes the socket readable again, and the thread's
    // other work goes on between.
    char bytes[16 * 1024];
    const auto n = ::recv(N(socket_), bytes, static_cast<IoSize>(sizeof bytes), 0);
    if (n < 0) {
        const int error = LastError();
        if (WouldBlock(error) || error == kInterrupted) {
            return;
        }
    }
    if (n <= 0) {
        // The server ended the connection, or it reset.
        Lost();
        return;
    }
    if (!closing_) {
        Deliver(reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(n));
    }
}

void NetworkTransport::TakeRest() {
    char bytes[16 * 1024];
    for (std::size_t taken = 0; taken < kRestLimit;) {
        const auto n = ::recv(N(socket_), bytes, static_cast<IoSize>(sizeof bytes), 0);
        if (n < 0 && LastError() == kInterrupted) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        taken += static_cast<std::size_t>(n);
        if (!closing_) {
            Deliver(reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(n));
        }
    }
}

void NetworkTransport::Deliver(const std::uint8_t* bytes, std::size_t n) {
    if (!target_.rfc2217) {
        Pass(bytes, n);
        return;
    }
    data_.clear();
    events_.clear();
    out_.clear();
    decoder_.Feed(bytes, n, data_, events_);
    for (const telnet::Event& e : events_) {
        session_.Handle(e, out_);
    }
    // The line is set as soon as the server takes the com-port option, even late.
    if (!lineSent_ && session_.ComPortAccepted()) {
        session_.SetLine(RemoteLine(settings_), out_);
        lineSent_ = true;
    }
    // The data first: sending the answers may find the connection lost and read on
    // (TakeRest), into these same buffers.
    if (!data_.empty()) {
        Pass(data_.data(), data_.size());
    }
    if (pending_.size() < kAnswerBacklogLimit) {
        Send(out_.data(), out_.size());
    }
}

void NetworkTransport::Pass(const std::uint8_t* bytes, std::size_t n) {
    if (!holding_) {
        sink_.received(bytes, n);
        return;
    }
    held_.insert(held_.end(), bytes, bytes + n);
    if (held_.size() > kHeldLimit) {
        ReleaseHeld();
    }
}

void NetworkTransport::Lost() {
    if (!connected_) {
        return;
    }
    connected_ = false;
    // A write that failed on the server's reset, or a write timeout, may come before the
    // bytes the server sent last were read: they are still queued, a reset notwithstanding,
    // and may be its reason for hanging up or the answer to the last command.
    TakeRest();
    // Stop watching: a socket left after an error could report readiness for ever. The
    // socket itself goes at Close.
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    if (!closing_ && !opening_) {
        sink_.lost();
    }
}

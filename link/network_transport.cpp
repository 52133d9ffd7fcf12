#include "network_transport.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <utility>

namespace {

// Telnet answers that the server does not read are dropped beyond this backlog, so that a
// server sending requests without reading cannot make the client buffer without bound.
constexpr qint64 kAnswerBacklogLimit = 64 * 1024;

Rfc2217Session::LineSettings RemoteLine(const LineSettings& s) {
    Rfc2217Session::LineSettings r;
    r.baud = static_cast<std::uint32_t>(s.baud);
    r.dataSize = static_cast<std::uint8_t>(s.dataBits);
    r.parity = s.parity == QSerialPort::OddParity ? 2 : s.parity == QSerialPort::EvenParity ? 3 : 1;
    r.stopSize = s.stopBits == QSerialPort::TwoStop ? 2 : 1;
    r.control = s.flow == QSerialPort::HardwareControl ? 3 : s.flow == QSerialPort::SoftwareControl ? 2 : 1;
    return r;
}

// Commands are a few bytes each: send them at once. Probe an idle connection, so that a
// server that vanished without a word (power, cable) is noticed.
void TuneSocket(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(socket.socketDescriptor());
    const int idle = 10, interval = 5, count = 4;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

}  // namespace

NetworkTransport::NetworkTransport(NetworkPortName target, const LineSettings& settings)
    : target_(std::move(target)), settings_(settings) {}

NetworkTransport::~NetworkTransport() {
    Close();
}

template <typename Done>
bool NetworkTransport::WaitFor(Done done, int timeoutMs) {
    if (done() || failed_) {
        return done();
    }
    QEventLoop loop;
    QObject guard;  // ends the connections below with this call
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const bool wasConnected = connected_;
    const auto check = [&] {
        if (done() || failed_ || (wasConnected && !connected_)) {
            loop.quit();
        }
    };
    QObject::connect(socket_, &QTcpSocket::connected, &guard, check);
    QObject::connect(socket_, &QTcpSocket::readyRead, &guard, check);
    QObject::connect(socket_, &QTcpSocket::disconnected, &guard, check);
    QObject::connect(socket_, &QTcpSocket::errorOccurred, &guard, check);
    timer.start(timeoutMs);
    loop.exec();
    return done();
}

OpenFailure NetworkTransport::Open(QObject* context, const Sink& sink) {
    sink_ = sink;
    socket_ = new QTcpSocket(context);
    socket_->setProxy(QNetworkProxy::NoProxy);
    // Handlers first: the waits below check the state these keep.
    QObject::connect(socket_, &QTcpSocket::readyRead, context, [this] { OnReadyRead(); });
    QObject::connect(socket_, &QTcpSocket::errorOccurred, context,
                     [this](QAbstractSocket::SocketError e) { OnError(e); });
    QObject::connect(socket_, &QTcpSocket::disconnected, context, [this] { Lost(); });
    socket_->connectToHost(target_.host, target_.port);
    if (!WaitFor([this] { return socket_->state() == QAbstractSocket::ConnectedState; }, kConnectTimeoutMs)) {
        const QAbstractSocket::SocketError error = failed_ ? error_ : QAbstractSocket::SocketTimeoutError;
        Discard();
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError: return OpenFailure::Refused;
        case QAbstractSocket::HostNotFoundError: return OpenFailure::HostNotFound;
        default: return OpenFailure::NoAnswer;
        }
    }
    connected_ = true;
    TuneSocket(*socket_);
    if (target_.rfc2217) {
        out_.clear();
        session_.Start(out_);
        Send(out_);
        // Answers may already be waiting; read them before waiting for more.
        OnReadyRead();
        WaitFor([this] { return session_.Settled(); }, kNegotiateTimeoutMs);
        if (lineSent_) {
            WaitFor([this] { return session_.LineConfirmed(); }, kNegotiateTimeoutMs);
        }
        if (!connected_) {
            // The server hung up at once: usually its serial port is held by another client.
            Discard();
            return OpenFailure::ConnectionLost;
        }
    }
    return OpenFailure::None;
}

std::uint32_t NetworkTransport::Write(const unsigned char* data, std::uint32_t length) {
    if (!connected_ || closing_ || length == 0) {
        return 0;
    }
    if (target_.rfc2217) {
        out_.clear();
        Rfc2217Session::AppendData(data, length, out_);
        Send(out_);
    } else {
        socket_->write(reinterpret_cast<const char*>(data), length);
    }
    while (connected_ && socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(kWriteTimeoutMs)) {
            if (connected_) {
                // The server takes nothing any more: a connection no better than a lost one.
                Lost();
            }
            return 0;
        }
    }
    return connected_ ? length : 0;
}

void NetworkTransport::Close() {
    if (socket_ == nullptr) {
        return;
    }
    closing_ = true;
#ifdef Q_OS_UNIX
    // End our side only, and read until the server ends its side: closing with unread bytes
    // would reset the connection, and a reset may cost the server the last bytes written.
    if (connected_ && socket_->state() == QAbstractSocket::ConnectedState) {
        ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
        WaitFor([this] { return socket_->state() != QAbstractSocket::ConnectedState; }, kCloseTimeoutMs);
    }
#endif
    Discard();
}

void NetworkTransport::Discard() {
    connected_ = false;
    if (socket_ != nullptr) {
        socket_->disconnect();
        socket_->abort();
        delete socket_;
        socket_ = nullptr;
    }
}

void NetworkTransport::Send(const std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty()) {
        socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
}

void NetworkTransport::OnReadyRead() {
    if (socket_ == nullptr) {
        return;
    }
    const QByteArray bytes = socket_->readAll();
    if (bytes.isEmpty() || closing_) {
        return;
    }
    const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto n = static_cast<std::size_t>(bytes.size());
    if (!target_.rfc2217) {
        sink_.received(raw, n);
        return;
    }
    data_.clear();
    events_.clear();
    out_.clear();
    decoder_.Feed(raw, n, data_, events_);
    for (const telnet::Event& e : events_) {
        session_.Handle(e, out_);
    }
    // The line is set as soon as the server takes the com-port option, even late.
    if (!lineSent_ && session_.ComPortAccepted()) {
        session_.SetLine(RemoteLine(settings_), out_);
        lineSent_ = true;
    }
    if (connected_ && socket_->bytesToWrite() < kAnswerBacklogLimit) {
        Send(out_);
    }
    if (!data_.empty()) {
        sink_.received(data_.data(), data_.size());
    }
}

void NetworkTransport::OnError(QAbstractSocket::SocketError e) {
    if (e == QAbstractSocket::SocketTimeoutError || e == QAbstractSocket::TemporaryError) {
        return;
    }
    error_ = e;
    failed_ = true;
    if (connected_) {
        Lost();
    }
}

void NetworkTransport::Lost() {
    if (!connected_) {
        return;
    }
    connected_ = false;
    // Stop reading: a socket left after an error could report readiness for ever. The
    // socket itself goes at Close; aborting it here, inside one of its own signals, could
    // pull it away under a wait that is still running.
    QMetaObject::invokeMethod(socket_, [s = socket_] { s->abort(); }, Qt::QueuedConnection);
    if (!closing_) {
        sink_.lost();
    }
}

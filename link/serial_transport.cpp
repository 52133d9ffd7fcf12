#include "serial_transport.h"

#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#endif

#include <utility>

namespace {

constexpr int kWriteTimeoutMs = 2000;
// A hang-up makes the port readable, and the read that finds nothing raises an error, whose
// handler looks for the hang-up (OnError): that is how one is noticed, within milliseconds.
// This check only catches one that raised no error; it is slow, so that an idle port costs
// no wake-ups.
constexpr int kHangupCheckMs = 1000;

}  // namespace

SerialTransport::SerialTransport(QString path, const LineSettings& settings, Classifier classify)
    : path_(std::move(path)), settings_(settings), classify_(classify) {}

SerialTransport::~SerialTransport() {
    Close();
}

OpenFailure SerialTransport::Open(QObject* context, const Sink& sink) {
    context_ = context;
    sink_ = sink;
    // No device name holds a NUL character (and Qt's lock file recurses without end on one).
    if (path_.contains(QChar(u'\0'))) {
        return OpenFailure::NotFound;
    }
    port_ = new QSerialPort(context);
    port_->setPortName(path_);
    if (!port_->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_->error();
        delete port_;
        port_ = nullptr;
        return classify_(path_, error);
    }
    // A pseudo-terminal may refuse some settings; the bytes still flow.
    port_->setBaudRate(settings_.baud);
    port_->setDataBits(settings_.dataBits);
    port_->setParity(settings_.parity);
    port_->setStopBits(settings_.stopBits);
    port_->setFlowControl(settings_.flow);
    QObject::connect(port_, &QSerialPort::readyRead, context, [this] { OnReadyRead(); });
    QObject::connect(port_, &QSerialPort::errorOccurred, context,
                     [this](QSerialPort::SerialPortError e) { OnError(e); });
    hangupCheck_ = new QTimer(context);
    QObject::connect(hangupCheck_, &QTimer::timeout, context, [this] { CheckHangup(); });
    hangupCheck_->start(kHangupCheckMs);
    return OpenFailure::None;
}

std::uint32_t SerialTransport::Write(const unsigned char* data, std::uint32_t length) {
    if (port_ == nullptr || !port_->isOpen() || length == 0) {
        return 0;
    }
    const qint64 n = port_->write(reinterpret_cast<const char*>(data), length);
    if (n < 0) {
        return 0;
    }
    // Hand everything to the OS before returning; a stalled line gives up after a while
    // rather than blocking the window for good.
    while (port_ != nullptr && port_->isOpen() && port_->bytesToWrite() > 0) {
        if (!port_->waitForBytesWritten(kWriteTimeoutMs)) {
            if (port_ != nullptr && port_->isOpen()) {
                port_->clear(QSerialPort::Output);
            }
            return 0;
        }
    }
    return static_cast<std::uint32_t>(n);
}

void SerialTransport::Close() {
    delete hangupCheck_;
    hangupCheck_ = nullptr;
    if (port_ != nullptr) {
        port_->disconnect(context_);
        if (port_->isOpen()) {
            port_->close();
        }
        delete port_;
        port_ = nullptr;
    }
}

void SerialTransport::OnReadyRead() {
    if (port_ == nullptr) {
        return;
    }
    const QByteArray data = port_->readAll();
    if (!data.isEmpty()) {
        sink_.received(reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<std::size_t>(data.size()));
    }
}

void SerialTransport::OnError(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::PermissionError:
    case QSerialPort::DeviceNotFoundError:
        // The device went away (adapter pulled): stop watching it.
        Gone();
        return;
    default:
        // Read, write or parity errors: the port stays usable unless the line hung up.
        port_->clearError();
        CheckHangup();
        return;
    }
}

// A terminal whose other side hung up (a pseudo-terminal's controller end closed) reads as
// end-of-file for ever, and its descriptor stays readable: left alone, the receive thread
// would spin. Such a port is closed.
void SerialTransport::CheckHangup() {
#ifdef Q_OS_UNIX
    if (port_ == nullptr || !port_->isOpen()) {
        return;
    }
    const int fd = static_cast<int>(port_->handle());
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        return;
    }
    // Bytes still buffered are read first; a hung-up terminal also reports POLLIN.
    int buffered = 0;
    if (ioctl(fd, FIONREAD, &buffered) == 0 && buffered > 0) {
        return;
    }
    Gone();
#endif
}

void SerialTransport::Gone() {
    if (hangupCheck_ != nullptr) {
        hangupCheck_->stop();
    }
    if (port_ != nullptr && port_->isOpen()) {
        port_->close();
    }
    if (!lost_) {
        lost_ = true;
        sink_.lost();
    }
}

#pragma once
// What carries CPortwire's bytes: a serial device (SerialTransport), a TCP connection with the
// bytes as they are, or a telnet session with the com-port option (NetworkTransport). One
// object per Create; CPortwire makes it on the window thread and then opens, uses, closes and
// destroys it on its receive thread only. Internal to link/.

#include <QSerialPort>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "serial_port.h"

class QObject;

// The line settings selected by Create's constants.
struct LineSettings {
    qint32 baud = 115200;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
};

class PortTransport {
public:
    // Where a transport reports, on the receive thread.
    struct Sink {
        std::function<void(const unsigned char* data, std::size_t n)> received;  // data bytes only
        std::function<void()> lost;  // the device or the connection went away by itself (once)
    };

    virtual ~PortTransport() = default;

    // Opens the connection; its Qt objects become children of context. May run a local event
    // loop for a bounded time (a network connection: at most a few seconds). Bytes may reach
    // the sink before it returns. Returns None when open, else why not (then nothing is left
    // open and Close need not be called).
    virtual OpenFailure Open(QObject* context, const Sink& sink) = 0;
    // After an Open that returned ConnectionLost: the server's short printable text sent
    // before it closed, else empty.
    virtual QString OpenMessage() const { return {}; }
    // Hands the bytes to the operating system in order; returns length, or 0 when they could
    // not all be handed over within a bounded time or the connection is gone.
    virtual std::uint32_t Write(const unsigned char* data, std::uint32_t length) = 0;
    // Ends the connection; bytes Write accepted before still reach the other side. Reports
    // nothing more to the sink. Allowed after a loss and more than once.
    virtual void Close() = 0;
};

// The transport for a resolved port name: a network one for tcp:// and rfc2217:// names, a
// serial one for anything else. Null with *failure set when the name cannot be used. stop,
// when given, cuts a network open short (see ISerialPort::SetOpenStop); connectTimeoutMs
// bounds a network connect (ISerialPort::SetConnectTimeout).
// (Defined in serial_port.cpp, beside the serial failure classification it hands on.)
std::unique_ptr<PortTransport> MakePortTransport(const QString& path, const LineSettings& settings,
                                                 const std::atomic<bool>* stop, int connectTimeoutMs,
                                                 OpenFailure* failure);

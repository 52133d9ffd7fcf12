#pragma once
// Serial transport of the device link.
//
// ISerialPort is the six-member contract the link relies on; CPortwire realises it on a
// receive thread of its own over one of three transports (port_transport.h), chosen by the
// port's name: a serial device through QSerialPort, or a serial device server reached as
// tcp://HOST:PORT (raw bytes) or rfc2217://HOST:PORT (telnet, RFC 2217). Tests substitute a
// fake that records bytes.
//
// Order of use: construct, Create; then WriteData from the window side and GetSize/GetByte
// from inside the receive callback; then destroy. An object whose Create failed is destroyed
// without further use. Received bytes are data only: telnet commands never reach GetByte.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

class QThread;
class QObject;
class QSerialPort;

// How long opening a network port may spend connecting unless ISerialPort::SetConnectTimeout
// says otherwise.
constexpr int kDefaultConnectTimeoutMs = 3000;

// Called on the receive thread whenever received bytes wait; the argument is the port number
// given to Create.
using ReceiveCallback = void (*)(int);

// Why a port failed to open, in the terms an operator can act on.
enum class OpenFailure {
    None,          // it opened (or nothing was tried)
    NotFound,      // no device behind the name, or it is gone (adapter unplugged)
    NoPermission,  // the user may not use the device (not in its group)
    Busy,          // another program holds the port
    NotSerial,     // the path is not a serial device
    Other,         // anything else (the settings were refused, ...)
    // A network port (tcp://HOST:PORT, rfc2217://HOST:PORT):
    BadAddress,      // the name is not of that form
    HostNotFound,    // HOST does not resolve
    Refused,         // nothing listens on PORT (the device server is down or serves another)
    NoAnswer,        // no connection within the connect timeout (host down, filtered)
    Unreachable,     // this computer has no route to the host (the system said so at once)
    LineSettings,    // an RFC 2217 server keeps its line at other settings (named in the message)
    ConnectionLost,  // the server closed or reset the connection (at once: its line is in use)
    Interrupted,     // the opener's stop flag was set while the connection was being made
};

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens the port named "COM<n>" (resolved through port_list). Returns non-zero when the
    // port is open and the callback armed, 0 when it failed to open.
    virtual int Create(const char* portName, int speedCode, std::uint16_t portNumber,
                       std::uint8_t formatCode, ReceiveCallback callback) = 0;
    // Hands the bytes to the operating system in order; returns the number written.
    virtual std::uint32_t WriteData(const unsigned char* data, std::uint32_t length) = 0;
    // Received bytes waiting to be taken. Called from inside the callback only.
    virtual int GetSize() = 0;
    // Moves the oldest waiting byte to *out. Called from inside the callback only.
    virtual void GetByte(unsigned char* out) = 0;
    // After a Create that returned 0: why. Window thread.
    virtual OpenFailure LastOpenFailure() const { return OpenFailure::Other; }
    // After a Create that failed with ConnectionLost: what the device server said before it
    // closed, when that was a short printable text ("Port already in use"), else empty.
    virtual QString LastOpenMessage() const { return {}; }
    // Before Create, window thread: while Create connects to a network port, *stop set from
    // any thread ends it within 50 ms with Interrupted. *stop must outlive Create.
    virtual void SetOpenStop(const std::atomic<bool>* stop) { (void)stop; }
    // Before Create, window thread: how long Create may spend connecting to a network port,
    // that is looking up the host's name and making the TCP connection (to each of its
    // addresses in turn), together; then the open fails with NoAnswer. It does not bound
    // what follows the connection (the RFC 2217 negotiation, the watch for a server that
    // closes at once). kDefaultConnectTimeoutMs until set; a value below 1 counts as 1.
    // Serial devices ignore it.
    virtual void SetConnectTimeout(int milliseconds) { (void)milliseconds; }
    // Before Create, window thread: called once, on the receive thread, when the device or the
    // network connection goes away by itself (IsConnected turns false); never for a close
    // asked for. It must not block or call back into the port.
    virtual void SetLostHandler(std::function<void()> handler) { (void)handler; }
    // After a Create that returned non-zero: true while the connection lasts, false once the
    // device or the network connection went away (then reading has stopped and writes go
    // nowhere; the object is only fit for destruction). Any thread.
    virtual bool IsConnected() const { return true; }
};

// One sentence for the operator on why port portNumber did not open, naming the device path
// (or network address) and what to do (for NoPermission the group that owns the device);
// serverMessage (LastOpenMessage) is quoted as the reason of ConnectionLost. ConnectionLost
// also serves a connection that ended while open. NoAnswer names connectTimeoutMs, the
// connect timeout the open had. Window thread.
QString DescribeOpenFailure(OpenFailure failure, int portNumber, const QString& serverMessage = {},
                            int connectTimeoutMs = kDefaultConnectTimeoutMs);

// Makes the serial object for one connection; DeviceLink calls it at each OpenPort.
using SerialPortFactory = std::function<std::unique_ptr<ISerialPort>()>;

// Line settings selected by Create's constants.
//
//   speedCode | baud        formatCode | data, parity, stop, flow control
//   ----------+--------     -----------+----------------------------------
//       0     |   9600          0      | 8 data bits, no parity, 1 stop bit, none
//       1     |  19200          1      | 8 data bits, even parity, 1 stop bit, none
//       2     |  38400          2      | 8 data bits, odd parity, 1 stop bit, none
//       3     |  57600          3      | 8 data bits, no parity, 2 stop bits, none
//       4     | 115200          4      | 8 data bits, no parity, 1 stop bit, RTS/CTS
//   any other value: Create fails.
//
// The link always passes speedCode 4 and formatCode 0.
class CPortwire final : public ISerialPort {
public:
    CPortwire();
    // Writes nothing further, stops the receive thread and returns only when no callback can
    // run any more. Bytes given to WriteData before were already handed to the OS.
    ~CPortwire() override;

    CPortwire(const CPortwire&) = delete;
    CPortwire& operator=(const CPortwire&) = delete;

    // Window thread. Starts the receive thread and opens the port on it; blocks until the
    // open succeeded or failed. portName is "COM<n>"; the device path or network address
    // comes from port_list. A network port blocks up to the connect timeout and then,
    // raw, 100 ms plus the connect's round trip in which a server that closes at once fails
    // the open or, for RFC 2217, up to 1 s twice more while a silent server is waited for;
    // a server that has said something by then is given up to 0.5 s more to close. The
    // remote line is set to this call's settings. The stop flag (SetOpenStop) cuts these
    // waits short.
    int Create(const char* portName, int speedCode, std::uint16_t portNumber,
               std::uint8_t formatCode, ReceiveCallback callback) override;
    // Any thread. Blocks until the bytes are written to the OS (or the port is gone: returns 0;
    // a line or server that takes nothing for 2 s: returns 0, and a network connection then
    // counts as lost). Over RFC 2217 each 0xFF goes out doubled; the result counts the bytes
    // given.
    std::uint32_t WriteData(const unsigned char* data, std::uint32_t length) override;
    // Receive thread (inside the callback).
    int GetSize() override;
    void GetByte(unsigned char* out) override;

    OpenFailure LastOpenFailure() const override;
    QString LastOpenMessage() const override;
    void SetOpenStop(const std::atomic<bool>* stop) override;
    void SetConnectTimeout(int milliseconds) override;
    void SetLostHandler(std::function<void()> handler) override;

    // True while the port is open; false before Create, after a failed Create and once the
    // device disappeared (hang-up, adapter pulled) or the network connection was lost.
    // Any thread.
    bool IsOpen() const;
    // The same as IsOpen.
    bool IsConnected() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

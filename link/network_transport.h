#pragma once
// A controller behind a serial device server, over TCP: the bytes as they are (tcp://) or a
// telnet session with the com-port option (rfc2217://) that sets the server's line to the
// link's settings and doubles 0xFF data bytes. See port_transport.h for the contract;
// internal to link/.
//
// Opening waits at most the connect timeout (the constructor's; ISerialPort::SetConnectTimeout)
// for the host's name and the connection and, for RFC 2217, at most
// kNegotiateTimeoutMs for the server to answer the option requests and again for it to
// confirm the line settings; a server that stays silent is used as it is. A raw connection
// is watched for kSettleMs plus the connect's round trip after it is made: ser2net accepts
// and closes at once, with a line of text, when its serial port is held by another client
// or cannot be opened, and such a close fails the open (ConnectionLost, the text in
// OpenMessage). Once a server (raw or RFC 2217) has sent such a text while opening, its
// close is waited for, up to kNoticeCloseMs, wherever the watch stood. Data that arrives
// while opening reaches the sink only once the open succeeded. A connection found lost is
// read to its end first (bounded): what the server sent before it hung up still reaches
// the sink, or the notice. A set stop flag ends the
// open's waits within kStopCheckMs (Interrupted). A connection that
// the server closes, that resets or that stops taking bytes for kWriteTimeoutMs counts as
// lost; idle connections are probed by TCP keep-alive (after 5 s idle, 3 probes 1 s apart),
// so a peer that vanished without a word is noticed within about 8 s.

#include <QtGlobal>

#include <vector>

#include "port_list.h"
#include "port_transport.h"
#include "rfc2217_session.h"
#include "telnet_decoder.h"

class QSocketNotifier;

class NetworkTransport final : public PortTransport {
public:
    static constexpr int kNegotiateTimeoutMs = 1000;
    // ser2net closes a millisecond or two after its accept, a round trip after our connect
    // (which is added); but a loaded machine, the server's or ours, can hold it back for
    // tens of milliseconds before it gets to run.
    static constexpr int kSettleMs = 100;
    // How long a server that has begun to speak while opening is given to close.
    static constexpr int kNoticeCloseMs = 500;
    static constexpr int kStopCheckMs = 50;
    static constexpr int kWriteTimeoutMs = 2000;
    // On close: how long the server gets to end its side after ours (its last bytes read).
    static constexpr int kCloseTimeoutMs = 300;

    // stop, when given, must outlive Open. connectTimeoutMs (at least 1) bounds the name
    // lookup and the connection together.
    NetworkTransport(NetworkPortName target, const LineSettings& settings,
                     const std::atomic<bool>* stop = nullptr, int connectTimeoutMs = kDefaultConnectTimeoutMs);
    ~NetworkTransport() override;

    OpenFailure Open(QObject* context, const Sink& sink) override;
    QString OpenMessage() const override { return openMessage_; }
    std::uint32_t Write(const unsigned char* data, std::uint32_t length) override;
    void Close() override;

private:
    // Resolves the host and connects to its addresses in turn, all within connectTimeoutMs_;
    // leaves socket_ connected, or closed with the reason.
    OpenFailure Connect();
    // Reads and writes the socket until done() holds, the connection ends, timeoutMs pass or,
    // while opening, the stop flag is set; returns done().
    template <typename Done>
    bool WaitFor(Done done, int timeoutMs);
    void OnReadable();
    void Deliver(const std::uint8_t* bytes, std::size_t n);
    // Hands data bytes to the sink, or holds them while opening.
    void Pass(const std::uint8_t* bytes, std::size_t n);
    void ReleaseHeld();
    // Queues bytes behind those not yet taken and hands over what the socket takes now.
    void Send(const std::uint8_t* bytes, std::size_t n);
    void Flush();
    void Lost();
    // Reads and delivers (or holds) what is still queued on a lost connection.
    void TakeRest();
    void Discard();

    bool Stopped() const { return opening_ && stop_ != nullptr && stop_->load(); }

    NetworkPortName target_;
    LineSettings settings_;
    const std::atomic<bool>* stop_;
    int connectTimeoutMs_;
    int roundTripMs_ = 0;  // how long the connect took (at most kNegotiateTimeoutMs)
    Sink sink_;
    qintptr socket_ = -1;  // a descriptor (a SOCKET on Windows), -1 when none
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;  // on while pending_ waits for room
    std::vector<std::uint8_t> pending_;    // bytes the socket has not taken yet
    bool connected_ = false;  // from the connection's start to its loss or Close
    bool closing_ = false;
    bool opening_ = false;
    // Data received while opening, delivered once open (a server's notice never reaches the
    // sink); handed on early, and holding ends, should it grow beyond a notice's length.
    std::vector<std::uint8_t> held_;
    bool holding_ = false;
    QString openMessage_;

    // RFC 2217 only.
    telnet::Decoder decoder_;
    Rfc2217Session session_;
    bool lineSent_ = false;
    std::vector<std::uint8_t> data_;
    std::vector<telnet::Event> events_;
    std::vector<std::uint8_t> out_;
};

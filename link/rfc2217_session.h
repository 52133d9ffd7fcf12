#pragma once
// The client side of a telnet session with a serial device server (RFC 2217, Telnet Com
// Port Control Option): which options are on, what to answer the server, and the bytes that
// set the remote line. Pure: it reads decoded events (telnet_decoder.h) and appends the bytes
// to send to a buffer; the caller does the I/O.
//
// The session asks for BINARY (RFC 856) and SUPPRESS-GO-AHEAD (RFC 858) in both directions
// and offers COM-PORT-OPTION; it refuses every other option the server offers or asks for
// (ECHO included). Answers follow the rule of RFC 854 that a request for the state already
// in force is not answered, so two such sessions never loop.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "telnet_decoder.h"

class Rfc2217Session {
public:
    // The line behind the server, in RFC 2217's codes.
    struct LineSettings {
        std::uint32_t baud = 115200;
        std::uint8_t dataSize = 8;   // 5..8
        std::uint8_t parity = 1;     // 1 none, 2 odd, 3 even
        std::uint8_t stopSize = 1;   // 1 one, 2 two
        std::uint8_t control = 1;    // 1 no flow control, 3 RTS/CTS
    };

    // Appends the opening requests: WILL BINARY, DO BINARY, WILL SGA, DO SGA, WILL COM-PORT.
    void Start(std::vector<std::uint8_t>& out);
    // Appends the answer to one event from the server, if it needs one.
    void Handle(const telnet::Event& event, std::vector<std::uint8_t>& out);

    // True once the server has answered every request of Start, yes or no.
    bool Settled() const;
    // True while the server has agreed to COM-PORT-OPTION.
    bool ComPortAccepted() const;

    // Appends SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE and SET-CONTROL.
    void SetLine(const LineSettings& settings, std::vector<std::uint8_t>& out);
    // True once the server confirmed baud rate, data size, parity and stop size since the last
    // SetLine. SET-CONTROL is not waited for: some servers never answer it.
    bool LineConfirmed() const;
    // Empty, or the settings the server answered with where they are not those asked for
    // ("9600 baud, parity 3"): a server that keeps its line as it is, whatever the client asks.
    std::string LineDifference() const;

    // Appends data bytes for the wire: each 0xFF doubled.
    static void AppendData(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out);

private:
    enum class Q : std::uint8_t { No, WantYes, Yes };

    Q us_[256] = {};   // options on our side (WILL/WONT from us, DO/DONT from the server)
    Q him_[256] = {};  // options on the server's side
    bool confirmed_[4] = {};
    std::uint32_t asked_[4] = {};     // baud, data size, parity, stop size as sent
    std::uint32_t answered_[4] = {};  // and as the server confirmed them
};

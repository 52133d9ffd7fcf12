#pragma once
// Splits a telnet byte stream (RFC 854) into the data it carries and the commands between.
//
// Data bytes come out as they are, IAC IAC as one 0xFF. Option negotiation (IAC WILL, WONT,
// DO, DONT and an option byte) and subnegotiation (IAC SB option ... IAC SE) come out as
// events; every other command (NOP, GA, AYT, ...) is dropped. A command split over several
// Feed calls is joined: the decoder keeps its place between calls. It never fails: bytes
// that break the grammar are dropped or read as the nearest legal thing, as said below.
// Memory is bounded whatever the input: a subnegotiation keeps at most kPayloadLimit bytes.
//
// Pure: no I/O, no threads; one object per connection, used from one thread at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

// Options this program speaks of.
constexpr std::uint8_t kBinary = 0;            // RFC 856
constexpr std::uint8_t kEcho = 1;              // RFC 857
constexpr std::uint8_t kSuppressGoAhead = 3;   // RFC 858
constexpr std::uint8_t kComPortOption = 44;    // RFC 2217

struct Event {
    enum class Kind : std::uint8_t { Negotiation, Subnegotiation };
    Kind kind = Kind::Negotiation;
    std::uint8_t verb = 0;    // Negotiation: kWill, kWont, kDo or kDont; Subnegotiation: kSb
    std::uint8_t option = 0;
    std::vector<std::uint8_t> payload;  // Subnegotiation: the bytes after the option, unescaped
    bool truncated = false;             // Subnegotiation: payload was cut at kPayloadLimit

    bool operator==(const Event&) const = default;
};

class Decoder {
public:
    static constexpr std::size_t kPayloadLimit = 64;

    // Appends the data bytes of bytes[0..n) to data and the events completed in them to
    // events, in stream order within each.
    //
    // Grammar breaks: IAC SE outside a subnegotiation is dropped; inside a subnegotiation
    // IAC followed by anything but IAC or SE ends it unreported, and the byte is read as the
    // command after an IAC.
    void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<std::uint8_t>& data,
              std::vector<Event>& events);

    // Back to the start of a stream.
    void Reset();

private:
    enum class State : std::uint8_t { Data, Iac, Option, SbOption, SbData, SbIac };

    void Command(std::uint8_t byte);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Event sb_;
};

}  // namespace telnet

#include "rfc2217_session.h"

#include <algorithm>
#include <iterator>

using namespace telnet;

namespace {

// COM-PORT-OPTION commands from the client; the server answers with the code plus 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;

bool WantedOnOurSide(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

bool WantedOnServerSide(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

void Put(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {kIac, verb, option});
}

void PutSubnegotiation(std::vector<std::uint8_t>& out, std::uint8_t command,
                       const std::uint8_t* value, std::size_t n) {
    out.insert(out.end(), {kIac, kSb, kComPortOption, command});
    Rfc2217Session::AppendData(value, n, out);
    out.insert(out.end(), {kIac, kSe});
}

}  // namespace

void Rfc2217Session::Start(std::vector<std::uint8_t>& out) {
    for (std::uint8_t option : {kBinary, kSuppressGoAhead}) {
        us_[option] = Q::WantYes;
        Put(out, kWill, option);
        him_[option] = Q::WantYes;
        Put(out, kDo, option);
    }
    us_[kComPortOption] = Q::WantYes;
    Put(out, kWill, kComPortOption);
}

void Rfc2217Session::Handle(const Event& event, std::vector<std::uint8_t>& out) {
    const std::uint8_t option = event.option;
    if (event.kind == Event::Kind::Subnegotiation) {
        if (option == kComPortOption && !event.payload.empty()) {
            const int command = event.payload[0] - kServerOffset;
            if (command >= kSetBaudRate && command <= kSetStopSize) {
                const std::size_t i = static_cast<std::size_t>(command - kSetBaudRate);
                confirmed_[i] = true;
                std::uint32_t value = 0;
                for (std::size_t k = 1; k < event.payload.size() && k <= (i == 0 ? 4u : 1u); ++k) {
                    value = (value << 8) | event.payload[k];
                }
                answered_[i] = value;
            }
        }
        return;
    }
    switch (event.verb) {
    case kWill:
        if (him_[option] == Q::WantYes) {
            him_[option] = Q::Yes;
        } else if (him_[option] == Q::No) {
            if (WantedOnServerSide(option)) {
                him_[option] = Q::Yes;
                Put(out, kDo, option);
            } else {
                Put(out, kDont, option);
            }
        }
        return;
    case kWont:
        if (him_[option] == Q::Yes) {
            Put(out, kDont, option);
        }
        him_[option] = Q::No;
        return;
    case kDo:
        if (us_[option] == Q::WantYes) {
            us_[option] = Q::Yes;
        } else if (us_[option] == Q::No) {
            if (WantedOnOurSide(option)) {
                us_[option] = Q::Yes;
                Put(out, kWill, option);
            } else {
                Put(out, kWont, option);
            }
        }
        return;
    case kDont:
        if (us_[option] == Q::Yes) {
            Put(out, kWont, option);
        }
        us_[option] = Q::No;
        return;
    default:
        return;
    }
}

bool Rfc2217Session::Settled() const {
    for (std::uint8_t option : {kBinary, kSuppressGoAhead, kComPortOption}) {
        if (us_[option] == Q::WantYes) {
            return false;
        }
    }
    for (std::uint8_t option : {kBinary, kSuppressGoAhead}) {
        if (him_[option] == Q::WantYes) {
            return false;
        }
    }
    return true;
}

bool Rfc2217Session::ComPortAccepted() const {
    return us_[kComPortOption] == Q::Yes;
}

void Rfc2217Session::SetLine(const LineSettings& s, std::vector<std::uint8_t>& out) {
    for (bool& c : confirmed_) {
        c = false;
    }
    const std::uint32_t asked[4] = {s.baud, s.dataSize, s.parity, s.stopSize};
    std::copy(std::begin(asked), std::end(asked), asked_);
    const std::uint8_t baud[4] = {static_cast<std::uint8_t>(s.baud >> 24), static_cast<std::uint8_t>(s.baud >> 16),
                                  static_cast<std::uint8_t>(s.baud >> 8), static_cast<std::uint8_t>(s.baud)};
    PutSubnegotiation(out, kSetBaudRate, baud, 4);
    PutSubnegotiation(out, kSetDataSize, &s.dataSize, 1);
    PutSubnegotiation(out, kSetParity, &s.parity, 1);
    PutSubnegotiation(out, kSetStopSize, &s.stopSize, 1);
    PutSubnegotiation(out, kSetControl, &s.control, 1);
}

bool Rfc2217Session::LineConfirmed() const {
    for (bool c : confirmed_) {
        if (!c) {
            return false;
        }
    }
    return true;
}

std::string Rfc2217Session::LineDifference() const {
    static const char* const kParity[] = {"", "no parity", "odd parity", "even parity", "mark parity", "space parity"};
    static const char* const kStop[] = {"", "1 stop bit", "2 stop bits", "1.5 stop bits"};
    std::string out;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint32_t v = answered_[i];
        // 0 is no answer worth the name (RFC 2217 uses it to ask); some servers send it.
        if (!confirmed_[i] || v == 0 || v == asked_[i]) {
            continue;
        }
        std::string text = i == 0   ? std::to_string(v) + " baud"
                           : i == 1 ? std::to_string(v) + " data bits"
                           : i == 2 ? (v < 6 ? kParity[v] : "parity " + std::to_string(v))
                                    : (v < 4 ? kStop[v] : "stop size " + std::to_string(v));
        out += (out.empty() ? "" : ", ") + text;
    }
    return out;
}

void Rfc2217Session::AppendData(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) {
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

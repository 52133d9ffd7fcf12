#include "telnet_decoder.h"

namespace telnet {

void Decoder::Reset() {
    state_ = State::Data;
    verb_ = 0;
    sb_ = Event{};
}

// The byte after an IAC (outside a subnegotiation).
void Decoder::Command(std::uint8_t byte) {
    switch (byte) {
    case kWill:
    case kWont:
    case kDo:
    case kDont:
        verb_ = byte;
        state_ = State::Option;
        return;
    case kSb:
        state_ = State::SbOption;
        return;
    default:
        // NOP, GA, DM, AYT, a stray SE...: nothing the link needs.
        state_ = State::Data;
        return;
    }
}

void Decoder::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<std::uint8_t>& data,
                   std::vector<Event>& events) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
        case State::Data:
            if (b == kIac) {
                state_ = State::Iac;
            } else {
                data.push_back(b);
            }
            break;
        case State::Iac:
            if (b == kIac) {
                data.push_back(b);
                state_ = State::Data;
            } else {
                Command(b);
            }
            break;
        case State::Option: {
            Event e;
            e.kind = Event::Kind::Negotiation;
            e.verb = verb_;
            e.option = b;
            events.push_back(std::move(e));
            state_ = State::Data;
            break;
        }
        case State::SbOption:
            sb_ = Event{};
            sb_.kind = Event::Kind::Subnegotiation;
            sb_.verb = kSb;
            sb_.option = b;
            state_ = State::SbData;
            break;
        case State::SbData:
            if (b == kIac) {
                state_ = State::SbIac;
            } else if (sb_.payload.size() < kPayloadLimit) {
                sb_.payload.push_back(b);
            } else {
                sb_.truncated = true;
            }
            break;
        case State::SbIac:
            if (b == kIac) {
                if (sb_.payload.size() < kPayloadLimit) {
                    sb_.payload.push_back(b);
                } else {
                    sb_.truncated = true;
                }
                state_ = State::SbData;
            } else if (b == kSe) {
                events.push_back(std::move(sb_));
                sb_ = Event{};
                state_ = State::Data;
            } else {
                // A sender that forgot IAC SE: the subnegotiation is abandoned.
                sb_ = Event{};
                Command(b);
            }
            break;
        }
    }
}

}  // namespace telnet

#include "modbus_map.h"

#include <algorithm>

namespace service::modbus {

namespace {

constexpr std::uint16_t kCoils = 16;             // coils 0..15
constexpr std::uint16_t kBrightnessRegisters = 16;  // holding 0..15
constexpr int kMaxBrightness = 1024;
constexpr int kMaxRecipeNumber = 9999;

// The largest counts the protocol allows per request.
constexpr std::uint16_t kMaxReadBits = 2000;
constexpr std::uint16_t kMaxReadRegisters = 125;
constexpr std::uint16_t kMaxWriteBits = 1968;
constexpr std::uint16_t kMaxWriteRegisters = 123;

struct Block {
    std::uint16_t first;
    std::uint16_t count;
};

constexpr Block kHoldingBlocks[] = {{0, kBrightnessRegisters}, {kRecipeRegister, 1}};
constexpr Block kInputBlocks[] = {{0, 7}, {kApplyStateRegister, 3}, {kModelChannelsRegister, 1 + kSerialRegisters}};

template <std::size_t N>
bool Within(const Block (&blocks)[N], std::uint16_t address, std::uint16_t count) {
    const unsigned end = static_cast<unsigned>(address) + count;
    return std::any_of(std::begin(blocks), std::end(blocks), [&](const Block& b) {
        return address >= b.first && end <= static_cast<unsigned>(b.first) + b.count;
    });
}

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

void Put(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

Reply Fail(std::uint8_t function, std::uint8_t code) {
    return Reply{code, {static_cast<std::uint8_t>(function | 0x80), code}};
}

std::uint16_t HoldingRegister(const ViewSnapshot& v, std::uint16_t address) {
    if (address < kBrightnessRegisters) return static_cast<std::uint16_t>(v.brightness[address]);
    return static_cast<std::uint16_t>(v.applyRecipe);
}

std::uint16_t InputRegister(const ViewSnapshot& v, std::uint16_t address) {
    switch (address) {
    case 0: return v.connected ? 1 : 0;
    case 1: return static_cast<std::uint16_t>(v.error.code);
    case 2: return static_cast<std::uint16_t>(v.error.detail);
    case 3: return static_cast<std::uint16_t>((v.io.in0 ? 1 : 0) | (v.io.in1 ? 2 : 0));
    case 4: return static_cast<std::uint16_t>((v.io.out0 ? 1 : 0) | (v.io.out1 ? 2 : 0));
    case 5: return static_cast<std::uint16_t>(v.connectedSeconds & 0xFFFF);
    case 6: return kMapVersion;
    case kApplyStateRegister: return static_cast<std::uint16_t>(v.apply);
    case kApplyStateRegister + 1: return static_cast<std::uint16_t>(v.applyRecipe);
    case kApplyStateRegister + 2: return static_cast<std::uint16_t>(std::min(v.applyDifferences, 0xFFFF));
    case kModelChannelsRegister: return static_cast<std::uint16_t>(v.modelChannels);
    default: break;
    }
    // The serial number, two characters a register, the first in the high byte, 0-padded.
    const std::size_t i = 2u * (address - kModelChannelsRegister - 1u);
    const auto at = [&](std::size_t k) {
        return k < v.serialNumber.size() ? static_cast<std::uint8_t>(v.serialNumber[k]) : std::uint8_t{0};
    };
    return static_cast<std::uint16_t>((at(i) << 8) | at(i + 1));
}

Reply Read(Backend& backend, const Request& r, const std::string& controller) {
    const bool coils = r.function == kReadCoils;
    if (r.count < 1 || r.count > (coils ? kMaxReadBits : kMaxReadRegisters)) return Fail(r.function, kIllegalValue);
    const bool mapped = coils ? static_cast<unsigned>(r.address) + r.count <= kCoils
                        : r.function == kReadHoldingRegisters ? Within(kHoldingBlocks, r.address, r.count)
                                                              : Within(kInputBlocks, r.address, r.count);
    if (!mapped) return Fail(r.function, kIllegalAddress);
    const std::optional<ViewSnapshot> view = backend.View(controller);
    if (!view) return Fail(r.function, kGatewayPathUnavailable);
    Reply reply;
    reply.pdu.push_back(r.function);
    if (coils) {
        reply.pdu.push_back(static_cast<std::uint8_t>((r.count + 7) / 8));
        for (std::uint16_t byte = 0; byte < (r.count + 7) / 8; ++byte) {
            std::uint8_t bits = 0;
            for (std::uint16_t bit = 0; bit < 8 && byte * 8 + bit < r.count; ++bit) {
                const unsigned coil = r.address + byte * 8u + bit;
                if ((view->onMask >> coil) & 1u) bits = static_cast<std::uint8_t>(bits | (1u << bit));
            }
            reply.pdu.push_back(bits);
        }
        return reply;
    }
    reply.pdu.push_back(static_cast<std::uint8_t>(2 * r.count));
    for (std::uint16_t i = 0; i < r.count; ++i) {
        const auto address = static_cast<std::uint16_t>(r.address + i);
        Put(reply.pdu, r.function == kReadHoldingRegisters ? HoldingRegister(*view, address)
                                                           : InputRegister(*view, address));
    }
    return reply;
}

// The answer to a write that was done: FC05/06 echo the request, FC15/16 its address and count.
Reply Written(const Request& r) {
    Reply reply;
    reply.pdu.push_back(r.function);
    Put(reply.pdu, r.address);
    if (r.function == kWriteSingleCoil) {
        Put(reply.pdu, r.values[0] ? 0xFF00 : 0x0000);
    } else if (r.function == kWriteSingleRegister) {
        Put(reply.pdu, r.values[0]);
    } else {
        Put(reply.pdu, r.count);
    }
    return reply;
}

Reply Done(const Request& r, const OpResult& result) {
    const std::uint8_t code = ExceptionOf(result);
    return code == kNone ? Written(r) : Fail(r.function, code);
}

Reply Write(Backend& backend, const Request& r, const std::string& controller) {
    const unsigned end = static_cast<unsigned>(r.address) + r.count;
    if (r.function == kWriteSingleCoil || r.function == kWriteMultipleCoils) {
        if (end > kCoils) return Fail(r.function, kIllegalAddress);
        std::vector<bool> on;
        for (const std::uint16_t v : r.values) on.push_back(v != 0);
        return Done(r, backend.SetOn(controller, r.address + 1, on));
    }
    if (r.address == kRecipeRegister && r.count == 1) {
        const int number = r.values[0];
        if (number < 1 || number > kMaxRecipeNumber) return Fail(r.function, kIllegalValue);
        return Done(r, backend.StartRecipe(controller, number));
    }
    if (end > kBrightnessRegisters) return Fail(r.function, kIllegalAddress);
    std::vector<int> values;
    for (const std::uint16_t v : r.values) {
        if (v > kMaxBrightness) return Fail(r.function, kIllegalValue);
        values.push_back(v);
    }
    return Done(r, backend.SetBrightness(controller, r.address + 1, values));
}

}  // namespace

std::uint8_t Decode(std::uint8_t unit, const std::uint8_t* pdu, std::size_t size, Request& request) {
    request = Request{};
    request.unit = unit;
    if (size < 1) return kIllegalFunction;
    request.function = pdu[0];
    switch (request.function) {
    case kReadCoils:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        if (size != 5) return kIllegalValue;
        request.address = Word(pdu + 1);
        request.count = Word(pdu + 3);
        return kNone;
    case kWriteSingleCoil: {
        if (size != 5) return kIllegalValue;
        request.address = Word(pdu + 1);
        request.count = 1;
        const std::uint16_t v = Word(pdu + 3);
        if (v != 0xFF00 && v != 0x0000) return kIllegalValue;
        request.values.push_back(v == 0xFF00 ? 1 : 0);
        return kNone;
    }
    case kWriteSingleRegister:
        if (size != 5) return kIllegalValue;
        request.address = Word(pdu + 1);
        request.count = 1;
        request.values.push_back(Word(pdu + 3));
        return kNone;
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters: {
        if (size < 6) return kIllegalValue;
        request.address = Word(pdu + 1);
        request.count = Word(pdu + 3);
        const std::size_t bytes = pdu[5];
        const bool coils = request.function == kWriteMultipleCoils;
        if (request.count < 1 || request.count > (coils ? kMaxWriteBits : kMaxWriteRegisters)) return kIllegalValue;
        const std::size_t want = coils ? (request.count + 7u) / 8u : 2u * request.count;
        if (bytes != want || size != 6 + bytes) return kIllegalValue;
        for (std::uint16_t i = 0; i < request.count; ++i) {
            request.values.push_back(coils ? static_cast<std::uint16_t>((pdu[6 + i / 8] >> (i % 8)) & 1u)
                                           : Word(pdu + 6 + 2 * i));
        }
        return kNone;
    }
    default: return kIllegalFunction;
    }
}

Reply Handle(Backend& backend, const Request& r) {
    const std::string controller = backend.ControllerForUnit(r.unit);
    if (controller.empty()) return Fail(r.function, kGatewayPathUnavailable);
    switch (r.function) {
    case kReadCoils:
    case kReadHoldingRegisters:
    case kReadInputRegisters: return Read(backend, r, controller);
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
        if (r.values.size() != r.count || r.count < 1) return Fail(r.function, kIllegalValue);
        return Write(backend, r, controller);
    default: return Fail(r.function, kIllegalFunction);
    }
}

Reply Answer(Backend& backend, std::uint8_t unit, const std::uint8_t* pdu, std::size_t size) {
    Request request;
    const std::uint8_t code = Decode(unit, pdu, size, request);
    if (code != kNone) return Fail(size > 0 ? pdu[0] : 0, code);
    return Handle(backend, request);
}

std::uint8_t ExceptionOf(const OpResult& result) {
    switch (result.code) {
    case OpResult::Code::Done: return kNone;
    case OpResult::Code::NoController: return kGatewayPathUnavailable;
    case OpResult::Code::NotConnected: return kGatewayTargetFailed;
    case OpResult::Code::Unknown: return kIllegalValue;
    case OpResult::Code::Busy: return kDeviceBusy;
    case OpResult::Code::Failed: break;
    }
    if (!result.error) return kDeviceFailure;
    switch (result.error->kind()) {
    case lumitrax::ErrorKind::Argument: return kIllegalValue;
    case lumitrax::ErrorKind::Port:
    case lumitrax::ErrorKind::NoAnswer:
    case lumitrax::ErrorKind::Interrupted: return kGatewayTargetFailed;
    case lumitrax::ErrorKind::Refused:
    case lumitrax::ErrorKind::File: return kDeviceFailure;
    }
    return kDeviceFailure;
}

}  // namespace service::modbus

// Modbus requests of any shape through the register map (service/modbus_map.h) with a double
// of the service: the first byte is the unit identifier, the second picks what every operation
// answers, the rest is the PDU. Every answer must be well formed for its function: an
// exception is the function code with bit 7 and one code; a read answers exactly the bytes
// asked for; a write the map refused never reached an operation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "modbus_map.h"

namespace {

using namespace service;
using namespace service::modbus;

class Double : public Backend {
public:
    explicit Double(std::uint8_t mode) : mode_(mode) {
        view_.connected = (mode & 1) != 0;
        view_.serialNumber = std::string(mode % 17, 'S');
        view_.brightness.fill(mode * 5);
        view_.onMask = static_cast<std::uint16_t>(mode * 257);
        view_.applyDifferences = mode * 300;
        view_.connectedSeconds = static_cast<std::uint64_t>(mode) << 12;
    }
    std::string ControllerForUnit(int unit) override { return unit % 3 == 0 ? std::string() : "top"; }
    std::optional<ViewSnapshot> View(const std::string&) override {
        if ((mode_ & 0x40) != 0) return std::nullopt;
        return view_;
    }
    OpResult SetBrightness(const std::string&, int first, const std::vector<int>& values) override {
        Check(first, values.size());
        for (const int v : values) {
            if (v < 0 || v > 1024) std::abort();
        }
        return Result();
    }
    OpResult SetOn(const std::string&, int first, const std::vector<bool>& on) override {
        Check(first, on.size());
        return Result();
    }
    OpResult StartRecipe(const std::string&, int number) override {
        if (number < 1 || number > 9999) std::abort();
        ++writes;
        return Result();
    }
    int writes = 0;

private:
    void Check(int first, std::size_t count) {
        if (count < 1 || first < 1 || first + static_cast<int>(count) - 1 > 16) std::abort();
        ++writes;
    }
    OpResult Result() const {
        OpResult r;
        switch ((mode_ >> 2) & 7) {
        case 1: r.code = OpResult::Code::NotConnected; break;
        case 2: r.code = OpResult::Code::Busy; break;
        case 3: r.code = OpResult::Code::Unknown; break;
        case 4:
            r.code = OpResult::Code::Failed;
            r.error = lumitrax::Error(static_cast<lumitrax::ErrorKind>(mode_ % 6), "fuzz");
            break;
        default: break;
        }
        return r;
    }
    std::uint8_t mode_;
    ViewSnapshot view_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Double backend(data[1]);
    const Reply reply = Answer(backend, data[0], data + 2, size - 2);
    const std::uint8_t function = size > 2 ? data[2] : 0;
    if (reply.exception != kNone) {
        if (reply.pdu.size() != 2 || reply.pdu[0] != (function | 0x80) || reply.pdu[1] != reply.exception) std::abort();
        return 0;
    }
    if (reply.pdu.empty() || reply.pdu[0] != function) std::abort();
    Request request;
    if (Decode(data[0], data + 2, size - 2, request) != kNone) std::abort();  // answered, so it decoded
    switch (function) {
    case kReadCoils:
        if (reply.pdu.size() != 2u + (request.count + 7u) / 8u || reply.pdu[1] != (request.count + 7) / 8) std::abort();
        break;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        if (reply.pdu.size() != 2u + 2u * request.count || reply.pdu[1] != 2 * request.count) std::abort();
        break;
    default:
        if (reply.pdu.size() != 5 || backend.writes != 1) std::abort();
        break;
    }
    return 0;
}

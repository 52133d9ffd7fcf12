#pragma once
// lumitraxd's Modbus register map (docs/modbus.md, map version 1) as a pure function from one
// request's PDU to the answer's PDU. No socket and no controller: what it reads and writes goes
// through a Backend (the service; a double in tests and the fuzz target). Every value is
// checked here before the Backend is asked to write anything.
//
// Addresses are zero-based as on the wire:
//   coils 0..15            channel 1..16 on                      FC01, FC05, FC15
//   holding 0..15          channel 1..16 brightness 0..1024      FC03, FC06, FC16
//   holding 100            recipe number: a write applies it     FC03, FC06, FC16
//   input 0..6             connected, error code, error detail, inputs, outputs, heartbeat,
//                          map version                           FC04
//   input 100..102         last apply: state, recipe number, differences
//   input 200..208         model channel count, serial number (ASCII, two characters each)

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller_view.h"
#include "op_result.h"

namespace service::modbus {

constexpr std::uint16_t kMapVersion = 1;

enum Function : std::uint8_t {
    kReadCoils = 0x01,
    kReadHoldingRegisters = 0x03,
    kReadInputRegisters = 0x04,
    kWriteSingleCoil = 0x05,
    kWriteSingleRegister = 0x06,
    kWriteMultipleCoils = 0x0F,
    kWriteMultipleRegisters = 0x10,
};

enum Exception : std::uint8_t {
    kNone = 0,
    kIllegalFunction = 0x01,
    kIllegalAddress = 0x02,
    kIllegalValue = 0x03,
    kDeviceFailure = 0x04,
    kDeviceBusy = 0x06,
    kGatewayPathUnavailable = 0x0A,
    kGatewayTargetFailed = 0x0B,
};

// Holding and input register addresses of the map.
constexpr std::uint16_t kRecipeRegister = 100;      // holding
constexpr std::uint16_t kApplyStateRegister = 100;  // input 100..102
constexpr std::uint16_t kModelChannelsRegister = 200;  // input 200, serial number 201..208
constexpr int kSerialRegisters = 8;

// One request with its values decoded: registers as sent, coils as 0 or 1.
struct Request {
    std::uint8_t function = 0;
    std::uint8_t unit = 0;
    std::uint16_t address = 0;
    std::uint16_t count = 0;
    std::vector<std::uint16_t> values;
};

// What the map needs of the service.
class Backend {
public:
    virtual ~Backend() = default;
    // The controller the unit identifier reaches; empty when none.
    virtual std::string ControllerForUnit(int unit) = 0;
    virtual std::optional<ViewSnapshot> View(const std::string& controller) = 0;
    // Brightness of channels first.. (1-based), all values in one go.
    virtual OpResult SetBrightness(const std::string& controller, int first, const std::vector<int>& values) = 0;
    virtual OpResult SetOn(const std::string& controller, int first, const std::vector<bool>& on) = 0;
    virtual OpResult StartRecipe(const std::string& controller, int number) = 0;
};

struct Reply {
    std::uint8_t exception = kNone;
    std::vector<std::uint8_t> pdu;  // the answer (function code first), or the exception's
};

// Decodes a PDU (function code, then its data, as after the MBAP header); returns kNone and
// fills request, or the exception a malformed or unsupported request gets.
std::uint8_t Decode(std::uint8_t unit, const std::uint8_t* pdu, std::size_t size, Request& request);
// Answers a decoded request.
Reply Handle(Backend& backend, const Request& request);
// Decode, then Handle.
Reply Answer(Backend& backend, std::uint8_t unit, const std::uint8_t* pdu, std::size_t size);
// The exception code an operation's result gets (kNone when it was done).
std::uint8_t ExceptionOf(const OpResult& result);

}  // namespace service::modbus

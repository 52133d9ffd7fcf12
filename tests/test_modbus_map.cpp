// The Modbus register map (service/modbus_map.h) over a recording double of the service: which
// requests reach which operation with which values, and which exception every bad one gets
// without anything being written.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller_view.h"
#include "modbus_map.h"

namespace {

using namespace service;
using namespace service::modbus;

// One controller "top" on unit 1 (and the default units 0 and 255); every write is recorded.
class RecordingBackend : public Backend {
public:
    struct Call {
        std::string what;  // "brightness", "on", "recipe"
        int first = 0;
        std::vector<int> values;
    };
    std::string ControllerForUnit(int unit) override {
        return unit == 1 || unit == 0 || unit == 255 ? "top" : std::string();
    }
    std::optional<ViewSnapshot> View(const std::string&) override { return view; }
    OpResult SetBrightness(const std::string&, int first, const std::vector<int>& values) override {
        calls.push_back({"brightness", first, values});
        return result;
    }
    OpResult SetOn(const std::string&, int first, const std::vector<bool>& on) override {
        calls.push_back({"on", first, std::vector<int>(on.begin(), on.end())});
        return result;
    }
    OpResult StartRecipe(const std::string&, int number) override {
        calls.push_back({"recipe", 0, {number}});
        return result;
    }
    ViewSnapshot view;
    OpResult result;
    std::vector<Call> calls;
};

using Bytes = std::vector<std::uint8_t>;

Bytes Regs(std::uint8_t fn, std::uint16_t address, const std::vector<std::uint16_t>& values) {
    Bytes p = {fn, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
               0, static_cast<std::uint8_t>(values.size()), static_cast<std::uint8_t>(2 * values.size())};
    for (const std::uint16_t v : values) {
        p.push_back(static_cast<std::uint8_t>(v >> 8));
        p.push_back(static_cast<std::uint8_t>(v));
    }
    return p;
}

Reply Ask(Backend& b, std::uint8_t unit, const Bytes& pdu) { return Answer(b, unit, pdu.data(), pdu.size()); }

TEST(ModbusMap, EveryBadRequestGetsItsExceptionAndWritesNothing) {
    struct Case {
        const char* name;
        std::uint8_t unit;
        Bytes pdu;
        std::uint8_t exception;
    };
    const std::vector<Case> cases = {
        {"unsupported function", 1, {0x08, 0, 0, 0, 0}, kIllegalFunction},
        {"read device identification", 1, {0x2B, 0x0E, 1, 0}, kIllegalFunction},
        {"empty PDU", 1, {}, kIllegalFunction},
        {"no controller on the unit", 9, {0x03, 0, 0, 0, 1}, kGatewayPathUnavailable},
        {"write to a unit with none", 9, {0x06, 0, 0, 0, 1}, kGatewayPathUnavailable},
        {"brightness 1025", 1, {0x06, 0, 2, 0x04, 0x01}, kIllegalValue},
        {"one of several out of range", 1, Regs(0x10, 0, {10, 20, 1025}), kIllegalValue},
        {"register past channel 16", 1, {0x06, 0, 16, 0, 1}, kIllegalAddress},
        {"block running past channel 16", 1, Regs(0x10, 14, {1, 2, 3}), kIllegalAddress},
        {"coil past channel 16", 1, {0x05, 0, 16, 0xFF, 0}, kIllegalAddress},
        {"coil value neither on nor off", 1, {0x05, 0, 1, 0x12, 0x34}, kIllegalValue},
        {"coils past channel 16", 1, {0x0F, 0, 15, 0, 2, 1, 3}, kIllegalAddress},
        {"coil byte count wrong", 1, {0x0F, 0, 0, 0, 9, 1, 0xFF}, kIllegalValue},
        {"register byte count wrong", 1, {0x10, 0, 0, 0, 2, 2, 0, 1}, kIllegalValue},
        {"zero registers", 1, {0x10, 0, 0, 0, 0, 0}, kIllegalValue},
        {"frame shorter than its count", 1, {0x10, 0, 0, 0, 2, 4, 0, 1}, kIllegalValue},
        {"recipe number 0", 1, {0x06, 0, 100, 0, 0}, kIllegalValue},
        {"recipe number 10000", 1, {0x06, 0, 100, 0x27, 0x10}, kIllegalValue},
        {"recipe with the register after it", 1, Regs(0x10, 100, {12, 1}), kIllegalAddress},
        {"read of an unmapped holding register", 1, {0x03, 0, 50, 0, 1}, kIllegalAddress},
        {"read spanning brightness and the gap", 1, {0x03, 0, 15, 0, 2}, kIllegalAddress},
        {"read of 126 registers", 1, {0x03, 0, 0, 0, 126}, kIllegalValue},
        {"read of no register", 1, {0x04, 0, 0, 0, 0}, kIllegalValue},
        {"input past the status block", 1, {0x04, 0, 0, 0, 8}, kIllegalAddress},
        {"input past the serial number", 1, {0x04, 0, 200, 0, 10}, kIllegalAddress},
        {"coil read past 16", 1, {0x01, 0, 8, 0, 9}, kIllegalAddress},
        {"read with a trailing byte", 1, {0x03, 0, 0, 0, 1, 0}, kIllegalValue},
    };
    for (const Case& c : cases) {
        RecordingBackend b;
        const Reply r = Ask(b, c.unit, c.pdu);
        EXPECT_EQ(r.exception, c.exception) << c.name;
        ASSERT_EQ(r.pdu.size(), 2u) << c.name;
        EXPECT_EQ(r.pdu[1], c.exception) << c.name;
        EXPECT_EQ(r.pdu[0], static_cast<std::uint8_t>((c.pdu.empty() ? 0 : c.pdu[0]) | 0x80)) << c.name;
        EXPECT_TRUE(b.calls.empty()) << c.name << ": wrote " << b.calls.front().what;
    }
}

TEST(ModbusMap, WritesReachOneOperationWithTheirValues) {
    struct Case {
        const char* name;
        std::uint8_t unit;
        Bytes pdu;
        const char* what;
        int first;
        std::vector<int> values;
        Bytes answer;
    };
    const std::vector<Case> cases = {
        {"FC06 one brightness", 1, {0x06, 0, 2, 0x02, 0xBC}, "brightness", 3, {700}, {0x06, 0, 2, 0x02, 0xBC}},
        {"FC16 all sixteen in one call", 1, Regs(0x10, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1024}),
         "brightness", 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1024}, {0x10, 0, 0, 0, 16}},
        {"FC16 a middle block", 0, Regs(0x10, 4, {500, 501}), "brightness", 5, {500, 501}, {0x10, 0, 4, 0, 2}},
        {"FC05 on", 255, {0x05, 0, 15, 0xFF, 0}, "on", 16, {1}, {0x05, 0, 15, 0xFF, 0}},
        {"FC05 off", 1, {0x05, 0, 0, 0, 0}, "on", 1, {0}, {0x05, 0, 0, 0, 0}},
        {"FC15 ten coils as one mask", 1, {0x0F, 0, 2, 0, 10, 2, 0b10000101, 0b10}, "on", 3,
         {1, 0, 1, 0, 0, 0, 0, 1, 0, 1}, {0x0F, 0, 2, 0, 10}},
        {"FC06 recipe number", 1, {0x06, 0, 100, 0, 12}, "recipe", 0, {12}, {0x06, 0, 100, 0, 12}},
        {"FC16 recipe number", 1, Regs(0x10, 100, {9999}), "recipe", 0, {9999}, {0x10, 0, 100, 0, 1}},
    };
    for (const Case& c : cases) {
        RecordingBackend b;
        const Reply r = Ask(b, c.unit, c.pdu);
        EXPECT_EQ(r.exception, kNone) << c.name;
        EXPECT_EQ(r.pdu, c.answer) << c.name;
        ASSERT_EQ(b.calls.size(), 1u) << c.name;
        EXPECT_EQ(b.calls[0].what, c.what) << c.name;
        EXPECT_EQ(b.calls[0].first, c.first) << c.name;
        EXPECT_EQ(b.calls[0].values, c.values) << c.name;
    }
}

TEST(ModbusMap, AnOperationsFailureIsTheGatewaysException) {
    struct Case {
        const char* name;
        OpResult result;
        std::uint8_t exception;
    };
    const auto failed = [](lumitrax::ErrorKind kind) {
        OpResult r;
        r.code = OpResult::Code::Failed;
        r.error = lumitrax::Error(kind, "x");
        return r;
    };
    const auto code = [](OpResult::Code c) {
        OpResult r;
        r.code = c;
        return r;
    };
    const std::vector<Case> cases = {
        {"not connected", code(OpResult::Code::NotConnected), kGatewayTargetFailed},
        {"no answer", failed(lumitrax::ErrorKind::NoAnswer), kGatewayTargetFailed},
        {"lost during the write", failed(lumitrax::ErrorKind::Port), kGatewayTargetFailed},
        {"channel above the model's count", failed(lumitrax::ErrorKind::Argument), kIllegalValue},
        {"refused by the controller", failed(lumitrax::ErrorKind::Refused), kDeviceFailure},
        {"unknown recipe number", code(OpResult::Code::Unknown), kIllegalValue},
        {"apply still running", code(OpResult::Code::Busy), kDeviceBusy},
        {"controller removed meanwhile", code(OpResult::Code::NoController), kGatewayPathUnavailable},
    };
    for (const Case& c : cases) {
        RecordingBackend b;
        b.result = c.result;
        const Reply r = Ask(b, 1, {0x06, 0, 100, 0, 12});
        EXPECT_EQ(r.exception, c.exception) << c.name;
        EXPECT_EQ(r.pdu, (Bytes{0x86, c.exception})) << c.name;
    }
}

TEST(ModbusMap, ReadsAnswerFromTheView) {
    RecordingBackend b;
    b.view.connected = false;  // reads still answer, with "connected" 0
    b.view.error = {7, 0x21};
    b.view.io = {true, false, false, true};
    b.view.brightness[0] = 1024;
    b.view.brightness[15] = 3;
    b.view.onMask = 0b1000'0000'0000'0101;
    b.view.apply = ApplyState::Differs;
    b.view.applyRecipe = 12;
    b.view.applyDifferences = 2;
    b.view.modelChannels = 8;
    b.view.serialNumber = "LX24A";
    b.view.connectedSeconds = 65536 + 5;  // the heartbeat wraps at 16 bits

    EXPECT_EQ(Ask(b, 1, {0x04, 0, 0, 0, 7}).pdu,
              (Bytes{0x04, 14, 0, 0, 0, 7, 0, 0x21, 0, 1, 0, 2, 0, 5, 0, 1}));
    EXPECT_EQ(Ask(b, 1, {0x04, 0, 100, 0, 3}).pdu, (Bytes{0x04, 6, 0, 3, 0, 12, 0, 2}));
    EXPECT_EQ(Ask(b, 1, {0x04, 0, 200, 0, 4}).pdu, (Bytes{0x04, 8, 0, 8, 'L', 'X', '2', '4', 'A', 0}));
    EXPECT_EQ(Ask(b, 1, {0x03, 0, 15, 0, 1}).pdu, (Bytes{0x03, 2, 0, 3}));
    EXPECT_EQ(Ask(b, 1, {0x03, 0, 0, 0, 1}).pdu, (Bytes{0x03, 2, 0x04, 0x00}));
    EXPECT_EQ(Ask(b, 1, {0x03, 0, 100, 0, 1}).pdu, (Bytes{0x03, 2, 0, 12}));
    EXPECT_EQ(Ask(b, 1, {0x01, 0, 0, 0, 16}).pdu, (Bytes{0x01, 2, 0b101, 0b1000'0000}));
    EXPECT_EQ(Ask(b, 1, {0x01, 0, 2, 0, 14}).pdu, (Bytes{0x01, 2, 0b1, 0b10'0000}));
    EXPECT_TRUE(b.calls.empty());
}

TEST(ControllerView, AnApplyIsStartedOnceAndAReconnectionForgetsTheLight) {
    ControllerView v;
    v.SetConnected(true);
    v.SetLight({}, 0x00FF);
    EXPECT_TRUE(v.Snapshot().lightKnown);
    EXPECT_TRUE(v.BeginApply(12));
    EXPECT_FALSE(v.BeginApply(13));
    EXPECT_EQ(v.Snapshot().applyRecipe, 12);
    v.EndApply(ApplyState::Verified, 0);
    EXPECT_TRUE(v.BeginApply(13));
    v.SetConnected(false);
    v.SetConnected(true);
    EXPECT_FALSE(v.Snapshot().lightKnown);
    EXPECT_EQ(v.Snapshot().onMask, 0x00FF);  // kept for reads until read again
}

}  // namespace

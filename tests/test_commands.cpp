// The outgoing commands: bytes on the wire, log entries, pauses and refusals.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "commands.h"
#include "decimal_comma_locale.h"
#include "device_link.h"
#include "fake_serial_port.h"
#include "trigger_setting.h"

namespace {

const OneValueArg v0{0}, v1{1}, v3{3}, v9{9}, v10{10}, v16{16}, v200{200}, v255{255};
const SignedValueArg s5{5}, s128{static_cast<std::int8_t>(128)}, s200{static_cast<std::int8_t>(200)},
    sMinus1{-1};
const TwoValuesArg two_2_1{2, 1}, two_255_16{255, 16}, two_1_0{1, 0};
const BrightnessArg b_0_1024{0, 1024}, b_2_512{2, 512}, b_15_65535{15, 65535};
const MaskArg m0{0}, mAll{0xFFFFFFFFu}, m5{0x5};
const Value16Arg off17{17}, off65535{65535};
const TriggerSetting trig{1, 1, 0, 99, 49, 490};
// The off time follows the on time (ten times it, in 16 bits).
const TriggerSetting trigLongest = MakeTriggerSetting(3, 0, 1, 0, 3999), trigWrapped = MakeTriggerSetting(0, 1, 0, 4000, 6554);
const BandwidthArg bw{3, 0.5f, 1.2f};
const BandwidthArg bwNeg{0, -0.25f, 100.0f};
const TextArg sn{"SN-0042"}, raw{"getswitch\r"}, rawNoCr{"echo 0"}, rawEmpty{""};

struct EncodeCase {
    int id;
    const void* args;
    std::string bytes;
};

// Every id that has a command, with the catalogue's examples among them.
const EncodeCase kCases[] = {
    {CMD_SETTRIGCHANNEL, &v3, "settrigchannel 3\r"},
    {CMD_GETTRIGCHANNEL, nullptr, "gettrigchannel\r"},
    {CMD_SETUSEONOFF, &v1, "setuseonoff 1\r"},
    {CMD_GETUSEONOFF, nullptr, "getuseonoff\r"},
    {CMD_SETUSETRIG, &v0, "setusetrig 0\r"},
    {CMD_GETUSETRIG, nullptr, "getusetrig\r"},
    {CMD_SETSOFTSTART, &v1, "setsoftstart 1\r"},
    {CMD_GETSOFTSTART, nullptr, "getsoftstart\r"},
    {CMD_SETUSEPWM, &v1, "setusepwm 1\r"},
    {CMD_GETUSEPWM, nullptr, "getusepwm\r"},
    {CMD_GETSWITCH, nullptr, "getswitch\r"},
    {CMD_GETMANBRIGHT, &v3, "getmanbright 3\r"},
    {CMD_SETDEBUG, &v0, "setdebug 0\r"},
    {CMD_GETDEBUG, nullptr, "getdebug\r"},
    {CMD_RESET, nullptr, "reset\r"},
    {CMD_GETMODULEINFO, nullptr, "getmoduleinfo\r"},
    {CMD_GETBUILDINFO, nullptr, "getbuildinfo\r"},
    {CMD_SETUSEPACKET, &v1, "setusepacket 1\r"},
    {CMD_GETUSEPACKET, nullptr, "getusepacket\r"},
    {CMD_SETMODELCH, &v16, "setmodelch 16\r"},
    {CMD_GETMODELCH, nullptr, "getmodelch\r"},
    {CMD_GETVERSIONINFO, nullptr, "getversioninfo\r"},
    {CMD_GETFWVERSIONINFO, nullptr, "getfwversioninfo\r"},
    {CMD_GETFPGAVERSIONINFO, nullptr, "getfpgaversioninfo\r"},
    {CMD_SETMODELSAVE, nullptr, "setmodelsave\r"},
    {CMD_SETBRIGHTNESS, &b_0_1024, "# 0 1024\r"},
    {CMD_SETBRIGHTNESS, &b_2_512, "# 2 512\r"},
    {CMD_SETBRIGHTNESS, &b_15_65535, "# 15 65535\r"},
    {CMD_GETBRIGHTNESS, &v255, "$ 255\r"},
    {CMD_SETON, &two_2_1, "seton 2 1\r"},
    {CMD_GETON, &v3, "geton 3\r"},
    {CMD_SETONEX, &m0, "setonex 00000000\r"},
    {CMD_SETONEX, &mAll, "setonex ffffffff\r"},
    {CMD_SETONEX, &m5, "setonex 00000005\r"},
    {CMD_GETONEX, nullptr, "getonex\r"},
    {CMD_SAVEBRIGHT, &v9, "savebright 9\r"},
    {CMD_LOADBRIGHT, &v3, "loadbright 3\r"},
    {CMD_FACTORYRESET, nullptr, "factoryreset\r"},
    {CMD_SETERRIGNORE, &v1, "seterrignore 1\r"},
    {CMD_GETERRSTATUS, nullptr, "geterrstatus\r"},
    {CMD_SETTRIGGER, &trig, "settrigger 1 1 0 99 49 490\r"},
    {CMD_SETTRIGGER, &trigLongest, "settrigger 3 0 1 0 3999 39990\r"},
    {CMD_SETTRIGGER, &trigWrapped, "settrigger 0 1 0 4000 6554 4\r"},
    {CMD_GETTRIGGER, &v3, "gettrigger 3\r"},
    {CMD_SAVETRIGGER, &v1, "savetrigger 1\r"},
    {CMD_LOADTRIGGER, &v0, "loadtrigger 0\r"},
    {CMD_SETBANDWIDTH, &bw, "setbandwidth 0.500000 1.200000\r"},
    {CMD_SETBANDWIDTH, &bwNeg, "setbandwidth -0.250000 100.000000\r"},
    {CMD_GETBANDWIDTH, nullptr, "getbandwidth\r"},
    {CMD_SETBANDWIDTHEX, &bw, "setbandwidthex 3 0.500000 1.200000\r"},
    {CMD_GETBANDWIDTHEX, &v255, "getbandwidthex 255\r"},
    {CMD_GETBRIGHTINDEX, nullptr, "getbrightindex\r"},
    {CMD_GETTRIGINDEX, nullptr, "gettrigindex\r"},
    {CMD_SETTRIGTEST, &v1, "settrigtest 1\r"},
    {CMD_SETONESHOTTRIG, nullptr, "setoneshottrig\r"},
    {CMD_FPGAREGSET, &two_255_16, "fpgaregset ff 10\r"},
    {CMD_SETSN, &sn, "setsn SN-0042\r"},
    {CMD_GETSN, nullptr, "getsn\r"},
    {CMD_SETMODULEID, &s5, "setmoduleid 5\r"},
    {CMD_SETMODULEID, &s128, "setmoduleid -128\r"},
    {CMD_SETMODULEID, &sMinus1, "setmoduleid -1\r"},
    {CMD_GETMODULEID, nullptr, "getmoduleid\r"},
    {CMD_SAVESN, nullptr, "savesn\r"},
    {CMD_SAVEID, nullptr, "saveid\r"},
    {CMD_SETBUZZER, &s200, "setbuzzer -56\r"},
    {CMD_RAW, &raw, "getswitch\r"},
    {CMD_RAW, &rawNoCr, "echo 0"},
    {CMD_SETOUTPORT, &two_1_0, "setoutport 1 0\r"},
    {CMD_SETOUTPORTALL, &v10, "setoutportall a\r"},
    {CMD_SETOUTPORTALL, &v200, "setoutportall c8\r"},
    {CMD_GETPORTSTATUS, nullptr, "getportstatus\r"},
    {CMD_GETTOTALONOFF, nullptr, "gettotalonoff\r"},
    {CMD_SETOFFSET, &off17, "setoffset 17\r"},
    {CMD_SETOFFSET, &off65535, "setoffset 65535\r"},
    {CMD_GETOFFSET, nullptr, "getoffset\r"},
};

TEST(Encoder, EveryCommandHasItsBytesAndLogEntry) {
    bool covered[kCommandCount] = {};
    for (const EncodeCase& c : kCases) {
        EncodedCommand out;
        ASSERT_EQ(EncodeCommand(c.id, c.args, out), EncodeResult::Ok) << c.bytes;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.bytes), out.length), c.bytes);
        EXPECT_EQ(std::string(out.logText), "-> " + c.bytes);
        covered[c.id] = true;
    }
    for (int id = 0; id < kCommandCount; ++id) {
        if (id == CMD_SETBRIGHTPACKET || id == CMD_RESERVED50 || id == CMD_RESERVED51) {
            continue;
        }
        EXPECT_TRUE(covered[id]) << "no case for id " << id;
    }
}

TEST(Encoder, FloatsIgnoreTheUserLocale) {
    const DecimalCommaLocale comma;
    if (!comma.Active()) {
        GTEST_SKIP() << "localedef could not build a decimal-comma locale";
    }
    EncodedCommand out;
    ASSERT_EQ(EncodeCommand(CMD_SETBANDWIDTHEX, &bw, out), EncodeResult::Ok);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.bytes), out.length),
              "setbandwidthex 3 0.500000 1.200000\r");
}

TEST(Encoder, BrightnessPacketIs38BytesBigEndian) {
    PacketArg packet;
    packet.values[0] = 0x0102;
    EncodedCommand out;
    ASSERT_EQ(EncodeCommand(CMD_SETBRIGHTPACKET, &packet, out), EncodeResult::Ok);
    std::string expected = "\xFE\xFE\x1B";
    expected += std::string(1, '\0');
    expected += "\x20\x01\x02";
    expected += std::string(30, '\0');
    expected += "\xFD";
    ASSERT_EQ(out.length, 38u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.bytes), out.length), expected);
    EXPECT_EQ(std::string(out.logText), "-> \xFE\xFE\x1B");

    for (int i = 0; i < kChannelCount; ++i) {
        packet.values[i] = static_cast<std::uint16_t>(0xA000 + i);
    }
    ASSERT_EQ(EncodeCommand(CMD_SETBRIGHTPACKET, &packet, out), EncodeResult::Ok);
    for (int i = 0; i < kChannelCount; ++i) {
        EXPECT_EQ(out.bytes[5 + 2 * i], 0xA0);
        EXPECT_EQ(out.bytes[6 + 2 * i], i);
    }
    EXPECT_EQ(out.bytes[37], PACKET_END);
}

TEST(Encoder, RefusesWhatCannotBeSentWhole) {
    const std::string sixtyTwo(62, 'x');        // with "\r": 63 characters, the most a command holds
    const std::string sixtyThree(63, 'x');
    const std::string snTooLong(57, '1');  // "setsn " + 57 + "\r" = 64 characters
    const std::string snMax(56, '1');
    const std::string rawMaxText = sixtyTwo + "\r";
    const std::string rawOverText = sixtyThree + "\r";
    const TextArg rawMax{rawMaxText.c_str()};
    const TextArg rawOver{rawOverText.c_str()};
    const TextArg snOk{snMax.c_str()};
    const TextArg snOver{snTooLong.c_str()};
    const BandwidthArg huge{255, 3.0e38f, 3.0e38f};

    struct Case {
        int id;
        const void* args;
        EncodeResult result;
    } cases[] = {
        {CMD_RAW, &rawMax, EncodeResult::Ok},
        {CMD_RAW, &rawOver, EncodeResult::TooLong},
        {CMD_SETSN, &snOk, EncodeResult::Ok},
        {CMD_SETSN, &snOver, EncodeResult::TooLong},
        {CMD_SETBANDWIDTHEX, &huge, EncodeResult::TooLong},
        {CMD_RESERVED50, nullptr, EncodeResult::NothingToSend},
        {CMD_RESERVED51, nullptr, EncodeResult::NothingToSend},
        {66, nullptr, EncodeResult::UnknownId},
        {-1, nullptr, EncodeResult::UnknownId},
        {CMD_SETONEX, nullptr, EncodeResult::MissingArgs},
    };
    for (const Case& c : cases) {
        EncodedCommand out;
        EXPECT_EQ(EncodeCommand(c.id, c.args, out), c.result) << "id " << c.id;
        if (c.result != EncodeResult::Ok) {
            EXPECT_EQ(out.length, 0u);
        } else {
            EXPECT_EQ(out.length, 63u);
        }
    }
}

// SendCommand: what reaches the port, the log and the pause.
class SendCommandTest : public ::testing::Test {
protected:
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link{line.Factory()};

    std::vector<std::string> Log() { return DrainLog(link); }
};

TEST_F(SendCommandTest, WritesOnceLogsAndPauses10ms) {
    ASSERT_NE(link.OpenPort(3), 0);
    const BrightnessArg arg{2, 512};
    link.SendCommand(CMD_SETBRIGHTNESS, &arg);
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0], "# 2 512\r");
    EXPECT_EQ(Log(), std::vector<std::string>{"-> # 2 512\r"});
    EXPECT_EQ(pauses.pauses, std::vector<int>{10});
}

TEST_F(SendCommandTest, DoesNothingWithoutPortOrForBadCommands) {
    const MaskArg mask{1};
    link.SendCommand(CMD_SETONEX, &mask);  // no port yet
    ASSERT_NE(link.OpenPort(3), 0);
    const std::string longText(70, 'a');
    const TextArg tooLong{longText.c_str()};
    link.SendCommand(66, nullptr);
    link.SendCommand(-5, nullptr);
    link.SendCommand(CMD_SETSN, &tooLong);
    link.SendCommand(CMD_RAW, &tooLong);
    link.SendCommand(CMD_RESERVED50, nullptr);
    link.SendCommand(CMD_SETONEX, nullptr);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(pauses.pauses.empty());
}

TEST_F(SendCommandTest, PacketGoesOutWholeAndLogsItsHead) {
    ASSERT_NE(link.OpenPort(3), 0);
    PacketArg packet;
    packet.values[3] = 512;
    link.SendCommand(CMD_SETBRIGHTPACKET, &packet);
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0].size(), 38u);
    EXPECT_EQ(Log(), std::vector<std::string>{"-> \xFE\xFE\x1B"});
}

}  // namespace

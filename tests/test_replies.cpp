// Reply lines and what they leave in the device state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "replies.h"
#include "state_compare.h"

namespace {

using Check = std::function<void(const DeviceState&)>;

struct ReplyCase {
    std::string line;
    int id;            // expected result
    Check check;       // null: the state must be unchanged
};

const ReplyCase kCases[] = {
    {"getmodelch 16", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, 16); }},
    {"  getmodelch   8", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, 8); }},
    {"getmodelch 7.9", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, 7); }},
    {"getmodelch -2.7", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, -2); }},
    {"getmodelch 1e12", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, 2147483647); }},
    {"gettrigchannel 4", 1, [](const DeviceState& s) { EXPECT_EQ(s.trigChannelCount, 4); }},
    {"getuseonoff 1", 3, [](const DeviceState& s) { EXPECT_EQ(s.useOnOff, 1); }},
    {"getusetrig 1", 5, [](const DeviceState& s) { EXPECT_EQ(s.useTrig, 1); }},
    {"getsoftstart 1", 7, [](const DeviceState& s) { EXPECT_EQ(s.softStart, 1); }},
    {"getusepwm 1", 9, [](const DeviceState& s) { EXPECT_EQ(s.usePwm, 1); }},
    {"getdebug 1", 15, [](const DeviceState& s) { EXPECT_EQ(s.debug, 1); }},
    {"getusepacket 1", 17, [](const DeviceState& s) { EXPECT_EQ(s.usePacket, 1); }},
    {"getswitch 1 0 1 257", 12,
     [](const DeviceState& s) {
         EXPECT_EQ(s.switches[0], 1);
         EXPECT_EQ(s.switches[1], 0);
         EXPECT_EQ(s.switches[2], 1);
         EXPECT_EQ(s.switches[3], 1);  // low 8 bits of 257
     }},
    {"getmanbright 15 70000", 13,
     [](const DeviceState& s) { EXPECT_EQ(s.manualBright[15], 70000 & 0xFFFF); }},
    {"getmanbright -0.5 9", 13, [](const DeviceState& s) { EXPECT_EQ(s.manualBright[0], 9); }},
    {"getmanbright 16 9", 13, nullptr},
    {"getfwversioninfo V1.2.3", 18,
     [](const DeviceState& s) { EXPECT_STREQ(s.firmwareVersion, "V1.2.3"); }},
    {"f/w_version V9", 32, [](const DeviceState& s) { EXPECT_STREQ(s.firmwareVersion, "V9"); }},
    {"getfpgaversioninfo F7", 19, [](const DeviceState& s) { EXPECT_STREQ(s.fpgaVersion, "F7"); }},
    {"fpga_version F8 extra", 33, [](const DeviceState& s) { EXPECT_STREQ(s.fpgaVersion, "F8"); }},
    {"ID: 12", 26, [](const DeviceState& s) { EXPECT_EQ(s.moduleId, 12); }},
    {"ID:12", 255, nullptr},
    {"S/N: LX-2024-0001", 28,
     [](const DeviceState& s) { EXPECT_STREQ(s.serialNumber, "LX-2024-0001"); }},
    {"S/N: 12345678901234567", 28,
     [](const DeviceState& s) { EXPECT_STREQ(s.serialNumber, "123456789012345"); }},
    {"modulename " + std::string(40, 'M'), 31,
     [](const DeviceState& s) { EXPECT_EQ(std::string(s.moduleName), std::string(31, 'M')); }},
    {"build 2013-02-25-long-build-text", 34,
     [](const DeviceState& s) { EXPECT_STREQ(s.buildInfo, "2013-02-25-long"); }},
    {"getbrightness 3 15 1000", 42,
     [](const DeviceState& s) { EXPECT_EQ(s.brightness[3][15], 1000); }},
    {"getbrightness 9.5 0 7", 42, [](const DeviceState& s) { EXPECT_EQ(s.brightness[9][0], 7); }},
    {"getbrightness 10 0 5", 42, nullptr},
    {"getbrightness 3 16 5", 42, nullptr},
    {"getbrightness -0.5 0 5", 42, nullptr},
    {"getbrightness nan 0 5", 42, nullptr},
    {"$ 0 0 255", 43, [](const DeviceState& s) { EXPECT_EQ(s.brightness[0][0], 255); }},
    {"getonex 2 ff", 46, [](const DeviceState& s) { EXPECT_EQ(s.onMask[2], 0x00FF); }},
    {"getonex 2 1ffff", 46, [](const DeviceState& s) { EXPECT_EQ(s.onMask[2], 0xFFFF); }},
    {"getonex 2 0x8001", 46, [](const DeviceState& s) { EXPECT_EQ(s.onMask[2], 0x8001); }},
    {"getonex 10 ff", 46, nullptr},
    {"getbrightindex 12", 47, [](const DeviceState& s) { EXPECT_EQ(s.brightIndex, 12); }},
    {"getbrightindex 300", 47, [](const DeviceState& s) { EXPECT_EQ(s.brightIndex, 300 & 0xFF); }},
    {"geterrstatus 1 1f", 58,
     [](const DeviceState& s) {
         EXPECT_EQ(s.errorCode, 1);
         EXPECT_EQ(s.errorDetail, 31);
     }},
    {"gettrigger 0 1 1 1 0 99 49 490", 61,
     [](const DeviceState& s) {
         const TriggerSetting& t = s.trigger[0][1];
         EXPECT_EQ(t.triggerNo, 1);
         EXPECT_EQ(t.enable, 1);
         EXPECT_EQ(t.edge, 0);
         EXPECT_EQ(t.delay, 99);
         EXPECT_EQ(t.onTime, 49);
         EXPECT_EQ(t.offTime, 490);
     }},
    {"gettrigger 9 15 3 0 1 65536 1 2", 61,
     [](const DeviceState& s) {
         EXPECT_EQ(s.trigger[9][15].edge, 1);
         EXPECT_EQ(s.trigger[9][15].delay, 0);  // low 16 bits of 65536
     }},
    {"gettrigger 10 0 1 1 0 1 1 1", 61, nullptr},
    {"gettrigger 0 16 1 1 0 1 1 1", 61, nullptr},
    {"gettrigindex 4", 64, [](const DeviceState& s) { EXPECT_EQ(s.trigIndex, 4); }},
    {"getbandwidth 0.5 2.5", 66,
     [](const DeviceState& s) {
         for (int c = 0; c < kChannelCount; ++c) {
             EXPECT_FLOAT_EQ(s.bandwidthLow[c], 0.5f);
             EXPECT_FLOAT_EQ(s.bandwidthHigh[c], 2.5f);
         }
     }},
    {"getbandwidthex 15 1 2", 68,
     [](const DeviceState& s) {
         EXPECT_FLOAT_EQ(s.bandwidthLow[15], 1.0f);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[15], 2.0f);
         EXPECT_FLOAT_EQ(s.bandwidthLow[14], 0.0f);
     }},
    {"getbandwidthex 1 0x1.8p1 -0x10", 68,
     [](const DeviceState& s) {
         EXPECT_FLOAT_EQ(s.bandwidthLow[1], 3.0f);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[1], -16.0f);
     }},
    {"getbandwidthex 1 1e39 -0x1p200", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[1]) && s.bandwidthLow[1] > 0);
         EXPECT_TRUE(std::isinf(s.bandwidthHigh[1]) && s.bandwidthHigh[1] < 0);
     }},
    {"getbandwidthex 2 1e-60 +2.5", 68,
     [](const DeviceState& s) {
         EXPECT_FLOAT_EQ(s.bandwidthLow[2], 0.0f);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[2], 2.5f);
     }},
    // Beyond even a double: infinity or zero as the C library reads them, never a plain 0
    // that would pass a range check.
    {"getbandwidthex 4 1e400 -1e400", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[4]) && s.bandwidthLow[4] > 0);
         EXPECT_TRUE(std::isinf(s.bandwidthHigh[4]) && s.bandwidthHigh[4] < 0);
     }},
    {"getbandwidthex 5 1e-400 0.5e-999", 68,
     [](const DeviceState& s) {
         EXPECT_FLOAT_EQ(s.bandwidthLow[5], 0.0f);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[5], 0.0f);
     }},
    {"getbandwidthex 6 10000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000 0.00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000001", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[6]));
         EXPECT_FLOAT_EQ(s.bandwidthHigh[6], 0.0f);
     }},
    // The exponent and the place of the first digit together decide which way a number
    // beyond a float goes: a long whole part with a negative exponent is still too large,
    // a long run of fraction zeros with a positive exponent still too small.
    {"getbandwidthex 7 1" + std::string(45, '0') + "e-5 0." + std::string(50, '0') + "1e5", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[7]) && s.bandwidthLow[7] > 0);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[7], 0.0f);
     }},
    {"getbandwidthex 8 -0x1" + std::string(40, '0') + "p-20 0x0.0" + std::string(50, '0') + "1p20", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[8]) && s.bandwidthLow[8] < 0);
         EXPECT_FLOAT_EQ(s.bandwidthHigh[8], 0.0f);
     }},
    {"getbandwidthex 9 1e99999999999999999999 1e-99999999999999999999", 68,
     [](const DeviceState& s) {
         EXPECT_TRUE(std::isinf(s.bandwidthLow[9]));
         EXPECT_FLOAT_EQ(s.bandwidthHigh[9], 0.0f);
     }},
    {"getbrightness 1e400 0 5", 42, nullptr},
    {"getmodelch 1e400", 11, [](const DeviceState& s) { EXPECT_EQ(s.modelChannels, INT32_MAX); }},
    {"getbandwidthex 3 --1 2", 68, nullptr},
    {"getbandwidthex 16 1 2", 68, nullptr},
    {"getbandwidthex -1 1 2", 68, nullptr},
    {"getoffset 17", 70, [](const DeviceState& s) { EXPECT_EQ(s.offset, 17); }},
    {"getportstatus 2 1", 71,
     [](const DeviceState& s) {
         EXPECT_EQ(s.in0, 0);
         EXPECT_EQ(s.in1, 1);
         EXPECT_EQ(s.out0, 1);
         EXPECT_EQ(s.out1, 0);
     }},
    {"gettotalonoff 1", 72, [](const DeviceState& s) { EXPECT_EQ(s.totalOnOff, 1); }},
    // Keywords that carry no data.
    {"echo", 38, nullptr},
    {"help me", 73, nullptr},
    {"#", 40, nullptr},
    {"# 2 512", 40, nullptr},
    {"setbrightness 1 2", 39, nullptr},
    {"setonex 0000ffff", 45, nullptr},
    // No keyword.
    {"GETMODELCH 16", 255, nullptr},
    {"getmodelch16", 255, nullptr},
    {"getbright", 255, nullptr},
    {"", 255, nullptr},
    {"   \t ", 255, nullptr},
    {std::string(40, 'g') + " 1", 255, nullptr},
    {"error unknown command", 255, nullptr},
};

TEST(DispatchReply, StoresWhatEachLineCarries) {
    for (const ReplyCase& c : kCases) {
        SCOPED_TRACE(c.line);
        DeviceState st;
        const DeviceState before = st;
        std::int32_t seen = 0;
        EXPECT_EQ(DispatchReplyLine(c.line.c_str(), st, seen), c.id);
        EXPECT_EQ(seen, c.id == kNoReply ? 0 : 1);
        if (c.check) {
            c.check(st);
        } else {
            EXPECT_TRUE(SameState(st, before));
        }
    }
}

TEST(DispatchReply, TrigIndexOutOfRangeStoresZero) {
    DeviceState st;
    std::int32_t seen = 0;
    DispatchReplyLine("gettrigindex 7", st, seen);
    ASSERT_EQ(st.trigIndex, 7);
    DispatchReplyLine("gettrigindex 10", st, seen);
    EXPECT_EQ(st.trigIndex, 0);
}

// A reply that ends early must not store values the line never carried.
TEST(DispatchReply, ShortRepliesStoreNothing) {
    const char* shortLines[] = {
        "getmodelch",          "getmodelch x",        "getswitch 1 0 1",
        "getbrightness 3 15",  "$ 1",                 "getonex 2",
        "geterrstatus 1",      "gettrigger 0 1 1 1 0 99 49",
        "getbandwidth 0.5",    "getbandwidthex 3 1",  "getportstatus 3",
        "getmanbright 2",      "S/N:",                "modulename",
        "getoffset",           "getbrightindex",      "gettrigindex",
    };
    for (const char* line : shortLines) {
        SCOPED_TRACE(line);
        DeviceState st;
        st.modelChannels = 5;
        st.trigIndex = 3;
        std::strcpy(st.serialNumber, "KEEP");
        const DeviceState before = st;
        std::int32_t seen = 0;
        EXPECT_NE(DispatchReplyLine(line, st, seen), kNoReply);
        EXPECT_EQ(seen, 1);
        EXPECT_TRUE(SameState(st, before));
    }
}

TEST(DispatchReply, NeverWritesPastTextFieldsOrChangesTheLine) {
    const std::string line = "S/N: " + std::string(500, 'S') + " " + std::string(500, 'T');
    const std::string copy = line;
    DeviceState st;
    std::int32_t seen = 0;
    DispatchReplyLine(line.c_str(), st, seen);
    EXPECT_EQ(std::string(st.serialNumber), std::string(15, 'S'));
    EXPECT_EQ(st.firmwareVersion[0], '\0');  // the next field is untouched
    EXPECT_EQ(line, copy);
}

TEST(DispatchReply, ShorterTextClearsTheRestOfTheField) {
    DeviceState st;
    std::int32_t seen = 0;
    DispatchReplyLine("modulename LONGMODELNAME", st, seen);
    DispatchReplyLine("modulename AB", st, seen);
    EXPECT_STREQ(st.moduleName, "AB");
    for (std::size_t i = 2; i < sizeof st.moduleName; ++i) {
        EXPECT_EQ(st.moduleName[i], '\0');
    }
}

TEST(DispatchReply, EveryKeywordOfTheTableMatchesItself) {
    for (int i = 0; i < kReplyKeywordCount; ++i) {
        EXPECT_EQ(kReplyTable[i].id, i);
        EXPECT_EQ(FindReply(kReplyTable[i].keyword), i) << kReplyTable[i].keyword;
        EXPECT_LE(std::strlen(kReplyTable[i].keyword), 31u);
    }
    EXPECT_EQ(kReplyTable[kReplyKeywordCount].id, 74);
    EXPECT_STREQ(kReplyTable[kReplyKeywordCount].keyword, "");
}

TEST(DispatchReply, NumbersIgnoreTheUserLocale) {
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    DeviceState st;
    std::int32_t seen = 0;
    DispatchReplyLine("getbandwidthex 2 0.5 1.25", st, seen);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_FLOAT_EQ(st.bandwidthLow[2], 0.5f);
    EXPECT_FLOAT_EQ(st.bandwidthHigh[2], 1.25f);
}

}  // namespace

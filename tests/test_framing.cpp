// Line framing of received bytes and the traffic log ring.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_link.h"
#include "fake_serial_port.h"

namespace {

struct FramingCase {
    const char* name;
    std::vector<std::string> chunks;  // one callback each
    std::vector<std::string> logged;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, LogsExactlyTheCompleteLines) {
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link(line.Factory());
    ASSERT_NE(link.OpenPort(1), 0);
    for (const std::string& chunk : GetParam().chunks) {
        line.Deliver(chunk);
    }
    EXPECT_EQ(DrainLog(link), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Framing,
    ::testing::Values(
        FramingCase{"crlf", {"abc\r\n"}, {"abc"}},
        FramingCase{"lone_lf", {"\n"}, {""}},
        FramingCase{"cr_ends_text", {"ab\rxy\n"}, {"ab"}},
        FramingCase{"bare_lf_terminator", {"abc\n"}, {"abc"}},
        FramingCase{"split_over_callbacks", {"getm", "odelch 5\r", "\n"}, {"getmodelch 5"}},
        FramingCase{"split_between_cr_and_lf", {"x\r", "\ny\r\n"}, {"x", "y"}},
        FramingCase{"several_in_one_read", {"a\r\nb\r\nc", "\r\n"}, {"a", "b", "c"}},
        FramingCase{"bytes_above_7f", {"\xC0\xFFz \x80\r\n"}, {"\xC0\xFFz \x80"}},
        FramingCase{"no_terminator_yet", {"partial"}, {}},
        FramingCase{"999_chars_kept", {Repeat('a', 999) + "\n"}, {Repeat('a', 127)}},
        FramingCase{"1000_chars_dropped", {Repeat('a', 1000) + "\n", "ok\r\n"}, {"ok"}},
        FramingCase{"1000_chars_dropped_split", {Repeat('a', 600), Repeat('a', 400), "\nok\r\n"},
                    {"ok"}},
        FramingCase{"tail_after_1001st_byte_is_new_line", {Repeat('a', 1000) + "bcde\r\n"},
                    {"cde"}}),
    [](const ::testing::TestParamInfo<FramingCase>& p) { return std::string(p.param.name); });

TEST(FramingDispatch, LongLineIsLoggedCutButDispatchedWhole) {
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link(line.Factory());
    ASSERT_NE(link.OpenPort(1), 0);
    const std::string text = "getmodelch" + std::string(150, ' ') + "9";
    line.Deliver(text + "\r\n");
    const std::vector<std::string> logged = DrainLog(link);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], text.substr(0, 127));
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_EQ(st.modelChannels, 9);
}

TEST(FramingDispatch, LineOf999IsDispatchedAndOf1000IsNot) {
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link(line.Factory());
    ASSERT_NE(link.OpenPort(1), 0);
    DeviceState st;
    std::string ok = "getmodelch 7";
    ok += std::string(999 - ok.size(), ' ');
    line.Deliver(ok + "\n");
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_EQ(st.modelChannels, 7);

    std::string tooLong = "getmodelch 5";
    tooLong += std::string(1000 - tooLong.size(), ' ');
    line.Deliver(tooLong + "\n");
    EXPECT_EQ(link.TakeSnapshot(st), 0);
    EXPECT_EQ(st.modelChannels, 7);
}

TEST(TrafficLog, HoldsAtMost127LinesAndDropsTheRest) {
    DeviceLink link;
    for (int i = 0; i < 127; ++i) {
        ASSERT_EQ(link.PushLogLine(std::to_string(i).c_str()), 1) << i;
    }
    EXPECT_EQ(link.LogLineCount(), 127);
    EXPECT_EQ(link.PushLogLine("overflow"), -1);
    EXPECT_EQ(link.LogLineCount(), 127);

    char buffer[kLogSlotSize];
    ASSERT_EQ(link.PopLogLine(buffer), 1);
    EXPECT_STREQ(buffer, "0");
    EXPECT_EQ(link.PushLogLine("after"), 1);
    std::vector<std::string> rest = DrainLog(link);
    ASSERT_EQ(rest.size(), 127u);
    EXPECT_EQ(rest.front(), "1");
    EXPECT_EQ(rest[125], "126");
    EXPECT_EQ(rest.back(), "after");
}

TEST(TrafficLog, KeepsOrderAcrossManyWrapArounds) {
    DeviceLink link;
    char buffer[kLogSlotSize];
    int next = 0;
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(link.PushLogLine(std::to_string(round * 5 + i).c_str()), 1);
        }
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(link.PopLogLine(buffer), 1);
            EXPECT_EQ(std::string(buffer), std::to_string(next++));
        }
    }
    EXPECT_EQ(link.LogLineCount(), 0);
}

TEST(TrafficLog, PopOnEmptyLeavesBufferUntouched) {
    DeviceLink link;
    char buffer[kLogSlotSize];
    std::memset(buffer, 'Q', sizeof buffer);
    EXPECT_EQ(link.PopLogLine(buffer), 0);
    for (char c : buffer) {
        ASSERT_EQ(c, 'Q');
    }
}

TEST(TrafficLog, CutsTextAt127Characters) {
    DeviceLink link;
    const std::string text(300, 'z');
    ASSERT_EQ(link.PushLogLine(text.c_str()), 1);
    char buffer[kLogSlotSize];
    ASSERT_EQ(link.PopLogLine(buffer), 1);
    EXPECT_EQ(std::strlen(buffer), 127u);
}

}  // namespace

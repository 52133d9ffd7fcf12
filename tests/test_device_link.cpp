// Opening, closing and destroying the link, and the snapshot of the device state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "controller_queries.h"
#include "device_link.h"
#include "fake_serial_port.h"
#include "state_compare.h"

namespace {

const char kAllOff[] = "setonex 00000000\r";

// A link whose ports are fakes, with pauses recorded instead of slept.
class LinkFixture : public ::testing::Test {
protected:
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link{line.Factory()};
};
using OpenPort = LinkFixture;
using ClosePort = LinkFixture;
using Snapshot = LinkFixture;

bool IsZero(const DeviceState& s) {
    return SameState(s, DeviceState{});
}

TEST_F(OpenPort, CreatesThePortWithItsNameAndConstants) {
    EXPECT_FALSE(link.IsOpen());
    EXPECT_NE(link.OpenPort(7), 0);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(line.lastName, "COM7");
    EXPECT_EQ(line.lastNumber, 7);
    EXPECT_EQ(line.lastSpeed, 4);
    EXPECT_EQ(line.lastFormat, 0);
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(OpenPort, SecondOpenFailsAndKeepsTheFirst) {
    ASSERT_NE(link.OpenPort(1), 0);
    EXPECT_EQ(link.OpenPort(2), 0);
    EXPECT_EQ(line.lastName, "COM1");
    EXPECT_EQ(line.created, 1);
    EXPECT_TRUE(link.IsOpen());
}

TEST_F(OpenPort, FailedCreateDestroysTheObjectAndLeavesTheLinkClosed) {
    line.failCreate = true;
    EXPECT_EQ(link.OpenPort(4), 0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(line.created, 1);
    EXPECT_EQ(line.destroyed, 1);
    const MaskArg mask{1};
    link.SendCommand(CMD_SETONEX, &mask);
    EXPECT_TRUE(line.writes.empty());
}

TEST_F(OpenPort, KeepsLogAndStateOfBefore) {
    link.PushLogLine("kept");
    link.DispatchReply("getmodelch 4");
    EXPECT_NE(link.OpenPort(1), 0);
    EXPECT_EQ(link.LogLineCount(), 1);
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_EQ(st.modelChannels, 4);
}

TEST_F(ClosePort, SendsAllOffWaitsAndForgetsEverything) {
    ASSERT_NE(link.OpenPort(1), 0);
    line.Deliver("getmodelch 8\r\nS/N: ABC\r\n");
    ASSERT_EQ(link.LogLineCount(), 2);
    pauses.pauses.clear();

    link.ClosePort();
    EXPECT_EQ(line.Written(), kAllOff);
    EXPECT_EQ(pauses.pauses, (std::vector<int>{10, 1000}));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(line.destroyed, 1);
    EXPECT_EQ(link.LogLineCount(), 0);
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 0);
    EXPECT_TRUE(IsZero(st));
}

TEST_F(ClosePort, OnAClosedLinkSendsNothingButStillClears) {
    link.PushLogLine("x");
    link.DispatchReply("getmodelch 4");
    link.ClosePort();
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(pauses.pauses.empty());
    EXPECT_EQ(link.LogLineCount(), 0);
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 0);
    EXPECT_TRUE(IsZero(st));
}

TEST_F(ClosePort, PartialLineDoesNotCarryIntoTheNextConnection) {
    ASSERT_NE(link.OpenPort(1), 0);
    line.Deliver("garbage-without-end");
    link.ClosePort();
    ASSERT_NE(link.OpenPort(2), 0);
    line.Deliver("getmodelch 12\r\n");
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_EQ(st.modelChannels, 12);
}

TEST(Destroy, WithPortOpenSendsAllOffWithoutTheLongWait) {
    PauseRecorder pauses;
    FakeLine line;
    {
        DeviceLink link(line.Factory());
        ASSERT_NE(link.OpenPort(1), 0);
        EXPECT_EQ(currentLink.load(), &link);
    }
    EXPECT_EQ(line.Written(), kAllOff);
    EXPECT_EQ(line.destroyed, 1);
    EXPECT_EQ(pauses.Total(), 10);
    EXPECT_EQ(currentLink.load(), nullptr);
}

TEST(Destroy, WithoutPortWritesNothing) {
    PauseRecorder pauses;
    FakeLine line;
    { DeviceLink link(line.Factory()); }
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(line.created, 0);
}

TEST_F(Snapshot, CopiesTheStateAndClearsReplySeen) {
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 0);
    EXPECT_TRUE(IsZero(st));

    ASSERT_NE(link.OpenPort(1), 0);
    line.Deliver("getbandwidth 0.5 2.5\r\ngetbandwidthex 3 1 2\r\n");
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_FLOAT_EQ(st.bandwidthLow[0], 0.5f);
    EXPECT_FLOAT_EQ(st.bandwidthHigh[15], 2.5f);
    EXPECT_FLOAT_EQ(st.bandwidthLow[3], 1.0f);

    DeviceState again;
    EXPECT_EQ(link.TakeSnapshot(again), 0);
    EXPECT_TRUE(SameState(st, again));
}

TEST_F(Snapshot, OutOfRangeReplyStillCountsAsSeen) {
    ASSERT_NE(link.OpenPort(1), 0);
    line.Deliver("getbrightness 10 0 5\r\n");
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_TRUE(IsZero(st));
}

TEST_F(Snapshot, UnknownLinesAreLoggedButNotSeen) {
    ASSERT_NE(link.OpenPort(1), 0);
    line.Deliver("error what\r\n\r\n");
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 0);
    EXPECT_EQ(link.LogLineCount(), 2);
}

// Ending a connection with each close action: what reaches the line, how long the caller
// waits, and that the link is closed and clean afterwards either way.
TEST(CloseAction, DecidesWhetherClosingSwitchesTheChannelsOff) {
    using Action = DeviceLink::CloseAction;
    const struct {
        Action action;
        bool destroy;  // end by destroying the link instead of ClosePort
        const char* written;
        int paused;
    } cases[] = {
        {Action::SwitchAllOff, false, kAllOff, 10 + 1000},
        {Action::SwitchAllOff, true, kAllOff, 10},
        {Action::KeepOutputs, false, "", 0},
        {Action::KeepOutputs, true, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.destroy ? "destroy " : "close ") +
                     (c.action == Action::KeepOutputs ? "keep" : "switch off"));
        PauseRecorder pauses;
        FakeLine line;
        {
            DeviceLink link(line.Factory());
            link.SetCloseAction(c.action);
            ASSERT_NE(link.OpenPort(1), 0);
            line.Deliver("getmodelch 8\r\n");
            pauses.pauses.clear();
            if (!c.destroy) {
                link.ClosePort();
                EXPECT_FALSE(link.IsOpen());
                EXPECT_EQ(link.LogLineCount(), 0);
                DeviceState st;
                EXPECT_EQ(link.TakeSnapshot(st), 0);
                EXPECT_TRUE(IsZero(st));
            }
        }
        EXPECT_EQ(line.Written(), c.written);
        EXPECT_EQ(pauses.Total(), c.paused);
        EXPECT_EQ(line.destroyed, 1);
    }
}

TEST(CloseAction, ProbeWithKeepOutputsLeavesTheChannelsAsTheyAre) {
    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link(line.Factory());
    link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
    ControllerIdentity identity;
    ProbePort(link, 3, identity);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(line.writes.back(), "getsn\r");
    EXPECT_EQ(line.Written().find("setonex"), std::string::npos);
    EXPECT_EQ(pauses.pauses.back(), 800);
}

}  // namespace

namespace {

// Two live links: each port's replies reach the link that opened it, and a port number that
// one link holds is refused to the other until it is closed.
TEST(TwoLinks, EachPortIsServedByItsOwnLink) {
    PauseRecorder pauses;
    FakeLine first;
    FakeLine second;
    DeviceLink a(first.Factory());
    DeviceLink b(second.Factory());
    ASSERT_NE(a.OpenPort(3), 0);
    EXPECT_EQ(b.OpenPort(3), 0);
    EXPECT_EQ(b.LastOpenFailure(), OpenFailure::Busy);
    ASSERT_NE(b.OpenPort(4), 0);

    first.Deliver("getmodelch 8\r\n");
    second.Deliver("getmodelch 16\r\n");
    DeviceState sa;
    DeviceState sb;
    EXPECT_EQ(a.TakeSnapshot(sa), 1);
    EXPECT_EQ(b.TakeSnapshot(sb), 1);
    EXPECT_EQ(sa.modelChannels, 8);
    EXPECT_EQ(sb.modelChannels, 16);
    EXPECT_EQ(DrainLog(a), std::vector<std::string>{"getmodelch 8"});
    EXPECT_EQ(DrainLog(b), std::vector<std::string>{"getmodelch 16"});

    a.ClosePort();
    b.ClosePort();
    EXPECT_NE(b.OpenPort(3), 0);  // free again
}

}  // namespace

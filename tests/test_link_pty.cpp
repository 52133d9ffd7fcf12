// The link over a real pseudo-terminal, with the real serial port and its receive thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "device_link.h"
#include "fake_serial_port.h"
#include "port_list.h"
#include "pty_pair.h"
#include "serial_port.h"

namespace {

const std::string kAllOff = "setonex 00000000\r";

int Register(const PtyPair& pty) {
    AddPortPath(QString::fromStdString(pty.path()));
    return PortNumberForPath(QString::fromStdString(pty.path()));
}

TEST(LinkOverPty, CommandsArriveByteExact) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    DeviceLink link;
    ASSERT_NE(link.OpenPort(Register(pty)), 0);

    const BrightnessArg bright{2, 512};
    const MaskArg mask{0x5};
    PacketArg packet;
    packet.values[0] = 0x0A0D;  // line feed and carriage return inside the packet
    packet.values[15] = 1024;
    const BandwidthArg bw{3, 0.5f, 1.2f};
    link.SendCommand(CMD_SETBRIGHTNESS, &bright);
    link.SendCommand(CMD_SETONEX, &mask);
    link.SendCommand(CMD_SETBRIGHTPACKET, &packet);
    link.SendCommand(CMD_SETBANDWIDTHEX, &bw);

    EncodedCommand encoded;
    ASSERT_EQ(EncodeCommand(CMD_SETBRIGHTPACKET, &packet, encoded), EncodeResult::Ok);
    const std::string expected = "# 2 512\rsetonex 00000005\r" +
                                 std::string(reinterpret_cast<const char*>(encoded.bytes), 38) +
                                 "setbandwidthex 3 0.500000 1.200000\r";
    EXPECT_EQ(pty.Read(expected.size(), 3000), expected);
    EXPECT_EQ(DrainLog(link), (std::vector<std::string>{"-> # 2 512\r", "-> setonex 00000005\r",
                                                     "-> \xFE\xFE\x1B",
                                                     "-> setbandwidthex 3 0.500000 1.200000\r"}));
}

TEST(LinkOverPty, RepliesReachLogAndState) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    DeviceLink link;
    ASSERT_NE(link.OpenPort(Register(pty)), 0);

    pty.Write("modulename LT-1600\r\nS/N: ");
    pty.Write("SN0042\r\ngetmodelch 16\r\n");
    ASSERT_TRUE(WaitUntil([&] { return link.LogLineCount() == 3; }, 5000));
    EXPECT_EQ(DrainLog(link), (std::vector<std::string>{"modulename LT-1600", "S/N: SN0042",
                                                     "getmodelch 16"}));
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_STREQ(st.moduleName, "LT-1600");
    EXPECT_STREQ(st.serialNumber, "SN0042");
    EXPECT_EQ(st.modelChannels, 16);
}

TEST(LinkOverPty, ClosePortPutsAllOffOnTheLineFirst) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    DeviceLink link;
    ASSERT_NE(link.OpenPort(Register(pty)), 0);
    link.ClosePort();  // real 1000 ms wait
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(pty.Read(kAllOff.size(), 3000), kAllOff);
}

TEST(LinkOverPty, DestroyingWithPortOpenSendsAllOff) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    {
        DeviceLink link;
        ASSERT_NE(link.OpenPort(Register(pty)), 0);
        pty.Write("getmodelch 4\r\n");
        ASSERT_TRUE(WaitUntil([&] { return link.LogLineCount() == 1; }, 5000));
    }
    EXPECT_EQ(pty.Read(kAllOff.size(), 3000), kAllOff);
}

TEST(LinkOverPty, UnknownPortFailsToOpen) {
    DeviceLink link;
    EXPECT_EQ(link.OpenPort(987654), 0);
    AddPortPath(QStringLiteral("/dev/does-not-exist-lumitrax"));
    EXPECT_EQ(link.OpenPort(PortNumberForPath(QStringLiteral("/dev/does-not-exist-lumitrax"))), 0);
    EXPECT_FALSE(link.IsOpen());
}

TEST(LinkOverPty, HangupLeavesTheLinkHealthy) {
    PauseRecorder pauses;  // the close needs no real wait here
    auto pty = std::make_unique<PtyPair>();
    ASSERT_TRUE(pty->ok());
    DeviceLink link;
    ASSERT_NE(link.OpenPort(Register(*pty)), 0);
    pty->Write("getmodelch 8\r\n");
    ASSERT_TRUE(WaitUntil([&] { return link.LogLineCount() == 1; }, 5000));

    pty->Hangup();
    // The link says so by itself (the Controller API reopens on it).
    EXPECT_TRUE(WaitUntil([&] { return !link.IsConnected(); }, 5000));
    const MaskArg mask{1};
    for (int i = 0; i < 5; ++i) {
        link.SendCommand(CMD_SETONEX, &mask);  // goes nowhere, must not block or crash
    }
    DeviceState st;
    EXPECT_EQ(link.TakeSnapshot(st), 1);
    EXPECT_EQ(st.modelChannels, 8);
    link.ClosePort();
    EXPECT_FALSE(link.IsOpen());
}

TEST(SerialPortOverPty, StopsWatchingAVanishedDevice) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    CPortwire port;
    const QString name = QStringLiteral("COM%1").arg(Register(pty));
    ASSERT_NE(port.Create(name.toLatin1().constData(), 4, 0, 0, nullptr), 0);
    EXPECT_TRUE(port.IsOpen());
    pty.Hangup();
    // Closed by the port itself: a descriptor left open after a hang-up would keep waking
    // the receive thread.
    EXPECT_TRUE(WaitUntil([&] { return !port.IsOpen(); }, 5000));
    const unsigned char byte = 'x';
    EXPECT_EQ(port.WriteData(&byte, 1), 0u);
}

TEST(SerialPortOverPty, RejectsUnknownLineSettingsAndNames) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const QByteArray name = QStringLiteral("COM%1").arg(Register(pty)).toLatin1();
    struct Case {
        const char* name;
        int speed;
        int format;
        bool opens;
    } cases[] = {
        {name.constData(), 4, 0, true}, {name.constData(), 5, 0, false},
        {name.constData(), 4, 9, false}, {"COM0", 4, 0, false}, {"LPT1", 4, 0, false},
    };
    for (const Case& c : cases) {
        CPortwire port;
        EXPECT_EQ(port.Create(c.name, c.speed, 0, static_cast<std::uint8_t>(c.format), nullptr) != 0,
                  c.opens)
            << c.name << " " << c.speed << " " << c.format;
    }
}

// Writes from the window thread while the receive thread files a stream of replies. The log
// may drop lines while it is full; the state must still see every line, and no logged line
// may be torn.
TEST(LinkOverPty, SendsWhileReceiving) {
    PauseRecorder pauses;  // no 10 ms pauses: push the two threads against each other
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    DeviceLink link;
    ASSERT_NE(link.OpenPort(Register(pty)), 0);

    constexpr int kReplies = 400;
    std::thread controller([&pty] {
        for (int i = 0; i < kReplies; ++i) {
            pty.Write("$ 0 " + std::to_string(i % 16) + " " + std::to_string(i) + "\r\n");
        }
    });
    std::vector<std::string> logged;
    auto drain = [&] {
        char buffer[kLogSlotSize];
        while (link.PopLogLine(buffer) == 1) {
            logged.emplace_back(buffer);
        }
    };
    const BrightnessArg arg{1, 100};
    for (int i = 0; i < 200; ++i) {
        link.SendCommand(CMD_SETBRIGHTNESS, &arg);
        drain();
    }
    controller.join();
    std::string want;
    for (int i = 0; i < 200; ++i) {
        want += "# 1 100\r";
    }
    EXPECT_EQ(pty.Read(want.size(), 5000), want);

    DeviceState st;
    ASSERT_TRUE(WaitUntil(
        [&] {
            drain();
            link.TakeSnapshot(st);
            return st.brightness[0][15] == kReplies - 1;
        },
        5000));
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(st.brightness[0][c], kReplies - 16 + c) << c;
    }
    int replies = 0;
    for (const std::string& l : logged) {
        if (l.rfind("-> ", 0) == 0) {
            EXPECT_EQ(l, "-> # 1 100\r");
            continue;
        }
        ++replies;
        int memory = -1, channel = -1, value = -1;
        ASSERT_EQ(std::sscanf(l.c_str(), "$ %d %d %d", &memory, &channel, &value), 3) << l;
        EXPECT_EQ(value % 16, channel) << l;
    }
    EXPECT_GT(replies, 0);
}

// Closing and destroying while replies stream in: no callback may outlive the serial object
// or the line buffer (the sanitizer builds catch a use after free here).
TEST(LinkOverPty, CloseAndDestroyWhileReceiving) {
    PauseRecorder pauses;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const int number = Register(pty);
    std::atomic<bool> stop{false};
    std::thread controller([&] {
        while (!stop.load()) {
            pty.Write("getmodelch 8\r\nS/N: ABC\r\ngetbandwidth 0.5 1.5\r\n");
        }
    });
    for (int round = 0; round < 10; ++round) {
        auto link = std::make_unique<DeviceLink>();
        for (int i = 0; i < 3; ++i) {
            ASSERT_NE(link->OpenPort(number), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            link->ClosePort();
        }
        ASSERT_NE(link->OpenPort(number), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        link.reset();  // destroyed with the port open and bytes arriving
    }
    stop.store(true);
    controller.join();
}

}  // namespace

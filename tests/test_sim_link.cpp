// End to end: the device link against lumitrax-sim over its pseudo-terminal, with the real
// serial thread and real waits. The two sides share no protocol code, so what passes here
// was encoded, framed, answered and parsed by two independent implementations.

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "device_link.h"
#include "fake_serial_port.h"
#include "pause.h"
#include "port_list.h"
#include "sim_process.h"
#include "temp_files.h"

namespace {

int OpenSim(DeviceLink& link, const SimProcess& sim) {
    const QString path = QString::fromStdString(sim.devicePath());
    AddPortPath(path);
    return link.OpenPort(PortNumberForPath(path));
}

void Send(DeviceLink& link, int id) { link.SendCommand(id, nullptr); }

template <typename Arg>
void Send(DeviceLink& link, int id, const Arg& arg) {
    link.SendCommand(id, &arg);
}

std::vector<std::string> ErrorLines(const std::vector<std::string>& log) {
    std::vector<std::string> errors;
    for (const std::string& line : log) {
        if (line.rfind("error", 0) == 0) {
            errors.push_back(line);
        }
    }
    return errors;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The query batch of the panel's "Refresh" action, in its order.
void SendRefreshBatch(DeviceLink& link, int channelCount) {
    const CommandId plain[] = {
        CMD_GETMODULEINFO, CMD_GETBUILDINFO,     CMD_GETUSEPACKET,       CMD_GETTRIGCHANNEL,
        CMD_GETUSEONOFF,   CMD_GETUSETRIG,       CMD_GETSOFTSTART,       CMD_GETUSEPWM,
        CMD_GETMODELCH,    CMD_GETDEBUG,         CMD_GETFWVERSIONINFO,   CMD_GETFPGAVERSIONINFO,
        CMD_GETBANDWIDTH,  CMD_GETOFFSET,        CMD_GETONEX,            CMD_GETERRSTATUS,
        CMD_GETBRIGHTINDEX, CMD_GETTRIGINDEX,    CMD_GETSN,              CMD_GETMODULEID,
    };
    for (const CommandId id : plain) {
        Send(link, id);
    }
    Send(link, CMD_GETBANDWIDTHEX, OneValueArg{255});
    Send(link, CMD_GETBRIGHTNESS, OneValueArg{255});
    for (int t = 0; t < 4 && t < channelCount; ++t) {
        Send(link, CMD_GETTRIGGER, OneValueArg{static_cast<std::uint8_t>(t)});
    }
    Send(link, CMD_GETVERSIONINFO);
    Send(link, CMD_GETPORTSTATUS);
    Send(link, CMD_GETTOTALONOFF);
}

TEST(SimEndToEnd, RefreshBatchFillsEveryShownField) {
    SimProcess sim({"--model", "LX-TEST-77", "--serial", "SN-0042-B", "--firmware", "3.1.4",
                    "--fpga", "F2.7", "--build", "B240917", "--module-id", "77", "--channels", "12",
                    "--inputs", "2", "--tof", "1", "--error", "5,171"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    DeviceLink link;
    ASSERT_NE(OpenSim(link, sim), 0);

    // Put the controller into a state where no shown value is a default or a zero by chance.
    Send(link, CMD_SETTRIGCHANNEL, OneValueArg{3});
    Send(link, CMD_SETUSEPACKET, OneValueArg{1});
    Send(link, CMD_SETUSEONOFF, OneValueArg{1});
    Send(link, CMD_SETUSETRIG, OneValueArg{1});
    Send(link, CMD_SETDEBUG, OneValueArg{1});
    Send(link, CMD_SETOFFSET, Value16Arg{4321});
    for (int c = 0; c < kChannelCount; ++c) {
        Send(link, CMD_SETBANDWIDTHEX,
             BandwidthArg{static_cast<std::uint8_t>(c), 0.25f * static_cast<float>(c + 1),
                          8.0f + 0.5f * static_cast<float>(c)});
    }
    Send(link, CMD_LOADBRIGHT, OneValueArg{4});
    for (int c = 0; c < 12; ++c) {
        Send(link, CMD_SETBRIGHTNESS,
             BrightnessArg{static_cast<std::uint8_t>(c), static_cast<std::uint16_t>(300 + 7 * c)});
    }
    Send(link, CMD_SETONEX, MaskArg{0x0A5A});
    Send(link, CMD_LOADTRIGGER, OneValueArg{6});
    for (int k = 0; k < 4; ++k) {
        TriggerSetting t;
        t.triggerNo = static_cast<std::uint8_t>(k);
        t.enable = static_cast<std::uint8_t>(k % 2);
        t.edge = static_cast<std::uint8_t>((k + 1) % 2);
        t.delay = static_cast<std::uint16_t>(100 + k);
        t.onTime = static_cast<std::uint16_t>(50 + k);
        t.offTime = static_cast<std::uint16_t>(500 + 10 * k);
        Send(link, CMD_SETTRIGGER, t);
    }
    Send(link, CMD_SETOUTPORTALL, OneValueArg{1});
    Pause(300);
    EXPECT_EQ(ErrorLines(DrainLog(link)), std::vector<std::string>{});

    SendRefreshBatch(link, 12);
    Pause(1000);
    DeviceState s;
    ASSERT_EQ(link.TakeSnapshot(s), 1);

    EXPECT_STREQ(s.moduleName, "LX-TEST-77");
    EXPECT_STREQ(s.serialNumber, "SN-0042-B");
    EXPECT_STREQ(s.firmwareVersion, "3.1.4");
    EXPECT_STREQ(s.fpgaVersion, "F2.7");
    EXPECT_STREQ(s.buildInfo, "B240917");
    EXPECT_EQ(s.moduleId, 77);
    EXPECT_EQ(s.modelChannels, 12);
    EXPECT_EQ(s.trigChannelCount, 3);
    EXPECT_EQ(s.usePacket, 1);
    EXPECT_EQ(s.useOnOff, 1);
    EXPECT_EQ(s.useTrig, 1);
    EXPECT_EQ(s.softStart, 1);
    EXPECT_EQ(s.usePwm, 1);
    EXPECT_EQ(s.debug, 1);
    EXPECT_EQ(s.offset, 4321);
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(s.bandwidthLow[c], 0.25f * static_cast<float>(c + 1)) << "channel " << c;
        EXPECT_EQ(s.bandwidthHigh[c], 8.0f + 0.5f * static_cast<float>(c)) << "channel " << c;
    }
    EXPECT_EQ(s.brightIndex, 4);
    for (int c = 0; c < kChannelCount; ++c) {
        // Channels beyond the twelve set keep memory 4's factory values.
        EXPECT_EQ(s.brightness[4][c], c < 12 ? 300 + 7 * c : 500 + c) << "channel " << c;
    }
    EXPECT_EQ(s.onMask[4], 0x0A5A);
    EXPECT_EQ(s.trigIndex, 6);
    for (int k = 0; k < 4; ++k) {
        const TriggerSetting& t = s.trigger[6][k];
        EXPECT_EQ(t.triggerNo, k);
        EXPECT_EQ(t.enable, k % 2);
        EXPECT_EQ(t.edge, (k + 1) % 2);
        EXPECT_EQ(t.delay, 100 + k);
        EXPECT_EQ(t.onTime, 50 + k);
        EXPECT_EQ(t.offTime, 500 + 10 * k);
    }
    EXPECT_EQ(s.errorCode, 5);
    EXPECT_EQ(s.errorDetail, 171);
    EXPECT_EQ(s.out0, 1);
    EXPECT_EQ(s.out1, 0);
    EXPECT_EQ(s.in0, 0);
    EXPECT_EQ(s.in1, 1);
    EXPECT_EQ(s.totalOnOff, 1);

    link.ClosePort();
}

struct ProbeResult {
    std::string model, firmware, fpga, build, serial;
};

// The "Search" probe of one port: its commands and waits, then the log read as the panel
// reads it (first word, then the next word as the value; later lines win).
ProbeResult Probe(DeviceLink& link) {
    Send(link, CMD_RAW, TextArg{"\r"});
    Pause(100);
    Send(link, CMD_RAW, TextArg{"echo 0\r"});
    Pause(100);
    for (const CommandId id : {CMD_GETMODULEINFO, CMD_GETBUILDINFO, CMD_GETVERSIONINFO,
                               CMD_GETFWVERSIONINFO, CMD_GETFPGAVERSIONINFO}) {
        Send(link, id);
        Pause(100);
    }
    Send(link, CMD_GETSN);
    Pause(800);

    ProbeResult r;
    char buffer[kLogSlotSize];
    for (int i = 0; i < 100 && link.PopLogLine(buffer) == 1; ++i) {
        std::istringstream in(buffer);
        std::string first;
        std::string value;
        if (!(in >> first >> value)) {
            continue;
        }
        if (first == "modulename") {
            r.model = value;
        } else if (first == "getfwversioninfo" || first == "f/w_version") {
            r.firmware = value;
        } else if (first == "getfpgaversioninfo" || first == "fpga_version") {
            r.fpga = value;
        } else if (first == "build") {
            r.build = value;
        } else if (first == "S/N:") {
            r.serial = value;
        }
    }
    return r;
}

TEST(SimEndToEnd, SearchProbeTellsTwoControllersApart) {
    struct Case {
        std::vector<std::string> args;
        ProbeResult expected;
    };
    const Case cases[] = {
        {{"--model", "LX-ALPHA", "--serial", "A-0001", "--firmware", "1.0.7", "--fpga", "FA1",
          "--build", "BA20"},
         {"LX-ALPHA", "1.0.7", "FA1", "BA20", "A-0001"}},
        {{"--model", "LX-BETA-16", "--serial", "B-0002", "--firmware", "2.2.0", "--fpga", "FB9",
          "--build", "BB21", "--channels", "16"},
         {"LX-BETA-16", "2.2.0", "FB9", "BB21", "B-0002"}},
    };
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const Case& k : cases) {
        sims.push_back(std::make_unique<SimProcess>(k.args));
        ASSERT_FALSE(sims.back()->devicePath().empty());
    }
    // One link probes the ports one after the other, as the panel's search does.
    DeviceLink link;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        SCOPED_TRACE(cases[i].expected.model);
        ASSERT_NE(OpenSim(link, *sims[i]), 0);
        const ProbeResult r = Probe(link);
        EXPECT_EQ(r.model, cases[i].expected.model);
        EXPECT_EQ(r.firmware, cases[i].expected.firmware);
        EXPECT_EQ(r.fpga, cases[i].expected.fpga);
        EXPECT_EQ(r.build, cases[i].expected.build);
        EXPECT_EQ(r.serial, cases[i].expected.serial);
        link.ClosePort();
    }
}

// The panel opens and closes a port many times (a search does); the device stays, and the
// path of the --link reaches it as well as the device path does.
TEST(SimEndToEnd, ReconnectingFindsTheSameController) {
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("lumitrax");
    SimProcess sim({"--serial", "RECON-1", "--echo", "0", "--link", linkPath.toStdString()});
    ASSERT_FALSE(sim.devicePath().empty());
    AddPortPath(linkPath);
    DeviceLink link;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NE(round == 1 ? link.OpenPort(PortNumberForPath(linkPath)) : OpenSim(link, sim), 0);
        Send(link, CMD_GETSN);
        Pause(300);
        DeviceState s;
        EXPECT_EQ(link.TakeSnapshot(s), 1);
        EXPECT_STREQ(s.serialNumber, "RECON-1");
        link.ClosePort();
    }
}

double CpuSeconds() {
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(SimEndToEnd, HangupLeavesTheLinkHealthy) {
    enum class End { ClosePort, Destroy };
    for (const End end : {End::ClosePort, End::Destroy}) {
        SCOPED_TRACE(end == End::ClosePort ? "ClosePort" : "destroy");
        QTemporaryDir dir;
        const std::string linkPath = dir.filePath("controller").toStdString();
        SimProcess sim({"--hangup-after", "3", "--echo", "0", "--serial", "HUP-3", "--link",
                        linkPath});
        ASSERT_FALSE(sim.devicePath().empty());
        auto link = std::make_unique<DeviceLink>();
        ASSERT_NE(OpenSim(*link, sim), 0);

        Send(*link, CMD_GETSN);
        Send(*link, CMD_GETMODELCH);
        Send(*link, CMD_GETOFFSET);
        // The third answer still arrives; then the device goes away, link included. The
        // simulator's word is awaited, not the device path's end: another test's simulator may
        // be given the same /dev/pts number the moment it is freed.
        EXPECT_TRUE(WaitFor(
            [&] { return sim.ErrorOutput().find("terminal closed after 3 commands") != std::string::npos; },
            5000));
        EXPECT_FALSE(PathExists(linkPath));

        const auto before = std::chrono::steady_clock::now();
        for (int i = 0; i < 5; ++i) {
            Send(*link, CMD_GETSN);
            Send(*link, CMD_SETBRIGHTPACKET, PacketArg{});
        }
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5))
            << "writes to a vanished device must not block";

        // A link whose device vanished must not keep a core busy.
        const double cpuBefore = CpuSeconds();
        Pause(1000);
        EXPECT_LT(CpuSeconds() - cpuBefore, 0.5);

        std::vector<std::string> log = DrainLog(*link);
        for (const char* answer : {"S/N: HUP-3", "getmodelch 8", "getoffset 0"}) {
            EXPECT_NE(std::find(log.begin(), log.end(), answer), log.end()) << answer;
        }
        if (end == End::ClosePort) {
            link->ClosePort();
            EXPECT_FALSE(link->IsOpen());
            // Through the link the simulator kept: the terminal's own number can be given to
            // another program's new terminal meanwhile, and reopening it would then succeed.
            const QString gone = QString::fromStdString(linkPath);
            AddPortPath(gone);
            EXPECT_EQ(link->OpenPort(PortNumberForPath(gone)), 0) << "the device is gone";
        }
        link.reset();
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(SimEndToEnd, TranscriptShowsExactlyWhatWasSent) {
    QTemporaryDir dir;
    const std::string transcript = dir.filePath("transcript.txt").toStdString();
    SimProcess sim({"--transcript", transcript});
    ASSERT_FALSE(sim.devicePath().empty());
    {
        DeviceLink link;
        ASSERT_NE(OpenSim(link, sim), 0);
        Send(link, CMD_RAW, TextArg{"\r"});
        Send(link, CMD_SETBRIGHTNESS, BrightnessArg{2, 512});
        Send(link, CMD_SETONEX, MaskArg{0xFFFF});
        PacketArg packet;
        packet.values[0] = 0x0D0A;  // a CR LF inside the packet is data
        packet.values[15] = 0xFEFE;
        Send(link, CMD_SETBRIGHTPACKET, packet);
        Send(link, CMD_SETSN, TextArg{"SN-X9"});
        Send(link, CMD_SETBANDWIDTHEX, BandwidthArg{3, 0.5f, 1.2f});
        Send(link, CMD_SETMODULEID, SignedValueArg{-56});
        Send(link, CMD_FPGAREGSET, TwoValuesArg{255, 16});
        Send(link, CMD_GETBRIGHTNESS, OneValueArg{255});
        link.ClosePort();
        // Opened again and destroyed while open: its all-off command must reach the line too.
        ASSERT_NE(OpenSim(link, sim), 0);
        Send(link, CMD_GETSN);
    }
    EXPECT_TRUE(WaitFor([&] { return Lines(transcript).size() >= 12; }, 5000));
    ASSERT_EQ(sim.Stop(), 0);
    const std::vector<std::string> expected = {
        "",
        "# 2 512",
        "setonex 0000ffff",
        "fe fe 1b 00 20 0d 0a 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
        "00 00 00 00 00 00 fe fe fd",
        "setsn SN-X9",
        "setbandwidthex 3 0.500000 1.200000",
        "setmoduleid -56",
        "fpgaregset ff 10",
        "$ 255",
        "setonex 00000000",
        "getsn",
        "setonex 00000000",
    };
    EXPECT_EQ(Lines(transcript), expected);
}

// The simulator's device opened as a bare line: bytes go out exactly as given, in the pieces
// given.
class RawLine {
public:
    explicit RawLine(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~RawLine() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool Write(const std::string& bytes) const {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives until the text ends with `last` or timeoutMs passed.
    std::string ReadUntil(const std::string& last, int timeoutMs) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string text;
        while (text.size() < last.size() ||
               text.compare(text.size() - last.size(), last.size(), last) != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[256];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    int fd_;
};

// A panel killed in the middle of a command leaves part of it behind; after a pause the next
// bytes start afresh. A command that merely arrives in two pieces is still one command.
TEST(SimEndToEnd, UnfinishedCommandIsDroppedAfterAPause) {
    struct Case {
        const char* name;
        std::string first;
        int gapMs;
        std::string second;
        std::vector<std::string> transcript;
        std::string answer;
    };
    const std::string kSwitches = "getswitch 0 0 0 1\r\n";  // a connection starts with them
    const Case cases[] = {
        {"part of a line", "getmo", 300, "getsn\r", {"getsn", "getoffset"},
         kSwitches + "S/N: LX24A00017\r\ngetoffset 0\r\n"},
        {"part of a packet", std::string("\xFE\xFE\x1B\x00\x20\x01\x02\x03", 8), 300,
         "getsn\r", {"getsn", "getoffset"}, kSwitches + "S/N: LX24A00017\r\ngetoffset 0\r\n"},
        {"one command in two pieces", "getmo", 20, "delch\r", {"getmodelch", "getoffset"},
         kSwitches + "getmodelch 8\r\ngetoffset 0\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        QTemporaryDir dir;
        const std::string transcript = dir.filePath("transcript.txt").toStdString();
        SimProcess sim({"--echo", "0", "--transcript", transcript});
        ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
        RawLine line(sim.devicePath());
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.Write(k.first));
        std::this_thread::sleep_for(std::chrono::milliseconds(k.gapMs));
        ASSERT_TRUE(line.Write(k.second));
        ASSERT_TRUE(line.Write("getoffset\r"));
        EXPECT_EQ(line.ReadUntil("getoffset 0\r\n", 5000), k.answer);
        EXPECT_EQ(Lines(transcript), k.transcript);
    }
}

// Every connection starts with one unasked "getswitch" line, ahead of the first answer; so
// the panel, which never asks for the switches, shows them from the start.
TEST(SimEndToEnd, EachConnectionStartsWithTheSwitches) {
    SimProcess sim({"--switches", "1,0,1,1", "--echo", "0"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        RawLine line(sim.devicePath());
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.Write("getoffset\r"));
        EXPECT_EQ(line.ReadUntil("getoffset 0\r\n", 5000), "getswitch 1 0 1 1\r\ngetoffset 0\r\n");
        ASSERT_TRUE(line.Write("getoffset\r"));
        EXPECT_EQ(line.ReadUntil("getoffset 0\r\n", 5000), "getoffset 0\r\n");
    }

    DeviceLink link;
    ASSERT_NE(OpenSim(link, sim), 0);
    Send(link, CMD_GETOFFSET);
    Pause(300);
    DeviceState s;
    ASSERT_EQ(link.TakeSnapshot(s), 1);
    EXPECT_EQ(std::vector<int>(s.switches, s.switches + kSwitchCount),
              (std::vector<int>{1, 0, 1, 1}));
    link.ClosePort();
}

// Every command of the catalogue, with a typical argument block, is understood by the
// controller: nothing it answers is an error, and each command gets at least one line back.
TEST(SimEndToEnd, ControllerUnderstandsEveryCommandTheLinkEncodes) {
    SimProcess sim({"--echo", "0"});
    ASSERT_FALSE(sim.devicePath().empty());
    DeviceLink link;
    ASSERT_NE(OpenSim(link, sim), 0);

    const OneValueArg one{1};
    const SignedValueArg negative{-56};
    const TwoValuesArg two{1, 1};
    const BrightnessArg brightness{2, 512};
    const MaskArg mask{0xFF};
    const Value16Arg value16{300};
    const TriggerSetting trigger{1, 1, 0, 9, 9, 90};
    const BandwidthArg bandwidth{3, 0.5f, 1.5f};
    const TextArg serial{"SN-ALL"};
    const TextArg raw{"getsn\r"};
    PacketArg packet;
    packet.values[0] = 1000;

    int sent = 0;
    std::vector<std::string> received;
    for (int id = 0; id < kCommandCount; ++id) {
        const CommandInfo* info = FindCommand(id);
        ASSERT_NE(info, nullptr) << id;
        const void* args = nullptr;
        switch (info->args) {
        case ArgKind::None: break;
        case ArgKind::Value: args = &one; break;
        case ArgKind::SignedValue: args = &negative; break;
        case ArgKind::TwoValues: args = &two; break;
        case ArgKind::Brightness: args = &brightness; break;
        case ArgKind::Mask: args = &mask; break;
        case ArgKind::Value16: args = &value16; break;
        case ArgKind::Trigger: args = &trigger; break;
        case ArgKind::BandwidthPair:
        case ArgKind::Bandwidth: args = &bandwidth; break;
        case ArgKind::Text: args = id == CMD_RAW ? &raw : &serial; break;
        case ArgKind::Packet: args = &packet; break;
        case ArgKind::NotSent: continue;
        }
        link.SendCommand(id, args);
        ++sent;
        Pause(20);
        for (std::string& line : DrainLog(link)) {
            if (line.rfind("-> ", 0) != 0) {
                received.push_back(std::move(line));
            }
        }
    }
    Pause(500);
    for (std::string& line : DrainLog(link)) {
        if (line.rfind("-> ", 0) != 0) {
            received.push_back(std::move(line));
        }
    }
    EXPECT_EQ(ErrorLines(received), std::vector<std::string>{});
    EXPECT_GE(static_cast<int>(received.size()), sent);
    EXPECT_GT(sent, 60);
    link.ClosePort();
}

TEST(SimEndToEnd, SilentControllerLeavesNothingToShow) {
    SimProcess sim({"--silent"});
    ASSERT_FALSE(sim.devicePath().empty());
    DeviceLink link;
    ASSERT_NE(OpenSim(link, sim), 0);
    SendRefreshBatch(link, 8);
    Pause(1000);
    DeviceState s;
    EXPECT_EQ(link.TakeSnapshot(s), 0);
    for (const std::string& line : DrainLog(link)) {
        EXPECT_EQ(line.rfind("-> ", 0), 0u) << "received: " << line;
    }
    link.ClosePort();
}

// Late answers, junk between the answers and over-long lines do not keep the values from the
// panel's record as long as they arrive within the refresh wait.
TEST(SimEndToEnd, RefreshSurvivesLateAndNoisyAnswers) {
    const std::vector<std::string> faults[] = {{"--delay", "300"}, {"--garbage", "--seed", "7"}};
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.front());
        std::vector<std::string> args = {"--serial", "NOISY-1", "--module-id", "9", "--channels", "6"};
        args.insert(args.end(), fault.begin(), fault.end());
        SimProcess sim(args);
        ASSERT_FALSE(sim.devicePath().empty());
        DeviceLink link;
        ASSERT_NE(OpenSim(link, sim), 0);
        SendRefreshBatch(link, 6);
        Pause(1000);
        DeviceState s;
        ASSERT_EQ(link.TakeSnapshot(s), 1);
        EXPECT_STREQ(s.serialNumber, "NOISY-1");
        EXPECT_STREQ(s.moduleName, "LX-1608");
        EXPECT_EQ(s.moduleId, 9);
        EXPECT_EQ(s.modelChannels, 6);
        EXPECT_EQ(s.onMask[0], 0x3F);
        EXPECT_EQ(s.brightness[0][15], 115);
        EXPECT_EQ(s.bandwidthHigh[15], 2.5f);
        EXPECT_EQ(s.trigger[0][3].offTime, 90);
        link.ClosePort();
    }
}

TEST(SimEndToEnd, UnaskedSwitchLinesReachTheState) {
    SimProcess sim({"--switch-every", "40", "--echo", "0"});
    ASSERT_FALSE(sim.devicePath().empty());
    DeviceLink link;
    ASSERT_NE(OpenSim(link, sim), 0);
    // Switch patterns seen without sending anything.
    std::vector<std::vector<int>> seen;
    for (int i = 0; i < 40 && seen.size() < 3; ++i) {
        Pause(50);
        DeviceState s;
        if (link.TakeSnapshot(s) == 1) {
            std::vector<int> pattern(s.switches, s.switches + kSwitchCount);
            if (seen.empty() || seen.back() != pattern) {
                seen.push_back(pattern);
            }
        }
    }
    EXPECT_GE(seen.size(), 3u);
    bool onlyBits = true;
    for (const auto& pattern : seen) {
        for (const int v : pattern) {
            onlyBits = onlyBits && (v == 0 || v == 1);
        }
    }
    EXPECT_TRUE(onlyBits);
    link.ClosePort();
}

}  // namespace

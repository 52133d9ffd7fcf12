// The virtual controller's own framing, interpreter and state, without a terminal.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim_controller.h"
#include "sim_options.h"

namespace {

using sim::Controller;

sim::Identity Quiet() {
    sim::Identity id;
    id.echo = false;
    return id;
}

// Feeds text and returns everything the controller answered.
std::string Feed(Controller& c, const std::string& bytes) {
    std::vector<Controller::Received> out;
    c.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
    std::string answer;
    for (const auto& r : out) {
        answer += r.answer;
    }
    return answer;
}

std::string Packet(const std::vector<unsigned>& values, unsigned char lastByte = 0xFD) {
    std::string p = {'\xFE', '\xFE', '\x1B', '\x00', '\x20'};
    for (int ch = 0; ch < 16; ++ch) {
        const unsigned v = ch < static_cast<int>(values.size()) ? values[ch] : 0;
        p.push_back(static_cast<char>(v >> 8));
        p.push_back(static_cast<char>(v & 0xFF));
    }
    p.push_back(static_cast<char>(lastByte));
    return p;
}

struct AnswerCase {
    const char* setup;     // commands run first, answers ignored
    const char* command;
    const char* answer;
};

TEST(SimController, AnswersQueriesInTheReplyFormats) {
    const AnswerCase cases[] = {
        {"", "getmodelch", "getmodelch 8\r\n"},
        {"", "gettrigchannel", "gettrigchannel 4\r\n"},
        {"", "getusepwm", "getusepwm 1\r\n"},
        {"", "getusepacket", "getusepacket 0\r\n"},
        {"setdebug 1\r", "getdebug", "getdebug 1\r\n"},
        {"", "getsoftstart", "getsoftstart 1\r\n"},
        {"setusetrig 1\rsetuseonoff 1\r", "getusetrig", "getusetrig 1\r\n"},
        {"setuseonoff 1\r", "getuseonoff", "getuseonoff 1\r\n"},
        {"setoffset 65535\r", "getoffset", "getoffset 65535\r\n"},
        {"", "getmoduleinfo", "modulename LX-1608\r\nID: 1\r\n"},
        {"", "getbuildinfo", "build 20130225\r\n"},
        {"", "getversioninfo", "f/w_version 2.5.0\r\nfpga_version 1.3\r\nbuild 20130225\r\n"},
        {"", "getfwversioninfo", "getfwversioninfo 2.5.0\r\n"},
        {"", "getfpgaversioninfo", "getfpgaversioninfo 1.3\r\n"},
        {"setsn AB-12\r", "getsn", "S/N: AB-12\r\n"},
        {"setsn AB-12\rsetsn \r", "getsn", "S/N: \r\n"},
        {"settrigchannel 255\r", "gettrigchannel", "gettrigchannel 255\r\n"},
        {"setmoduleid -56\r", "getmoduleid", "ID: 200\r\n"},
        {"setbandwidth 0.25 3\r", "getbandwidth", "getbandwidth 0.25 3\r\n"},
        {"setbandwidthex 15 1.2 7.5\r", "getbandwidthex 15", "getbandwidthex 15 1.2 7.5\r\n"},
        {"loadbright 3\r", "getonex", "getonex 3 ff\r\n"},
        {"loadbright 2\r# 5 1000\r", "$ 5", "$ 2 5 1000\r\n"},
        {"", "getbrightness 1", "getbrightness 0 1 101\r\n"},
        {"loadtrigger 7\rsettrigger 2 1 1 99 49 490\r", "gettrigger 2",
         "gettrigger 7 2 2 1 1 99 49 490\r\n"},
        // enable and edge come back as sent, whatever their value
        {"settrigger 3 2 255 0 0 0\r", "gettrigger 3", "gettrigger 0 3 3 2 255 0 0 0\r\n"},
        {"settrigger 3 255 7 0 0 0\r", "gettrigger 3", "gettrigger 0 3 3 255 7 0 0 0\r\n"},
        {"", "geterrstatus", "geterrstatus 0 0\r\n"},
        {"setoutport 1 1\r", "getportstatus", "getportstatus 0 2\r\n"},
        {"", "getswitch", "getswitch 0 0 0 1\r\n"},
        {"", "getmanbright 4", "getmanbright 4 512\r\n"},
        {"loadbright 9\rloadtrigger 5\r", "getbrightindex", "getbrightindex 9\r\n"},
        {"loadtrigger 5\r", "gettrigindex", "gettrigindex 5\r\n"},
        {"", "gettotalonoff", "gettotalonoff 0\r\n"},
        {"seton 3 0\r", "geton 3", "geton 3 0\r\n"},
        {"fpgaregset ff 10\r", "fpgaregget ff", "fpgaregget ff 10\r\n"},
        // acknowledgements carry the values that took effect
        {"", "# 0 1024", "# 0 1024\r\n"},
        {"", "setonex 1ffff", "setonex 0000ffff\r\n"},
        {"", "setmoduleid 7", "setmoduleid 7\r\n"},
        {"", "setbuzzer -56", "setbuzzer 1\r\n"},
        {"", "setoutportall 3", "setoutportall 3\r\n"},
        {"", "setbandwidthex 3 0.500000 1.200000", "setbandwidthex 3 0.5 1.2\r\n"},
        {"", "savesn", "savesn\r\n"},
        {"", "setmodelsave", "setmodelsave\r\n"},
        {"", "echo 1", "echo 1\r\n"},
        {"", "setsn", "setsn \r\n"},
        // refusals start with a word that is no reply keyword
        {"", "getmodelch16", "error unknown command getmodelch16\r\n"},
        {"", "GETMODELCH", "error unknown command GETMODELCH\r\n"},
        {"", "# 16 5", "error bad arguments #\r\n"},
        {"", "loadbright 10", "error bad arguments loadbright\r\n"},
        {"", "setusepwm 2", "error bad arguments setusepwm\r\n"},
        {"", "getmodelch 3", "error bad arguments getmodelch\r\n"},
        {"", "setbandwidth 1 nan", "error bad arguments setbandwidth\r\n"},
        {"", "setonex 1ffffffff", "error bad arguments setonex\r\n"},
        {"", "setmodelch 0", "error bad arguments setmodelch\r\n"},
        {"", "setsn A B", "error bad arguments setsn\r\n"},
        {"", "settrigchannel 256", "error bad arguments settrigchannel\r\n"},
        {"", "settrigger 0 0 256 0 0 0", "error bad arguments settrigger\r\n"},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.command);
        Controller controller(Quiet());
        Feed(controller, c.setup);
        EXPECT_EQ(controller.Execute(c.command), c.answer);
    }
}

// Memories hold what was saved into them; the panel closing the port (setonex 00000000) or
// unsaved edits do not reach them.
TEST(SimController, MemoriesGiveBackWhatWasSaved) {
    const char* const kSavedThenChanged =
        "# 0 1234\r# 15 4321\rsetonex 8001\rsavebright 3\r# 0 7\rsetonex 0\rloadbright 3\r";
    const AnswerCase cases[] = {
        {kSavedThenChanged, "$ 0", "$ 3 0 1234\r\n"},
        {kSavedThenChanged, "getonex", "getonex 3 8001\r\n"},
        {"loadbright 3\r# 2 900\rsavebright 3\rsetonex 00000000\rloadbright 3\r", "getonex",
         "getonex 3 ff\r\n"},
        {"loadbright 3\r# 2 900\rsavebright 3\rsetonex 00000000\rloadbright 3\r", "$ 2",
         "$ 3 2 900\r\n"},
        {"loadbright 2\r# 2 900\rseton 0 0\rloadbright 2\r", "$ 2", "$ 2 2 302\r\n"},
        {"loadbright 2\rsavebright 7\r", "getbrightindex", "getbrightindex 2\r\n"},
        {"loadtrigger 4\rsettrigger 1 1 1 5 6 60\rsavetrigger 4\rsettrigger 1 0 0 0 0 0\r"
         "loadtrigger 4\r",
         "gettrigger 1", "gettrigger 4 1 1 1 1 5 6 60\r\n"},
        {"settrigger 1 1 1 5 6 60\rloadtrigger 0\r", "gettrigger 1",
         "gettrigger 0 1 1 0 0 9 9 90\r\n"},
        {"loadtrigger 4\rsavetrigger 6\r", "gettrigindex", "gettrigindex 4\r\n"},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.setup);
        Controller controller(Quiet());
        Feed(controller, c.setup);
        EXPECT_EQ(controller.Execute(c.command), c.answer);
    }
}

TEST(SimController, AllChannelQueriesGiveSixteenLines) {
    Controller c(Quiet());
    Feed(c, "loadbright 1\rsetbandwidthex 9 4 8\rloadtrigger 2\r");
    struct Case {
        const char* command;
        std::string line9;  // the line of channel or trigger 9
    };
    const Case cases[] = {
        {"$ 255", "$ 1 9 209"},
        {"getbandwidthex 255", "getbandwidthex 9 4 8"},
        {"gettrigger 255", "gettrigger 2 9 9 0 0 9 9 90"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        const std::string answer = c.Execute(k.command);
        std::vector<std::string> lines;
        for (std::size_t pos = 0; pos < answer.size();) {
            const std::size_t end = answer.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos);
            lines.push_back(answer.substr(pos, end - pos));
            pos = end + 2;
        }
        ASSERT_EQ(lines.size(), 16u);
        EXPECT_EQ(lines[9], k.line9);
    }
}

struct StateCase {
    const char* name;
    const char* commands;
    std::function<void(const sim::State&)> check;
};

TEST(SimController, CommandsChangeStateAsAControllerWould) {
    const StateCase cases[] = {
        {"loadbright fills the working values, brightness changes only them",
         "loadbright 4\r# 2 777\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.brightIndex, 4);
             EXPECT_EQ(s.working.level[2], 777);
             EXPECT_EQ(s.working.level[3], 503);
             EXPECT_EQ(s.bright[4].level[2], 502);
         }},
        {"savebright copies the working values and keeps the index",
         "# 0 1\rsetonex 3\rsavebright 6\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.brightIndex, 0);
             EXPECT_EQ(s.bright[6].level[0], 1);
             EXPECT_EQ(s.bright[6].level[1], 101);
             EXPECT_EQ(s.bright[6].onMask, 3);
             EXPECT_EQ(s.bright[0].level[0], 100);
         }},
        {"packet sets all sixteen channels, CR and LF bytes included",
         nullptr,  // fed below
         [](const sim::State& s) {
             EXPECT_EQ(s.working.level[0], 0x0D0A);
             EXPECT_EQ(s.working.level[1], 1024);
             EXPECT_EQ(s.working.level[15], 0);
             EXPECT_EQ(s.bright[0].level[1], 101);
         }},
        {"seton and setonex edit the working mask",
         "loadbright 1\rsetonex 0\rseton 3 1\rseton 15 1\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.working.onMask, 0x8008);
             EXPECT_EQ(s.bright[1].onMask, 0x00FF);
         }},
        {"triggers: set in the working values, save, load",
         "loadtrigger 2\rsettrigger 1 1 1 5 6 60\rsavetrigger 8\rloadtrigger 3\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.trigIndex, 3);
             EXPECT_EQ(s.trigger[2][1].delay, 9);
             EXPECT_EQ(s.trigger[8][1].offTime, 60);
             EXPECT_EQ(s.trigger[8][1].edge, 1);
             EXPECT_EQ(s.workingTriggers[1].delay, 9);
         }},
        {"setbandwidth sets every channel, setbandwidthex one",
         "setbandwidth 1 2\rsetbandwidthex 4 -0.5 1e3\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.bandwidthLow[15], 1.0f);
             EXPECT_EQ(s.bandwidthHigh[0], 2.0f);
             EXPECT_EQ(s.bandwidthLow[4], -0.5f);
             EXPECT_EQ(s.bandwidthHigh[4], 1000.0f);
         }},
        {"identity and configuration",
         "setsn Q-77\rsetmoduleid -1\rsetmodelch 16\rsettrigchannel 0\rsetoffset 300\r"
         "setusepacket 1\rsetusepwm 0\rsetsoftstart 0\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.serial, "Q-77");
             EXPECT_EQ(s.moduleId, 255);
             EXPECT_EQ(s.modelChannels, 16);
             EXPECT_EQ(s.trigChannels, 0);
             EXPECT_EQ(s.offset, 300);
             EXPECT_EQ(s.usePacket, 1);
             EXPECT_EQ(s.usePwm, 0);
             EXPECT_EQ(s.softStart, 0);
         }},
        {"outputs", "setoutportall 2\rsetoutport 0 1\rsetoutport 1 0\r",
         [](const sim::State& s) { EXPECT_EQ(s.outputs, 1); }},
        {"factory reset restores the defaults but not the echo setting",
         "echo 1\rloadbright 5\r# 1 9\rsavebright 5\rsetsn X\rsetoffset 9\rloadtrigger 4\r"
         "factoryreset\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.brightIndex, 0);
             EXPECT_EQ(s.bright[5].level[1], 601);
             EXPECT_EQ(s.working.level[1], 101);
             EXPECT_EQ(s.serial, "LX24A00017");
             EXPECT_EQ(s.offset, 0);
             EXPECT_EQ(s.trigIndex, 0);
             EXPECT_TRUE(s.echo);
         }},
        {"factory reset keeps the saved serial number and module ID, not later changes",
         "setsn S-1\rsetmoduleid 9\rsavesn\rsaveid\rsetsn S-2\rsetmoduleid 10\rfactoryreset\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.serial, "S-1");
             EXPECT_EQ(s.moduleId, 9);
         }},
        {"savesn saves the serial number only", "setsn\rsetmoduleid 9\rsavesn\rfactoryreset\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.serial, "");
             EXPECT_EQ(s.moduleId, 1);
         }},
        {"saveid saves the module ID only", "setsn S-1\rsetmoduleid 9\rsaveid\rfactoryreset\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.serial, "LX24A00017");
             EXPECT_EQ(s.moduleId, 9);
         }},
        {"refused commands change nothing",
         "# 2 65536\rloadbright -1\rsettrigger 16 1 0 1 1 1\rsetsn 0123456789012345678901234567890"
         "12345678901234567890123456789012345\rsetoutportall 4\r",
         [](const sim::State& s) {
             EXPECT_EQ(s.working.level[2], 102);
             EXPECT_EQ(s.brightIndex, 0);
             EXPECT_EQ(s.serial, "LX24A00017");
             EXPECT_EQ(s.outputs, 0);
         }},
    };
    for (const StateCase& k : cases) {
        SCOPED_TRACE(k.name);
        Controller c(Quiet());
        if (k.commands != nullptr) {
            Feed(c, k.commands);
        } else {
            EXPECT_EQ(Feed(c, Packet({0x0D0A, 1024})), "setbrightpacket\r\n");
        }
        k.check(c.state());
    }
}

TEST(SimController, FramingOfLinesAndPackets) {
    struct Case {
        const char* name;
        std::vector<std::string> chunks;         // fed one after the other
        std::vector<std::string> transcript;     // expected, in order
        std::string answer;
    };
    const std::string packet = Packet({0x0D0A, 0x0A0D});
    const Case cases[] = {
        {"CR, LF and CR LF each end one command",
         {"getoffset\rgetoffset\ngetoffset\r\ngetoffset\r"},
         {"getoffset", "getoffset", "getoffset", "getoffset"},
         "getoffset 0\r\ngetoffset 0\r\ngetoffset 0\r\ngetoffset 0\r\n"},
        {"a command split over reads", {"getmo", "delch", "\r"}, {"getmodelch"}, "getmodelch 8\r\n"},
        {"blank lines are harmless", {"\n", "  \r", "\r"}, {"", "  ", ""}, ""},
        {"packet split over reads, with CR and LF inside",
         {packet.substr(0, 1), packet.substr(1, 20), packet.substr(21) + "getonex\r"},
         {"fe fe 1b 00 20 0d 0a 0a 0d 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
          "00 00 00 00 00 00 00 fd",
          "getonex"},
         "setbrightpacket\r\ngetonex 0 ff\r\n"},
        {"packet right after a CR LF command", {"getoffset\r\n" + packet},
         {"getoffset", "fe fe 1b 00 20 0d 0a 0a 0d 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                       "00 00 00 00 00 00 00 00 00 00 00 fd"},
         "getoffset 0\r\nsetbrightpacket\r\n"},
        {"a lone FE is text", {"\xFEgetoffset\r"}, {"\xFEgetoffset"},
         "error unknown command \xFEgetoffset\r\n"},
        {"a packet with a wrong end byte is refused", {Packet({1}, 0x00)},
         {"fe fe 1b 00 20 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
          "00 00 00 00 00 00 00 00"},
         "error bad packet\r\n"},
        {"an over-long line is refused and the next one runs",
         {std::string(300, 'x') + "\rgetoffset\r"},
         {std::string(sim::kMaxLineLength, 'x'), "getoffset"},
         "error line too long\r\ngetoffset 0\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Controller c(Quiet());
        std::vector<Controller::Received> out;
        for (const std::string& chunk : k.chunks) {
            c.Feed(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size(), out);
        }
        std::vector<std::string> transcript;
        std::string answer;
        for (const auto& r : out) {
            transcript.push_back(r.transcript);
            answer += r.answer;
        }
        EXPECT_EQ(transcript, k.transcript);
        EXPECT_EQ(answer, k.answer);
    }
}

TEST(SimController, DroppedUnfinishedInputLeavesNoTrace) {
    struct Case {
        const char* name;
        std::string before;  // fed, then whatever is unfinished is dropped
        bool unfinished;     // expected before the drop
        std::string after;
        std::vector<std::string> transcript;
        std::string answer;
    };
    const std::string packet = Packet({7});
    std::string packetText = "fe fe 1b 00 20 00 07";
    for (int i = 0; i < 30; ++i) {
        packetText += " 00";
    }
    packetText += " fd";
    const Case cases[] = {
        {"part of a line", "getmo", true, "getoffset\r", {"getoffset"}, "getoffset 0\r\n"},
        {"part of an over-long line", std::string(300, 'x'), true, "getoffset\r", {"getoffset"},
         "getoffset 0\r\n"},
        {"part of a packet", packet.substr(0, 10), true, "getoffset\r", {"getoffset"},
         "getoffset 0\r\n"},
        {"a lone FE", "\xFE", true, packet, {packetText}, "setbrightpacket\r\n"},
        {"finished commands", "getoffset\r", false, "getmodelch\r", {"getoffset", "getmodelch"},
         "getoffset 0\r\ngetmodelch 8\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Controller c(Quiet());
        std::vector<Controller::Received> out;
        c.Feed(reinterpret_cast<const unsigned char*>(k.before.data()), k.before.size(), out);
        EXPECT_EQ(c.HasUnfinished(), k.unfinished);
        c.DropUnfinished();
        EXPECT_FALSE(c.HasUnfinished());
        c.Feed(reinterpret_cast<const unsigned char*>(k.after.data()), k.after.size(), out);
        std::vector<std::string> transcript;
        std::string answer;
        for (const auto& r : out) {
            transcript.push_back(r.transcript);
            answer += r.answer;
        }
        EXPECT_EQ(transcript, k.transcript);
        EXPECT_EQ(answer, k.answer);
    }
}

TEST(SimController, EchoIsOnAtStartAndSwitchable) {
    Controller c{sim::Identity{}};
    EXPECT_EQ(Feed(c, "getmodelch\r"), "getmodelch\r\ngetmodelch 8\r\n");
    EXPECT_EQ(Feed(c, "\r"), "\r\n");
    EXPECT_EQ(Feed(c, "echo 0\r"), "echo 0\r\necho 0\r\n");
    EXPECT_EQ(Feed(c, "getmodelch\r"), "getmodelch 8\r\n");
    EXPECT_EQ(Feed(c, Packet({5})), "setbrightpacket\r\n");
    EXPECT_EQ(Feed(c, "echo 1\r"), "echo 1\r\n");
    EXPECT_EQ(Feed(c, "getoffset\r"), "getoffset\r\ngetoffset 0\r\n");
}

TEST(SimController, UnaskedSwitchLinesChangeAndMatchTheState) {
    Controller c(Quiet());
    std::vector<std::string> lines;
    for (int i = 0; i < 4; ++i) {
        lines.push_back(c.NextSwitchLine());
    }
    EXPECT_EQ(lines[0], "getswitch 1 0 0 0\r\n");
    EXPECT_EQ(lines[3], "getswitch 0 0 1 0\r\n");
    EXPECT_EQ(c.Execute("getswitch"), lines[3]);
}

TEST(SimOptions, ParsesOrRefuses) {
    struct Case {
        std::vector<const char*> args;
        sim::ParseResult result;
        const char* messagePart;  // for errors
    };
    const Case cases[] = {
        {{"--channels", "16", "--model=LX-2"}, sim::ParseResult::Run, ""},
        {{"--help"}, sim::ParseResult::Help, ""},
        {{"--bogus"}, sim::ParseResult::Error, "unknown option '--bogus'"},
        {{"--channels", "4"}, sim::ParseResult::Run, ""},
        {{"--channels", "3"}, sim::ParseResult::Error, "from 4 to 16"},
        {{"--channels", "17"}, sim::ParseResult::Error, "from 4 to 16"},
        {{"--channels", "8x"}, sim::ParseResult::Error, "'8x'"},
        {{"--delay"}, sim::ParseResult::Error, "needs a value"},
        {{"--model", "two words"}, sim::ParseResult::Error, "one word"},
        {{"--silent=1"}, sim::ParseResult::Error, "takes no value"},
        {{"--error", "1"}, sim::ParseResult::Error, "CODE,DETAIL"},
        {{"--switches", "1,0,1"}, sim::ParseResult::Error, "four values"},
        {{"--hangup-after", "0"}, sim::ParseResult::Error, "from 1"},
        {{"stray"}, sim::ParseResult::Error, "unexpected argument 'stray'"},
    };
    for (const Case& k : cases) {
        std::vector<const char*> argv = {"lumitrax-sim"};
        argv.insert(argv.end(), k.args.begin(), k.args.end());
        SCOPED_TRACE(k.args.front());
        sim::Options o;
        std::string message;
        EXPECT_EQ(sim::ParseOptions(static_cast<int>(argv.size()), argv.data(), o, message),
                  k.result);
        EXPECT_NE(message.find(k.messagePart), std::string::npos) << message;
    }
}

TEST(SimOptions, IdentityOptionsReachTheAnswers) {
    const char* argv[] = {"lumitrax-sim", "--model", "LX-2",     "--serial",    "S9",
                          "--firmware",   "4.0",     "--fpga",   "F1",          "--build",
                          "B7",           "--module-id", "77",   "--channels",  "12",
                          "--inputs",     "2",       "--tof",    "1",           "--error",
                          "5,171",        "--switches", "1,1,0,0", "--echo",    "0"};
    sim::Options o;
    std::string message;
    ASSERT_EQ(sim::ParseOptions(static_cast<int>(std::size(argv)), argv, o, message), sim::ParseResult::Run)
        << message;
    Controller c(o.identity);
    EXPECT_EQ(c.Execute("getmoduleinfo"), "modulename LX-2\r\nID: 77\r\n");
    EXPECT_EQ(c.Execute("getversioninfo"), "f/w_version 4.0\r\nfpga_version F1\r\nbuild B7\r\n");
    EXPECT_EQ(c.Execute("getsn"), "S/N: S9\r\n");
    EXPECT_EQ(c.Execute("getonex"), "getonex 0 fff\r\n");
    EXPECT_EQ(c.Execute("getportstatus"), "getportstatus 2 0\r\n");
    EXPECT_EQ(c.Execute("gettotalonoff"), "gettotalonoff 1\r\n");
    EXPECT_EQ(c.Execute("geterrstatus"), "geterrstatus 5 ab\r\n");
    EXPECT_EQ(c.Execute("getswitch"), "getswitch 1 1 0 0\r\n");
    EXPECT_EQ(Feed(c, "getmodelch\r"), "getmodelch 12\r\n");  // no echo
}

}  // namespace

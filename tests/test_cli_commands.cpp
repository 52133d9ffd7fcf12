// The commands of lumitrax against the fake line: the bytes each puts on the wire, the mask
// that on/off compute from the controller's, how an answer, silence or a refusal ends, the
// configuration that apply-config sends, and the reports of several ports.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "fake_serial_port.h"
#include "port_list.h"

namespace {

// Answers setters with their own line, the two on-mask queries, the DAC table (0.5 ~ 2 in
// every row) and any scripted query.
struct FakeController {
    bool silent = false;
    bool reportMask = true;
    int brightIndex = 0;
    unsigned mask = 0;
    std::string refuse;                         // first word that gets an error line
    std::map<std::string, std::string> replies;  // query -> reply line

    std::string operator()(int, std::string_view written) const {
        if (silent) {
            return {};
        }
        if (!written.empty() && static_cast<unsigned char>(written[0]) == 0xFE) {
            return "setbrightpacket\r\n";
        }
        std::string line(written);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string first = line.substr(0, line.find(' '));
        if (first == refuse) {
            return "error bad arguments " + first + "\r\n";
        }
        if (line == "getbrightindex") {
            return "getbrightindex " + std::to_string(brightIndex) + "\r\n";
        }
        if (line == "getonex") {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", mask);
            return reportMask ? "getonex " + std::to_string(brightIndex) + " " + hex + "\r\n" : std::string();
        }
        if (const auto it = replies.find(line); it != replies.end()) {
            return it->second + "\r\n";
        }
        if (line == "getbandwidthex 255") {
            std::string table;
            for (int i = 0; i < 16; ++i) {
                table += "getbandwidthex " + std::to_string(i) + " 0.5 2\r\n";
            }
            return table;
        }
        const bool query = first.rfind("get", 0) == 0 || first == "$";
        return query ? std::string() : line + "\r\n";
    }
};

class CliFixture : public ::testing::Test {
protected:
    CliFixture() {
        pauses.onPause = [this](int) { line.DeliverPending(); };
        link.SetCloseAction(DeviceLink::CloseAction::KeepOutputs);
    }

    CliResult Run(QStringList args, const FakeController& controller) {
        line.responder = controller;
        const CliParse p = ParseCliArguments(QStringList{"lumitrax", "--port", "/dev/fake-cli"} + args);
        EXPECT_EQ(p.action, CliParse::Run) << p.message.toStdString();
        return RunCliCommand(p.request, link);
    }

    std::vector<std::string> WritesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& w : line.writes) {
            if (w.rfind(prefix, 0) == 0) {
                out.push_back(w);
            }
        }
        return out;
    }

    PauseRecorder pauses;
    FakeLine line;
    DeviceLink link{line.Factory()};
};

using CliSwitch = CliFixture;
using CliSend = CliFixture;
using CliAnswer = CliFixture;
using CliApplyConfig = CliFixture;
using CliPorts = CliFixture;

TEST_F(CliSwitch, SendsOneMaskBuiltOnTheControllersCurrentOne) {
    const struct {
        QStringList args;
        int brightIndex;
        unsigned mask;
        const char* sent;
        bool reads;
    } cases[] = {
        {{"on", "2", "4"}, 0, 0x01, "setonex 0000000b\r", true},
        {{"off", "1"}, 0, 0xff, "setonex 000000fe\r", true},
        {{"on", "16"}, 2, 0x3, "setonex 00008003\r", true},
        {{"off", "3", "3"}, 9, 0x4, "setonex 00000000\r", true},
        {{"on", "all"}, 0, 0x1, "setonex 0000ffff\r", false},
        {{"off", "all"}, 0, 0xff, "setonex 00000000\r", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        line.writes.clear();
        FakeController controller;
        controller.brightIndex = c.brightIndex;
        controller.mask = c.mask;
        const CliResult r = Run(c.args, controller);
        EXPECT_EQ(r.exitCode, kExitDone);
        const std::vector<std::string> masks = WritesStartingWith("setonex");
        ASSERT_EQ(masks.size(), 1u);
        EXPECT_EQ(masks[0], c.sent);
        EXPECT_EQ(line.writes.back(), c.sent);
        EXPECT_EQ(line.writes.size() > 1, c.reads);
    }
}

TEST_F(CliSwitch, SwitchesNothingWithoutTheControllersMask) {
    FakeController noMask;
    noMask.reportMask = false;
    FakeController silent;
    silent.silent = true;
    FakeController noSuchMemory;
    noSuchMemory.brightIndex = 12;
    for (const FakeController* c : {&noMask, &silent, &noSuchMemory}) {
        line.writes.clear();
        const CliResult r = Run({"off", "2"}, *c);
        EXPECT_EQ(r.exitCode, kExitNoAnswer);
        ASSERT_EQ(r.errors.size(), 1);
        EXPECT_TRUE(WritesStartingWith("setonex").empty()) << r.errors[0].toStdString();
        EXPECT_FALSE(line.writes.empty());  // the read-all went out
    }
}

TEST_F(CliSend, PutsThePanelsCommandsOnTheLine) {
    std::vector<std::string> setAll;
    for (int i = 0; i < 16; ++i) {
        setAll.push_back("# " + std::to_string(i) + " 7\r");
    }
    std::vector<std::string> loadBright = {"loadbright 3\r"};
    for (int i = 0; i < 16; ++i) {
        loadBright.push_back("$ " + std::to_string(i) + "\r");
    }
    loadBright.push_back("getonex\r");
    const struct {
        QStringList args;
        std::vector<std::string> writes;
    } cases[] = {
        {{"set", "3", "512"}, {"# 2 512\r"}},
        {{"set", "all", "7"}, setAll},
        {{"trigger", "2", "--delay", "100", "--on", "50", "--edge", "negative", "--enable", "1"},
         {"settrigger 1 1 1 99 49 490\r"}},
        {{"oneshot"}, {"setoneshottrig\r"}},
        {{"save-bright", "3"}, {"savebright 3\r"}},
        {{"save-trigger", "4"}, {"savetrigger 4\r"}},
        {{"load-bright", "3"}, loadBright},
        {{"raw", "getsn"}, {"getsn\r"}},
    };
    FakeController controller;
    controller.replies = {{"getsn", "S/N: 7"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        line.writes.clear();
        EXPECT_EQ(Run(c.args, controller).exitCode, kExitDone);
        EXPECT_EQ(line.writes, c.writes);
    }
}

TEST_F(CliSend, LoadBrightPausesTwiceBeforeItsQueriesAsThePanelDoes) {
    std::vector<std::size_t> writesAtPause;
    pauses.onPause = [&](int) {
        writesAtPause.push_back(line.writes.size());
        line.DeliverPending();
    };
    EXPECT_EQ(Run({"load-bright", "3"}, FakeController{}).exitCode, kExitDone);
    ASSERT_GE(writesAtPause.size(), 3u);
    EXPECT_EQ(writesAtPause[0], 1u);  // the command's own 10 ms
    EXPECT_EQ(writesAtPause[1], 1u);  // and 10 ms more before "$ 0"
    EXPECT_EQ(writesAtPause[2], 2u);
    for (const int ms : pauses.pauses) {
        EXPECT_EQ(ms, 10);
    }
}

TEST_F(CliSend, PacketCarriesTheSixteenValuesHighByteFirst) {
    QStringList args = {"packet"};
    for (int i = 0; i < 16; ++i) {
        args.append(QString::number(i == 0 ? 1024 : i));
    }
    EXPECT_EQ(Run(args, FakeController{}).exitCode, kExitDone);
    ASSERT_EQ(line.writes.size(), 1u);
    const std::string& p = line.writes[0];
    ASSERT_EQ(p.size(), 38u);
    EXPECT_EQ(p.substr(0, 5), std::string("\xFE\xFE\x1B\x00\x20", 5));
    EXPECT_EQ(p.substr(5, 4), std::string("\x04\x00\x00\x01", 4));
    EXPECT_EQ(p.substr(35, 3), std::string("\x00\x0F\xFD", 3));
}

TEST_F(CliAnswer, ExitStatusTellsAnswerSilenceAndRefusalApart) {
    FakeController answers;
    FakeController silent;
    silent.silent = true;
    FakeController refuses;
    refuses.refuse = "#";
    const struct {
        const FakeController* controller;
        int exitCode;
        const char* error;
        int received;
    } cases[] = {
        {&answers, kExitDone, "", 1},
        {&silent, kExitNoAnswer, "/dev/fake-cli: the controller did not answer within 300 ms", 0},
        {&refuses, kExitNoAnswer, "/dev/fake-cli: the controller refused: error bad arguments #", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const CliResult r = Run({"--timeout", "300", "--json", "set", "1", "5"}, *c.controller);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.json["exit"].toInt(), c.exitCode);
        EXPECT_EQ(r.json["sent"].toArray(), QJsonArray{"# 0 5"});
        EXPECT_EQ(r.json["received"].toArray().size(), c.received);
        EXPECT_EQ(r.json["error"].toString(), QLatin1String(c.error));
        EXPECT_EQ(r.errors.join(""), QLatin1String(c.error));
    }
}

TEST_F(CliApplyConfig, KeepsWhatTheFileDoesNotHoldAsTheControllerReportsIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rig.ini");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("ID 5\nchannel 12\nuse_pwm 1\n");
    file.close();

    FakeController controller;
    controller.replies = {{"gettrigchannel", "gettrigchannel 3"}, {"getuseonoff", "getuseonoff 1"},
                          {"getsoftstart", "getsoftstart 1"},     {"getusetrig", "getusetrig 1"},
                          {"getmoduleid", "ID: 9"}};
    const CliResult r = Run({"--json", "apply-config", path}, controller);
    EXPECT_EQ(r.exitCode, kExitDone) << r.errors.join('\n').toStdString();
    for (const char* sent : {"setmoduleid 5\r", "setmodelch 12\r", "settrigchannel 3\r", "setuseonoff 1\r",
                             "setsoftstart 1\r", "setusetrig 1\r", "setusepwm 1\r",
                             "setbandwidthex 4 0.500000 2.000000\r"}) {
        EXPECT_EQ(WritesStartingWith(sent).size(), 1u) << sent;
    }
    EXPECT_EQ(line.writes.back(), "setmodelsave\r");

    // --verify reads back: this controller keeps its old ID but reports the rest as written.
    controller.replies["getmodelch"] = "getmodelch 12";
    controller.replies["getusepwm"] = "getusepwm 1";
    line.writes.clear();
    const CliResult verified = Run({"--json", "apply-config", path, "--verify"}, controller);
    EXPECT_EQ(verified.exitCode, kExitNoAnswer);
    const QJsonArray diffs = verified.json["ports"][0]["differences"].toArray();
    ASSERT_EQ(diffs.size(), 1);
    EXPECT_EQ(diffs[0]["field"].toString(), "ID");
    EXPECT_EQ(diffs[0]["file"].toString(), "5");
    EXPECT_EQ(diffs[0]["controller"].toString(), "9");
}

TEST_F(CliApplyConfig, StopsAtTheDacCheckAndNeverOpensForAnUnreadableFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.ini");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("dac_bandwidth 15 1.2 1.2\n");
    file.close();

    const CliResult bad = Run({"apply-config", path}, FakeController{});
    EXPECT_EQ(bad.exitCode, kExitUsage);
    ASSERT_EQ(bad.errors.size(), 1);
    EXPECT_TRUE(bad.errors[0].startsWith("Invalid parameter,Check please!! (dac_bandwidth 15: 1.200000"));
    EXPECT_EQ(WritesStartingWith("saveid").size(), 1u);
    EXPECT_TRUE(WritesStartingWith("setbandwidth").empty());
    EXPECT_TRUE(WritesStartingWith("setoffset").empty());

    const int created = line.created;
    for (const char* command : {"apply-config", "verify-config"}) {
        const CliResult missing = Run({command, dir.filePath("none.ini")}, FakeController{});
        EXPECT_EQ(missing.exitCode, kExitUsage);
        EXPECT_TRUE(missing.errors.join("").contains("File Open Error"));
    }
    EXPECT_EQ(line.created, created);
}

TEST_F(CliPorts, SeveralPortsGiveOneReportEachAndTheWorstStatus) {
    line.failingPorts.insert(PortNumberForPath("/dev/fake-gone"));
    FakeController controller;
    controller.replies = {{"getsn", "S/N: A-1"}};
    const CliResult r = Run({"--json", "--port", "/dev/fake-gone", "--port", "/dev/fake-cli", "info"}, controller);
    EXPECT_EQ(r.exitCode, kExitPortFailed);
    const QJsonArray ports = r.json["ports"].toArray();
    ASSERT_EQ(ports.size(), 3);
    EXPECT_EQ(ports[0]["exit"].toInt(), kExitDone);
    EXPECT_EQ(ports[0]["identity"]["serial"].toString(), "A-1");
    EXPECT_EQ(ports[1]["port"].toString(), "/dev/fake-gone");
    EXPECT_EQ(ports[1]["exit"].toInt(), kExitPortFailed);
    EXPECT_FALSE(ports[1]["error"].toString().isEmpty());
    EXPECT_EQ(ports[2]["exit"].toInt(), kExitDone);

    FakeController silent;
    silent.silent = true;
    const CliResult quiet = Run({"--port", "/dev/fake-cli", "info"}, silent);
    EXPECT_EQ(quiet.exitCode, kExitNoAnswer);
}

}  // namespace

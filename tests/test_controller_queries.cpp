// The widget-free port actions: the read-all batch, the probe with its identity parse, the
// search, and the reasons a real port gives for not opening.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller_queries.h"
#include "fake_serial_port.h"
#include "port_list.h"
#include "scripted_controller.h"

namespace {

std::vector<std::string> Commands(const FakeLine& line) { return line.writes; }

TEST(ReadAllBatch, QueriesOnlyTheTriggerRowsOfTheChannelsInUse) {
    const struct {
        int channels;
        int triggerQueries;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {4, 4}, {8, 4}, {16, 4}};
    for (const auto& c : cases) {
        FakeLine line;
        PauseRecorder pauses;
        DeviceLink link(line.Factory());
        ASSERT_NE(link.OpenPort(1), 0);
        SendReadAllBatch(link, c.channels);
        const std::vector<std::string> w = Commands(line);
        ASSERT_EQ(w.size(), 25u + static_cast<std::size_t>(c.triggerQueries)) << c.channels;
        EXPECT_EQ(w.front(), "getmoduleinfo\r");
        EXPECT_EQ(w[20], "getbandwidthex 255\r");
        EXPECT_EQ(w[21], "$ 255\r");
        for (int k = 0; k < c.triggerQueries; ++k) {
            EXPECT_EQ(w[22 + static_cast<std::size_t>(k)], "gettrigger " + std::to_string(k) + "\r");
        }
        EXPECT_EQ(w[w.size() - 3], "getversioninfo\r");
        EXPECT_EQ(w.back(), "gettotalonoff\r");
    }
}

TEST(ReadAll, WaitsASecondAndReportsWhetherAnyReplyCame) {
    FakeLine line;
    PauseRecorder pauses;
    pauses.onPause = [&line](int) { line.DeliverPending(); };
    ScriptedController controller;
    controller.On("getmodelch", "getmodelch 8").On("getsn", "S/N: 0042");
    line.responder = controller;
    DeviceLink link(line.Factory());
    ASSERT_NE(link.OpenPort(1), 0);

    DeviceState state;
    EXPECT_EQ(ReadAll(link, 8, state), 1);
    EXPECT_EQ(state.modelChannels, 8);
    EXPECT_STREQ(state.serialNumber, "0042");
    EXPECT_EQ(pauses.pauses.back(), kReadAllWaitMs);

    line.responder = nullptr;
    EXPECT_EQ(ReadAll(link, 8, state), 0);  // silence
}

TEST(IdentityLine, FirstWordExactlyThenTheNextWord) {
    const struct {
        const char* line;
        const char* name;
        const char* fw;
        const char* fpga;
        const char* build;
        const char* sn;
    } cases[] = {
        {"modulename LT-16 extra", "LT-16", "", "", "", ""},
        {"getfwversioninfo 1.2", "", "1.2", "", "", ""},
        {"f/w_version 2.0", "", "2.0", "", "", ""},
        {"getfpgaversioninfo F3", "", "", "F3", "", ""},
        {"fpga_version F4", "", "", "F4", "", ""},
        {"build Feb25", "", "", "", "Feb25", ""},
        {"S/N: 0042", "", "", "", "", "0042"},
        {"S/N:0042", "", "", "", "", ""},          // the keyword needs its blank
        {"Modulename X", "", "", "", "", ""},      // case counts
        {"-> getsn\r", "", "", "", "", ""},         // the log's own entries
        {"modulename", "", "", "", "", ""},        // no value
        {"build    B7", "", "", "", "B7", ""},      // blanks before the value
    };
    for (const auto& c : cases) {
        ControllerIdentity id;
        ParseIdentityLine(c.line, id);
        EXPECT_EQ(id.moduleName, c.name) << c.line;
        EXPECT_EQ(id.firmwareVersion, c.fw) << c.line;
        EXPECT_EQ(id.fpgaVersion, c.fpga) << c.line;
        EXPECT_EQ(id.build, c.build) << c.line;
        EXPECT_EQ(id.serialNumber, c.sn) << c.line;
    }
    ControllerIdentity later;
    ParseIdentityLine("modulename A", later);
    ParseIdentityLine("modulename B", later);
    EXPECT_EQ(later.moduleName, "B");
    ParseIdentityLine(("S/N: " + std::string(300, 'x')).c_str(), later);
    EXPECT_EQ(later.serialNumber.size(), 127u);
}

ScriptedController Answering(const std::string& name, bool withFpga, bool withSerial) {
    ScriptedController c;
    c.On("getmoduleinfo", "modulename " + name).On("getbuildinfo", "build B1").On("getfwversioninfo", "getfwversioninfo 1.0");
    if (withFpga) {
        c.On("getfpgaversioninfo", "getfpgaversioninfo F2");
    }
    if (withSerial) {
        c.On("getsn", "S/N: SN" + name);
    }
    return c;
}

TEST(Search, ProbesEachPortWithTheFixedWaitsAndReportsCompleteIdentities) {
    FakeLine line;
    PauseRecorder pauses;
    pauses.onPause = [&line](int) { line.DeliverPending(); };
    line.failingPorts = {2};
    const ScriptedController full = Answering("LT-16", true, true);
    const ScriptedController noFpga = Answering("LT-8", false, true);
    const ScriptedController noSerial = Answering("LT-4", true, false);
    line.responder = [&](int port, std::string_view written) {
        switch (port) {
        case 1: return full(port, written);
        case 3: return noFpga(port, written);
        case 4: return noSerial(port, written);
        default: return std::string();
        }
    };
    DeviceLink link(line.Factory());
    std::vector<std::string> reported;
    const std::vector<SearchHit> hits =
        SearchPorts(link, {{1, "COM1"}, {2, "COM2"}, {3, "COM3"}, {4, "COM4"}},
                    [&reported](const SearchHit& hit) { reported.push_back(SearchReportLine(hit)); });

    EXPECT_EQ(reported, (std::vector<std::string>{"COM1 LT-16 1.0 F2 B1 SNLT-16", "COM3 LT-8 1.0  B1 SNLT-8"}));
    EXPECT_EQ(hits.size(), 2u);
    EXPECT_FALSE(link.IsOpen());
    // Per opened port: 8 commands with their 10 ms, seven waits of 100 ms, one of 800 ms and
    // the second of the close; the port that failed to open costs nothing.
    const std::vector<int> probe = {10, 100, 10, 100, 10, 100, 10, 100, 10, 100, 10, 100, 10, 100, 10, 800, 10, 1000};
    std::vector<int> expected;
    for (int port = 0; port < 3; ++port) {
        expected.insert(expected.end(), probe.begin(), probe.end());
    }
    EXPECT_EQ(pauses.pauses, expected);
    EXPECT_EQ(line.writes[0], "\r");
    EXPECT_EQ(line.writes[1], "echo 0\r");
}

TEST(Search, NothingAnswersNothingFound) {
    FakeLine line;
    PauseRecorder pauses;
    DeviceLink link(line.Factory());
    EXPECT_TRUE(SearchPorts(link, {{1, "COM1"}, {5, "COM5"}}).empty());
}

// A real serial object on paths that are not serial ports says why it could not open.
TEST(OpenFailure, RealPortsNameTheCause) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plainFile = dir.filePath(QStringLiteral("not-a-port"));
    {
        QFile f(plainFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const struct {
        QString path;
        OpenFailure expected;
        const char* words;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing")), OpenFailure::NotFound, "gone"},
        {plainFile, OpenFailure::NotSerial, "not a serial device"},
        {QStringLiteral("/dev/null"), OpenFailure::NotSerial, "not a serial device"},
    };
    for (const auto& c : cases) {
        AddPortPath(c.path);
        const int number = PortNumberForPath(c.path);
        DeviceLink link;
        EXPECT_EQ(link.OpenPort(number), 0) << c.path.toStdString();
        EXPECT_EQ(link.LastOpenFailure(), c.expected) << c.path.toStdString();
        const QString reason = DescribeOpenFailure(link.LastOpenFailure(), number);
        EXPECT_TRUE(reason.contains(c.path)) << reason.toStdString();
        EXPECT_TRUE(reason.contains(QLatin1String(c.words))) << reason.toStdString();
    }
    DeviceLink link;
    EXPECT_EQ(link.OpenPort(99999), 0);
    EXPECT_EQ(link.LastOpenFailure(), OpenFailure::NotFound);
    ClearAddedPortPaths();
}

}  // namespace

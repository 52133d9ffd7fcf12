// The panel's port, channel and status actions against the fake line: the exact lines and
// packets, the waits, the messages and what the controls show.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control_panel.h"
#include "message_list.h"
#include "fake_serial_port.h"
#include "scripted_controller.h"
#include "test_panel_fakes.h"
#include "updown_spin.h"

namespace {

std::vector<PortEntry> FakePorts() {
    std::vector<PortEntry> ports;
    for (int n = 1; n <= 4; ++n) {
        const QString path = QStringLiteral("/dev/fake%1").arg(n);
        ports.push_back({n, path, QString(), QStringLiteral("COM%1 %2").arg(n).arg(path)});
    }
    return ports;
}

QString Top(const CControlPanelDlg& panel, int row = 0) { return panel.MessageText(row); }

std::vector<std::string> Since(const FakeLine& line, std::size_t from) {
    return std::vector<std::string>(line.writes.begin() + static_cast<std::ptrdiff_t>(from), line.writes.end());
}

class PortActions : public ::testing::Test {
protected:
    void SetUp() override {
        pauses.onPause = [this](int) { line.DeliverPending(); };
        PanelPlatform platform = fakes.Make(line.Factory());
        platform.listPorts = &FakePorts;
        platform.isApplicationActive = [] { return true; };
        panel = new CControlPanelDlg(&host, platform);
        panel->Create();
    }
    void TearDown() override { delete panel; }

    // Opens port n with the given channel count; the controller answers with `controller`.
    void Open(int channels, int port = 1) {
        panel->m_editChannelInput->setText(QString::number(channels));
        panel->m_comboPort->setCurrentIndex(port - 1);
        panel->OnOpenPort();
    }
    bool RowShown(int i) const {
        return !panel->m_sliderBright[i]->isHidden() && !panel->m_checkMatrix[4 * i + kOnColumn]->isHidden();
    }

    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
    QDialog host;
    CControlPanelDlg* panel = nullptr;
};

TEST_F(PortActions, OpenChecksTheChannelCountAndShowsThatManyRows) {
    const struct {
        int channels;
        bool opens;
        int rows;
    } cases[] = {{0, false, 0}, {17, false, 0}, {16, true, 16}, {1, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        TearDown();
        line = FakeLine{};
        SetUp();
        Open(c.channels);
        EXPECT_EQ(panel->m_bPortOpen, c.opens ? 1 : 0);
        EXPECT_EQ(panel->m_pLink->IsOpen(), c.opens);
        if (!c.opens) {
            EXPECT_EQ(Top(*panel), QStringLiteral("Invalid number of channel"));
            EXPECT_TRUE(line.writes.empty());
            continue;
        }
        // No reply to the read-all batch: "Open complete" stays the newest line.
        EXPECT_EQ(Top(*panel), QStringLiteral("Open complete"));
        EXPECT_EQ(panel->m_nChannelCount, c.rows);
        for (int i = 0; i < kChannelCount; ++i) {
            EXPECT_EQ(RowShown(i), i < c.rows) << i;
        }
        EXPECT_FALSE(panel->m_checkAll[kOnColumn]->isHidden());
        EXPECT_FALSE(panel->m_checkGrab->isHidden());
        EXPECT_FALSE(panel->m_comboPort->isEnabled());
        EXPECT_FALSE(panel->m_editChannelInput->isEnabled());
        EXPECT_EQ(panel->Timers().Interval(TIMER_STATUS), 200);
        ASSERT_FALSE(line.writes.empty());
        EXPECT_EQ(line.writes.front(), "getmoduleinfo\r");  // the read-all batch follows at once
        EXPECT_EQ(line.lastName, "COM1");
    }
}

// The lines below the newest, run together; each must fit the list's width.
QString BelowTop(const CControlPanelDlg& panel) {
    const QFontMetrics metrics(panel.m_listMessages->font());
    QStringList lines;
    for (int i = 1; i < panel.MessageCount(); ++i) {
        EXPECT_LE(metrics.horizontalAdvance(panel.MessageText(i)), panel.m_listMessages->contentsRect().width())
            << panel.MessageText(i).toStdString();
        lines << panel.MessageText(i);
    }
    return lines.join(QLatin1Char(' '));
}

TEST_F(PortActions, AFailedOpenSaysWhyBelowItWholeAndLeavesTheStatusTimerStopped) {
    line.failingPorts = {2};
    line.failure = OpenFailure::Busy;
    Open(8, 2);
    EXPECT_EQ(Top(*panel), QStringLiteral("open failed"));
    EXPECT_TRUE(BelowTop(*panel).endsWith(QLatin1String("held by another program; close the port there first")))
        << BelowTop(*panel).toStdString();
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_STATUS));
    EXPECT_EQ(panel->m_bPortOpen, 0);

    // "Open" again while a port is open: the message stays, the open port keeps its display.
    Open(8, 1);
    ASSERT_EQ(panel->m_bPortOpen, 1);
    Open(8, 3);
    EXPECT_EQ(Top(*panel), QStringLiteral("open failed"));
    EXPECT_TRUE(Top(*panel, 1).startsWith(QLatin1String("COM3: a port is already open"))) << Top(*panel, 1).toStdString();
    EXPECT_TRUE(panel->m_pLink->IsOpen());
    EXPECT_EQ(panel->Timers().Interval(TIMER_STATUS), 200);
}

// Typed text does not choose the port: another port's name, the selected port's own path.
TEST_F(PortActions, OpenTakesTheSelectedEntryNotTheTypedText) {
    const struct {
        int selected;
        const char* typed;
        const char* opened;
    } cases[] = {{0, "COM9", "COM1"}, {2, "/dev/fake3", "COM3"}, {1, "", "COM2"}};
    for (const auto& c : cases) {
        panel->OnClosePort();
        panel->m_comboPort->setCurrentIndex(c.selected);
        panel->m_comboPort->setEditText(QString::fromLatin1(c.typed));
        panel->OnOpenPort();
        EXPECT_EQ(line.lastName, c.opened) << c.typed;
    }
}

TEST_F(PortActions, CloseTwice) {
    Open(4);
    panel->m_editSerial->setText(QStringLiteral("x"));
    panel->m_strModuleId = QStringLiteral("7");
    panel->m_sliderBright[1]->setValue(300);
    panel->m_checkMatrix[4 * 1 + kOnColumn]->setChecked(true);
    panel->m_checkGrab->setChecked(true);
    const std::size_t before = line.writes.size();
    pauses.pauses.clear();

    panel->OnClosePort();
    EXPECT_EQ(Since(line, before), std::vector<std::string>{"setonex 00000000\r"});
    EXPECT_EQ(pauses.pauses, (std::vector<int>{10, 1000}));
    EXPECT_EQ(panel->MessageCount(), 0);
    EXPECT_EQ(panel->m_bPortOpen, 0);
    EXPECT_FALSE(RowShown(1));
    EXPECT_EQ(panel->m_sliderBright[1]->value(), 0);
    EXPECT_FALSE(panel->m_checkMatrix[4 * 1 + kOnColumn]->isChecked());
    EXPECT_TRUE(panel->m_checkGrab->isChecked());  // hidden, but kept
    EXPECT_TRUE(panel->m_checkGrab->isHidden());
    EXPECT_TRUE(panel->m_comboPort->isEnabled());
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_STATUS));
    for (QLineEdit* e : {panel->m_editSerial, panel->m_editFwVersion, panel->m_editHwVersion, panel->m_editModel,
                         panel->m_editBuild}) {
        EXPECT_EQ(e->text(), QStringLiteral("---"));
    }
    EXPECT_EQ(panel->m_editModuleId->text(), QStringLiteral("7"));

    pauses.pauses.clear();
    panel->OnClosePort();
    EXPECT_EQ(Top(*panel), QStringLiteral("Not found!!"));
    EXPECT_TRUE(pauses.pauses.empty());
}

ScriptedController FullController() {
    ScriptedController c;
    c.On("getmoduleinfo", "modulename LT-16")
        .On("getbuildinfo", "build B7")
        .On("getusepacket", "getusepacket 1")
        .On("gettrigchannel", "gettrigchannel 4")
        .On("getmodelch", "getmodelch 16")
        .On("getfwversioninfo", "getfwversioninfo 2.5")
        .On("getfpgaversioninfo", "getfpgaversioninfo F9")
        .On("getbandwidth", "getbandwidth 0.5 2.5")
        .On("getoffset", "getoffset 33")
        .On("getonex", "getonex 0 5")
        .On("geterrstatus", "geterrstatus 1 1f")
        .On("getbrightindex", "getbrightindex 0")
        .On("gettrigindex", "gettrigindex 0")
        .On("getsn", "S/N: 0042")
        .On("getmoduleid", "ID: 200")
        .On("$ 255", "$ 0 0 100")
        .On("$ 255", "$ 0 1 1024")
        .On("gettrigger 0", "gettrigger 0 0 0 1 1 99 49 490")
        .On("gettrigger 1", "gettrigger 0 1 1 0 0 65535 0 0")
        .On("getportstatus", "getportstatus 2 1")
        .On("gettotalonoff", "gettotalonoff 1");
    return c;
}

TEST_F(PortActions, RefreshShowsWhatTheControllerReports) {
    line.responder = FullController();
    Open(2);
    EXPECT_EQ(Top(*panel), QStringLiteral("updateinfo"));
    EXPECT_EQ(panel->m_editModel->text(), QStringLiteral("LT-16"));
    EXPECT_EQ(panel->m_editConfigModel->text(), QStringLiteral("LT-16"));
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("0042"));
    EXPECT_EQ(panel->m_editConfigSerial->text(), QStringLiteral("0042"));
    EXPECT_EQ(panel->m_editFwVersion->text(), QStringLiteral("2.5"));
    EXPECT_EQ(panel->m_editHwVersion->text(), QStringLiteral("F9"));
    EXPECT_EQ(panel->m_editBuild->text(), QStringLiteral("B7"));
    EXPECT_EQ(panel->m_editModuleId->text(), QStringLiteral("200"));
    EXPECT_EQ(panel->m_editConfigChannels->text(), QStringLiteral("16"));
    EXPECT_EQ(panel->m_editTrigChannels->text(), QStringLiteral("4"));
    EXPECT_EQ(panel->m_editOffset->text(), QStringLiteral("33"));
    EXPECT_EQ(panel->m_editBandwidthLow[15]->text(), QStringLiteral("0.5"));
    EXPECT_EQ(panel->m_editBandwidthHigh[0]->text(), QStringLiteral("2.5"));
    EXPECT_EQ(panel->m_editErrorStatus->text(), QStringLiteral("code:1,1fh"));
    EXPECT_EQ(panel->m_sliderBright[0]->value(), 100);
    EXPECT_EQ(panel->m_sliderBright[1]->value(), 1024);
    EXPECT_EQ(panel->m_nGrabBase, 100);
    EXPECT_TRUE(panel->m_checkMatrix[kOnColumn]->isChecked());
    EXPECT_FALSE(panel->m_checkMatrix[4 + kOnColumn]->isChecked());
    // Two channels: two trigger rows queried and filled, shown plus one.
    EXPECT_EQ(panel->m_spinTrigDelay[0]->GetPos(), 100);
    EXPECT_EQ(panel->m_spinTrigOnTime[0]->GetPos(), 50);
    EXPECT_TRUE(panel->m_checkTrigEnable[0]->isChecked());
    EXPECT_EQ(panel->m_comboTrigEdge[0]->currentIndex(), 1);
    EXPECT_EQ(panel->m_spinTrigDelay[1]->GetPos(), 65536);  // beyond the arrows' range, shown as is
    EXPECT_EQ(panel->m_spinTrigDelay[2]->GetPos(), 1);     // row 3 untouched
    EXPECT_TRUE(panel->m_checkOut0->isChecked());
    EXPECT_FALSE(panel->m_checkOut1->isChecked());
    EXPECT_FALSE(panel->m_checkIn0->isChecked());
    EXPECT_TRUE(panel->m_checkIn1->isChecked());
    EXPECT_TRUE(panel->m_checkTof->isChecked());
    EXPECT_TRUE(panel->m_checkUsePacket->isChecked());
    EXPECT_FALSE(panel->m_checkUsePwm->isChecked());
}

TEST_F(PortActions, RefreshWithNoReplyChangesNothing) {
    Open(8);
    const int lines = panel->MessageCount();
    const std::size_t before = line.writes.size();
    pauses.pauses.clear();
    panel->OnRefresh();
    EXPECT_EQ(line.writes.size() - before, 29u);  // eight channels: all four trigger rows
    EXPECT_EQ(pauses.Total(), 29 * 10 + 1000);
    EXPECT_EQ(panel->MessageCount(), lines);
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("---"));
}

TEST_F(PortActions, ARefreshThatFindsAnotherMemoryLoadsIt) {
    const struct {
        const char* brightIndex;
        bool loads;
        int spin;
    } cases[] = {{"getbrightindex 3", true, 3}, {"getbrightindex 0", false, 0}, {"getbrightindex 12", true, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.brightIndex);
        TearDown();
        line = FakeLine{};
        SetUp();
        ScriptedController controller = FullController();
        controller.replies["getbrightindex"] = std::string(c.brightIndex) + "\r\n";
        controller.On("$ 255", "$ 3 0 700");
        line.responder = controller;
        Open(2);
        const auto& w = line.writes;
        const auto load = std::find(w.begin(), w.end(), "loadbright " + std::to_string(c.spin) + "\r");
        EXPECT_EQ(load != w.end(), c.loads);
        if (load != w.end()) {
            // Nested in the read-all: the memory's rows are asked for, then the on mask.
            EXPECT_EQ(std::vector<std::string>(load + 1, load + 4), (std::vector<std::string>{"$ 0\r", "$ 1\r", "getonex\r"}));
        }
        EXPECT_EQ(panel->m_spinLoadBright->GetPos(), c.spin);
        EXPECT_EQ(panel->m_spinSaveBright->GetPos(), c.spin);
        // Memory 3 holds 700 for channel 1; no memory 12 exists, so the row keeps its place.
        EXPECT_EQ(panel->m_sliderBright[0]->value(), c.spin == 3 ? 700 : (c.spin == 0 ? 100 : 0));
    }
}

TEST_F(PortActions, ATriggerMemoryChangeLoadsItAndReadsAllOnceMore) {
    ScriptedController controller = FullController();
    controller.replies["gettrigindex"] = "gettrigindex 2\r\n";
    line.responder = controller;
    Open(4);
    int loads = 0;
    int batches = 0;
    for (const std::string& w : line.writes) {
        loads += w == "loadtrigger 2\r" ? 1 : 0;
        batches += w == "getmoduleinfo\r" ? 1 : 0;
    }
    EXPECT_EQ(loads, 1);    // the nested read-all sets the same number and ends the chain
    EXPECT_EQ(batches, 2);
    EXPECT_EQ(panel->m_spinTrigMemory[0]->GetPos(), 2);
    EXPECT_EQ(panel->m_spinTrigMemory[1]->GetPos(), 2);
}

TEST_F(PortActions, SearchWalksTheListedPortsAndReportsEachController) {
    line.failingPorts = {2};
    ScriptedController full;
    full.On("getmoduleinfo", "modulename LT-16").On("getbuildinfo", "build B1").On("getfwversioninfo", "getfwversioninfo 1.0")
        .On("getfpgaversioninfo", "getfpgaversioninfo F2").On("getsn", "S/N: 77");
    ScriptedController noSerial = full;
    noSerial.replies.erase("getsn");
    line.responder = [&](int port, std::string_view written) {
        return port == 3 ? full(port, written) : port == 4 ? noSerial(port, written) : std::string();
    };
    std::vector<QString> listWhenBoxShown;
    fakes.messageBox->onShow = [&] { listWhenBoxShown.push_back(Top(*panel)); };
    panel->OnSearchPorts();

    ASSERT_EQ(fakes.messageBox->shown.size(), 1u);
    EXPECT_EQ(fakes.messageBox->shown[0].text, QStringLiteral("포트가 많을수록 오래걸릴 수 있습니다!\n확인을 눌러주세요."));
    EXPECT_EQ(listWhenBoxShown, std::vector<QString>{QStringLiteral("Searching...")});
    EXPECT_EQ(Top(*panel), QStringLiteral("COM3 /dev/fake3 LT-16 1.0 F2 B1 77"));
    EXPECT_EQ(Top(*panel, 1), QStringLiteral("Searching..."));

    line.responder = nullptr;
    panel->OnSearchPorts();
    EXPECT_EQ(Top(*panel), QStringLiteral("not found"));
}

TEST_F(PortActions, SliderDragSendsEachMovementAndTheReleaseButNotTheProgramsMoves) {
    Open(8);
    const std::size_t before = line.writes.size();
    QSlider* s = panel->m_sliderBright[2];
    s->setSliderDown(true);
    s->setSliderPosition(500);
    s->setSliderPosition(512);
    s->setSliderDown(false);  // release
    s->setValue(40);          // a move by the program
    s->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Since(line, before),
              (std::vector<std::string>{"# 2 500\r", "# 2 512\r", "# 2 512\r", "# 2 50\r"}));
}

TEST_F(PortActions, GrabMovesEveryChannelByTheMastersDelta) {
    Open(4);
    panel->m_checkGrab->setChecked(true);
    const int start[] = {100, 200, 1000, 0};
    for (int i = 0; i < 4; ++i) {
        panel->m_sliderBright[i]->setValue(start[i]);
    }
    panel->m_nGrabBase = 100;
    const std::size_t before = line.writes.size();
    panel->m_sliderBright[0]->setSliderDown(true);
    panel->m_sliderBright[0]->setSliderPosition(150);
    EXPECT_EQ(Since(line, before), (std::vector<std::string>{"# 0 150\r", "# 1 250\r", "# 2 1024\r", "# 3 50\r"}));
    EXPECT_EQ(panel->m_nGrabBase, 150);

    // Packet form: one packet with the four positions and twelve zeros.
    panel->m_checkUsePacket->setChecked(true);
    const std::size_t mid = line.writes.size();
    panel->m_sliderBright[0]->setSliderPosition(100);  // the clamped one comes down from the top
    panel->m_sliderBright[0]->setSliderDown(false);
    std::string packet("\xFE\xFE\x1B\x00\x20", 5);
    for (int v : {100, 200, 974, 0}) {
        packet += static_cast<char>(v >> 8);
        packet += static_cast<char>(v & 0xFF);
    }
    packet += std::string(24, '\0') + "\xFD";
    ASSERT_EQ(line.writes.size() - mid, 2u);  // the movement and the release
    EXPECT_EQ(line.writes[mid], packet);

    // Another slider under Grab sends only itself.
    const std::size_t last = line.writes.size();
    panel->m_sliderBright[1]->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(Since(line, last), std::vector<std::string>{"# 1 0\r"});
}

TEST_F(PortActions, OnBoxesAndTheAllChannelsBoxSendOneMask) {
    const struct {
        int channels;
        std::vector<int> ticked;
        bool all;
        const char* expected;
    } cases[] = {
        {4, {0, 2}, false, "setonex 00000005\r"},
        {4, {}, false, "setonex 00000000\r"},
        {16, {}, true, "setonex 0000ffff\r"},
        {4, {}, true, "setonex 0000000f\r"},
    };
    for (const auto& c : cases) {
        TearDown();
        line = FakeLine{};
        SetUp();
        Open(c.channels);
        const std::size_t before = line.writes.size();
        if (c.all) {
            panel->m_checkAll[kOnColumn]->click();
        } else {
            for (int i : c.ticked) {
                panel->m_checkMatrix[4 * i + kOnColumn]->setChecked(true);
            }
            panel->m_checkMatrix[4 * 3 + kOnColumn]->click();  // a click on row 4 sends the mask
            panel->m_checkMatrix[4 * 3 + kOnColumn]->setChecked(false);
            panel->SendOnMask();
        }
        ASSERT_GT(line.writes.size(), before);
        EXPECT_EQ(line.writes.back(), c.expected);
    }
}

TEST_F(PortActions, StatusTickMovesTheLogAndShowsStatusOnlyAfterReplies) {
    Open(4);
    panel->OnStatusRefresh();
    panel->m_editErrorStatus->setText(QStringLiteral("unchanged"));
    line.Deliver("A\r\nB\r\nC\r\n");
    panel->OnStatusRefresh();
    EXPECT_EQ(Top(*panel, 0), QStringLiteral("C"));
    EXPECT_EQ(Top(*panel, 1), QStringLiteral("B"));
    EXPECT_EQ(Top(*panel, 2), QStringLiteral("A"));
    EXPECT_EQ(panel->m_editErrorStatus->text(), QStringLiteral("unchanged"));

    line.Deliver("geterrstatus 7 0\r\ngetswitch 1 0 1 0\r\n");
    panel->OnStatusRefresh();
    EXPECT_EQ(panel->m_editErrorStatus->text(), QStringLiteral("code:7"));
    const bool expected[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(panel->m_checkIndicator[i]->isChecked(), expected[i]) << i;
    }
    // Bytes that are not text survive into the list and out of it again.
    line.Deliver("S/N: \xb8\xf0\xff\r\n");
    panel->OnStatusRefresh();
    EXPECT_EQ(Top(*panel), QStringLiteral("S/N: 모\U0000F7FF"));
}

TEST_F(PortActions, LoadAndSaveBrightMemories) {
    Open(8);
    panel->m_spinLoadBright->blockSignals(true);
    panel->m_spinLoadBright->SetPos(3);
    panel->m_spinLoadBright->blockSignals(false);
    panel->m_spinSaveBright->SetPos(5);
    std::size_t before = line.writes.size();
    pauses.pauses.clear();
    panel->OnLoadBright();
    std::vector<std::string> expected = {"loadbright 3\r"};
    for (int i = 0; i < 8; ++i) {
        expected.push_back("$ " + std::to_string(i) + "\r");
    }
    expected.push_back("getonex\r");
    EXPECT_EQ(Since(line, before), expected);
    ASSERT_FALSE(pauses.pauses.empty());
    EXPECT_EQ(pauses.pauses[0], 10);
    EXPECT_EQ(pauses.pauses[1], 10);  // the extra wait after the load
    EXPECT_EQ(pauses.Total(), 11 * 10);

    before = line.writes.size();
    panel->OnSaveBright();
    panel->m_spinLoadBright->SetPos(4);  // a change of the number loads at once
    ASSERT_GT(line.writes.size(), before);
    EXPECT_EQ(Since(line, before)[0], "savebright 5\r");
    EXPECT_EQ(Since(line, before)[1], "loadbright 4\r");

    // A number that does not fit the command's byte is refused, not wrapped onto memory 0.
    before = line.writes.size();
    panel->m_spinSaveBright->SetPos(256);
    panel->OnSaveBright();
    panel->m_spinLoadBright->SetPos(256);
    EXPECT_EQ(line.writes.size(), before);
    EXPECT_EQ(Top(*panel), QStringLiteral("bright memory 256: no such memory (0~9)"));

    before = line.writes.size();
    pauses.pauses.clear();
    panel->OnFactoryReset();
    EXPECT_EQ(line.writes[before], "factoryreset\r");
    EXPECT_EQ(pauses.pauses[1], 2000);
}

TEST_F(PortActions, FirmwareToolStartsOnceAndEndsWithThePanel) {
    fakes.toolLauncher->failNext = true;
    panel->OnFirmwareUpdate();
    EXPECT_EQ(panel->m_firmwareTool.showMode, 0);  // the next press tries again
    panel->OnFirmwareUpdate();
    ASSERT_EQ(fakes.toolLauncher->launched.size(), 2u);
    EXPECT_TRUE(fakes.toolLauncher->launched[1].endsWith(QLatin1String("configtool")) ||
                fakes.toolLauncher->launched[1].endsWith(QLatin1String("configtool.exe")));
    EXPECT_EQ(panel->m_firmwareTool.showMode, 5);
    fakes.toolLauncher->last->running = false;  // ended by itself: still "opened"
    panel->OnFirmwareUpdate();
    ASSERT_EQ(fakes.messageBox->shown.size(), 1u);
    EXPECT_EQ(fakes.messageBox->shown[0].text, QStringLiteral("Aleady opened!"));
    EXPECT_EQ(fakes.toolLauncher->launched.size(), 2u);
}

TEST_F(PortActions, TheMessageListKeepsTheNewestHundredThousandLines) {
    for (int i = 0; i < 100005; ++i) {
        panel->AddMessage(QString::number(i));
    }
    EXPECT_EQ(panel->MessageCount(), 100000);
    EXPECT_EQ(Top(*panel), QStringLiteral("100004"));
    EXPECT_EQ(panel->MessageText(99999), QStringLiteral("5"));
}

// Runs n test ticks and returns what they wrote.
std::vector<std::string> Ticks(CControlPanelDlg& panel, FakeLine& line, int n) {
    const std::size_t before = line.writes.size();
    for (int i = 0; i < n; ++i) {
        panel.OnTestTick();
    }
    return Since(line, before);
}

TEST_F(PortActions, TestProgramsStepByTheirTicks) {
    Open(1);
    panel->m_nMaxBright = 100;
    panel->m_comboTestMode->setCurrentIndex(0);
    EXPECT_EQ(Ticks(*panel, line, 5), (std::vector<std::string>{"# 0 0\r", "# 0 32\r", "# 0 64\r", "# 0 96\r", "# 0 0\r"}));

    // Switching the program keeps the ramp where it was.
    panel->m_comboTestMode->setCurrentIndex(2);
    EXPECT_EQ(Ticks(*panel, line, 1), (std::vector<std::string>{"seton 0 1\r", "setonex 00000000\r"}));
    EXPECT_EQ(panel->m_nTestValue, 64);

    panel->m_comboTestMode->setCurrentIndex(1);
    panel->m_bTestToggle = 0;
    EXPECT_EQ(Ticks(*panel, line, 2), (std::vector<std::string>{"setonex 00000000\r", "setonex ffffffff\r"}));

    panel->m_comboTestMode->setCurrentIndex(4);
    panel->m_nTestTick = 0;
    EXPECT_TRUE(Ticks(*panel, line, 99).empty());
    EXPECT_EQ(Ticks(*panel, line, 1), std::vector<std::string>{"setonex 00000000\r"});
}

TEST_F(PortActions, PacketRampClimbsByEightInOnePacket) {
    Open(4);
    panel->m_checkUsePacket->setChecked(true);
    panel->m_comboTestMode->setCurrentIndex(3);
    const std::vector<std::string> w = Ticks(*panel, line, 3);
    ASSERT_EQ(w.size(), 3u);
    for (int t = 0; t < 3; ++t) {
        std::string packet("\xFE\xFE\x1B\x00\x20", 5);
        for (int i = 0; i < 16; ++i) {
            const int v = i < 4 ? 8 * t : 0;
            packet += static_cast<char>(v >> 8);
            packet += static_cast<char>(v & 0xFF);
        }
        packet += "\xFD";
        EXPECT_EQ(w[static_cast<std::size_t>(t)], packet) << t;
    }
}

TEST_F(PortActions, ProductionTestRunsItsThreePhasesAndStartsOver) {
    Open(2);
    panel->m_comboTestMode->setCurrentIndex(5);
    // Sweep: 33 ramp steps and one reset step per channel.
    std::vector<std::string> w = Ticks(*panel, line, 67);
    EXPECT_EQ(panel->m_nTestPhase, 0);
    EXPECT_EQ(w[33], "# 0 0\r");
    EXPECT_EQ(w[34], "# 1 0\r");
    w = Ticks(*panel, line, 1);
    EXPECT_EQ(w, (std::vector<std::string>{"# 1 0\r", "setonex 00000000\r", "# 0 1024\r", "# 1 1024\r"}));
    EXPECT_EQ(panel->m_nTestPhase, 1);
    // One channel at a time, then all off: 30 ticks each.
    const char* single[] = {"setonex 00000001\r", "setonex 00000002\r", "setonex 00000000\r"};
    for (const char* expected : single) {
        EXPECT_TRUE(Ticks(*panel, line, 29).empty());
        EXPECT_EQ(Ticks(*panel, line, 1), std::vector<std::string>{expected});
    }
    EXPECT_EQ(panel->m_nTestPhase, 2);
    // Ten blinks of 30 ticks, then the reset and phase 0 again.
    for (int blink = 0; blink < 9; ++blink) {
        w = Ticks(*panel, line, 30);
        EXPECT_EQ(w, std::vector<std::string>{blink % 2 == 0 ? "setonex 00000000\r" : "setonex ffffffff\r"}) << blink;
    }
    w = Ticks(*panel, line, 30);
    EXPECT_EQ(w, (std::vector<std::string>{"setonex ffffffff\r", "# 0 0\r", "# 1 0\r", "setonex ffffffff\r"}));
    EXPECT_EQ(panel->m_nTestPhase, 0);
    EXPECT_EQ(Ticks(*panel, line, 1), std::vector<std::string>{"# 0 0\r"});
}

TEST_F(PortActions, TestToggleStartsAndStopsTheProgram) {
    Open(2);
    panel->m_nTestValue = 64;
    std::size_t before = line.writes.size();
    panel->m_checkTest->click();
    EXPECT_EQ(Since(line, before), (std::vector<std::string>{"# 0 0\r", "# 1 0\r", "setonex ffffffff\r"}));
    EXPECT_EQ(panel->Timers().Interval(TIMER_TEST), 30);
    EXPECT_EQ(panel->m_nTestValue, 0);

    before = line.writes.size();
    pauses.pauses.clear();
    panel->m_checkTest->click();
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_TEST));
    const std::vector<std::string> w = Since(line, before);
    ASSERT_GT(w.size(), 4u);
    EXPECT_EQ(w[3], "getmoduleinfo\r");  // the reset, the wait, then the read-all
    EXPECT_EQ(pauses.pauses[3], 500);
}

}  // namespace

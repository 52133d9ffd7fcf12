// The panel's model, controls, initialisation, read-back, message list, keys, event wiring and
// destruction.
#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "control_panel.h"
#include "message_list.h"
#include "data_exchange.h"
#include "dialog_units.h"
#include "fake_serial_port.h"
#include "help_dialog.h"
#include "port_list.h"
#include "test_panel_fakes.h"
#include "updown_spin.h"
#include "window_geometry.h"

namespace {

// Records which handler each event reached instead of acting.
class RecordingPanel : public CControlPanelDlg {
public:
    using CControlPanelDlg::CControlPanelDlg;
    std::vector<std::string> calls;

    void OnHScroll(int slider, ScrollCode code) override {
        calls.push_back("OnHScroll " + std::to_string(slider) + " " + std::to_string(static_cast<int>(code)));
    }
    void SendOnMask() override { calls.push_back("SendOnMask"); }
    void OnAllChannelsClicked() override { calls.push_back("OnAllChannelsClicked"); }
    void OnStatusRefresh() override { calls.push_back("OnStatusRefresh"); }
    void OnTestTick() override { calls.push_back("OnTestTick"); }
    void OnTestToggle() override { calls.push_back("OnTestToggle"); }
    void OnSaveBright() override { calls.push_back("OnSaveBright"); }
    void OnLoadBright() override { calls.push_back("OnLoadBright"); }
    void OnLoadBrightIndexChange() override { calls.push_back("OnLoadBrightIndexChange"); }
    void OnFactoryReset() override { calls.push_back("OnFactoryReset"); }
    void OnOpenPort() override { calls.push_back("OnOpenPort"); }
    void OnClosePort() override { calls.push_back("OnClosePort"); }
    void OnRefresh() override { calls.push_back("OnRefresh"); }
    void OnSearchPorts() override { calls.push_back("OnSearchPorts"); }
    void OnFirmwareUpdate() override { calls.push_back("OnFirmwareUpdate"); }
    void ApplyTriggers() override { calls.push_back("ApplyTriggers"); }
    void OnOneShotTrig() override { calls.push_back("OnOneShotTrig"); }
    void OnTrigEnableAll() override { calls.push_back("OnTrigEnableAll"); }
    void OnTrigAll() override { calls.push_back("OnTrigAll"); }
    void OnTriggerChange() override { calls.push_back("OnTriggerChange"); }
    void OnClear() override { calls.push_back("OnClear"); }
    void OnSaveTriggerMemory() override { calls.push_back("OnSaveTriggerMemory"); }
    void LoadTriggerMemory() override { calls.push_back("LoadTriggerMemory"); }
    void OnTrigMemoryIndexChange() override { calls.push_back("OnTrigMemoryIndexChange"); }
    void OnBuzzer() override { calls.push_back("OnBuzzer"); }
    void OnErrorIgnore() override { calls.push_back("OnErrorIgnore"); }
    void OnOutPort() override { calls.push_back("OnOutPort"); }
    void OnSetWindowMode() override { calls.push_back("OnSetWindowMode"); }
    void OnSendRaw() override { calls.push_back("OnSendRaw"); }
    void OnBandwidthAll() override { calls.push_back("OnBandwidthAll"); }
    void OnBandwidthKillFocus() override { calls.push_back("OnBandwidthKillFocus"); }
    void OnHelp() override { calls.push_back("OnHelp"); }
    void LoadConfigFile() override { calls.push_back("LoadConfigFile"); }
    void SaveConfigFile() override { calls.push_back("SaveConfigFile"); }
    void ApplyConfigToModule() override { calls.push_back("ApplyConfigToModule"); }
    void SaveDebugLog() override { calls.push_back("SaveDebugLog"); }
};

const QString kPortB = QStringLiteral("/dev/lumitrax-test-b");
const QString kPortA = QStringLiteral("/dev/lumitrax-test-a");

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearAddedPortPaths();
        AddPortPath(kPortB);
        AddPortPath(kPortA);
        host.resize(1200, 900);
    }
    void TearDown() override { ClearAddedPortPaths(); }

    template <typename Panel = CControlPanelDlg>
    Panel* MakePanel() {
        auto* panel = new Panel(&host, fakes.Make(line.Factory()));
        panel->Create();
        return panel;
    }
    // Shows the host and waits until it has the keyboard focus.
    void ShowHost() {
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    }

    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
    QDialog host;  // stands in for the main window, a dialog that Enter and Escape would close
};

TEST_F(PanelTest, MembersStartAtTheirInitialValuesAndFieldsShowThem) {
    CControlPanelDlg panel(&host, fakes.Make(line.Factory()));
    EXPECT_EQ(panel.m_pLink, nullptr);  // created by the initialisation only
    panel.Create();
    ASSERT_NE(panel.m_pLink, nullptr);
    EXPECT_FALSE(panel.m_pLink->IsOpen());

    EXPECT_EQ(panel.m_nChannelCount, 0);
    EXPECT_EQ(panel.m_nPortNumber, 1);
    EXPECT_EQ(panel.m_bPortOpen, 0);
    EXPECT_EQ(panel.m_nGrabBase, 0);
    EXPECT_EQ(panel.m_bWindowMode, 0);
    EXPECT_EQ(panel.m_firmwareTool.showMode, 0);
    for (int i = 0; i < kChannelCount; ++i) {
        EXPECT_EQ(panel.m_fBandwidthLow[i], 0.0f);
        EXPECT_EQ(panel.m_fBandwidthHigh[i], 1.2f);
    }
    const struct {
        QLineEdit* field;
        const char* text;
    } shown[] = {
        {panel.m_editSerial, "---"},      {panel.m_editFwVersion, "---"},  {panel.m_editHwVersion, "---"},
        {panel.m_editModel, "---"},       {panel.m_editBuild, "---"},      {panel.m_editModuleId, "---"},
        {panel.m_editConfigModel, "Model Name"}, {panel.m_editConfigSerial, ""}, {panel.m_editConfigId, "0"},
        {panel.m_editConfigChannels, "8"}, {panel.m_editOffset, "17"},     {panel.m_editTrigChannels, "0"},
        {panel.m_editConfigPath, ""},     {panel.m_editMaxBright, "1024"}, {panel.m_editChannelInput, "8"},
        {panel.m_editBandwidthLow[0], "0"}, {panel.m_editBandwidthHigh[15], "1.2"},
    };
    for (const auto& s : shown) {
        EXPECT_EQ(s.field->text(), QString::fromUtf8(s.text)) << s.field->accessibleName().toStdString();
    }
}

TEST_F(PanelTest, InitialisationRangesHidesAndSelects) {
    CControlPanelDlg* panel = MakePanel();

    for (int i = 0; i < kSliderCount; ++i) {
        EXPECT_TRUE(panel->m_sliderBright[i]->isHidden()) << i;
        EXPECT_TRUE(panel->m_staticChannel[i]->isHidden()) << i;
        EXPECT_EQ(panel->m_sliderBright[i]->minimum(), 0);
        EXPECT_EQ(panel->m_sliderBright[i]->maximum(), 1024);
        EXPECT_EQ(panel->m_staticChannel[i]->text(), QStringLiteral("CH%1").arg(i + 1));
    }
    for (QCheckBox* box : panel->m_checkMatrix) {
        EXPECT_TRUE(box->isHidden());
    }
    for (QCheckBox* box : panel->m_checkAll) {
        EXPECT_TRUE(box->isHidden());
    }
    for (int i = 0; i < kGroupCheckCount; ++i) {
        EXPECT_TRUE(panel->m_checkGroup[i]->isHidden());
        EXPECT_EQ(panel->m_checkGroup[i]->text(), i < 8 ? QStringLiteral("GROUP%1").arg(i + 1) : QString());
    }
    EXPECT_TRUE(panel->m_checkGrab->isHidden());

    for (int r = 0; r < kTriggerRows; ++r) {
        for (CUpDownSpin* spin : {panel->m_spinTrigDelay[r], panel->m_spinTrigOnTime[r]}) {
            EXPECT_EQ(spin->RangeMin(), 1);
            EXPECT_EQ(spin->RangeMax(), 4000);
            EXPECT_EQ(spin->value(), 1);
        }
        QComboBox* edge = panel->m_comboTrigEdge[r];
        ASSERT_EQ(edge->count(), 2);
        EXPECT_EQ(edge->itemText(0), QStringLiteral("Positive"));
        EXPECT_EQ(edge->itemText(1), QStringLiteral("Negative"));
        EXPECT_EQ(edge->currentIndex(), 0);
        EXPECT_FALSE(panel->m_editTrigOffTime[r]->isEnabled());
        EXPECT_TRUE(panel->m_editTrigOffTime[r]->isReadOnly());
        EXPECT_TRUE(panel->m_editTrigMaxFreq[r]->isReadOnly());
    }
    for (CUpDownSpin* spin : {panel->m_spinTrigMemory[0], panel->m_spinTrigMemory[1], panel->m_spinSaveBright,
                              panel->m_spinLoadBright}) {
        EXPECT_EQ(spin->RangeMin(), 0);
        EXPECT_EQ(spin->RangeMax(), 9);
        EXPECT_EQ(spin->value(), 0);
    }

    ASSERT_EQ(panel->m_comboTestMode->count(), 6);
    EXPECT_EQ(panel->m_comboTestMode->currentIndex(), 5);
    EXPECT_EQ(panel->m_comboTestMode->currentText(), QStringLiteral("양산테스트"));

    ASSERT_EQ(panel->m_comboRawCommand->count(), 1);
    EXPECT_EQ(panel->m_comboRawCommand->itemText(0), QString());
    EXPECT_EQ(panel->m_comboRawCommand->currentIndex(), 0);
    EXPECT_FALSE(panel->m_comboRawCommand->isEnabled());
    EXPECT_FALSE(panel->m_btnSendRaw->isEnabled());

    for (QCheckBox* box : panel->m_checkIndicator) {
        EXPECT_FALSE(box->isEnabled());
    }
    for (QCheckBox* box : {panel->m_checkOut0, panel->m_checkOut1, panel->m_checkIn0, panel->m_checkIn1, panel->m_checkTof}) {
        EXPECT_FALSE(box->isEnabled());
    }
    EXPECT_FALSE(panel->m_btnBoardTest->isEnabled());
    EXPECT_TRUE(panel->m_btnWindowMode->isHidden());
    EXPECT_TRUE(panel->m_btnSaveDebug->isHidden());
    EXPECT_TRUE(panel->m_btnSaveAs->isHidden());
    EXPECT_TRUE(panel->m_checkTest->isCheckable());
    EXPECT_TRUE(panel->m_checkBuzzer->isCheckable());
    EXPECT_TRUE(panel->m_checkErrorIgnore->isCheckable());

    // No timer runs and nothing went to the (closed) link.
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_TEST));
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_STATUS));
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(fakes.messageBox->shown.empty());
}

TEST_F(PanelTest, PortListHasTheAddedPathsFirstInOrderAndSelectsTheFirst) {
    CControlPanelDlg* panel = MakePanel();
    const std::vector<PortEntry> ports = ListPorts();
    ASSERT_GE(panel->m_comboPort->count(), 2);
    ASSERT_EQ(static_cast<size_t>(panel->m_comboPort->count()), ports.size());
    EXPECT_EQ(panel->m_comboPort->itemText(0), QStringLiteral("COM%1 %2").arg(PortNumberForPath(kPortB)).arg(kPortB));
    EXPECT_EQ(panel->m_comboPort->itemText(1), QStringLiteral("COM%1 %2").arg(PortNumberForPath(kPortA)).arg(kPortA));
    EXPECT_EQ(panel->m_comboPort->currentIndex(), 0);
    EXPECT_TRUE(panel->m_comboPort->isEditable());
}

// The fields after "채널수" are never read when it fails; those before it are.
TEST_F(PanelTest, ReadBackStopsAtAChannelCountOutsideFourToSixteen) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"3", "채널수: Please enter an integer between 4 and 16."},
        {"17", "채널수: Please enter an integer between 4 and 16."},
        {"eight", "채널수: Please enter an integer."},
        {"", "채널수: Please enter an integer."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fakes.messageBox->shown.clear();
        CControlPanelDlg* panel = MakePanel();
        ShowHost();
        panel->m_editOffset->setText(QStringLiteral("33"));
        panel->m_editMaxBright->setText(QStringLiteral("512"));
        panel->m_editConfigPath->setText(QStringLiteral("/tmp/module.ini"));
        panel->m_editConfigChannels->setText(QString::fromUtf8(c.text));
        panel->m_editChannelInput->setText(QStringLiteral("12"));
        panel->m_editTrigChannels->setText(QStringLiteral("5"));

        EXPECT_FALSE(panel->UpdateData(true));
        EXPECT_EQ(panel->m_nOffset, 33);
        EXPECT_EQ(panel->m_nMaxBright, 512u);
        EXPECT_EQ(panel->m_strConfigPath, QStringLiteral("/tmp/module.ini"));
        EXPECT_EQ(panel->m_nConfigChannels, 8);  // a refused number does not enter the member
        EXPECT_EQ(panel->m_nChannelInput, 8);
        EXPECT_EQ(panel->m_nTrigChannels, 0);
        ASSERT_EQ(fakes.messageBox->shown.size(), 1u);
        EXPECT_EQ(fakes.messageBox->shown[0].text, QString::fromUtf8(c.problem));
        EXPECT_EQ(fakes.messageBox->shown[0].caption, QString());
        EXPECT_EQ(fakes.messageBox->shown[0].icon, MessageIcon::None);
        EXPECT_TRUE(panel->m_editConfigChannels->hasFocus());
        delete panel;
    }
}

TEST_F(PanelTest, ReadBackParsesEveryFieldTypeAndRefusesBadNumbers) {
    struct Case {
        const char* name;
        std::function<QLineEdit*(CControlPanelDlg&)> field;
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {"float with blanks", [](CControlPanelDlg& p) { return p.m_editBandwidthLow[2]; }, " 2.5 ", true},
        {"float exponent", [](CControlPanelDlg& p) { return p.m_editBandwidthHigh[0]; }, "1e-3", true},
        {"float comma", [](CControlPanelDlg& p) { return p.m_editBandwidthLow[2]; }, "1,5", false},
        {"float nan", [](CControlPanelDlg& p) { return p.m_editBandwidthHigh[4]; }, "nan", false},
        {"float inf", [](CControlPanelDlg& p) { return p.m_editBandwidthHigh[4]; }, "inf", false},
        {"float too large", [](CControlPanelDlg& p) { return p.m_editBandwidthLow[1]; }, "1e39", false},
        {"int trailing text", [](CControlPanelDlg& p) { return p.m_editOffset; }, "12x", false},
        {"int overflow", [](CControlPanelDlg& p) { return p.m_editConfigId; }, "2147483648", false},
        {"int negative", [](CControlPanelDlg& p) { return p.m_editConfigId; }, "-7", true},
        {"max bright negative", [](CControlPanelDlg& p) { return p.m_editMaxBright; }, "-1", false},
        {"max bright beyond 16 bits", [](CControlPanelDlg& p) { return p.m_editMaxBright; }, "65536", false},
        {"max bright 16 bits", [](CControlPanelDlg& p) { return p.m_editMaxBright; }, "65535", true},
        {"channel count low edge", [](CControlPanelDlg& p) { return p.m_editConfigChannels; }, "4", true},
        {"channel count high edge", [](CControlPanelDlg& p) { return p.m_editConfigChannels; }, "16", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.messageBox->shown.clear();
        CControlPanelDlg* panel = MakePanel();
        QLineEdit* field = c.field(*panel);
        field->setText(QString::fromUtf8(c.text));
        // The last field of the order tells whether the read-back went through.
        panel->m_editTrigChannels->setText(QStringLiteral("3"));
        EXPECT_EQ(panel->UpdateData(true), c.ok);
        EXPECT_EQ(panel->m_nTrigChannels, c.ok ? 3 : 0);
        EXPECT_EQ(fakes.messageBox->shown.size(), c.ok ? 0u : 1u);
        if (!c.ok) {
            EXPECT_TRUE(fakes.messageBox->shown[0].text.startsWith(field->accessibleName() + QStringLiteral(": ")));
        }
        delete panel;
    }
}

TEST_F(PanelTest, ReadBackFillsEveryMemberAndShowWritesThemBack) {
    CControlPanelDlg* panel = MakePanel();
    panel->m_editSerial->setText(QStringLiteral("SN-1"));
    panel->m_editBandwidthLow[15]->setText(QStringLiteral("0.25"));
    panel->m_editBandwidthHigh[7]->setText(QStringLiteral("3"));
    panel->m_editOffset->setText(QStringLiteral("-4"));
    panel->m_editFwVersion->setText(QStringLiteral("1.0"));
    panel->m_editModel->setText(QStringLiteral("LT"));
    panel->m_editBuild->setText(QStringLiteral("b7"));
    panel->m_editHwVersion->setText(QStringLiteral("2.0"));
    panel->m_editConfigModel->setText(QStringLiteral("모델"));
    panel->m_editConfigSerial->setText(QStringLiteral("C-9"));
    panel->m_editConfigId->setText(QStringLiteral("12"));
    panel->m_editModuleId->setText(QStringLiteral("5"));
    panel->m_editMaxBright->setText(QStringLiteral("255"));
    panel->m_editConfigPath->setText(QStringLiteral("a.ini"));
    panel->m_editConfigChannels->setText(QStringLiteral("12"));
    panel->m_editChannelInput->setText(QStringLiteral("16"));
    panel->m_editTrigChannels->setText(QStringLiteral("2"));
    ASSERT_TRUE(panel->UpdateData(true));

    EXPECT_EQ(panel->m_strSerial, QStringLiteral("SN-1"));
    EXPECT_EQ(panel->m_fBandwidthLow[15], 0.25f);
    EXPECT_EQ(panel->m_fBandwidthHigh[7], 3.0f);
    EXPECT_EQ(panel->m_nOffset, -4);
    EXPECT_EQ(panel->m_strFwVersion, QStringLiteral("1.0"));
    EXPECT_EQ(panel->m_strModel, QStringLiteral("LT"));
    EXPECT_EQ(panel->m_strBuild, QStringLiteral("b7"));
    EXPECT_EQ(panel->m_strHwVersion, QStringLiteral("2.0"));
    EXPECT_EQ(panel->m_strConfigModel, QStringLiteral("모델"));
    EXPECT_EQ(panel->m_strConfigSerial, QStringLiteral("C-9"));
    EXPECT_EQ(panel->m_nConfigId, 12);
    EXPECT_EQ(panel->m_strModuleId, QStringLiteral("5"));
    EXPECT_EQ(panel->m_nMaxBright, 255u);
    EXPECT_EQ(panel->m_strConfigPath, QStringLiteral("a.ini"));
    EXPECT_EQ(panel->m_nConfigChannels, 12);
    EXPECT_EQ(panel->m_nChannelInput, 16);
    EXPECT_EQ(panel->m_nTrigChannels, 2);

    panel->m_fBandwidthHigh[3] = 0.5f;
    panel->m_nOffset = 100;
    panel->m_strModuleId = QStringLiteral("77");
    EXPECT_TRUE(panel->UpdateData(false));
    EXPECT_EQ(panel->m_editBandwidthHigh[3]->text(), QStringLiteral("0.5"));
    EXPECT_EQ(panel->m_editOffset->text(), QStringLiteral("100"));
    EXPECT_EQ(panel->m_editModuleId->text(), QStringLiteral("77"));
    delete panel;
}

TEST(DataExchangeText, NumbersUseTheCLocaleWhateverTheUserLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatFloat(1.2f), QStringLiteral("1.2"));
    EXPECT_EQ(FormatFloat(0.0f), QStringLiteral("0"));
    EXPECT_EQ(FormatFloat(1234567.0f), QStringLiteral("1.23457e+06"));
    EXPECT_EQ(FormatInt(-12345), QStringLiteral("-12345"));
    float f = 0;
    EXPECT_TRUE(ParseFloat(QStringLiteral("2.5"), f));
    EXPECT_EQ(f, 2.5f);
    EXPECT_FALSE(ParseFloat(QStringLiteral("2,5"), f));
    int i = 0;
    EXPECT_FALSE(ParseInt(QStringLiteral("1.000"), i));
    unsigned u = 7;
    EXPECT_FALSE(ParseUInt(QStringLiteral("-0"), u));
    EXPECT_FALSE(ParseUInt(QStringLiteral("4294967296"), u));
    EXPECT_EQ(u, 7u);
    QLocale::setDefault(saved);
}

TEST(DialogUnitsConversion, RoundsEachEdgeLikeTheDialogManager) {
    const DialogUnits units(7, 14);
    const struct {
        QRect du;
        QRect px;
    } cases[] = {
        {QRect(7, 7, 371, 64), QRect(12, 12, 650, 112)},     // edges 12..662, 12..124
        {QRect(0, 0, 582, 439), QRect(0, 0, 1019, 768)},     // 1018.5 rounds up, 768.25 down
        {QRect(30, 99, 78, 12), QRect(53, 173, 136, 21)},    // 52.5 -> 53; 189 - 53 = 136
        {QRect(1, 1, 1, 1), QRect(2, 2, 2, 2)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(units.Rect(c.du), c.px) << c.du.x() << "," << c.du.y();
    }
    // Base units of a real font are the Latin letters' average width and the font height.
    const DialogUnits real = DialogUnits::ForFont(TemplateFont());
    EXPECT_GE(real.BaseX(), 4);
    EXPECT_LE(real.BaseX(), 10);
    EXPECT_GE(real.BaseY(), 10);
    EXPECT_LE(real.BaseY(), 24);
}

TEST_F(PanelTest, GroupBoxesAndChannelRowsSitAtTheirDialogUnitPlaces) {
    CControlPanelDlg* panel = MakePanel();
    const DialogUnits units = DialogUnits::ForFont(panel->font());
    EXPECT_EQ(panel->size(), units.Size(582, 439));
    const struct {
        QGroupBox* group;
        const char* title;
        QRect du;
    } groups[] = {
        {panel->m_groupPortInfo, "[Port Info]", {7, 7, 371, 64}},
        {panel->m_groupModuleInfo, "[Module Info]", {7, 66, 321, 260}},
        {panel->m_groupBrightMemory, "[Bright memory]", {326, 66, 121, 43}},
        {panel->m_groupTest, "[TEST]", {326, 113, 121, 64}},
        {panel->m_groupTrigger, "[Trigger option]", {7, 331, 440, 101}},
        {panel->m_groupConfig, "[Config]", {454, 8, 121, 425}},
    };
    for (const auto& g : groups) {
        EXPECT_EQ(g.group->title(), QString::fromUtf8(g.title));
        EXPECT_EQ(g.group->geometry(), units.Rect(g.du)) << g.title;
    }
    EXPECT_EQ(panel->m_staticPicture->geometry(), units.Rect(384, 11, 63, 52));
    EXPECT_EQ(panel->m_listMessages->geometry(), units.Rect(152, 112, 175, 209));
    for (int i = 0; i < kChannelCount; ++i) {
        const int y = 99 + 14 * i;
        EXPECT_EQ(panel->m_sliderBright[i]->geometry(), units.Rect(30, y, 78, 12)) << i;
        EXPECT_EQ(panel->m_staticChannel[i]->x(), units.X(11)) << i;
        EXPECT_EQ(panel->m_checkMatrix[4 * i + kOnColumn]->x(), units.X(110)) << i;
        EXPECT_EQ(panel->m_checkMatrix[4 * i + kOnColumn]->y(), units.Y(y + 1)) << i;
    }
    EXPECT_EQ(panel->m_checkAll[kOnColumn]->pos(), QPoint(units.X(110), units.Y(87)));
    // Every control lies inside the panel.
    for (QObject* object : panel->children()) {
        if (auto* widget = qobject_cast<QWidget*>(object)) {
            EXPECT_TRUE(panel->rect().contains(widget->geometry())) << widget->accessibleName().toStdString();
        }
    }
}

TEST_F(PanelTest, CaptionsAreTheTemplatesOwnIncludingKorean) {
    CControlPanelDlg* panel = MakePanel();
    const struct {
        QAbstractButton* button;
        const char* text;
    } buttons[] = {
        {panel->m_btnOpen, "Open"}, {panel->m_btnClose, "Close"}, {panel->m_btnSearch, "Search"},
        {panel->m_btnRefresh, "Refresh"}, {panel->m_btnClear, "Clear"}, {panel->m_checkTest, "&Test"},
        {panel->m_btnBoardTest, "보드 테스트"}, {panel->m_checkBuzzer, "부저"}, {panel->m_checkErrorIgnore, "에러무시"},
        {panel->m_btnApplyConfig, "Apply to module"}, {panel->m_btnFactoryReset, "FactoryReset"},
        {panel->m_btnFirmwareUpdate, "FirmwareUpdate"}, {panel->m_btnWindowMode, "Set window &mode"},
        {panel->m_btnSaveDebug, "Save debug message &l"}, {panel->m_btnSaveAs, "Save As"},
        {panel->m_btnLoadConfig, "..."}, {panel->m_btnSaveConfig, "Save file"}, {panel->m_btnSendRaw, "Send"},
        {panel->m_btnApplyTrigger, "Apply"}, {panel->m_btnSaveTrigMem, "Save to Mem"},
        {panel->m_btnLoadTrigMem, "Load from Mem"}, {panel->m_btnOneShotTrig, "OneShotTrig"},
        {panel->m_btnHelp, "Help"}, {panel->m_checkTrigAll, "All"}, {panel->m_checkTrigEnableAll, ""},
        {panel->m_checkIndicator[3], "HIGH/LOW"}, {panel->m_checkUseOnOff, "use ONOFF"},
        {panel->m_checkTrigEnable[3], "Trigger4"}, {panel->m_checkTof, "TOF"},
    };
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->text(), QString::fromUtf8(b.text));
    }
    const QStringList labels = {QStringLiteral("모델명"), QStringLiteral("채널수"), QStringLiteral("Trig채널수"),
                                QStringLiteral("Max bright range"), QStringLiteral("Error Status"),
                                QStringLiteral("Delay\n1~4000us"), QStringLiteral("OFF time\n=ON time*10"),
                                QStringLiteral("Max Freq.\nKhz"), QStringLiteral("DAC bandwidth")};
    QSet<QString> found;
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        found.insert(label->text());
    }
    for (const QString& text : labels) {
        EXPECT_TRUE(found.contains(text)) << text.toStdString() << " in " << QStringList(found.values()).join(QStringLiteral("|")).toStdString();
    }
    const QStringList modes = {QStringLiteral("Bright increase"), QStringLiteral("On&off"), QStringLiteral("on"),
                               QStringLiteral("packet"), QStringLiteral("On&Off_uver"), QStringLiteral("양산테스트")};
    for (int i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(panel->m_comboTestMode->itemText(i), modes[i]);
    }
}

TEST_F(PanelTest, EveryControlHasAnAccessibleNameAndInputsAreNamedUniquely) {
    CControlPanelDlg* panel = MakePanel();
    QSet<QString> inputNames;
    for (QObject* object : panel->children()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget == nullptr) {
            continue;
        }
        const QString name = widget->accessibleName();
        EXPECT_FALSE(name.isEmpty()) << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        if (qobject_cast<QLabel*>(widget) == nullptr && qobject_cast<QGroupBox*>(widget) == nullptr) {
            EXPECT_FALSE(inputNames.contains(name)) << "duplicate " << name.toStdString();
            inputNames.insert(name);
        }
    }
    const struct {
        QWidget* widget;
        const char* name;
    } samples[] = {
        {panel->m_sliderBright[2], "CH3"},         {panel->m_checkMatrix[4 * 2 + kOnColumn], "CH3 on"},
        {panel->m_spinTrigDelay[1], "Trigger2 Delay"}, {panel->m_editBandwidthLow[4], "DAC 5 low"},
        {panel->m_editConfigSerial, "Config S/N"}, {panel->m_listMessages, "Messages"},
        {panel->m_checkTest, "Test"},              {panel->m_editConfigChannels, "채널수"},
        {panel->m_groupTrigger, "Trigger option"}, {panel->m_comboTrigEdge[0], "Trigger1 edge"},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(s.widget->accessibleName(), QString::fromUtf8(s.name));
    }
}

TEST_F(PanelTest, MessagesAreInsertedOnTopAndClearEmptiesTheList) {
    CControlPanelDlg* panel = MakePanel();
    for (const char* text : {"Open complete", "-> getsn\r", "S/N: 12"}) {
        panel->AddMessage(QString::fromLatin1(text));
    }
    ASSERT_EQ(panel->MessageCount(), 3);
    EXPECT_EQ(panel->MessageText(0), QStringLiteral("S/N: 12"));
    EXPECT_EQ(panel->MessageText(1), QStringLiteral("-> getsn\r"));
    EXPECT_EQ(panel->MessageText(2), QStringLiteral("Open complete"));

    panel->ClearMessages();
    EXPECT_EQ(panel->MessageCount(), 0);
    panel->AddMessage(QStringLiteral("updateinfo"));
    panel->m_btnClear->click();  // "Clear" runs ClearMessages
    EXPECT_EQ(panel->MessageCount(), 0);
}

TEST_F(PanelTest, EnterAndEscapeAreSwallowedAndOtherKeysPass) {
    auto* panel = MakePanel<RecordingPanel>();
    panel->m_btnSendRaw->setEnabled(true);
    panel->m_comboRawCommand->setEnabled(true);
    ShowHost();
    int finished = 0;
    QObject::connect(&host, &QDialog::finished, [&finished] { ++finished; });

    const std::vector<QWidget*> targets = {panel->m_editOffset, panel->m_comboRawCommand, panel->m_spinTrigDelay[0],
                                           panel->m_btnSendRaw, panel->m_btnOpen, panel->m_listMessages};
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->accessibleName().toStdString());
        target->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()); }));
        QWidget* focus = QApplication::focusWidget();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(focus, key);
        }
        EXPECT_TRUE(host.isVisible());
        EXPECT_EQ(finished, 0);
    }
    EXPECT_TRUE(panel->calls.empty());  // Enter pressed neither "Send" nor "Open"

    panel->m_editOffset->setFocus();
    panel->m_editOffset->clear();
    QTest::keyClicks(panel->m_editOffset, QStringLiteral("42"));
    EXPECT_EQ(panel->m_editOffset->text(), QStringLiteral("42"));
    QTest::keyClick(panel->m_btnOpen, Qt::Key_Space);  // other keys take the usual route
    EXPECT_EQ(panel->calls, std::vector<std::string>{"OnOpenPort"});
}

// A drop-down's list is a window of its own, made when it first opens. Enter picks the
// highlighted entry and Escape closes the list, each in the list only: the window stays.
TEST_F(PanelTest, OpenDropDownListsTakeEnterAndEscapeForThemselves) {
    auto* panel = MakePanel<RecordingPanel>();
    panel->m_comboRawCommand->setEnabled(true);
    panel->m_comboRawCommand->addItem(QStringLiteral("getstatus"));
    ShowHost();
    int finished = 0;
    QObject::connect(&host, &QDialog::finished, [&finished] { ++finished; });

    const auto openOn = [](QComboBox* combo, int row) {
        combo->showPopup();
        QAbstractItemView* list = combo->view();
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }));
        list->setCurrentIndex(list->model()->index(row, 0));
        return QApplication::focusWidget();
    };
    for (QComboBox* combo : {panel->m_comboTrigEdge[1], panel->m_comboRawCommand, panel->m_comboPort}) {
        SCOPED_TRACE(combo->accessibleName().toStdString());
        ASSERT_GE(combo->count(), 2);
        const int other = combo->currentIndex() == 0 ? 1 : 0;
        QWidget* focus = openOn(combo, other);
        ASSERT_NE(focus, nullptr);
        ASSERT_TRUE(focus == combo->view() || combo->view()->isAncestorOf(focus)) << focus->metaObject()->className();
        QTest::keyClick(focus, Qt::Key_Return);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !combo->view()->isVisible(); }, 1000));
        EXPECT_EQ(combo->currentIndex(), other);

        QTest::keyClick(openOn(combo, other == 0 ? 1 : 0), Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !combo->view()->isVisible(); }, 1000));
        EXPECT_EQ(combo->currentIndex(), other);
        EXPECT_TRUE(host.isVisible());
        EXPECT_EQ(finished, 0);
    }
    // Only the edge drop-down has an action for a chosen entry.
    EXPECT_EQ(panel->calls, std::vector<std::string>{"OnTriggerChange"});
}

// The editable drop-downs keep the typed text as it is: no entry completes it.
TEST_F(PanelTest, EditableDropDownsKeepTheTypedTextAsTyped) {
    CControlPanelDlg* panel = MakePanel();
    panel->m_comboRawCommand->setEnabled(true);
    panel->m_comboRawCommand->addItem(QStringLiteral("getstatus"));
    ShowHost();
    for (QComboBox* combo : {panel->m_comboRawCommand, panel->m_comboPort}) {
        const QString typed = combo->itemText(1).left(3);  // the start of an entry
        combo->lineEdit()->clear();
        combo->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return combo->lineEdit()->hasFocus(); }));
        QTest::keyClicks(combo->lineEdit(), typed);
        EXPECT_EQ(combo->currentText(), typed);
    }
}

// The DAC rule runs when the focus moves from a DAC edit to another control, not when a menu
// opens over the edit or another window becomes active.
TEST_F(PanelTest, DacRuleRunsOnlyWhenTheFocusMovesToAnotherControl) {
    auto* panel = MakePanel<RecordingPanel>();
    ShowHost();
    QLineEdit* edit = panel->m_editBandwidthLow[3];
    QWidget other;
    const struct {
        std::function<void()> leave;
        std::vector<std::string> expected;
    } cases[] = {
        {[&] { QTest::keyClick(edit, Qt::Key_Tab); }, {"OnBandwidthKillFocus"}},
        {[&] {  // the edit's context menu
             QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
             QApplication::sendEvent(edit, &event);
             ASSERT_NE(qobject_cast<QMenu*>(QApplication::activePopupWidget()), nullptr);
             QApplication::activePopupWidget()->close();
         },
         {}},
        {[&] {
             other.show();
             other.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
             other.hide();
         },
         {}},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row++);
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
        edit->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }));
        panel->calls.clear();
        c.leave();
        EXPECT_EQ(panel->calls, c.expected);
    }
}

TEST_F(PanelTest, EveryEventOfTheTableReachesItsHandler) {
    auto* panel = MakePanel<RecordingPanel>();
    ASSERT_TRUE(panel->calls.empty()) << "initialisation ran " << panel->calls.front();
    const auto click = [](QAbstractButton* button) { return [button] { emit button->clicked(false); }; };
    struct Row {
        std::function<void()> act;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {[&] { panel->m_sliderBright[2]->triggerAction(QAbstractSlider::SliderSingleStepAdd); },
         {"OnHScroll 2 " + std::to_string(static_cast<int>(ScrollCode::LineDown))}},
        {[&] { panel->m_sliderBright[0]->triggerAction(QAbstractSlider::SliderPageStepSub); },
         {"OnHScroll 0 " + std::to_string(static_cast<int>(ScrollCode::PageUp))}},
        {[&] { panel->m_sliderBright[15]->triggerAction(QAbstractSlider::SliderToMaximum); },
         {"OnHScroll 15 " + std::to_string(static_cast<int>(ScrollCode::Bottom))}},
        {[&] { emit panel->m_sliderBright[5]->sliderReleased(); },
         {"OnHScroll 5 " + std::to_string(static_cast<int>(ScrollCode::ThumbPosition))}},
        {[&] { panel->m_sliderBright[3]->setValue(100); }, {}},  // a program's change sends nothing
        {click(panel->m_checkMatrix[4 * 6 + kOnColumn]), {"SendOnMask"}},
        {click(panel->m_checkAll[kOnColumn]), {"OnAllChannelsClicked"}},
        {click(panel->m_checkTest), {"OnTestToggle"}},
        {[&] { emit panel->m_comboTestMode->activated(2); }, {}},
        {click(panel->m_btnSaveBright), {"OnSaveBright"}},
        {click(panel->m_btnLoadBright), {"OnLoadBright"}},
        {[&] { panel->m_spinLoadBright->setValue(4); }, {"OnLoadBrightIndexChange"}},
        {[&] { panel->m_spinSaveBright->setValue(4); }, {}},
        {click(panel->m_btnFactoryReset), {"OnFactoryReset"}},
        {click(panel->m_btnClear), {"OnClear"}},
        {click(panel->m_btnOpen), {"OnOpenPort"}},
        {click(panel->m_btnClose), {"OnClosePort"}},
        {click(panel->m_btnRefresh), {"OnRefresh"}},
        {click(panel->m_btnSearch), {"OnSearchPorts"}},
        {click(panel->m_btnFirmwareUpdate), {"OnFirmwareUpdate"}},
        {click(panel->m_btnApplyTrigger), {"ApplyTriggers"}},
        {click(panel->m_btnOneShotTrig), {"OnOneShotTrig"}},
        {click(panel->m_checkTrigEnableAll), {"OnTrigEnableAll"}},
        {click(panel->m_checkTrigAll), {"OnTrigAll"}},
        {[&] { panel->m_spinTrigDelay[2]->setValue(20); }, {"OnTriggerChange"}},
        {[&] { panel->m_spinTrigOnTime[3]->setValue(7); }, {"OnTriggerChange"}},
        {[&] { emit panel->m_comboTrigEdge[1]->activated(1); }, {"OnTriggerChange"}},
        {[&] { panel->m_comboTrigEdge[1]->setCurrentIndex(0); }, {}},
        {click(panel->m_btnSaveTrigMem), {"OnSaveTriggerMemory"}},
        {click(panel->m_btnLoadTrigMem), {"LoadTriggerMemory"}},
        {[&] { panel->m_spinTrigMemory[1]->setValue(2); }, {"OnTrigMemoryIndexChange"}},
        {[&] { panel->m_spinTrigMemory[0]->setValue(2); }, {}},
        {click(panel->m_checkBuzzer), {"OnBuzzer"}},
        {click(panel->m_checkErrorIgnore), {"OnErrorIgnore"}},
        {click(panel->m_checkOut0), {"OnOutPort"}},
        {click(panel->m_checkOut1), {"OnOutPort"}},
        {click(panel->m_btnApplyConfig), {"ApplyConfigToModule"}},
        {click(panel->m_btnWindowMode), {"OnSetWindowMode"}},
        {click(panel->m_btnSendRaw), {"OnSendRaw"}},
        {click(panel->m_checkBandwidthAll), {"OnBandwidthAll"}},
        {click(panel->m_btnHelp), {"OnHelp"}},
        {click(panel->m_btnLoadConfig), {"LoadConfigFile"}},
        {click(panel->m_btnSaveConfig), {"SaveConfigFile"}},
        {click(panel->m_btnSaveDebug), {"SaveDebugLog"}},
        {click(panel->m_btnBoardTest), {}},
        {click(panel->m_btnSaveAs), {}},
        {[&] { panel->OnTimer(TIMER_TEST); }, {"OnTestTick"}},
        {[&] { panel->OnTimer(TIMER_STATUS); }, {"OnStatusRefresh"}},
        {[&] { panel->OnTimer(3); }, {}},
    };
    int index = 0;
    for (const Row& row : rows) {
        panel->calls.clear();
        row.act();
        EXPECT_EQ(panel->calls, row.expected) << "row " << index;
        ++index;
    }
}

TEST_F(PanelTest, FocusLossOfADacEditShortcutsAndTimersReachTheirHandlers) {
    auto* panel = MakePanel<RecordingPanel>();
    ShowHost();
    panel->m_editBandwidthHigh[0]->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->m_editBandwidthHigh[0]->hasFocus(); }));
    panel->calls.clear();
    panel->m_editOffset->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->m_editOffset->hasFocus(); }));
    EXPECT_EQ(panel->calls, std::vector<std::string>{"OnBandwidthKillFocus"});

    panel->calls.clear();
    QTest::keyClick(panel->m_editOffset, Qt::Key_M, Qt::AltModifier);
    QTest::keyClick(panel->m_editOffset, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(panel->calls, (std::vector<std::string>{"OnSetWindowMode", "SaveDebugLog"}));

    panel->calls.clear();
    panel->SetTimer(TIMER_STATUS, 5);
    EXPECT_EQ(panel->Timers().Interval(TIMER_STATUS), 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->calls.size() >= 2; }, 2000));
    panel->KillTimer(TIMER_STATUS);
    EXPECT_FALSE(panel->Timers().IsRunning(TIMER_STATUS));
    for (const std::string& call : panel->calls) {
        EXPECT_EQ(call, "OnStatusRefresh");
    }
}

// While the fields are exchanged (a failing read-back's message box is up), control
// notifications are ignored, as the platform's dialog exchange does.
TEST_F(PanelTest, NoHandlerRunsWhileAFailedReadBackShowsItsMessage) {
    auto* panel = MakePanel<RecordingPanel>();
    fakes.messageBox->onShow = [panel] {
        emit panel->m_btnOpen->clicked(false);
        panel->m_spinTrigDelay[0]->setValue(9);
    };
    panel->m_editConfigChannels->setText(QStringLiteral("2"));
    panel->calls.clear();
    EXPECT_FALSE(panel->UpdateData(true));
    EXPECT_TRUE(panel->calls.empty());
    emit panel->m_btnOpen->clicked(false);
    EXPECT_EQ(panel->calls, std::vector<std::string>{"OnOpenPort"});
}

TEST_F(PanelTest, WindowModeEnlargesTheMainWindowAndRestoresIt) {
    CControlPanelDlg* panel = MakePanel();
    host.resize(700, 600);
    ShowHost();
    const QSize before = host.frameGeometry().size();

    panel->OnSetWindowMode();
    EXPECT_EQ(panel->m_bWindowMode, 1);
    EXPECT_EQ(host.frameGeometry().size(), QSize(700, 600) + QSize(240, 200) );
    EXPECT_EQ(host.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_TRUE(panel->m_btnSendRaw->isEnabled());
    EXPECT_TRUE(panel->m_comboRawCommand->isEnabled());

    panel->OnSetWindowMode();
    EXPECT_EQ(panel->m_bWindowMode, 0);
    EXPECT_EQ(host.frameGeometry().size(), before);
    EXPECT_FALSE(panel->m_btnSendRaw->isEnabled());
    EXPECT_FALSE(panel->m_comboRawCommand->isEnabled());
}

// A window manager frames a window only when it maps it, so a geometry applied before the
// first show must be applied again once the frame is known, with the frame counted. The
// offscreen platform, too, reports a frame only once the window exists.
TEST(WindowGeometry, OuterGeometryCountsTheFrameOnceItIsKnown) {
    const struct {
        std::function<void(QWidget&)> beforeShow;
        std::function<void(QWidget&)> afterShow;
        QRect frame;   // checked when valid
        QSize client;  // checked when valid
    } cases[] = {
        {[](QWidget& w) { SetOuterGeometryWhenFramed(&w, {0, 0}, {300, 200}); }, nullptr, QRect(0, 0, 300, 200), {}},
        {nullptr, [](QWidget& w) { SetOuterGeometryWhenFramed(&w, {10, 20}, {300, 200}); }, QRect(10, 20, 300, 200), {}},
        // A later geometry (window mode) stands; the pending one is not applied over it.
        {[](QWidget& w) {
             SetOuterGeometryWhenFramed(&w, {0, 0}, {300, 200});
             SetOuterGeometry(&w, {0, 0}, {400, 250});
         },
         nullptr, QRect(), QSize(400, 250)},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row++);
        QDialog window;
        if (c.beforeShow) {
            c.beforeShow(window);
        }
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        if (c.afterShow) {
            c.afterShow(window);
        }
        if (c.frame.isValid()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry() == c.frame; }, 1000));
        }
        if (c.client.isValid()) {
            QCoreApplication::processEvents();
            EXPECT_EQ(window.size(), c.client);
        }
    }
}

TEST_F(PanelTest, HelpShowsTheTimingDiagramUntilEscape) {
    CControlPanelDlg* panel = MakePanel();
    ShowHost();
    QPointer<CHelpDlg> seen;
    QSize pictureSize;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<CHelpDlg*>(QApplication::activeModalWidget());
        if (seen) {
            pictureSize = seen->Picture()->pixmap().size();
            QTest::keyClick(seen.data(), Qt::Key_Escape);
        }
    });
    panel->OnHelp();  // returns once the window is closed
    EXPECT_TRUE(pictureSize.isValid());
    EXPECT_EQ(pictureSize, QSize(721, 551));
}

TEST_F(PanelTest, DestructionSendsAllOffThenEndsTheToolThenDestroysControls) {
    CControlPanelDlg* panel = MakePanel();
    const int number = PortNumberForPath(kPortA);
    ASSERT_NE(panel->m_pLink->OpenPort(number), 0);
    panel->m_firmwareTool.showMode = 5;
    panel->m_firmwareTool.process = fakes.toolLauncher->Launch(QStringLiteral("configtool.exe"));
    auto tool = fakes.toolLauncher->last;

    std::string writtenWhenToolEnded;
    bool controlsAliveWhenToolEnded = false;
    QPointer<QWidget> list = panel->m_listMessages;
    tool->onTerminate = [&] {
        writtenWhenToolEnded = line.Written();
        controlsAliveWhenToolEnded = !list.isNull();
    };
    line.writes.clear();
    delete panel;

    EXPECT_EQ(line.Written(), "setonex 00000000\r");
    EXPECT_EQ(line.destroyed, line.created);
    EXPECT_EQ(tool->terminated, 1);
    EXPECT_EQ(writtenWhenToolEnded, "setonex 00000000\r");  // the link went first
    EXPECT_TRUE(controlsAliveWhenToolEnded);                // the controls last
    EXPECT_TRUE(list.isNull());
}

TEST_F(PanelTest, DestructionWithNoPortOpenSendsNothing) {
    CControlPanelDlg* panel = MakePanel();
    delete panel;
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(line.created, 0);
}

}  // namespace

namespace {

std::vector<QByteArray> Lines(const MessageRing& ring) {
    std::vector<QByteArray> lines;
    for (int row = 0; row < ring.Count(); ++row) {
        lines.push_back(ring.Newest(row).toByteArray());
    }
    return lines;
}

// The message ring against a deque: lines of every length (empty, longer than the block),
// through filling, the bound, wrapping round the block, growing and clearing.
TEST(MessageRing, KeepsTheNewestLinesByteForByte) {
    for (const int capacity : {1, 3, 50}) {
        MessageRing ring(capacity);
        std::deque<QByteArray> expected;
        for (std::uint32_t i = 0, seed = 7; i < 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            const int length = (i % 500 == 499) ? 9000 : static_cast<int>((seed >> 16) % 40);
            const QByteArray line = (seed & 0x100) != 0 ? QByteArray() : QByteArray(length, 'a') + QByteArray::number(i);
            EXPECT_EQ(ring.Push(line), static_cast<int>(expected.size()) == capacity);
            expected.push_front(line);
            expected.resize(std::min<std::size_t>(expected.size(), static_cast<std::size_t>(capacity)));
            if (i == 2000) {
                ring.Clear();
                expected.clear();
            }
            ASSERT_EQ(std::vector<QByteArray>(expected.begin(), expected.end()), Lines(ring)) << capacity << ": " << i;
        }
    }
}

// Qt's own model checks while the list fills, drops its oldest lines at the bound and clears;
// and the indexes it answers for rows, columns and parents it does not have.
TEST(MessageListModel, PassesQtsModelChecksAndAnswersNoIndexOutsideItsLines) {
    MessageListModel model(3);
    const QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int i = 0; i < 5; ++i) {
        model.Add(QString::number(i));
    }
    EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("4"));
    EXPECT_EQ(model.index(2, 0).data().toString(), QStringLiteral("2"));
    for (const auto& [row, column] : {std::pair{-1, 0}, {3, 0}, {0, 1}, {0, -1}}) {
        EXPECT_FALSE(model.index(row, column).isValid()) << row << "," << column;
    }
    EXPECT_FALSE(model.index(0, 0, model.index(0, 0)).isValid());
    model.Clear();
    EXPECT_FALSE(model.index(0, 0).isValid());
}

// A line wider than the list, wherever it stands among shorter ones, is laid out whole: the
// list scrolls to its end instead of cutting it short.
TEST(CMessageList, ScrollsToTheEndOfItsWidestLine) {
    const QString wide = QStringLiteral("COM1 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ3XY-if00-port0 LX-1608 2.5.0");
    for (const int at : {0, 2, 4}) {
        CMessageList list;
        list.resize(200, 120);
        list.show();
        for (int i = 0; i < 5; ++i) {
            list.AddLine(i == at ? wide : QStringLiteral("short"));
        }
        QCoreApplication::processEvents();
        EXPECT_GE(list.visualRect(list.model()->index(4 - at, 0)).width(), list.fontMetrics().horizontalAdvance(wide)) << at;
    }
}

}  // namespace

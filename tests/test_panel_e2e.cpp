// The panel against lumitrax-sim over a pseudo-terminal: real serial port, real receive thread,
// real waits. Each "Open" and "Refresh" takes over a second here, as on a real line.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control_panel.h"
#include "ser2net_process.h"
#include "sim_panel.h"
#include "sim_process.h"
#include "test_panel_fakes.h"

namespace {


QStringList Messages(const CControlPanelDlg& panel) {
    QStringList lines;
    for (int i = 0; i < panel.MessageCount(); ++i) {
        lines << panel.MessageText(i);
    }
    return lines;
}

void OpenFirstPort(CControlPanelDlg& panel, int channels) {
    panel.m_editChannelInput->setText(QString::number(channels));
    panel.m_comboPort->setCurrentIndex(0);
    panel.OnOpenPort();
}

TEST(PanelEndToEnd, OpenShowsTheControllerAndASliderMoveReachesIt) {
    SimProcess sim({"--model", "LX-E2E", "--serial", "SN-E2E-1", "--firmware", "3.1", "--fpga", "F7", "--build",
                    "B2401", "--module-id", "12", "--channels", "8"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    QDialog host;
    FakePlatform fakes;
    auto panel = MakeSimPanel(&host, fakes, {QString::fromStdString(sim.devicePath())});

    OpenFirstPort(*panel, 4);
    ASSERT_EQ(panel->m_bPortOpen, 1) << Messages(*panel).join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Messages(*panel).contains(QStringLiteral("updateinfo")));
    EXPECT_EQ(panel->m_editModel->text(), QStringLiteral("LX-E2E"));
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("SN-E2E-1"));
    EXPECT_EQ(panel->m_editFwVersion->text(), QStringLiteral("3.1"));
    EXPECT_EQ(panel->m_editHwVersion->text(), QStringLiteral("F7"));
    EXPECT_EQ(panel->m_editBuild->text(), QStringLiteral("B2401"));
    EXPECT_EQ(panel->m_editModuleId->text(), QStringLiteral("12"));
    EXPECT_EQ(panel->m_editConfigChannels->text(), QStringLiteral("8"));

    // The operator drags channel 2 and ticks channel 3; the panel is then put back by the
    // program (which sends nothing) and a refresh shows what the controller holds.
    QSlider* slider = panel->m_sliderBright[1];
    slider->setSliderDown(true);
    slider->setSliderPosition(300);
    slider->setSliderDown(false);
    panel->m_checkMatrix[4 * 2 + kOnColumn]->click();
    const bool ch3WasOn = panel->m_checkMatrix[4 * 2 + kOnColumn]->isChecked();
    slider->setValue(0);
    panel->m_checkMatrix[4 * 2 + kOnColumn]->setChecked(!ch3WasOn);
    panel->OnRefresh();
    EXPECT_EQ(slider->value(), 300);
    EXPECT_EQ(panel->m_checkMatrix[4 * 2 + kOnColumn]->isChecked(), ch3WasOn);

    // The status timer brings the traffic into the list.
    panel->OnStatusRefresh();
    EXPECT_TRUE(Messages(*panel).contains(QStringLiteral("-> # 1 300\r")));

    panel->OnClosePort();
    EXPECT_EQ(panel->m_bPortOpen, 0);
    EXPECT_EQ(panel->m_editModel->text(), QStringLiteral("---"));
}

TEST(PanelEndToEnd, SearchFindsTheControllerAndNotASilentOne) {
    SimProcess sim({"--model", "LX-S", "--serial", "SN-S1", "--firmware", "1.0", "--fpga", "F1", "--build", "B1"});
    SimProcess silent({"--silent"});
    ASSERT_FALSE(sim.devicePath().empty());
    ASSERT_FALSE(silent.devicePath().empty());
    QDialog host;
    FakePlatform fakes;
    const QString found = QString::fromStdString(sim.devicePath());
    const QString mute = QString::fromStdString(silent.devicePath());
    auto panel = MakeSimPanel(&host, fakes, {mute, found});

    panel->OnSearchPorts();
    const QStringList lines = Messages(*panel);
    const QString expected = QStringLiteral("COM%1 %2 LX-S 1.0 F1 B1 SN-S1").arg(PortNumberForPath(found)).arg(found);
    EXPECT_EQ(lines.value(0), expected) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("LX-S")).size(), 1);
    EXPECT_FALSE(lines.contains(QStringLiteral("not found")));

    auto lonely = MakeSimPanel(&host, fakes, {mute});
    lonely->OnSearchPorts();
    EXPECT_EQ(Messages(*lonely).value(0), QStringLiteral("not found"));
}

TEST(PanelEndToEnd, AControllerThatHangsUpLeavesTheWindowWorking) {
    QTemporaryDir dir;
    const std::string linkPath = dir.filePath(QStringLiteral("controller")).toStdString();
    QDialog host;
    FakePlatform fakes;
    auto panel = MakeSimPanel(&host, fakes, {QString::fromStdString(linkPath)});
    {
        SimProcess sim({"--hangup-after", "5", "--serial", "HUP-1", "--link", linkPath});
        ASSERT_FALSE(sim.devicePath().empty());
        OpenFirstPort(*panel, 4);
        ASSERT_EQ(panel->m_bPortOpen, 1);
        // The simulator says when it has closed the terminal. Its device path cannot tell: another
        // test's simulator may be given the same /dev/pts number the moment it is freed.
        const auto hungUp = [&] { return sim.ErrorOutput().find("terminal closed") != std::string::npos; };
        ASSERT_TRUE(QTest::qWaitFor(hungUp, 5000)) << "the controller never hung up";
        // Everything still works on a port whose device is gone.
        panel->OnRefresh();
        panel->OnStatusRefresh();
        panel->m_sliderBright[0]->triggerAction(QAbstractSlider::SliderPageStepAdd);
        panel->OnClosePort();
        EXPECT_EQ(panel->m_bPortOpen, 0);
    }
    SimProcess again({"--serial", "HUP-2", "--link", linkPath});
    ASSERT_FALSE(again.devicePath().empty());
    OpenFirstPort(*panel, 4);
    ASSERT_EQ(panel->m_bPortOpen, 1) << Messages(*panel).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("HUP-2"));
    panel->OnClosePort();
}

TEST(PanelEndToEnd, ApplyToModuleChangesTheControllerAndRefreshShowsIt) {
    SimProcess sim({"--serial", "OLD-SN", "--module-id", "3"});
    ASSERT_FALSE(sim.devicePath().empty());
    QDialog host;
    FakePlatform fakes;
    auto panel = MakeSimPanel(&host, fakes, {QString::fromStdString(sim.devicePath())});
    OpenFirstPort(*panel, 4);
    ASSERT_EQ(panel->m_bPortOpen, 1);
    ASSERT_EQ(panel->m_editSerial->text(), QStringLiteral("OLD-SN"));
    const QString row4 = panel->m_editBandwidthLow[3]->text() + QLatin1Char('~') + panel->m_editBandwidthHigh[3]->text();

    panel->m_editConfigSerial->setText(QStringLiteral("NEW-SN"));
    panel->m_editConfigId->setText(QStringLiteral("33"));
    panel->m_editBandwidthLow[2]->setText(QStringLiteral("0.25"));
    panel->m_editBandwidthHigh[2]->setText(QStringLiteral("2.25"));
    panel->ApplyConfigToModule();
    EXPECT_TRUE(fakes.messageBox->shown.empty());
    panel->OnRefresh();
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("NEW-SN"));
    EXPECT_EQ(panel->m_editModuleId->text(), QStringLiteral("33"));
    EXPECT_EQ(panel->m_editBandwidthLow[2]->text(), QStringLiteral("0.25"));
    EXPECT_EQ(panel->m_editBandwidthHigh[2]->text(), QStringLiteral("2.25"));
    EXPECT_EQ(panel->m_editBandwidthLow[3]->text() + QLatin1Char('~') + panel->m_editBandwidthHigh[3]->text(), row4);
    panel->OnClosePort();
}

TEST(PanelEndToEnd, ATcpEntryOpensThroughSer2netAndShowsTheController) {
    if (Ser2netProcess::Program().isEmpty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    SimProcess sim({"--model", "LX-TCP", "--serial", "SN-TCP-7"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    Ser2netProcess server(sim.devicePath(), false);
    ASSERT_TRUE(server.ok()) << server.Output().toStdString();
    QDialog host;
    FakePlatform fakes;
    auto panel = MakeSimPanel(&host, fakes, {server.Url()});

    OpenFirstPort(*panel, 4);
    ASSERT_EQ(panel->m_bPortOpen, 1) << Messages(*panel).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(panel->m_editModel->text(), QStringLiteral("LX-TCP"));
    EXPECT_EQ(panel->m_editSerial->text(), QStringLiteral("SN-TCP-7"));
    panel->OnClosePort();
    EXPECT_EQ(panel->m_bPortOpen, 0);
}

}  // namespace

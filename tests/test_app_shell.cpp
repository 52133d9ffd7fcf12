// The application shell: main window, splash, About box, command line, simulator launcher.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "about_dialog.h"
#include "command_line.h"
#include "dialog_units.h"
#include "fake_serial_port.h"
#include "main_dialog.h"
#include "panel_app.h"
#include "platform.h"
#include "port_list.h"
#include "simulator.h"
#include "test_panel_fakes.h"
#include "updown_spin.h"

namespace {

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearAddedPortPaths();
        AddPortPath(QStringLiteral("/dev/lumitrax-shell-test"));
    }
    void TearDown() override { ClearAddedPortPaths(); }

    std::unique_ptr<CMainDlg> MakeMain() { return std::make_unique<CMainDlg>(nullptr, fakes.Make(line.Factory())); }

    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
};

TEST_F(ShellTest, CaptionPositionAndSizeAfterInitialisation) {
    auto dlg = MakeMain();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Varnel Industry Feb 25 2013 (2.5)"));
    const DialogUnits units = DialogUnits::ForFont(TemplateFont());
    EXPECT_EQ(dlg->TemplateClientSize(), units.Size(586, 440));
    // What the first frame shows is set up; the rows hidden at first are built after it.
    EXPECT_EQ(dlg->Panel()->m_editChannelInput->text(), QStringLiteral("8"));
    EXPECT_EQ(dlg->Panel()->m_sliderBright[0], nullptr);
    EXPECT_EQ(dlg->Panel()->m_spinTrigDelay[0], nullptr);
    EXPECT_EQ(dlg->Panel()->m_editBandwidthHigh[0], nullptr);
    EXPECT_FALSE(dlg->Panel()->IsCreated());

    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Panel()->IsCreated(); }, 2000));
    EXPECT_EQ(dlg->frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(dlg->frameGeometry().size(), units.Size(586, 440) - QSize(220, 135));
    EXPECT_FALSE(dlg->windowIcon().isNull());

    CControlPanelDlg* panel = dlg->Panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->parentWidget(), dlg.get());
    EXPECT_EQ(panel->ParentWnd(), dlg.get());
    EXPECT_TRUE(panel->IsCreated());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->pos(), QPoint(0, 0));
    EXPECT_EQ(panel->size(), units.Size(582, 439));
    // The window opens smaller than the panel: the configuration group lies beyond its right edge.
    EXPECT_GT(panel->m_groupConfig->geometry().right(), dlg->width());
    // The channel rows, built after the first frame: hidden, set up, connected.
    EXPECT_FALSE(panel->m_sliderBright[0]->isVisibleTo(panel));
    EXPECT_EQ(panel->m_staticChannel[2]->text(), QStringLiteral("CH3"));
    EXPECT_EQ(panel->m_sliderBright[0]->maximum(), 1024);
    // In the tab order after the configuration column and before the trigger rows, as ever.
    EXPECT_EQ(panel->m_sliderBright[kSliderCount - 1]->nextInFocusChain(), panel->m_checkTrigEnable[0]);
    EXPECT_EQ(panel->m_checkAll[0]->previousInFocusChain()->previousInFocusChain()->previousInFocusChain(),
              panel->m_btnFirmwareUpdate);
    panel->m_nChannelCount = 2;
    panel->m_checkAll[kOnColumn]->click();
    EXPECT_TRUE(panel->m_checkMatrix[kOnColumn]->isChecked());
    // The trigger and DAC rows, built after the first frame too: shown, set up, connected, and
    // in the tab order after the channel rows.
    EXPECT_TRUE(panel->m_spinTrigDelay[kTriggerRows - 1]->isVisibleTo(panel));
    EXPECT_TRUE(panel->m_editBandwidthHigh[kChannelCount - 1]->isVisibleTo(panel));
    EXPECT_EQ(panel->m_editBandwidthHigh[kChannelCount - 1]->text(), QStringLiteral("1.2"));
    EXPECT_EQ(panel->m_editBandwidthLow[0]->accessibleName(), QStringLiteral("DAC 1 low"));
    EXPECT_EQ(panel->m_checkTrigEnable[1]->accessibleName(), QStringLiteral("Trigger2"));
    EXPECT_EQ(panel->m_spinTrigDelay[1]->GetPos(), 1);
    EXPECT_EQ(panel->m_editTrigMaxFreq[kTriggerRows - 1]->nextInFocusChain()->nextInFocusChain(),
              panel->m_editBandwidthLow[0]);
    panel->m_spinTrigOnTime[1]->SetPos(5);
    EXPECT_EQ(panel->m_editTrigOffTime[1]->text(), QStringLiteral("40"));
}

// Once a display name is set, the X11 platform appends " — " and that name to every window
// title that does not end with it; the offscreen platform shows titles as they are. Without a
// display name of its own, the display name follows the application's name.
bool DisplayNameIsSet() {
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name + QStringLiteral(" probe"));
    const bool follows = QGuiApplication::applicationDisplayName() == QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name);
    return !follows;
}

TEST_F(ShellTest, TitlesGetNothingAppendedOnX11AndMessageBoxesTakeTheApplicationsName) {
    SetApplicationIdentity();
    EXPECT_FALSE(DisplayNameIsSet()) << "X11 would show every caption followed by \" \u2014 "
                                     << QGuiApplication::applicationDisplayName().toStdString() << "\"";
    auto dlg = MakeMain();
    const std::shared_ptr<IMessageBox> box = PanelPlatform::Real().messageBox;
    const struct {
        std::function<void()> open;  // returns once the window is closed
        const char* caption;
    } modals[] = {
        {[&] { box->Show(dlg.get(), QStringLiteral("open failed"), QString(), MessageIcon::None); }, "Lumitrax"},
        {[&] { box->Show(dlg.get(), QStringLiteral("x"), QStringLiteral("Invalid value!!"), MessageIcon::Error); },
         "Invalid value!!"},
        {[&] { dlg->Panel()->OnHelp(); }, ""},
    };
    for (const auto& modal : modals) {
        QString title = QStringLiteral("(no modal window)");
        QTimer::singleShot(0, [&title] {
            if (QWidget* window = QApplication::activeModalWidget()) {
                title = window->windowTitle();
                window->close();
            }
        });
        modal.open();
        EXPECT_EQ(title, QString::fromUtf8(modal.caption));
    }
}

TEST_F(ShellTest, SplashShowsUntilTimerOneRemovesItOnce) {
    PanelPlatform platform = fakes.Make(line.Factory());
    int listed = 0;
    platform.listPorts = [&listed] {
        ++listed;
        return std::vector<PortEntry>{{1, QStringLiteral("/dev/ttyS0"), QString(), QStringLiteral("COM1 /dev/ttyS0")}};
    };
    auto dlg = std::make_unique<CMainDlg>(nullptr, platform);
    // The main window shows first; the splash and the port list follow once it has drawn itself.
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->Splash(), nullptr);
    EXPECT_EQ(listed, 0);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dlg->Splash() != nullptr && dlg->Splash()->isVisible() && dlg->Panel()->m_comboPort->count() == 1; },
        2000));
    QPointer<CAboutDlg> splash = dlg->Splash();
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(splash->windowTitle(), QStringLiteral("Lumitrax 정보"));
    EXPECT_TRUE(dlg->Timers().IsRunning(TIMER_SPLASH));
    EXPECT_EQ(dlg->Timers().Interval(TIMER_SPLASH), 3000);

    dlg->OnTimer(TIMER_SPLASH);
    EXPECT_TRUE(splash.isNull());
    EXPECT_EQ(dlg->Splash(), nullptr);
    EXPECT_FALSE(dlg->Timers().IsRunning(TIMER_SPLASH));
    dlg->OnTimer(TIMER_SPLASH);  // a late tick finds nothing to destroy
    EXPECT_EQ(dlg->Splash(), nullptr);

    // A first frame later than the splash's time shows no splash at all.
    auto late = std::make_unique<CMainDlg>(nullptr, platform);
    late->OnTimer(TIMER_SPLASH);
    late->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return late->Panel()->IsCreated(); }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(late->Splash(), nullptr);
}

TEST_F(ShellTest, SplashVanishesByItselfAfterThreeSeconds) {
    QElapsedTimer clock;
    clock.start();
    auto dlg = MakeMain();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Splash() != nullptr; }, 2000));
    QPointer<CAboutDlg> splash = dlg->Splash();
    ASSERT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 6000));
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_FALSE(dlg->Timers().IsRunning(TIMER_SPLASH));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(ShellTest, TheAboutItemBelowASeparatorOpensTheModalAboutBox) {
    auto dlg = MakeMain();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    QMenu menu;
    dlg->FillSystemMenu(&menu);
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Lumitrax 정보(&A)..."));

    QString title;
    QStringList texts;
    QString button;
    bool wasSplash = true;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        wasSplash = about == dlg->Splash();
        title = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) {
            texts << label->text();
        }
        EXPECT_FALSE(about->Picture()->pixmap().isNull());
        button = about->OkButton()->text();
        about->OkButton()->click();
    });
    actions[1]->trigger();  // returns when the About box is closed
    EXPECT_FALSE(wasSplash);
    EXPECT_EQ(title, QStringLiteral("Lumitrax 정보"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Lumitrax 버전 2.5")));
    EXPECT_EQ(button, QStringLiteral("확인"));
}

// The window manager owns the system menu here: a right click anywhere on the panel's
// background offers the About item instead.
TEST_F(ShellTest, ARightClickOnThePanelOffersTheAboutItem) {
    auto dlg = MakeMain();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    // The splash, shown just after the first frame, would take the menu's place.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Splash() != nullptr && dlg->Splash()->isVisible(); }, 2000));
    QStringList offered;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                offered << action->text();
            }
            menu->close();
        }
    });
    QWidget* target = dlg->Panel()->m_groupPortInfo;
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 30), target->mapToGlobal(QPoint(5, 30)));
    QApplication::sendEvent(target, &event);
    EXPECT_TRUE(offered.contains(QStringLiteral("Lumitrax 정보(&A)..."))) << offered.join(QLatin1Char('|')).toStdString();
}

TEST_F(ShellTest, OnlyTheAboutCommandOpensTheAboutBox) {
    auto dlg = MakeMain();
    int opened = 0;
    const auto closeAny = [&] {
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            ++opened;
            about->reject();
        }
    };
    for (int command : {IDM_ABOUTBOX, IDM_ABOUTBOX | 0x7, 0xF060 /* close */, 0xF020 /* minimise */}) {
        QTimer::singleShot(0, closeAny);
        dlg->OnSysCommand(command);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(opened, 2);
}

TEST_F(ShellTest, ClosingTheMainWindowClosesTheLinkWithAllChannelsOff) {
    auto dlg = MakeMain();
    ASSERT_NE(dlg->Panel()->m_pLink->OpenPort(PortNumberForPath(QStringLiteral("/dev/lumitrax-shell-test"))), 0);
    line.writes.clear();
    dlg.reset();
    EXPECT_EQ(line.Written(), "setonex 00000000\r");
}

// A stop signal while a message box is open ends both the box and the main window.
TEST(StopSignal, ClosesTheModalWindowsAboveTheMainWindowThenTheMainWindow) {
    QDialog mainWnd;
    bool boxEnded = false;
    bool safetyNeeded = false;
    QTimer::singleShot(0, &mainWnd, [&] {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lumitrax"), QStringLiteral("busy"), QMessageBox::Ok, &mainWnd);
        QTimer::singleShot(50, &mainWnd, [&] { EndModalWindows(&mainWnd); });
        QTimer::singleShot(5000, &box, [&] {
            safetyNeeded = true;
            box.done(0);
        });
        box.exec();
        boxEnded = true;
    });
    mainWnd.show();
    EXPECT_EQ(mainWnd.exec(), QDialog::Rejected);
    EXPECT_TRUE(boxEnded);
    EXPECT_FALSE(safetyNeeded) << "the message box stayed open";
}

TEST(CommandLine, OptionsHelpAndErrors) {
    const struct {
        QStringList args;
        CommandLineAction action;
        QStringList ports;
        bool simulate;
        const char* messagePart;
    } cases[] = {
        {{}, CommandLineAction::Run, {}, false, ""},
        {{"--port", "/dev/ttyUSB0"}, CommandLineAction::Run, {"/dev/ttyUSB0"}, false, ""},
        {{"--port", "/dev/b", "--port=/dev/a", "--simulate"}, CommandLineAction::Run, {"/dev/b", "/dev/a"}, true, ""},
        {{"--simulate"}, CommandLineAction::Run, {}, true, ""},
        {{"--help"}, CommandLineAction::ShowHelp, {}, false, "--simulate"},
        {{"-h"}, CommandLineAction::ShowHelp, {}, false, "--port PATH"},
        {{"--bogus"}, CommandLineAction::Fail, {}, false, "bogus"},
        {{"--port"}, CommandLineAction::Fail, {}, false, "--port"},
        {{"--port="}, CommandLineAction::Fail, {}, false, "device path"},
        {{"/dev/ttyUSB0"}, CommandLineAction::Fail, {}, false, "Unexpected argument"},
    };
    for (const auto& c : cases) {
        QStringList args = c.args;
        args.prepend(QStringLiteral("lumitrax-panel"));
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const CommandLineResult result = ParseCommandLine(args);
        EXPECT_EQ(result.action, c.action);
        if (c.action == CommandLineAction::Run) {
            EXPECT_EQ(result.options.ports, c.ports);
            EXPECT_EQ(result.options.simulate, c.simulate);
        }
        EXPECT_TRUE(result.message.contains(QString::fromUtf8(c.messagePart))) << result.message.toStdString();
    }
}

TEST(Simulator, FailuresLeaveNothingRunning) {
    SimulatorProcess sim;
    QString error;
    EXPECT_FALSE(sim.Start(QStringLiteral("/nonexistent/lumitrax-sim"), &error, 3000));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(sim.IsRunning());
    error.clear();
    EXPECT_FALSE(sim.Start(QStringLiteral("/bin/true"), &error, 3000));
    EXPECT_TRUE(error.contains(QStringLiteral("ended before"))) << error.toStdString();
    EXPECT_FALSE(sim.Start(QString(), &error, 3000));
    EXPECT_TRUE(error.contains(QStringLiteral("not found")));
}

#ifdef LUMITRAX_SIM_PATH
TEST(Simulator, StartsTheVirtualControllerAndStopsIt) {
    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.Start(QStringLiteral(LUMITRAX_SIM_PATH), &error)) << error.toStdString();
    EXPECT_TRUE(sim.IsRunning());
    EXPECT_TRUE(QFileInfo::exists(sim.DevicePath())) << sim.DevicePath().toStdString();
    sim.Stop();
    EXPECT_FALSE(sim.IsRunning());
    EXPECT_TRUE(sim.DevicePath().isEmpty());
}
#endif

}  // namespace

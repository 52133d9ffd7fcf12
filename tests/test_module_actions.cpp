// Trigger memories, toggles, outputs, the raw command line, the DAC "All" rule and the wheel
// over the memory numbers, against the fake line.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <string>
#include <vector>

#include "open_panel_fixture.h"
#include "updown_spin.h"

namespace {

using ModuleActions = OpenPanelTest;
using Lines = std::vector<std::string>;

TEST_F(ModuleActions, SaveToMemAppliesTheRowsThenSaves) {
    const Lines rows = {"settrigger 0 0 0 0 0 0\r", "settrigger 1 0 0 0 0 0\r", "settrigger 2 0 0 0 0 0\r",
                        "settrigger 3 0 0 0 0 0\r"};
    const struct {
        int number;
        bool invalidRow1;  // its delay reads 65535
        Lines sent;
        const char* message;
    } cases[] = {
        {3, false, {rows[0], rows[1], rows[2], rows[3], "savetrigger 3\r"}, "Open complete"},
        {5, true, {rows[0], "savetrigger 5\r"}, "Open complete"},  // saved also after an invalid row
        {256, false, rows, "trigger memory 256: no such memory (0~9)"},  // would wrap onto memory 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        Restart();
        panel->m_spinTrigMemory[0]->SetPos(c.number);
        active = false;
        panel->m_spinTrigDelay[1]->SetPos(c.invalidRow1 ? 0 : 1);
        panel->m_btnSaveTrigMem->click();
        EXPECT_EQ(line.writes, c.sent);
        EXPECT_EQ(TopMessage(), QString::fromUtf8(c.message));
        EXPECT_EQ(Boxes().size(), c.invalidRow1 ? 1 : 0);
    }
}

TEST_F(ModuleActions, ChangingTheLoadNumberLoadsThatMemoryAndReadsAll) {
    panel->m_spinTrigMemory[1]->SetPos(2);  // typed or stepped: no button press
    ASSERT_GE(line.writes.size(), 2u);
    EXPECT_EQ(Lines(line.writes.begin(), line.writes.begin() + 2), (Lines{"loadtrigger 2\r", "getmoduleinfo\r"}));

    line.writes.clear();
    panel->m_spinTrigMemory[1]->SetPos(300);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(TopMessage(), QStringLiteral("trigger memory 300: no such memory (0~9)"));
}

TEST_F(ModuleActions, TogglesAndOutputsSendTheirStates) {
    panel->m_checkBuzzer->click();
    panel->m_checkBuzzer->click();
    panel->m_checkErrorIgnore->click();
    panel->m_checkOut1->setChecked(true);
    panel->OnOutPort();
    panel->m_checkOut0->setChecked(true);
    panel->OnOutPort();
    EXPECT_EQ(line.writes, (Lines{"setbuzzer 1\r", "setbuzzer 0\r", "seterrignore 1\r", "setoutportall 2\r", "setoutportall 3\r"}));
    EXPECT_FALSE(panel->m_checkOut0->isEnabled());
    EXPECT_FALSE(panel->m_checkOut1->isEnabled());
}

TEST_F(ModuleActions, RawCommandSendsTheTypedBytesAndKeepsAHistoryNewestFirst) {
    const QString ascii63(63, 'a');
    const QString korean31 = QStringLiteral("모").repeated(31);
    std::string korean31Bytes;
    for (int i = 0; i < 31; ++i) {
        korean31Bytes += "\xb8\xf0";
    }
    const QString withNul = QStringLiteral("get") + QChar(0) + QStringLiteral("debug");
    const QString tooLong = QStringLiteral("Send: command too long (%1 bytes with the CR, at most 63)");
    const struct {
        QString typed;
        Lines sent;
        QString message;  // the newest line of the message list afterwards, when one is expected
    } steps[] = {
        {"getdebug", {"getdebug\r"}, {}},
        {"getdebug", {"getdebug\r"}, {}},
        {"getusepwm", {"getusepwm\r"}, {}},
        {"", {"\r"}, {}},
        // Korean in code page 949, and a byte kept from the controller, go out as those bytes.
        {QStringLiteral("setsn 모\U0000F7FF"), {"setsn \xb8\xf0\xff\r"}, {}},
        {ascii63, {}, tooLong.arg(64)},
        {korean31, {korean31Bytes + "\r"}, {}},  // the limit counts bytes
        {korean31 + QStringLiteral("모"), {}, tooLong.arg(65)},
        {withNul, {}, "Send: a command cannot hold a NUL character"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.typed.toStdString());
        line.writes.clear();
        panel->m_comboRawCommand->setEditText(step.typed);
        panel->OnSendRaw();
        EXPECT_EQ(line.writes, step.sent);
        EXPECT_EQ(panel->m_comboRawCommand->currentText(), step.typed);
        if (!step.message.isEmpty()) {
            EXPECT_EQ(TopMessage(), step.message);
        }
    }
    QStringList history;
    for (int i = 0; i < panel->m_comboRawCommand->count(); ++i) {
        history << panel->m_comboRawCommand->itemText(i);
    }
    // Newest first; the repeated getdebug once; the empty entry the list started with last.
    EXPECT_EQ(history, QStringList({withNul, korean31 + QStringLiteral("모"), korean31, ascii63,
                                    QStringLiteral("setsn 모\U0000F7FF"), "", "getusepwm", "getdebug", ""}));
}

TEST_F(ModuleActions, DacAllCopiesTheFirstRowOnItsClickAndWhenAnEditIsLeft) {
    const struct {
        const char* name;
        bool allBefore, click;  // click the "All" box, or leave the typed edit
        int row;                // whose upper edit got 2.5 typed into it
        const char* typedHigh;  // that edit afterwards
        const char* high;       // every other upper edit afterwards
        const char* low;        // the lower edits of rows 2..16 (row 1 holds 0.5)
    } cases[] = {
        {"checking All copies row 1", false, true, 0, "2.5", "2.5", "0.5"},
        {"leaving row 1 with All unchecked", false, false, 0, "2.5", "1.2", "0"},
        {"leaving another row puts row 1 over it", true, false, 4, "1.2", "1.2", "0.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        panel->m_checkBandwidthAll->setChecked(c.allBefore);
        panel->m_editBandwidthLow[0]->setText("0.5");
        panel->m_editBandwidthHigh[c.row]->setText("2.5");
        if (c.click) {
            panel->m_checkBandwidthAll->click();
        } else {
            QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(panel->m_editBandwidthHigh[c.row], &leave);
        }
        for (int i = 0; i < kChannelCount; ++i) {
            EXPECT_EQ(panel->m_editBandwidthHigh[i]->text(), i == c.row ? c.typedHigh : c.high) << i + 1;
            EXPECT_EQ(panel->m_editBandwidthLow[i]->text(), i == 0 ? "0.5" : c.low) << i + 1;
        }
    }
}

TEST_F(ModuleActions, TheWheelOverAnUnfocusedLoadNumberLoadsNothing) {
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    CUpDownSpin* spin = panel->m_spinTrigMemory[1];
    const auto wheel = [spin] {
        QWheelEvent event({5, 5}, spin->mapToGlobal(QPointF(5, 5)), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(spin, &event);
    };
    for (QWidget* focus : {static_cast<QWidget*>(panel->m_editOffset), static_cast<QWidget*>(spin)}) {
        focus->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([focus] { return focus->hasFocus(); }));
        wheel();
    }
    // Only the turn with the focus on it stepped it, and that number loaded.
    EXPECT_EQ(spin->GetPos(), 1);
    ASSERT_FALSE(line.writes.empty());
    EXPECT_EQ(line.writes[0], "loadtrigger 1\r");
}

}  // namespace

namespace {

// A screen reader's "Toggle" (Qt's accessibility interface) runs a box's handler once, as a
// click does; a change made by the program sends nothing.
TEST_F(ModuleActions, AssistiveToggleRunsTheHandlerAsAClickDoes) {
    using Pick = QAbstractButton* (*)(CControlPanelDlg&);
    const Pick boxes[] = {[](CControlPanelDlg& p) -> QAbstractButton* { return p.m_checkMatrix[kOnColumn]; },
                          [](CControlPanelDlg& p) -> QAbstractButton* { return p.m_checkAll[kOnColumn]; },
                          [](CControlPanelDlg& p) -> QAbstractButton* { return p.m_checkTest; },
                          [](CControlPanelDlg& p) -> QAbstractButton* { return p.m_checkBuzzer; }};
    for (const Pick pick : boxes) {
        Restart();
        pick(*panel)->click();
        const Lines clicked = line.writes;
        ASSERT_FALSE(clicked.empty());
        Restart();
        QAbstractButton* box = pick(*panel);
        SCOPED_TRACE(box->accessibleName().toStdString());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        ASSERT_TRUE(iface != nullptr && iface->actionInterface() != nullptr);
        iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(box->isChecked() && iface->state().checked);
        EXPECT_EQ(line.writes, clicked);
        line.writes.clear();
        box->setChecked(false);
        EXPECT_TRUE(line.writes.empty());
    }
}

}  // namespace

// The trigger group against the fake line: "Apply", "OneShotTrig", the change handler with its
// derived fields and messages, the "All" copy and the enable-all box.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <string>
#include <vector>

#include "open_panel_fixture.h"
#include "scripted_controller.h"
#include "updown_spin.h"

namespace {

struct RowSetup {
    int row, delay, onTime;  // positions as the spins show them
    bool enable = false;
    int edge = 0;  // -1: nothing selected
};

class TriggerActions : public OpenPanelTest {
protected:
    // Sets the rows with no window active (no change handler runs) and marks every derived field.
    void Arrange(const std::vector<RowSetup>& rows) {
        active = false;
        for (const RowSetup& s : rows) {
            panel->m_spinTrigDelay[s.row]->SetPos(s.delay);
            panel->m_spinTrigOnTime[s.row]->SetPos(s.onTime);
            panel->m_checkTrigEnable[s.row]->setChecked(s.enable);
            panel->m_comboTrigEdge[s.row]->setCurrentIndex(s.edge);
        }
        for (int r = 0; r < kTriggerRows; ++r) {
            panel->m_editTrigOffTime[r]->setText("old");
            panel->m_editTrigMaxFreq[r]->setText("old");
        }
        active = true;
    }
    static QStringList Texts(const std::array<QLineEdit*, kTriggerRows>& fields) {
        QStringList texts;
        for (QLineEdit* field : fields) {
            texts << field->text();
        }
        return texts;
    }
};

const QString kStart = QStringLiteral(" 333.333");
std::string StartRow(int r) { return "settrigger " + std::to_string(r) + " 0 0 0 0 0\r"; }

TEST_F(TriggerActions, ApplySendsTheRowsBeforeTheFirstInvalidOneAndOneShotChecksTheSame) {
    const struct {
        const char* name;
        std::vector<RowSetup> rows;
        std::vector<std::string> sent;
        QStringList maxFreq;
        QString box;  // empty: all rows valid
    } cases[] = {
        {"start values", {}, {StartRow(0), StartRow(1), StartRow(2), StartRow(3)}, {kStart, kStart, kStart, kStart}, {}},
        {"Trigger3 enabled, negative, 100 and 50", {{2, 100, 50, true, 1}},
         {StartRow(0), StartRow(1), "settrigger 2 1 1 99 49 490\r", StartRow(3)}, {kStart, kStart, "   1.560", kStart}, {}},
        {"largest times", {{1, 4000, 4000}, {3, 1, 4000, false, 1}},
         {StartRow(0), "settrigger 1 0 0 3999 3999 39990\r", StartRow(2), "settrigger 3 0 1 0 3999 39990\r"},
         {kStart, "   0.021", kStart, "   0.023"}, {}},
        {"delay 4001 still valid, no edge selected", {{0, 4001, 1, true, -1}},
         {"settrigger 0 1 255 4000 0 0\r", StartRow(1), StartRow(2), StartRow(3)}, {"   0.250", kStart, kStart, kStart}, {}},
        {"Trigger3 delay reads 65535", {{2, 0, 1}}, {StartRow(0), StartRow(1)}, {kStart, kStart, "old", "old"},
         "Invalid value!!|trig:2,delay:65535|error"},
        {"delay checked first, first invalid row wins", {{1, 0, 0}, {3, 1, 5000}}, {StartRow(0)}, {kStart, "old", "old", "old"},
         "Invalid value!!|trig:1,delay:65535|error"},
        {"on time above the range", {{0, 1, 4002}}, {}, {"old", "old", "old", "old"}, "Invalid value!!|trig:0,on:4001|error"},
        {"a position past 16 bits does not wrap", {{3, 65537, 1}}, {StartRow(0), StartRow(1), StartRow(2)},
         {kStart, kStart, kStart, "old"}, "Invalid value!!|trig:3,delay:65536|error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        Arrange(c.rows);
        panel->m_btnApplyTrigger->click();
        EXPECT_EQ(line.writes, c.sent);
        EXPECT_EQ(pauses.pauses, std::vector<int>(2 * c.sent.size(), 10));  // the send's and the row's own
        EXPECT_EQ(Texts(panel->m_editTrigMaxFreq), c.maxFreq);
        EXPECT_EQ(Texts(panel->m_editTrigOffTime), QStringList({"old", "old", "old", "old"}));
        const QStringList boxes = c.box.isEmpty() ? QStringList() : QStringList{c.box};
        EXPECT_EQ(Boxes(), boxes);

        line.writes.clear();
        panel->m_btnOneShotTrig->click();
        EXPECT_EQ(line.writes, c.box.isEmpty() ? std::vector<std::string>{"setoneshottrig\r"} : std::vector<std::string>{});
        EXPECT_EQ(Boxes(), boxes + boxes);
    }
}

TEST_F(TriggerActions, AChangeRewritesTheDerivedFieldsUpToTheFirstInvalidRow) {
    const struct {
        const char* name;
        bool active;
        std::function<void(CControlPanelDlg&)> change;
        QString box;
        QStringList offTime, maxFreq;
    } cases[] = {
        {"a typed 0 in the Trigger3 delay reads 65535", true,
         [](CControlPanelDlg& p) {
             p.m_spinTrigDelay[2]->selectAll();
             QTest::keyClicks(p.m_spinTrigDelay[2], "0");
         },
         "|Invalid value(trig:2,delay:65535)|none", {"0", "0", "100", "old"}, {kStart, kStart, "old", "old"}},
        {"an invalid on time shows its whole OFF time", true, [](CControlPanelDlg& p) { p.m_spinTrigOnTime[1]->SetPos(0); },
         "|Invalid value(trig:1,on:65535)|none", {"0", "655350", "old", "old"}, {kStart, "old", "old", "old"}},
        {"no active window", false, [](CControlPanelDlg& p) { p.m_spinTrigDelay[2]->SetPos(0); },
         {}, {"old", "old", "old", "old"}, {"old", "old", "old", "old"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        Arrange({{2, 1, 11}});
        active = c.active;
        c.change(*panel);
        EXPECT_EQ(Texts(panel->m_editTrigOffTime), c.offTime);
        EXPECT_EQ(Texts(panel->m_editTrigMaxFreq), c.maxFreq);
        EXPECT_EQ(Boxes(), c.box.isEmpty() ? QStringList() : QStringList{c.box});
        EXPECT_TRUE(line.writes.empty());
    }
}

TEST_F(TriggerActions, ADelayOutOfRangeFromTheControllerReachesTheRowCheck) {
    ScriptedController controller;
    controller.On("getmodelch", "getmodelch 8").On("gettrigindex", "gettrigindex 0").On("gettrigger 1", "gettrigger 0 1 1 1 0 65535 0 0");
    line.responder = controller;
    panel->OnRefresh();
    EXPECT_EQ(panel->m_spinTrigDelay[1]->GetPos(), 65536);
    panel->ApplyTriggers();
    EXPECT_EQ(line.writes.back(), StartRow(0));
    EXPECT_EQ(Boxes(), QStringList({"|Invalid value(trig:1,delay:65535)|none", "Invalid value!!|trig:1,delay:65535|error"}));
}

TEST_F(TriggerActions, AllCopiesTheFirstRowAndUndoesChangesOfTheOthers) {
    Arrange({{0, 1, 1, true, 1}});
    panel->m_checkTrigAll->click();
    panel->m_spinTrigDelay[0]->selectAll();
    QTest::keyClicks(panel->m_spinTrigDelay[0], "20");
    panel->m_spinTrigDelay[2]->SetPos(50);  // undone at once
    for (int r = 1; r < kTriggerRows; ++r) {
        EXPECT_EQ(panel->m_spinTrigDelay[r]->GetPos(), 20) << r;
        EXPECT_TRUE(panel->m_checkTrigEnable[r]->isChecked()) << r;
        EXPECT_EQ(panel->m_comboTrigEdge[r]->currentIndex(), 1) << r;
    }
    EXPECT_EQ(Texts(panel->m_editTrigMaxFreq), QStringList({"  45.455", "  45.455", "  45.455", "  45.455"}));
    EXPECT_EQ(Texts(panel->m_editTrigOffTime), QStringList({"0", "0", "0", "0"}));

    // Unchecked, it copies nothing; the enable-all box sets every row's box.
    panel->m_checkTrigAll->click();
    panel->m_spinTrigDelay[1]->SetPos(7);
    EXPECT_EQ(panel->m_spinTrigDelay[1]->GetPos(), 7);
    panel->m_checkTrigEnableAll->click();
    panel->m_checkTrigEnableAll->click();
    for (QCheckBox* enable : panel->m_checkTrigEnable) {
        EXPECT_FALSE(enable->isChecked());
    }
    EXPECT_TRUE(line.writes.empty());
}

}  // namespace

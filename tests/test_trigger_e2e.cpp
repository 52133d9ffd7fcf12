// End to end: the trigger rows and trigger memories against lumitrax-sim over its
// pseudo-terminal, with the real serial thread and the real waits (a read-all takes over a
// second).
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <array>

#include "control_panel.h"
#include "port_list.h"
#include "sim_process.h"
#include "test_panel_fakes.h"
#include "updown_spin.h"

namespace {

#ifdef LUMITRAX_SIM_PATH

struct Row {
    int delay, onTime;
    bool enable;
    int edge;
};
using Rows = std::array<Row, kTriggerRows>;

void SetRows(CControlPanelDlg& panel, const Rows& rows) {
    for (int r = 0; r < kTriggerRows; ++r) {
        panel.m_spinTrigDelay[r]->SetPos(rows[r].delay);
        panel.m_spinTrigOnTime[r]->SetPos(rows[r].onTime);
        panel.m_checkTrigEnable[r]->setChecked(rows[r].enable);
        panel.m_comboTrigEdge[r]->setCurrentIndex(rows[r].edge);
    }
}

void ExpectRows(const CControlPanelDlg& panel, const Rows& rows) {
    for (int r = 0; r < kTriggerRows; ++r) {
        EXPECT_EQ(panel.m_spinTrigDelay[r]->GetPos(), rows[r].delay) << r;
        EXPECT_EQ(panel.m_spinTrigOnTime[r]->GetPos(), rows[r].onTime) << r;
        EXPECT_EQ(panel.m_checkTrigEnable[r]->isChecked(), rows[r].enable) << r;
        EXPECT_EQ(panel.m_comboTrigEdge[r]->currentIndex(), rows[r].edge) << r;
    }
}

TEST(TriggerEndToEnd, RowsSavedToAMemoryComeBackWhenItIsLoaded) {
    SimProcess sim({"--echo", "0"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    ClearAddedPortPaths();
    AddPortPath(QString::fromStdString(sim.devicePath()));  // listed first

    FakePlatform fakes;
    PanelPlatform platform = fakes.Make();  // real serial ports
    platform.isApplicationActive = [] { return true; };
    QDialog host;
    CControlPanelDlg panel(&host, platform);
    panel.Create();
    panel.OnOpenPort();
    ASSERT_EQ(panel.m_bPortOpen, 1);

    const Rows saved = {{{100, 50, true, 1}, {10, 10, false, 0}, {4000, 4000, true, 0}, {1, 2, false, 1}}};
    SetRows(panel, saved);
    panel.m_spinTrigMemory[0]->SetPos(3);
    panel.m_btnSaveTrigMem->click();

    // Other rows into the controller's working rows, then memory 3 back over them.
    SetRows(panel, {{{7, 8, false, 0}, {7, 8, false, 0}, {7, 8, false, 0}, {7, 8, false, 0}}});
    panel.m_btnApplyTrigger->click();
    panel.m_spinTrigMemory[1]->SetPos(3);  // loads memory 3 and reads it back
    ExpectRows(panel, saved);
    EXPECT_EQ(panel.m_editTrigOffTime[0]->text(), QStringLiteral("490"));
    EXPECT_EQ(panel.m_editTrigMaxFreq[0]->text(), QStringLiteral("   1.560"));
    EXPECT_TRUE(fakes.messageBox->shown.empty());
    ClearAddedPortPaths();
}

#endif

}  // namespace

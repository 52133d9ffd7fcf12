// Outputs, memories and module actions: "Clear", the window mode, "Help", and the handlers of
// the trigger memories, buzzer, error ignore, outputs, raw command and DAC "All" rule.
#include "control_panel.h"

#include <QComboBox>
#include <QPushButton>

#include "help_dialog.h"
#include "updown_spin.h"
#include "window_geometry.h"

namespace {
// How much window mode enlarges the main window's outer size beyond its client size.
const QSize kWindowModeGrowth(240, 200);
}  // namespace

void CControlPanelDlg::OnClear() { ClearMessages(); }

void CControlPanelDlg::LoadTriggerMemory() {
    UpdateData(true);
    Send<CMD_LOADTRIGGER>({static_cast<std::uint8_t>(m_spinTrigMemory[1]->GetPos() & 0xFF)});
    // Reads the loaded rows back; it sets the same memory number again, which ends the chain.
    OnRefresh();
}

void CControlPanelDlg::OnTrigMemoryIndexChange() { LoadTriggerMemory(); }

void CControlPanelDlg::OnSetWindowMode() {
    QWidget* mainWnd = m_pParentWnd != nullptr ? m_pParentWnd->window() : window();
    const QSize client = mainWnd->size();
    if (m_bWindowMode == 0) {
        m_bWindowMode = 1;
        SetOuterGeometry(mainWnd, QPoint(0, 0), client + kWindowModeGrowth);
        m_btnSendRaw->setEnabled(true);
        m_comboRawCommand->setEnabled(true);
    } else {
        m_bWindowMode = 0;
        // The shrink is the growth less twice the frame, so the window returns to the size it
        // had before (with a frame of 16 x 38 pixels that is 208 x 124); a fixed shrink would
        // let the window creep on a platform with another frame size.
        SetOuterGeometry(mainWnd, QPoint(0, 0), client - kWindowModeGrowth + 2 * FrameExtra(mainWnd));
        m_btnSendRaw->setEnabled(false);
        m_comboRawCommand->setEnabled(false);
    }
}

void CControlPanelDlg::OnHelp() {
    CHelpDlg help(this);
    help.exec();
}

// Not written yet: wired to their controls, these do nothing until they are.
void CControlPanelDlg::OnSaveTriggerMemory() {}


void CControlPanelDlg::OnBuzzer() {}

void CControlPanelDlg::OnErrorIgnore() {}

void CControlPanelDlg::OnOutPort() {}

void CControlPanelDlg::OnSendRaw() {}

void CControlPanelDlg::OnBandwidthAll() {}

void CControlPanelDlg::OnBandwidthKillFocus() {}

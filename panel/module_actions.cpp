// Outputs, memories and module actions: "Clear", the window mode, "Help", and the handlers of
// the trigger memories, buzzer, error ignore, outputs, raw command and DAC "All" rule.
#include "control_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "commands.h"
#include "device_text.h"
#include "help_dialog.h"
#include "panel_internal.h"
#include "updown_spin.h"
#include "window_geometry.h"

using namespace panel_detail;

namespace {
// How much window mode enlarges the main window's outer size beyond its client size.
const QSize kWindowModeGrowth(240, 200);

}  // namespace

void CControlPanelDlg::OnClear() { ClearMessages(); }

void CControlPanelDlg::OnSaveTriggerMemory() {
    UpdateData(true);
    ApplyTriggers();
    // Saved whatever "Apply" did: after an invalid row the memory gets the rows sent before it
    // and what the controller held for the others.
    OneValueArg number;
    if (MemoryNumber(*this, "trigger", m_spinTrigMemory[0], number)) {
        Send<CMD_SAVETRIGGER>(number);
    }
}

void CControlPanelDlg::LoadTriggerMemory() {
    UpdateData(true);
    OneValueArg number;
    if (!MemoryNumber(*this, "trigger", m_spinTrigMemory[1], number)) {
        return;
    }
    Send<CMD_LOADTRIGGER>(number);
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

void CControlPanelDlg::OnBuzzer() {
    UpdateData(true);
    Send<CMD_SETBUZZER>({static_cast<std::int8_t>(m_checkBuzzer->isChecked() ? 1 : 0)});
}

void CControlPanelDlg::OnErrorIgnore() {
    UpdateData(true);
    Send<CMD_SETERRIGNORE>(Byte(m_checkErrorIgnore->isChecked() ? 1 : 0));
}

// "OUT0" and "OUT1" are created disabled and nothing enables them; should they become
// operable, a click sends both outputs at once.
void CControlPanelDlg::OnOutPort() {
    const int mask = (m_checkOut0->isChecked() ? 1 : 0) | (m_checkOut1->isChecked() ? 2 : 0);
    Send<CMD_SETOUTPORTALL>(Byte(mask));
}

void CControlPanelDlg::OnSendRaw() {
    UpdateData(true);
    const QString typed = m_comboRawCommand->currentText();
    if (m_comboRawCommand->count() == 0 || m_comboRawCommand->itemText(0) != typed) {
        m_comboRawCommand->insertItem(0, typed);
    }
    // Exactly the typed bytes and a carriage return.
    const QByteArray command = EncodeDeviceText(typed) + '\r';
    if (command.contains('\0')) {
        AddMessage(QStringLiteral("Send: a command cannot hold a NUL character"));
        return;
    }
    const TextArg text{command.constData()};
    EncodedCommand encoded;
    if (EncodeCommand(CMD_RAW, &text, encoded) == EncodeResult::TooLong) {
        // The link would drop it without a word.
        AddMessage(QStringLiteral("Send: command too long (%1 bytes with the CR, at most %2)")
                       .arg(command.size())
                       .arg(kCommandBufferSize - 1));
        return;
    }
    Send<CMD_RAW>(text);
}

void CControlPanelDlg::OnBandwidthAll() {
    UpdateData(true);
    if (m_checkBandwidthAll->isChecked()) {
        m_fBandwidthLow.fill(m_fBandwidthLow[0]);
        m_fBandwidthHigh.fill(m_fBandwidthHigh[0]);
    }
    UpdateData(false);
}

void CControlPanelDlg::OnBandwidthKillFocus() { OnBandwidthAll(); }

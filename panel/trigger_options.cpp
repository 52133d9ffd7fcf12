// Trigger options: apply, one-shot trigger, the derived fields and the "All" boxes.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "c_format.h"
#include "control_panel.h"
#include "panel_internal.h"
#include "pause.h"
#include "updown_spin.h"

using namespace panel_detail;

namespace {

constexpr std::uint32_t kTriggerTimeMax = 4000;  // microseconds, as sent
constexpr int kTriggerRowWaitMs = 10;            // after each row that "Apply" sends

std::uint32_t TimeFromPosition(int position) {
    if (position <= 0) {
        return 0xFFFF;
    }
    return static_cast<std::uint32_t>(position) - 1;
}

// The two wordings of a failed row check: "Apply" and "OneShotTrig" name the row plainly,
// the change handler wraps it in "Invalid value(...)".
struct FaultTexts {
    const char* delay;
    const char* onTime;
};
constexpr FaultTexts kSendFaultTexts = {"trig:%d,delay:%d", "trig:%d,on:%d"};
constexpr FaultTexts kChangeFaultTexts = {"Invalid value(trig:%d,delay:%d)", "Invalid value(trig:%d,on:%d)"};

// The message that names the row's first invalid time; empty for a valid row.
QString FaultText(int r, const TriggerRow& row, const FaultTexts& texts) {
    switch (CheckTriggerRow(row)) {
    case TriggerFault::Delay: return QCFormat(texts.delay, {r, row.delay});
    case TriggerFault::OnTime: return QCFormat(texts.onTime, {r, row.onTime});
    case TriggerFault::None: break;
    }
    return {};
}

void ShowInvalidRow(CControlPanelDlg& panel, const QString& text) {
    if (panel.Platform().messageBox) {
        panel.Platform().messageBox->Show(&panel, text, QStringLiteral("Invalid value!!"), MessageIcon::Error);
    }
}

// Row 0's delay, on time, enable and edge into rows 1..3, in that order. A position that
// changes raises the change handler again, nested; equal ones raise nothing.
void CopyFirstTriggerRow(CControlPanelDlg& panel) {
    for (int r = 1; r < kTriggerRows; ++r) {
        panel.m_spinTrigDelay[r]->SetPos(panel.m_spinTrigDelay[0]->GetPos());
        panel.m_spinTrigOnTime[r]->SetPos(panel.m_spinTrigOnTime[0]->GetPos());
        panel.m_checkTrigEnable[r]->setChecked(panel.m_checkTrigEnable[0]->isChecked());
        panel.m_comboTrigEdge[r]->setCurrentIndex(panel.m_comboTrigEdge[0]->currentIndex());
    }
}

}  // namespace

namespace panel_detail {

TriggerRow ReadTriggerRow(const CControlPanelDlg& panel, int row) {
    TriggerRow values;
    values.delay = TimeFromPosition(panel.m_spinTrigDelay[row]->GetPos());
    values.onTime = TimeFromPosition(panel.m_spinTrigOnTime[row]->GetPos());
    values.enable = panel.m_checkTrigEnable[row]->isChecked() ? 1 : 0;
    const int edge = panel.m_comboTrigEdge[row]->currentIndex();
    values.edge = edge < 0 ? 255 : static_cast<std::uint8_t>(edge);
    return values;
}

TriggerFault CheckTriggerRow(const TriggerRow& row) {
    if (row.delay > kTriggerTimeMax) {
        return TriggerFault::Delay;
    }
    if (row.onTime > kTriggerTimeMax) {
        return TriggerFault::OnTime;
    }
    return TriggerFault::None;
}

TriggerSetting TriggerSettingOf(const TriggerRow& row, int rowIndex) {
    return MakeTriggerSetting(static_cast<std::uint8_t>(rowIndex), row.enable, row.edge,
                              static_cast<std::uint16_t>(row.delay), static_cast<std::uint16_t>(row.onTime));
}

QString TriggerMaxFrequency(const TriggerSetting& s) {
    const int sum = s.delay + s.onTime + s.offTime + 3;
    const double period = sum * 1e-6;
    return QCFormat("%8.3f", {(1.0 / period) * 0.001});
}

}  // namespace panel_detail

void CControlPanelDlg::ApplyTriggers() {
    UpdateData(true);
    for (int r = 0; r < kTriggerRows; ++r) {
        const TriggerRow row = ReadTriggerRow(*this, r);
        const QString fault = FaultText(r, row, kSendFaultTexts);
        if (!fault.isEmpty()) {
            // The rows before this one are on their way already; this one and the rest are not.
            ShowInvalidRow(*this, fault);
            return;
        }
        const TriggerSetting setting = TriggerSettingOf(row, r);
        m_editTrigMaxFreq[r]->setText(TriggerMaxFrequency(setting));
        Send<CMD_SETTRIGGER>(setting);
        Pause(kTriggerRowWaitMs);
    }
}

void CControlPanelDlg::OnOneShotTrig() {
    UpdateData(true);
    for (int r = 0; r < kTriggerRows; ++r) {
        const QString fault = FaultText(r, ReadTriggerRow(*this, r), kSendFaultTexts);
        if (!fault.isEmpty()) {
            ShowInvalidRow(*this, fault);
            return;
        }
    }
    // The controller fires with the rows it holds; these are not sent.
    Send<CMD_SETONESHOTTRIG>();
}

void CControlPanelDlg::OnTrigEnableAll() {
    const bool on = m_checkTrigEnableAll->isChecked();
    for (QCheckBox* box : m_checkTrigEnable) {
        box->setChecked(on);
    }
    UpdateData(false);
}

void CControlPanelDlg::OnTrigAll() {
    if (m_checkTrigAll->isChecked()) {
        CopyFirstTriggerRow(*this);
    }
}

void CControlPanelDlg::OnTriggerChange() {
    // Quiet while no window of the program is active, as while the panel is being built.
    if (!m_platform.ApplicationActive()) {
        return;
    }
    if (m_checkTrigAll->isChecked()) {
        CopyFirstTriggerRow(*this);
    }
    for (int r = 0; r < kTriggerRows; ++r) {
        const TriggerRow row = ReadTriggerRow(*this, r);
        // Written before the check, and in full: an invalid on time shows its whole product.
        m_editTrigOffTime[r]->setText(QCFormat("%d", {10ULL * row.onTime}));
        const QString fault = FaultText(r, row, kChangeFaultTexts);
        if (!fault.isEmpty()) {
            if (m_platform.messageBox) {
                m_platform.messageBox->Show(this, fault, QString(), MessageIcon::None);
            }
            break;
        }
        m_editTrigMaxFreq[r]->setText(TriggerMaxFrequency(TriggerSettingOf(row, r)));
    }
    UpdateData(false);
}

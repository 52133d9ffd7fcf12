// Channels, groups and brightness: slider moves, on boxes, the all-channels box and Grab.
#include <QCheckBox>
#include <QLabel>
#include <QSlider>

#include "control_panel.h"
#include "panel_internal.h"

using namespace panel_detail;

namespace panel_detail {

void ShowChannelRows(CControlPanelDlg& panel, int count) {
    for (int i = 0; i < count && i < kChannelCount; ++i) {
        panel.m_sliderBright[i]->setVisible(true);
        panel.m_staticChannel[i]->setVisible(true);
        panel.m_checkMatrix[kMatrixColumns * i + kOnColumn]->setVisible(true);
    }
    panel.m_checkAll[kOnColumn]->setVisible(true);
    panel.m_checkGrab->setVisible(true);
}

void HideChannelRows(CControlPanelDlg& panel) {
    for (int i = 0; i < kSliderCount; ++i) {
        panel.m_sliderBright[i]->setVisible(false);
        panel.m_sliderBright[i]->setValue(0);
        panel.m_staticChannel[i]->setVisible(false);
    }
    for (QCheckBox* box : panel.m_checkMatrix) {
        box->setVisible(false);
        box->setChecked(false);
    }
    for (QCheckBox* box : panel.m_checkGroup) {
        box->setVisible(false);
        box->setChecked(false);
    }
    for (QCheckBox* box : panel.m_checkAll) {
        box->setVisible(false);
        box->setChecked(false);
    }
    panel.m_checkGrab->setVisible(false);
}

std::uint32_t OnMaskFromBoxes(const CControlPanelDlg& panel) {
    std::uint32_t mask = 0;
    for (int i = 0; i < panel.m_nChannelCount && i < kChannelCount; ++i) {
        if (panel.m_checkMatrix[kMatrixColumns * i + kOnColumn]->isChecked()) {
            mask |= 1u << i;
        }
    }
    return mask;
}

}  // namespace panel_detail

void CControlPanelDlg::OnHScroll(int slider, ScrollCode code) {
    if (code == ScrollCode::EndTrack || slider < 0 || slider >= kSliderCount) {
        return;
    }
    // sliderPosition() is where the thumb is now; value() may still be the old position
    // while the action is being handled.
    const int count = m_nChannelCount < kChannelCount ? m_nChannelCount : kChannelCount;
    if (m_checkGrab->isChecked() && slider == 0) {
        const int master = m_sliderBright[0]->sliderPosition();
        const int delta = master - m_nGrabBase;
        const bool packet = m_checkUsePacket->isChecked();
        if (!packet) {
            Send<CMD_SETBRIGHTNESS>(Brightness(0, master));
        }
        for (int i = 1; i < count; ++i) {
            QSlider* other = m_sliderBright[i];
            other->setValue(other->value() + delta);  // the slider keeps itself within its range
            if (!packet) {
                Send<CMD_SETBRIGHTNESS>(Brightness(i, other->value()));
            }
        }
        if (packet) {
            PacketArg values;
            values.values[0] = static_cast<std::uint16_t>(master);
            for (int i = 1; i < count; ++i) {
                values.values[i] = static_cast<std::uint16_t>(m_sliderBright[i]->value());
            }
            Send<CMD_SETBRIGHTPACKET>(values);
        }
        m_nGrabBase = master;
        return;
    }
    m_nGrabBase = m_sliderBright[0]->sliderPosition();
    if (slider < count) {
        Send<CMD_SETBRIGHTNESS>(Brightness(slider, m_sliderBright[slider]->sliderPosition()));
    }
}

void CControlPanelDlg::SendOnMask() {
    UpdateData(true);
    Send<CMD_SETONEX>({OnMaskFromBoxes(*this)});
}

void CControlPanelDlg::OnAllChannelsClicked() {
    const bool on = m_checkAll[kOnColumn]->isChecked();
    for (int i = 0; i < m_nChannelCount && i < kChannelCount; ++i) {
        m_checkMatrix[kMatrixColumns * i + kOnColumn]->setChecked(on);
    }
    SendOnMask();
}

// Status refresh (timer 2), the brightness test programs (timer 1, the "&Test" toggle), the
// bright memories and the factory reset.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "c_format.h"
#include "control_panel.h"
#include "device_text.h"
#include "panel_internal.h"
#include "pause.h"
#include "updown_spin.h"

using namespace panel_detail;

namespace {

constexpr std::uint32_t kAllOn = 0xFFFFFFFFu;
constexpr int kRampStep = 32;
constexpr int kPacketRampStep = 8;
constexpr int kBlinkTicks = 100;       // "On&Off_uver": a change every 100 ticks
constexpr int kProductionTicks = 30;   // production test: one step every 30 ticks
constexpr int kProductionBlinks = 10;
constexpr int kTestStopWaitMs = 500;
constexpr int kFactoryResetWaitMs = 2000;
constexpr int kLoadBrightExtraWaitMs = 10;

enum TestMode { RampAll = 0, OnOff = 1, SingleOn = 2, PacketRamp = 3, SlowOnOff = 4, Production = 5 };

}  // namespace

void CControlPanelDlg::OnStatusRefresh() {
    char line[kLogSlotSize];
    for (int n = m_pLink->LogLineCount(); n > 0 && m_pLink->PopLogLine(line) == 1; --n) {
        AddMessage(DecodeDeviceText(line));
    }
    DeviceState snapshot;
    if (m_pLink->TakeSnapshot(snapshot) == 0) {
        return;
    }
    m_editErrorStatus->setText(QCFormat("code:%d", {snapshot.errorCode}));
    for (int i = 0; i < kSwitchCount; ++i) {
        m_checkIndicator[i]->setChecked(snapshot.switches[i] != 0);
    }
}

void CControlPanelDlg::OnTestToggle() {
    m_nTestValue = 0;
    m_nTestChannel = 0;
    m_nTestPhase = 0;
    m_nTestBlinks = 0;
    for (int i = 0; i < m_nChannelCount; ++i) {
        Send<CMD_SETBRIGHTNESS>(Brightness(i, 0));
    }
    Send<CMD_SETONEX>({kAllOn});
    if (m_checkTest->isChecked()) {
        m_nTestTick = 0;
        m_bTestToggle = 0;
        SetTimer(TIMER_TEST, kTestPeriodMs);
        return;
    }
    KillTimer(TIMER_TEST);
    Pause(kTestStopWaitMs);
    OnRefresh();
}

void CControlPanelDlg::OnTestTick() {
    const int mode = m_comboTestMode->currentIndex();
    const bool packet = m_checkUsePacket->isChecked();
    const auto beyondTop = [this] { return static_cast<unsigned>(m_nTestValue) > m_nMaxBright; };
    const auto rampAll = [this, &beyondTop](int step) {
        for (int i = 0; i < m_nChannelCount; ++i) {
            Send<CMD_SETBRIGHTNESS>(Brightness(i, m_nTestValue));
        }
        m_nTestValue += step;
        if (beyondTop()) {
            m_nTestValue = 0;
        }
    };
    const auto toggleAll = [this] {
        Send<CMD_SETONEX>({m_bTestToggle != 0 ? kAllOn : 0u});
        m_bTestToggle = m_bTestToggle != 0 ? 0 : 1;
    };

    switch (mode) {
    case RampAll:
        rampAll(kRampStep);
        break;
    case OnOff:
        toggleAll();
        break;
    case SingleOn:
        for (int i = 0; i < m_nChannelCount; ++i) {
            Send<CMD_SETON>({static_cast<std::uint8_t>(i), 1});
        }
        Send<CMD_SETONEX>({0});
        m_nTestValue += kRampStep;
        if (beyondTop()) {
            m_nTestValue = 0;
        }
        break;
    case PacketRamp:
        if (packet) {
            PacketArg values;
            for (int i = 0; i < m_nChannelCount && i < kChannelCount; ++i) {
                values.values[i] = static_cast<std::uint16_t>(m_nTestValue);
            }
            Send<CMD_SETBRIGHTPACKET>(values);
            m_nTestValue += kPacketRampStep;
            if (beyondTop()) {
                m_nTestValue = 0;
            }
        } else {
            rampAll(kRampStep);
        }
        break;
    case SlowOnOff:
        if (++m_nTestTick >= kBlinkTicks) {
            m_nTestTick = 0;
            toggleAll();
        }
        break;
    case Production:
        OnProductionTestTick();
        break;
    default:
        break;
    }
}

void CControlPanelDlg::OnProductionTestTick() {
    switch (m_nTestPhase) {
    case 0:  // sweep each channel in turn
        if (static_cast<unsigned>(m_nTestValue) > m_nMaxBright) {
            Send<CMD_SETBRIGHTNESS>(Brightness(m_nTestChannel, 0));
            m_nTestValue = 0;
            ++m_nTestChannel;
        } else {
            Send<CMD_SETBRIGHTNESS>(Brightness(m_nTestChannel, m_nTestValue));
            m_nTestValue += kRampStep;
        }
        if (m_nTestChannel >= m_nChannelCount) {
            Send<CMD_SETONEX>({0});
            for (int i = 0; i < m_nChannelCount; ++i) {
                Send<CMD_SETBRIGHTNESS>(Brightness(i, m_nMaxBright));
            }
            m_nTestChannel = 0;
            m_nTestPhase = 1;
        }
        m_nTestTick = 0;
        break;
    case 1:  // one channel at a time at full brightness
        if (++m_nTestTick < kProductionTicks) {
            break;
        }
        m_nTestTick = 0;
        if (m_nTestChannel < m_nChannelCount) {
            // Channels beyond the 32 bits of the mask have nothing to switch.
            Send<CMD_SETONEX>({m_nTestChannel < 32 ? 1u << m_nTestChannel : 0u});
            ++m_nTestChannel;
        } else {
            m_nTestChannel = 0;
            Send<CMD_SETONEX>({0});
            m_bTestToggle = 0;
            m_nTestBlinks = 0;
            m_nTestPhase = 2;
        }
        break;
    case 2:  // blink all
        if (++m_nTestTick < kProductionTicks) {
            break;
        }
        m_nTestTick = 0;
        Send<CMD_SETONEX>({m_bTestToggle != 0 ? kAllOn : 0u});
        m_bTestToggle = m_bTestToggle != 0 ? 0 : 1;
        if (++m_nTestBlinks >= kProductionBlinks) {
            m_nTestTick = 0;
            m_nTestPhase = 0;
            m_nTestChannel = 0;
            m_nTestValue = 0;
            for (int i = 0; i < m_nChannelCount; ++i) {
                Send<CMD_SETBRIGHTNESS>(Brightness(i, 0));
            }
            Send<CMD_SETONEX>({kAllOn});
        }
        break;
    default:
        break;
    }
}

namespace panel_detail {

bool MemoryNumber(CControlPanelDlg& panel, const char* kind, const CUpDownSpin* spin, OneValueArg& number) {
    const int position = spin->GetPos();
    if (position > 0xFF) {
        panel.AddMessage(QStringLiteral("%1 memory %2: no such memory (0~%3)")
                             .arg(QLatin1String(kind)).arg(position).arg(kMemoryCount - 1));
        return false;
    }
    number = Byte(position);
    return true;
}

}  // namespace panel_detail

void CControlPanelDlg::OnSaveBright() {
    OneValueArg memory;
    if (MemoryNumber(*this, "bright", m_spinSaveBright, memory)) {
        Send<CMD_SAVEBRIGHT>(memory);
    }
}

void CControlPanelDlg::OnLoadBright() {
    OneValueArg memory;
    if (!MemoryNumber(*this, "bright", m_spinLoadBright, memory)) {
        return;
    }
    Send<CMD_LOADBRIGHT>(memory);
    Pause(kLoadBrightExtraWaitMs);
    for (int i = 0; i < m_nChannelCount; ++i) {
        Send<CMD_GETBRIGHTNESS>(Byte(i));
    }
    Send<CMD_GETONEX>();
}

void CControlPanelDlg::OnLoadBrightIndexChange() {
    OnLoadBright();
}

void CControlPanelDlg::OnFactoryReset() {
    Send<CMD_FACTORYRESET>();
    Pause(kFactoryResetWaitMs);
    OnRefresh();
}

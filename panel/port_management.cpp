// Port management: open, close, read all, search, firmware tool.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSlider>
#include <QStandardPaths>

#include "c_format.h"
#include "control_panel.h"
#include "controller_queries.h"
#include "device_text.h"
#include "message_list.h"
#include "panel_internal.h"
#include "updown_spin.h"

using namespace panel_detail;

namespace {

constexpr int kMaxChannelInput = 16;
const char* const kSearchNotice = QT_TRANSLATE_NOOP("CControlPanelDlg", "포트가 많을수록 오래걸릴 수 있습니다!\n확인을 눌러주세요.");

// The firmware tool: beside the panel's own program first, then on the search path. Started
// directly, never through a shell. The bare name when it is nowhere (the start then fails).
QString FindFirmwareTool() {
    const QStringList names = {QStringLiteral("configtool"), QStringLiteral("configtool.exe")};
    const QDir own(QCoreApplication::applicationDirPath());
    for (const QString& name : names) {
        const QString beside = own.filePath(name);
        if (QFileInfo(beside).isExecutable() && QFileInfo(beside).isFile()) {
            return beside;
        }
    }
    for (const QString& name : names) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty()) {
            return found;
        }
    }
    return names.front();
}

}  // namespace

namespace panel_detail {

bool ParsePortNumber(const QString& text, int& number) {
    if (!text.startsWith(QLatin1String("COM"))) {
        return false;
    }
    qsizetype end = 3;
    while (end < text.size() && end < 3 + 9 && text.at(end) >= QLatin1Char('0') && text.at(end) <= QLatin1Char('9')) {
        ++end;
    }
    bool ok = false;
    const int n = text.mid(3, end - 3).toInt(&ok);
    if (!ok) {
        return false;
    }
    number = n;
    return true;
}

void EnablePortChoice(CControlPanelDlg& panel, bool enable) {
    panel.m_comboPort->setEnabled(enable);
    panel.m_editChannelInput->setEnabled(enable);
}

}  // namespace panel_detail

void CControlPanelDlg::OnOpenPort() {
    EnsurePortList();
    // 1.
    UpdateData(true);
    // 2.
    if (m_nChannelInput < 1 || m_nChannelInput > kMaxChannelInput) {
        AddMessage(QStringLiteral("Invalid number of channel"));
        return;
    }
    // 3.
    if (m_comboPort->currentIndex() < 0) {
        AddMessage(QStringLiteral("Invalid port"));
        return;
    }
    // 4. The selected entry chooses the port; text typed into the drop-down's edit does not.
    ParsePortNumber(m_comboPort->itemText(m_comboPort->currentIndex()), m_nPortNumber);
    // 5.
    for (QSlider* slider : m_sliderBright) {
        slider->setRange(0, static_cast<int>(m_nMaxBright));
    }
    // 6., 7. A port that is already open stays open: its status display keeps running.
    KillTimer(TIMER_STATUS);
    if (m_pLink->OpenPort(m_nPortNumber) == 0) {
        // The reason reads directly below "open failed" in the newest-first list.
        if (m_pLink->IsOpen()) {
            AddMessageLines(QStringLiteral("COM%1: a port is already open; press \"Close\" first").arg(m_nPortNumber));
            SetTimer(TIMER_STATUS, kStatusPeriodMs);
        } else {
            AddMessageLines(
                DescribeOpenFailure(m_pLink->LastOpenFailure(), m_nPortNumber, m_pLink->LastOpenMessage()));
        }
        AddMessage(QStringLiteral("open failed"));
        return;
    }
    // 8.
    EnablePortChoice(*this, false);
    m_bPortOpen = 1;
    AddMessage(QStringLiteral("Open complete"));
    // 9.
    m_nChannelCount = m_nChannelInput;
    ShowChannelRows(*this, m_nChannelCount);
    // 10.
    SetTimer(TIMER_STATUS, kStatusPeriodMs);
    // 11.
    OnRefresh();
}

void CControlPanelDlg::OnClosePort() {
    KillTimer(TIMER_TEST);
    KillTimer(TIMER_STATUS);
    if (m_bPortOpen == 1) {
        ClearMessages();
        EnablePortChoice(*this, true);
        HideChannelRows(*this);
        m_pLink->ClosePort();
        m_bPortOpen = 0;
    } else {
        AddMessage(QStringLiteral("Not found!!"));
    }
    for (QString* text : {&m_strSerial, &m_strFwVersion, &m_strHwVersion, &m_strModel, &m_strBuild}) {
        *text = QStringLiteral("---");
    }
    UpdateData(false);
}

void CControlPanelDlg::OnRefresh() {
    // The snapshot is this run's own: a nested run (a spin's change loading a memory) takes
    // its own and leaves this one as it was.
    DeviceState snapshot;
    if (ReadAll(*m_pLink, m_nChannelCount, snapshot) == 0) {
        return;
    }
    AddMessage(QStringLiteral("updateinfo"));
    CopySnapshotToPanel(*this, snapshot);
}

namespace panel_detail {

void CopySnapshotToPanel(CControlPanelDlg& panel, const DeviceState& s) {
    // 5.
    for (int i = 0; i < kChannelCount; ++i) {
        panel.m_fBandwidthLow[i] = s.bandwidthLow[i];
        panel.m_fBandwidthHigh[i] = s.bandwidthHigh[i];
    }
    panel.m_nConfigChannels = s.modelChannels;
    panel.m_nTrigChannels = s.trigChannelCount;
    panel.m_strFwVersion = DecodeDeviceText(s.firmwareVersion);
    panel.m_strModel = DecodeDeviceText(s.moduleName);
    panel.m_strConfigModel = panel.m_strModel;
    panel.m_strBuild = DecodeDeviceText(s.buildInfo);
    panel.m_strHwVersion = DecodeDeviceText(s.fpgaVersion);
    panel.m_strSerial = DecodeDeviceText(s.serialNumber);
    panel.m_strConfigSerial = panel.m_strSerial;
    panel.m_strModuleId = QCFormat("%d", {s.moduleId});
    panel.m_nConfigId = s.moduleId;
    panel.m_nOffset = s.offset;
    // Each spin whose number changes runs its own action here, nested: the load-index spin
    // loads that bright memory, the trigger load-index spin that trigger memory.
    panel.m_spinSaveBright->SetPos(s.brightIndex);
    panel.m_spinLoadBright->SetPos(s.brightIndex);
    for (CUpDownSpin* spin : panel.m_spinTrigMemory) {
        spin->SetPos(s.trigIndex);
    }

    // 6. Only memories 0..9 exist; for another index the channel rows keep what they show.
    const int count = panel.m_nChannelCount;
    if (s.brightIndex < kMemoryCount) {
        const int memory = s.brightIndex;
        for (int i = 0; i < count && i < kChannelCount; ++i) {
            panel.m_sliderBright[i]->setValue(s.brightness[memory][i]);
            panel.m_checkMatrix[kMatrixColumns * i + kOnColumn]->setChecked(((s.onMask[memory] >> i) & 1u) != 0);
        }
    } else {
        panel.AddMessage(QStringLiteral("bright memory %1: no such memory (0~%2)").arg(s.brightIndex).arg(kMemoryCount - 1));
    }

    // 7. In four passes over the rows, as the controls' change actions expect them.
    const int rows = count < kTriggerRows ? count : kTriggerRows;
    const TriggerSetting* row = s.trigger[s.trigIndex < kMemoryCount ? s.trigIndex : 0];
    for (int k = 0; k < rows; ++k) {
        panel.m_spinTrigDelay[k]->SetPos(row[k].delay + 1);
    }
    for (int k = 0; k < rows; ++k) {
        panel.m_spinTrigOnTime[k]->SetPos(row[k].onTime + 1);
    }
    for (int k = 0; k < rows; ++k) {
        panel.m_comboTrigEdge[k]->setCurrentIndex(row[k].edge != 0 ? 1 : 0);
    }
    for (int k = 0; k < rows; ++k) {
        panel.m_checkTrigEnable[k]->setChecked(row[k].enable != 0);
    }

    // 8.
    panel.m_nGrabBase = panel.m_sliderBright[0]->sliderPosition();
    // 9.
    panel.m_editErrorStatus->setText(QCFormat("code:%d,%xh", {s.errorCode, s.errorDetail}));
    // 10.
    const struct {
        QCheckBox* box;
        int value;
    } lights[] = {
        {panel.m_checkOut0, s.out0},           {panel.m_checkOut1, s.out1},       {panel.m_checkIn0, s.in0},
        {panel.m_checkIn1, s.in1},             {panel.m_checkTof, s.totalOnOff},  {panel.m_checkUsePacket, s.usePacket},
        {panel.m_checkUseDebug, s.debug},      {panel.m_checkUsePwm, s.usePwm},   {panel.m_checkUseOnOff, s.useOnOff},
        {panel.m_checkUseTrig, s.useTrig},     {panel.m_checkUseSoft, s.softStart},
    };
    for (const auto& light : lights) {
        light.box->setChecked(light.value != 0);
    }
    // 11.
    panel.UpdateData(false);
}

}  // namespace panel_detail

void CControlPanelDlg::OnSearchPorts() {
    EnablePortChoice(*this, true);
    m_pLink->ClosePort();
    AddMessage(QStringLiteral("Searching..."));
    m_platform.messageBox->Show(this, QCoreApplication::translate("CControlPanelDlg", kSearchNotice), QString(), MessageIcon::None);

    std::vector<SearchTarget> targets;
    for (const PortEntry& entry : m_platform.Ports()) {
        int number = 0;
        if (ParsePortNumber(entry.text, number) && number > 0) {
            targets.push_back({number, EncodeDeviceText(entry.text).toStdString()});
        }
    }
    const std::vector<SearchHit> hits = SearchPorts(*m_pLink, targets, [this](const SearchHit& hit) {
        AddMessage(DecodeDeviceText(SearchReportLine(hit)));
        // The search holds the window for seconds per port: show each find as it comes.
        m_listMessages->repaint();
    });
    if (hits.empty()) {
        AddMessage(QStringLiteral("not found"));
    }
}

void CControlPanelDlg::OnFirmwareUpdate() {
    if (m_firmwareTool.showMode == 5) {
        m_platform.messageBox->Show(this, QStringLiteral("Aleady opened!"), QString(), MessageIcon::None);
        return;
    }
    m_firmwareTool.process = m_platform.toolLauncher->Launch(FindFirmwareTool());
    if (m_firmwareTool.process) {
        m_firmwareTool.showMode = 5;
    } else {
        m_firmwareTool.Clear();
    }
}

// The module configuration file ("...", "Save file", "Apply to module") and the debug log.
#include <QCheckBox>

#include "config_apply.h"
#include "config_file.h"
#include "control_panel.h"
#include "debug_log.h"
#include "message_list.h"
#include "device_text.h"
#include "panel_internal.h"

using namespace panel_detail;

namespace {

const char* const kConfigFilter = "INI file (*.ini);;All files (*.*)";
const char* const kFileWriteErrorMessage = "File Write Error";

}  // namespace

namespace panel_detail {

ModuleConfig ConfigFromPanel(const CControlPanelDlg& panel) {
    ModuleConfig c;
    c.model = panel.m_strConfigModel;
    c.serial = panel.m_strConfigSerial;
    c.id = panel.m_nConfigId;
    c.channels = panel.m_nConfigChannels;
    c.offset = panel.m_nOffset;
    c.trigChannels = panel.m_nTrigChannels;
    c.usePwm = panel.m_checkUsePwm->isChecked() ? 1 : 0;
    c.usePacket = panel.m_checkUsePacket->isChecked() ? 1 : 0;
    c.useDebug = panel.m_checkUseDebug->isChecked() ? 1 : 0;
    c.useOnOff = panel.m_checkUseOnOff->isChecked() ? 1 : 0;
    c.useSoft = panel.m_checkUseSoft->isChecked() ? 1 : 0;
    c.useTrig = panel.m_checkUseTrig->isChecked() ? 1 : 0;
    c.bandwidthAll = panel.m_checkBandwidthAll->isChecked() ? 1 : 0;
    for (int i = 0; i < kChannelCount; ++i) {
        c.bandwidthLow[i] = panel.m_fBandwidthLow[i];
        c.bandwidthHigh[i] = panel.m_fBandwidthHigh[i];
    }
    return c;
}

void ConfigToPanel(CControlPanelDlg& panel, const ModuleConfig& c) {
    panel.m_strConfigModel = c.model;
    panel.m_strConfigSerial = c.serial;
    panel.m_nConfigId = c.id;
    panel.m_nConfigChannels = c.channels;
    panel.m_nOffset = c.offset;
    panel.m_checkUsePwm->setChecked(c.usePwm != 0);
    panel.m_checkUsePacket->setChecked(c.usePacket != 0);
    panel.m_checkUseDebug->setChecked(c.useDebug != 0);
    for (int i = 0; i < kChannelCount; ++i) {
        panel.m_fBandwidthLow[i] = c.bandwidthLow[i];
        panel.m_fBandwidthHigh[i] = c.bandwidthHigh[i];
    }
}

}  // namespace panel_detail

void CControlPanelDlg::LoadConfigFile() {
    OpenFileRequest request;
    request.filter = QString::fromLatin1(kConfigFilter);
    request.defaultSuffix = QStringLiteral("ini");
    request.initialName = QStringLiteral("INI File Load");
    const QString path = m_platform.fileDialog->GetOpenFileName(this, request);
    if (path.isEmpty()) {
        return;
    }
    m_strConfigPath = path;
    ModuleConfig config = ConfigFromPanel(*this);
    // Each unknown line's box comes as the reader meets it: what the lines before it set is in
    // the model (the check boxes show it), the lines after it are not read yet.
    const ConfigReadResult result = ReadConfigFile(path, config, m_configLines, [&](const UnknownConfigLine& unknown) {
        ConfigToPanel(*this, config);
        m_platform.messageBox->Show(this, UnknownLineMessage(unknown), QString(), MessageIcon::None);
    });
    if (!result.opened) {
        m_platform.messageBox->Show(this, QString::fromLatin1(kFileOpenErrorMessage), QString(), MessageIcon::None);
        return;
    }
    ConfigToPanel(*this, config);
    UpdateData(false);
}

void CControlPanelDlg::SaveConfigFile() {
    // The file named before the read-back is the one written: a path typed since then counts
    // from the next save on.
    const QString path = m_strConfigPath;
    if (!ConfigFileOpensForSave(path)) {
        m_platform.messageBox->Show(this, QString::fromLatin1(kFileOpenErrorMessage), QString(), MessageIcon::None);
        return;
    }
    UpdateData(true);
    if (WriteConfigFile(path, ConfigFromPanel(*this)) != ConfigSaveResult::Saved) {
        m_platform.messageBox->Show(this, QString::fromLatin1(kFileWriteErrorMessage), QString(), MessageIcon::None);
        return;
    }
    AddMessage(QString::fromLatin1(kSaveFileMessage));
}

void CControlPanelDlg::ApplyConfigToModule() {
    UpdateData(true);
    if (SendConfigToModule(*m_pLink, ConfigFromPanel(*this)) == ConfigApplyResult::InvalidBandwidth) {
        m_platform.messageBox->Show(this, QString::fromLatin1(kInvalidBandwidthMessage), QString(), MessageIcon::None);
    }
}

void CControlPanelDlg::SaveDebugLog() {
    // Oldest first: the list holds the newest line on top. Each line goes back to the bytes
    // it came from.
    std::vector<QByteArray> lines;
    const int n = m_listMessages->count();
    lines.reserve(static_cast<std::size_t>(n));
    for (int i = n - 1; i >= 0; --i) {
        lines.push_back(m_listMessages->bytes(i));
    }
    const LocalTime now = m_platform.clock->Now();
    const LogTime time{now.year, now.month, now.day, now.hour, now.minute, now.second};
    if (!WriteDebugLog(lines, time)) {
        m_platform.messageBox->Show(this, QString::fromLatin1(kFileCreateErrorMessage), QString(), MessageIcon::None);
        return;
    }
    AddMessage(QString::fromLatin1(kLogFileCreatedMessage));
}

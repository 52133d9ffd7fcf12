// Port management: open, close, read all, search, firmware tool.
// These handlers are wired to their buttons but not written yet: until they are, the clicks do
// nothing.
#include "control_panel.h"

void CControlPanelDlg::OnOpenPort() {}

void CControlPanelDlg::OnClosePort() {}

void CControlPanelDlg::OnRefresh() {}

void CControlPanelDlg::OnSearchPorts() {}

void CControlPanelDlg::OnFirmwareUpdate() {}

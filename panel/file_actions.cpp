// The module configuration file ("...", "Save file", "Apply to module") and the debug log.
// These handlers are wired to their buttons but not written yet: until they are, the clicks do
// nothing.
#include "control_panel.h"

void CControlPanelDlg::LoadConfigFile() {}

void CControlPanelDlg::SaveConfigFile() {}

void CControlPanelDlg::ApplyConfigToModule() {}

void CControlPanelDlg::SaveDebugLog() {}

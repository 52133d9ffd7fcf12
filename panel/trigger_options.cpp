// Trigger options: apply, one-shot trigger, the derived fields and the "All" boxes.
// These handlers are wired to their controls but not written yet: until they are, the events
// do nothing.
#include "control_panel.h"

void CControlPanelDlg::ApplyTriggers() {}

void CControlPanelDlg::OnOneShotTrig() {}

void CControlPanelDlg::OnTrigEnableAll() {}

void CControlPanelDlg::OnTrigAll() {}

void CControlPanelDlg::OnTriggerChange() {}

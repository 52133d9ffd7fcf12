// Status refresh, test programs, bright memories and the factory reset.
// These handlers are wired to their controls and timers but not written yet: until they are,
// the events do nothing.
#include "control_panel.h"

void CControlPanelDlg::OnStatusRefresh() {}

void CControlPanelDlg::OnTestTick() {}

void CControlPanelDlg::OnTestToggle() {}

void CControlPanelDlg::OnSaveBright() {}

void CControlPanelDlg::OnLoadBright() {}

void CControlPanelDlg::OnLoadBrightIndexChange() {}

void CControlPanelDlg::OnFactoryReset() {}

// Channels, groups and brightness: slider moves, on boxes, the all-channels box and Grab.
// These handlers are wired to their controls but not written yet: until they are, the events
// do nothing.
#include "control_panel.h"

void CControlPanelDlg::OnHScroll(int slider, ScrollCode code) {
    static_cast<void>(slider);
    static_cast<void>(code);
}

void CControlPanelDlg::SendOnMask() {}

void CControlPanelDlg::OnAllChannelsClicked() {}

#pragma once
// Check boxes and toggle buttons as assistive technology sees them.
//
// Qt's own accessible button answers a screen reader's or UI automation's "Toggle" (AT-SPI
// action, QAccessibleActionInterface::toggleAction) with QAbstractButton::toggle(): the box
// changes, but no clicked() is emitted, so the handler that a mouse click or the space bar
// runs does not run and the controller no longer matches the window. The interface installed
// here answers "Toggle" and "Press" of every checkable button with click(), exactly what a
// user's click does; changes made by the program (setChecked) stay silent as before.

// Installs the interface for the application's checkable buttons. Idempotent; window thread.
void InstallAccessibleToggles();

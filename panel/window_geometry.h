#pragma once

#include <QPoint>
#include <QSize>

#include <functional>

class QWidget;

// Moves a top-level window so that the top-left corner of its frame is at pos, and resizes it
// so that its outer size, frame included, is outer (never below 1 x 1). The stacking order is
// kept. The frame is what the window system reports at the time of the call; before a window
// is first shown it is taken as none. A geometry still waiting for the frame
// (SetOuterGeometryWhenFramed) is dropped: this one replaces it.
void SetOuterGeometry(QWidget* window, QPoint pos, QSize outer);

// SetOuterGeometry now, and once more as soon as the window system reports a frame other than
// the one known now. A window manager frames a window only when it maps it, after the program
// has sized it, so a window sized before its first show would otherwise come out larger by its
// frame (and placed by its client area). Without a window manager no frame appears and the
// first application stands. Window thread only.
void SetOuterGeometryWhenFramed(QWidget* window, QPoint pos, QSize outer);

// What the frame adds to the client size at the moment (0 x 0 when there is none).
QSize FrameExtra(const QWidget* window);

// Calls call once, when control is back in the event loop after the window first showed on the
// screen and drew itself; never if the window goes first. Window thread only.
void RunAfterFirstFrame(QWidget* window, std::function<void()> call);

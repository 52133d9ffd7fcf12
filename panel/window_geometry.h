#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

// Moves a top-level window so that the top-left corner of its frame is at pos, and resizes it
// so that its outer size, frame included, is outer (never below 1 x 1). The stacking order is
// kept. The frame is what the window system reports at the time of the call; before a window
// is first shown it is taken as none.
void SetOuterGeometry(QWidget* window, QPoint pos, QSize outer);

// What the frame adds to the client size at the moment (0 x 0 when there is none).
QSize FrameExtra(const QWidget* window);

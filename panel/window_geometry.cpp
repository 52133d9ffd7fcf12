#include "window_geometry.h"

#include <QWidget>

#include <algorithm>

QSize FrameExtra(const QWidget* window) {
    const QSize extra = window->frameGeometry().size() - window->geometry().size();
    return {std::max(0, extra.width()), std::max(0, extra.height())};
}

void SetOuterGeometry(QWidget* window, QPoint pos, QSize outer) {
    const QSize client = outer - FrameExtra(window);
    window->move(pos);
    window->resize(std::max(1, client.width()), std::max(1, client.height()));
}

#include "window_geometry.h"

#include <QEvent>
#include <QMargins>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// The frame as the window system reports it now. The widget's own frame geometry is only
// brought up to date by a move or resize, and a window manager may frame a window without
// either, so the platform window is asked.
QMargins FrameMargins(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle != nullptr ? handle->frameMargins() : QMargins();
}

void ApplyOuterGeometry(QWidget* window, QPoint pos, QSize outer) {
    const QMargins frame = FrameMargins(window);
    const QSize client = (outer - FrameExtra(window)).expandedTo(QSize(1, 1));
    if (frame.isNull()) {
        // No frame known: the position is that of whatever frame the window will get.
        window->move(pos);
        window->resize(client);
    } else {
        window->setGeometry(QRect(pos + QPoint(frame.left(), frame.top()), client));
    }
}

// Child of the window that applies the geometry again when the window's frame changes, then
// goes. It looks at the frame whenever the window is created, shown, moved, resized or
// exposed: a window manager frames a window before it lets it be exposed.
class FrameWatcher final : public QObject {
public:
    FrameWatcher(QWidget* window, QPoint pos, QSize outer)
        : QObject(window), window_(window), pos_(pos), outer_(outer), frame_(FrameMargins(window)) {
        window->installEventFilter(this);
        WatchPlatformWindow();
    }

    // Stops watching at once; the object itself goes when control returns to the event loop.
    void Retire() {
        if (!watching_) {
            return;
        }
        watching_ = false;
        window_->removeEventFilter(this);
        if (handle_ != nullptr) {
            handle_->removeEventFilter(this);
        }
        deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::WinIdChange:
            WatchPlatformWindow();
            break;
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
            if (watching_ && (watched == window_ || watched == handle_) && window_->isVisible() &&
                FrameMargins(window_) != frame_) {
                Retire();
                ApplyOuterGeometry(window_, pos_, outer_);
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void WatchPlatformWindow() {
        QWindow* handle = window_->windowHandle();
        if (handle != nullptr && handle != handle_) {
            handle_ = handle;
            handle->installEventFilter(this);
        }
    }

    QWidget* window_;
    QPointer<QWindow> handle_;
    QPoint pos_;
    QSize outer_;
    QMargins frame_;
    bool watching_ = true;
};

void DropWatchers(QWidget* window) {
    for (QObject* child : window->children()) {
        if (auto* watcher = dynamic_cast<FrameWatcher*>(child)) {
            watcher->Retire();
        }
    }
}

}  // namespace

QSize FrameExtra(const QWidget* window) {
    const QMargins frame = FrameMargins(window);
    return {std::max(0, frame.left() + frame.right()), std::max(0, frame.top() + frame.bottom())};
}

void SetOuterGeometry(QWidget* window, QPoint pos, QSize outer) {
    DropWatchers(window);
    ApplyOuterGeometry(window, pos, outer);
}

void SetOuterGeometryWhenFramed(QWidget* window, QPoint pos, QSize outer) {
    SetOuterGeometry(window, pos, outer);
    new FrameWatcher(window, pos, outer);
}

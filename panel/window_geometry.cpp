#include "window_geometry.h"

#include <QEvent>
#include <QMargins>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <utility>

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

// A child of a window that sees the window's events and, once it has one, its platform
// window's (the frame and the exposure are known there).
class WindowWatcher : public QObject {
protected:
    explicit WindowWatcher(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
        WatchPlatformWindow();
    }

    // Follows a platform window made or replaced since; true for the events that can mean one.
    bool FollowPlatformWindow(const QEvent* event) {
        if (event->type() != QEvent::WinIdChange && event->type() != QEvent::Show) {
            return false;
        }
        WatchPlatformWindow();
        return true;
    }

    void StopWatching() {
        window_->removeEventFilter(this);
        if (handle_ != nullptr) {
            handle_->removeEventFilter(this);
        }
    }

    QWidget* window_;
    QPointer<QWindow> handle_;

private:
    void WatchPlatformWindow() {
        QWindow* handle = window_->windowHandle();
        if (handle != nullptr && handle != handle_) {
            handle_ = handle;
            handle->installEventFilter(this);
        }
    }
};

// Applies the geometry again when the window's frame changes, then goes. It looks at the frame
// whenever the window is created, shown, moved, resized or exposed: a window manager frames a
// window before it lets it be exposed.
class FrameWatcher final : public WindowWatcher {
public:
    FrameWatcher(QWidget* window, QPoint pos, QSize outer)
        : WindowWatcher(window), pos_(pos), outer_(outer), frame_(FrameMargins(window)) {}

    // Stops watching at once; the object itself goes when control returns to the event loop.
    void Retire() {
        if (!watching_) {
            return;
        }
        watching_ = false;
        StopWatching();
        deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        FollowPlatformWindow(event);
        switch (event->type()) {
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
    QPoint pos_;
    QSize outer_;
    QMargins frame_;
    bool watching_ = true;
};

// Runs a call once control is back in the event loop after the window's first exposure (which
// Qt answers by drawing the window), then goes.
class FirstFrameWatcher final : public WindowWatcher {
public:
    FirstFrameWatcher(QWidget* window, std::function<void()> call) : WindowWatcher(window), call_(std::move(call)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!FollowPlatformWindow(event) && event->type() == QEvent::Expose && watched == handle_ &&
            handle_->isExposed() && call_) {
            StopWatching();
            QTimer::singleShot(0, window_, std::move(call_));
            call_ = nullptr;
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> call_;
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

void RunAfterFirstFrame(QWidget* window, std::function<void()> call) { new FirstFrameWatcher(window, std::move(call)); }

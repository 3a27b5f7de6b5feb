#include "platform/linux/overlay/QtOverlayWindow.h"

#include <QScreen>

namespace tavrine {

Qt::WindowFlags QtOverlayWindow::windowFlags() {
    // Bypassing the window manager keeps a reparenting manager from framing the window or swallowing
    // the clicks meant for the windows below; it also puts the window on every workspace.
    return Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool | Qt::WindowTransparentForInput |
           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
}

QtOverlayWindow::QtOverlayWindow(QScreen* screen, const ScreenRect& frame, OverlayWindowManager& manager,
                                 Executor& executor, const Clock& clock, const QString& badgeText)
    : view_(std::make_unique<OverlayContentView>(manager, executor, clock, badgeText)) {
    view_->setWindowFlags(windowFlags());
    view_->setAttribute(Qt::WA_TranslucentBackground);
    view_->setAttribute(Qt::WA_ShowWithoutActivating);
    view_->setAttribute(Qt::WA_NoSystemBackground);
    view_->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    view_->setWindowTitle(QStringLiteral("Tavrine overlay"));
    if (screen) {
        view_->setScreen(screen);
    }
    setFrame(frame);
}

QtOverlayWindow::~QtOverlayWindow() = default;

void QtOverlayWindow::show() {
    view_->show();
    view_->raise();
}

void QtOverlayWindow::hide() {
    view_->hide();
}

void QtOverlayWindow::setFrame(const ScreenRect& frame) {
    view_->setGeometry(frame.x, frame.y, frame.width, frame.height);
}

} // namespace tavrine

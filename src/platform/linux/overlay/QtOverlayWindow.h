#pragma once

#include "core/overlay/WindowSystem.h"
#include "platform/linux/overlay/OverlayContentView.h"

#include <memory>

class QScreen;

namespace tavrine {

// One overlay window: a top-level OverlayContentView that stays above other windows, on every workspace,
// never takes focus or input, and is transparent outside what it draws.
class QtOverlayWindow final : public OverlayWindow {
  public:
    static Qt::WindowFlags windowFlags();

    QtOverlayWindow(QScreen* screen, const ScreenRect& frame, OverlayWindowManager& manager,
                    Executor& executor, const Clock& clock, const QString& badgeText);
    ~QtOverlayWindow() override;

    void show() override;
    void hide() override;
    void setFrame(const ScreenRect& frame) override;

    OverlayContentView& view() { return *view_; }

  private:
    std::unique_ptr<OverlayContentView> view_;
};

} // namespace tavrine

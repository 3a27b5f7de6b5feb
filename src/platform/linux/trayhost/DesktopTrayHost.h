#pragma once

#include "core/service/TrayHost.h"

#include <QDBusConnection>

namespace tavrine {

// A StatusNotifierItem host (its watcher on the session bus) or an XEmbed tray (the owner of the
// _NET_SYSTEM_TRAY_S0 selection on the X display).
class DesktopTrayHost final : public TrayHost {
  public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

    explicit DesktopTrayHost(QDBusConnection sessionBus);

    bool available() override;
    bool statusNotifierHost() override;
    Subscription watch(std::function<void()> onAppeared) override;

  private:
    QDBusConnection bus_;
};

} // namespace tavrine

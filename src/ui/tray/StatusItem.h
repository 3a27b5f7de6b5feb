#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <functional>

namespace tavrine {

// The tray item a StatusNotifier host shows, as the tray controller sees it: the desktop's side of it (the
// export on the session bus) is the platform's.
class StatusItem {
  public:
    virtual ~StatusItem() = default;

    // Makes the item known to the host; again after the host restarted. False when it could not be.
    virtual bool registerWithHost() = 0;
    // The icon by its theme name, with pixmaps for hosts that cannot find the name.
    virtual void setIcon(const QString& themeName, const QIcon& pixmaps) = 0;
    virtual void setNeedsAttention(bool attention) = 0;
    virtual void setToolTip(const QString& text) = 0;

    // Called when the host activates the item, with the screen point it gave (null when none).
    std::function<void(QPoint)> onActivated;
};

} // namespace tavrine

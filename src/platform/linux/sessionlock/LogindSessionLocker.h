#pragma once

#include "core/service/SessionLocker.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace tavrine {

// Locks our session through logind: Lock on the org.freedesktop.login1.Session object whose Active
// property the system monitor watches. The desktop's screen locker answers logind's Lock signal. Without a
// session object (none found yet, no logind) nothing is asked and the answer is "not locked".
class LogindSessionLocker final : public QObject, public SessionLocker {
    Q_OBJECT
  public:
    // sessionPath: the session object path, empty while unknown; asked at each lock.
    LogindSessionLocker(QDBusConnection systemBus, std::function<QString()> sessionPath,
                        QObject* parent = nullptr);

    void lockSession(std::function<void(bool locked)> done) override;

  private:
    QDBusConnection systemBus_;
    std::function<QString()> sessionPath_;
};

} // namespace tavrine

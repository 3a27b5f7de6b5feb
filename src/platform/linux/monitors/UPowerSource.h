#pragma once

#include "core/service/PowerSource.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace tavrine {

// The battery as UPower's DisplayDevice describes it. Reads never block: the properties are fetched
// asynchronously and kept current from PropertiesChanged; each read also asks for a fresh copy.
// Without UPower there is nothing; without a battery, a reading that says so.
class UPowerSource final : public QObject, public PowerSource {
    Q_OBJECT
  public:
    explicit UPowerSource(QDBusConnection systemBus, QObject* parent = nullptr);

    std::optional<BatteryReading> battery() override;
    Subscription observeUpdates(std::function<void()> onUpdate) override;

    // DisplayDevice properties → the reading: Percentage → whole percent (100 when missing or not a
    // number), State 1 → charging; not present or not a battery → no battery.
    static BatteryReading describe(const QVariantMap& displayDevice);

  Q_SIGNALS:
    // Emitted whenever a fresh copy of the properties arrived or UPower went away.
    void updated();

  private Q_SLOTS:
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);
    void onServiceRegistered();
    void onServiceUnregistered();

  private:
    void refresh();

    QDBusConnection bus_;
    std::optional<QVariantMap> properties_;
    bool refreshing_ = false;
    bool answered_ = false;
};

} // namespace tavrine

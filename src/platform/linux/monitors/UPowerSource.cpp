#include "platform/linux/monitors/UPowerSource.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <cmath>

namespace tavrine {

namespace {

const QString upowerService = QStringLiteral("org.freedesktop.UPower");
const QString displayDevicePath = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
const QString deviceInterface = QStringLiteral("org.freedesktop.UPower.Device");
constexpr uint typeBattery = 2;
constexpr uint stateCharging = 1;

} // namespace

UPowerSource::UPowerSource(QDBusConnection systemBus, QObject* parent)
    : QObject(parent), bus_(std::move(systemBus)) {
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(upowerService, displayDevicePath, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    auto* watcher = new QDBusServiceWatcher(
        upowerService, bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &UPowerSource::onServiceRegistered);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &UPowerSource::onServiceUnregistered);
    refresh();
}

std::optional<BatteryReading> UPowerSource::battery() {
    refresh();
    if (!properties_) {
        return std::nullopt;
    }
    return describe(*properties_);
}

Subscription UPowerSource::observeUpdates(std::function<void()> onUpdate) {
    const QMetaObject::Connection connection =
        connect(this, &UPowerSource::updated, this, std::move(onUpdate));
    return Subscription([connection] { QObject::disconnect(connection); });
}

BatteryReading UPowerSource::describe(const QVariantMap& displayDevice) {
    const QVariant present = displayDevice.value(QStringLiteral("IsPresent"));
    const QVariant type = displayDevice.value(QStringLiteral("Type"));
    BatteryReading reading;
    if (!present.toBool() || type.toUInt() != typeBattery) {
        return reading;
    }
    reading.present = true;
    bool ok = false;
    const double percentage = displayDevice.value(QStringLiteral("Percentage")).toDouble(&ok);
    // UPower reports 0 to 100; anything else is damaged and counts as unknown.
    if (ok && std::isfinite(percentage) && percentage >= 0.0 && percentage <= 100.0) {
        reading.percent = static_cast<int>(std::lround(percentage));
    }
    reading.charging = displayDevice.value(QStringLiteral("State")).toUInt() == stateCharging;
    return reading;
}

void UPowerSource::refresh() {
    if (!bus_.isConnected() || refreshing_) {
        return;
    }
    refreshing_ = true;
    QDBusMessage msg = QDBusMessage::createMethodCall(upowerService, displayDevicePath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("GetAll"));
    msg << deviceInterface;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(msg), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        refreshing_ = false;
        QDBusPendingReply<QVariantMap> reply = *w;
        std::optional<QVariantMap> answer;
        if (!reply.isError()) {
            answer = reply.value();
        }
        w->deleteLater();
        // The first answer, even of nothing, is news; after it only a change of the reading is. An observer
        // that reads the battery on every update (which asks UPower again) would otherwise call the bus in a
        // loop for as long as UPower is missing, or answers a level that is not a number (NaN is unequal to
        // itself, so two such answers never compare equal as property maps).
        const auto reading = [](const std::optional<QVariantMap>& device) {
            return device ? std::optional<BatteryReading>(describe(*device)) : std::nullopt;
        };
        const bool news = !answered_ || reading(answer) != reading(properties_);
        answered_ = true;
        properties_ = std::move(answer);
        if (news) {
            Q_EMIT updated();
        }
    });
}

void UPowerSource::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                       const QStringList& invalidated) {
    if (interface != deviceInterface) {
        return;
    }
    if (properties_) {
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            properties_->insert(it.key(), it.value());
        }
    }
    if (!invalidated.isEmpty() || !properties_) {
        refresh();
    } else {
        Q_EMIT updated();
    }
}

void UPowerSource::onServiceRegistered() {
    refresh();
}

void UPowerSource::onServiceUnregistered() {
    properties_.reset();
    Q_EMIT updated();
}

} // namespace tavrine

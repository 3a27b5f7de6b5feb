#include "platform/linux/appearance/PortalColorScheme.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace tavrine {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
// A portal that has not answered by then is taken as no preference.
constexpr int readTimeoutMs = 5000;

} // namespace

PortalColorScheme::Preference PortalColorScheme::fromPortalValue(const QVariant& value) {
    // The portal wraps the value in one or two variants, depending on its version.
    QVariant v = value;
    for (int i = 0; i < 3 && v.userType() == qMetaTypeId<QDBusVariant>(); ++i) {
        v = v.value<QDBusVariant>().variant();
    }
    if (v.userType() == qMetaTypeId<QDBusArgument>()) {
        QDBusVariant inner;
        v.value<QDBusArgument>() >> inner;
        v = inner.variant();
    }
    bool ok = false;
    const uint n = v.toUInt(&ok);
    if (!ok || n > 2) {
        return Preference::none;
    }
    return Preference(n);
}

PortalColorScheme::PortalColorScheme(QDBusConnection bus, QObject* parent) : QObject(parent) {
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(onSettingChanged(QDBusMessage)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    read << appearance << colorSchemeKey;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, readTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        if (!changeSignalled_ && reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            Q_EMIT told(fromPortalValue(reply.arguments().constFirst()));
        }
    });
}

void PortalColorScheme::onSettingChanged(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (args.size() == 3 && args.at(0).toString() == appearance && args.at(1).toString() == colorSchemeKey) {
        changeSignalled_ = true;
        Q_EMIT told(fromPortalValue(args.at(2)));
    }
}

} // namespace tavrine

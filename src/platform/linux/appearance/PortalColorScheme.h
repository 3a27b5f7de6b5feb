#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariant>

namespace tavrine {

// The desktop's light or dark preference: the "color-scheme" setting of the desktop portal
// (org.freedesktop.appearance). It is asked for at start without waiting for the answer, and followed when
// the desktop signals a change. A change signalled before the answer is newer: the answer is then dropped.
// Without a portal, or a portal that does not answer, no preference is ever told.
class PortalColorScheme : public QObject {
    Q_OBJECT
  public:
    // The portal's values.
    enum class Preference { none = 0, dark = 1, light = 2 };

    explicit PortalColorScheme(QDBusConnection bus, QObject* parent = nullptr);

    // The portal's value as a preference, however it is wrapped (anything unknown: none).
    static Preference fromPortalValue(const QVariant& value);

  Q_SIGNALS:
    // The first answer and every change, with the preference they carry.
    void told(tavrine::PortalColorScheme::Preference preference);

  private Q_SLOTS:
    void onSettingChanged(const QDBusMessage& message);

  private:
    bool changeSignalled_ = false;
};

} // namespace tavrine

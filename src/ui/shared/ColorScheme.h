#pragma once

#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QPalette>

namespace tavrine {

// Follows the desktop's light or dark preference: the "color-scheme" setting of the desktop portal
// (org.freedesktop.appearance), asked for at start without waiting for the answer and followed when it
// changes. Until the portal answers, and without a preference (or without a portal), the palette the
// platform gave stays.
class ColorScheme : public QObject {
    Q_OBJECT
  public:
    enum class Preference { none = 0, dark = 1, light = 2 };

    explicit ColorScheme(QObject* parent = nullptr);

    Preference preference() const { return preference_; }
    // Installs the palette for a preference (none: the platform's palette as it was at start).
    void apply(Preference preference);

    // The application's palettes for the two schemes.
    static QPalette darkPalette();
    static QPalette lightPalette();
    // The portal's value as a preference (anything unknown: none).
    static Preference fromPortalValue(const QVariant& value);

  signals:
    void changed(Preference preference);

  private slots:
    void onSettingChanged(const QDBusMessage& message);

  private:
    QPalette platform_;
    Preference preference_ = Preference::none;
    bool changeSignalled_ = false;
};

} // namespace tavrine

#pragma once

#include "core/persistence/LoginItem.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace tavrine {

// Start at login through an XDG autostart entry, by default $XDG_CONFIG_HOME/autostart/tavrine.desktop.
// Enabled when the entry exists, is not switched off (Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false) and starts a program that is there. Registering writes the entry
// atomically; unregistering removes it. An entry the user edited is switched instead, keeping their lines.
// Failures come back as text.
class XdgAutostart final : public LoginItem {
  public:
    // execPath: the program to start, normally QCoreApplication::applicationFilePath().
    explicit XdgAutostart(QString execPath);
    XdgAutostart(QString entryPath, QString execPath);

    static QString defaultEntryPath();
    const QString& entryPath() const { return entryPath_; }

    // The entry's text for a program path, with the Exec value quoted and escaped as desktop entries
    // require (a path with spaces or quotes still starts the right file).
    static QByteArray entryText(const QString& execPath);

    bool isEnabled() const override;
    std::optional<std::string> setEnabled(bool enabled) override;

  private:
    std::optional<QByteArray> readEntry() const;
    bool usable(const QByteArray& text) const;
    std::optional<std::string> write(const QByteArray& text) const;

    QString entryPath_;
    QString execPath_;
};

} // namespace tavrine

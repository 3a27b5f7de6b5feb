#pragma once

#include <QObject>

namespace tavrine {

// In-process notifications between the panels and the tray controller.
class AppSignals : public QObject {
    Q_OBJECT
  public:
    static AppSignals& instance();

    void postOpenPreferences() { emit openPreferencesRequested(); }
    void postQuit() { emit quitRequested(); }

  signals:
    void openPreferencesRequested();
    void quitRequested();
};

} // namespace tavrine

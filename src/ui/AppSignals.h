#pragma once

#include <QObject>

namespace tavrine {

// In-process notifications between the panels and the tray controller.
class AppSignals : public QObject {
    Q_OBJECT
  public:
    // The name under which the request to open the preferences travels.
    static constexpr const char* openPreferencesName = "expert.brightfen.tavrine.openPreferences";

    static AppSignals& instance();

    void postOpenPreferences() { emit openPreferencesRequested(); }
    void postQuit() { emit quitRequested(); }

  signals:
    void openPreferencesRequested();
    void quitRequested();
};

} // namespace tavrine

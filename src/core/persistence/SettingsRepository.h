#pragma once

#include "core/domain/FilterSettings.h"
#include "core/persistence/KeyValueStore.h"
#include "core/persistence/LoginItem.h"
#include "core/util/Published.h"

#include <iostream>
#include <optional>
#include <ostream>
#include <string>

namespace tavrine {

// Owns the live settings: loads them from the store, publishes every change, saves key by key and
// applies launchAtLogin to the login item. Main thread only.
class SettingsRepository {
  public:
    SettingsRepository(KeyValueStore& defaults, LoginItem& loginItem, std::ostream& diagnostics = std::cout);
    SettingsRepository(const SettingsRepository&) = delete;
    SettingsRepository& operator=(const SettingsRepository&) = delete;

    // Assigning directly publishes but persists nothing.
    Published<FilterSettings> settings{FilterSettings{}};
    // The last save reached the store's memory only: the settings hold until the application ends. A later
    // save that reaches the disk clears it.
    Published<bool> keptForSessionOnly{false};
    // Why the login item refused the last change asked of it; empty once a change goes through, or once
    // the record is brought back to the item's real state.
    Published<std::string> loginItemError{std::string()};

    void load();
    void save(const FilterSettings& newSettings);

    // Starts the application at login or not, and records the choice: the one place that changes the
    // login item. Nothing is asked of the system when it is already in that state. On failure the record
    // keeps the request (until the next load() reads the real status); the error goes to the diagnostics
    // and is returned.
    std::optional<std::string> setLaunchAtLogin(bool enabled);
    // Takes the login item's real status into the record (it may change outside the application) without
    // touching it.
    void refreshLaunchAtLogin();

    KeyValueStore& defaults() { return defaults_; }

  private:
    std::optional<std::string> applyLaunchAtLogin(bool enabled);

    KeyValueStore& defaults_;
    LoginItem& loginItem_;
    std::ostream& diagnostics_;
};

} // namespace tavrine

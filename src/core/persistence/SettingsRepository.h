#pragma once

#include "core/domain/FilterSettings.h"
#include "core/persistence/KeyValueStore.h"
#include "core/persistence/LoginItem.h"
#include "core/util/Published.h"

#include <iostream>
#include <ostream>

namespace tavrine {

// Owns the live settings: loads them from the store, publishes every change, saves key by key and
// applies launchAtLogin to the login item. Main thread only.
class SettingsRepository {
  public:
    SettingsRepository(KeyValueStore& defaults, LoginItem& loginItem, std::ostream& diagnostics = std::cout);
    SettingsRepository(const SettingsRepository&) = delete;
    SettingsRepository& operator=(const SettingsRepository&) = delete;

    static SettingsRepository& shared();

    // Assigning directly publishes but persists nothing.
    Published<FilterSettings> settings{FilterSettings{}};

    void load();
    void save(const FilterSettings& newSettings);

    KeyValueStore& defaults() { return defaults_; }

  private:
    void setLaunchAtLogin(bool enabled);

    KeyValueStore& defaults_;
    LoginItem& loginItem_;
    std::ostream& diagnostics_;
};

} // namespace tavrine

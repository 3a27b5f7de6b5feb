#pragma once

#include <string>

namespace tavrine {

// Looks up the user-facing text of a localization key; a key without an entry comes back unchanged.
class Localizer {
  public:
    virtual ~Localizer() = default;
    virtual std::string text(const std::string& key) const = 0;
};

// Shows the keys themselves (tests, and a build without translations).
class KeyLocalizer final : public Localizer {
  public:
    std::string text(const std::string& key) const override { return key; }
};

} // namespace tavrine

#pragma once

#include <optional>
#include <string>

namespace tavrine {

// Whether the application starts at login, and the means to change it.
class LoginItem {
  public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Registers (true) or unregisters (false). Returns the error description on failure.
    virtual std::optional<std::string> setEnabled(bool enabled) = 0;
};

} // namespace tavrine

#pragma once

#include <string>

namespace tavrine {

// Posts and withdraws user notifications by identifier. Failures are ignored.
class Notifier {
  public:
    virtual ~Notifier() = default;
    // Posts at once with the default sound; replaces an earlier notification of the same identifier.
    virtual void post(const std::string& identifier, const std::string& title, const std::string& body) = 0;
    // Removes pending and delivered notifications of that identifier.
    virtual void remove(const std::string& identifier) = 0;
};

} // namespace tavrine

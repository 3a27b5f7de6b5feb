#pragma once

#include <functional>

namespace tavrine {

// Locks the user's desktop session.
class SessionLocker {
  public:
    virtual ~SessionLocker() = default;
    // Asks for the lock; done (on the main thread) tells whether the session manager accepted it.
    virtual void lockSession(std::function<void(bool locked)> done) = 0;
};

} // namespace tavrine

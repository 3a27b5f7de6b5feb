#pragma once

#include <functional>
#include <utility>

namespace tavrine {

// Owns one subscription to a published value or event source. Destroying the handle, or calling
// cancel(), ends delivery. Movable, not copyable.
class Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> canceller) : canceller_(std::move(canceller)) {}
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    Subscription(Subscription&& other) noexcept : canceller_(std::exchange(other.canceller_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            cancel();
            canceller_ = std::exchange(other.canceller_, nullptr);
        }
        return *this;
    }
    ~Subscription() { cancel(); }

    void cancel() {
        if (auto c = std::exchange(canceller_, nullptr)) {
            c();
        }
    }
    bool isActive() const { return static_cast<bool>(canceller_); }

  private:
    std::function<void()> canceller_;
};

} // namespace tavrine

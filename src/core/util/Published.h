#pragma once

#include "core/util/Subscription.h"

#include <concepts>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tavrine {

// A value with subscribers. A new subscriber receives the current value at once; every assignment is
// delivered synchronously to the subscribers, in subscription order, before the new value reads back.
//
// Reentrancy: an assignment made by a subscriber during a delivery is queued and delivered after the
// current one has reached every subscriber and been stored, so every subscriber sees the values in
// assignment order and the last assignment wins. A subscriber may cancel itself (or another) during a
// delivery; a cancelled subscriber receives nothing further, not even the rest of the current delivery.
// A subscriber added during a delivery receives the stored value, then the value being delivered.
//
// Single-threaded: use it on one thread (the main thread in this program).
template <typename T> class Published {
  public:
    using Callback = std::function<void(const T&)>;

    Published() : state_(std::make_shared<State>()) {}
    explicit Published(T initial) : state_(std::make_shared<State>()) { state_->value = std::move(initial); }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return state_->value; }
    operator const T&() const { return state_->value; }

    void set(T newValue) {
        State& s = *state_;
        s.queue.push_back(std::move(newValue));
        if (s.delivering) {
            return;
        }
        // Keeps the state alive if a subscriber destroys this Published during delivery.
        auto keepAlive = state_;
        DeliveryScope scope(s);
        while (!s.queue.empty()) {
            T value = std::move(s.queue.front());
            s.queue.pop_front();
            s.inFlight = &value;
            // Indexed, not a snapshot: a subscriber added during this delivery received the stored
            // value on subscribing and must now receive the value in flight too, or it would be left
            // behind. Cancelled entries stay in place (inactive) until the delivery ends.
            for (std::size_t i = 0; i < s.entries.size(); ++i) {
                std::shared_ptr<Entry> entry = s.entries[i];
                if (entry->active) {
                    entry->deliver(value);
                }
            }
            s.inFlight = nullptr;
            s.value = std::move(value);
        }
    }

    Published& operator=(T newValue) {
        set(std::move(newValue));
        return *this;
    }

    // Modify a copy of the latest value and assign it (one delivery). Inside a delivery the latest
    // value is the one being delivered or queued, not the stored one, so two modifications made by a
    // subscriber both take effect.
    template <typename F> void modify(F&& f) {
        const State& s = *state_;
        T copy = !s.queue.empty() ? s.queue.back() : (s.inFlight ? *s.inFlight : s.value);
        f(copy);
        set(std::move(copy));
    }

    [[nodiscard]] Subscription subscribe(Callback cb) { return add(std::move(cb), false); }

    // Like subscribe, but a value equal to the last one delivered to this subscriber is skipped.
    [[nodiscard]] Subscription subscribeDistinct(Callback cb) requires std::equality_comparable<T> {
        return add(std::move(cb), true);
    }

    std::size_t subscriberCount() const {
        std::size_t n = 0;
        for (const auto& e : state_->entries) {
            n += e->active ? 1 : 0;
        }
        return n;
    }

  private:
    struct Entry {
        Callback cb;
        bool distinct = false;
        bool active = true;
        std::optional<T> last;
        void deliver(const T& v) {
            if constexpr (std::equality_comparable<T>) {
                if (distinct) {
                    if (last && *last == v) {
                        return;
                    }
                    last = v;
                }
            }
            cb(v);
        }
    };
    struct State {
        T value{};
        std::vector<std::shared_ptr<Entry>> entries;
        std::deque<T> queue;
        bool delivering = false;
        const T* inFlight = nullptr; // the value being delivered, until it is stored

        void compact() {
            std::erase_if(entries, [](const std::shared_ptr<Entry>& e) { return !e->active; });
        }
    };
    // Ends a delivery, also when a subscriber throws: the values still queued are dropped so that the
    // next assignment delivers normally instead of queueing forever.
    struct DeliveryScope {
        State& s;
        explicit DeliveryScope(State& state) : s(state) { s.delivering = true; }
        ~DeliveryScope() {
            s.delivering = false;
            s.inFlight = nullptr;
            s.queue.clear();
            s.compact();
        }
        DeliveryScope(const DeliveryScope&) = delete;
        DeliveryScope& operator=(const DeliveryScope&) = delete;
    };

    Subscription add(Callback cb, bool distinct) {
        auto entry = std::make_shared<Entry>();
        entry->cb = std::move(cb);
        entry->distinct = distinct;
        state_->entries.push_back(entry);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Entry> weakEntry = entry;
        Subscription handle([weakState, weakEntry] {
            auto st = weakState.lock();
            auto en = weakEntry.lock();
            if (!en) {
                return;
            }
            en->active = false;
            if (st && !st->delivering) {
                st->compact();
            }
        });
        T current = state_->value;
        if (entry->active) {
            entry->deliver(current);
        }
        return handle;
    }

    std::shared_ptr<State> state_;
};

} // namespace tavrine

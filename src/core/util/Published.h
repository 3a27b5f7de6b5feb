#pragma once

#include "core/util/Subscription.h"

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
        auto keepAlive = state_;
        s.delivering = true;
        while (!s.queue.empty()) {
            T value = std::move(s.queue.front());
            s.queue.pop_front();
            // Snapshot: subscribers added during this delivery got the current value on subscribing.
            std::vector<std::shared_ptr<Entry>> snapshot = s.entries;
            for (const auto& entry : snapshot) {
                if (entry->active) {
                    entry->deliver(value);
                }
            }
            s.value = std::move(value);
        }
        s.delivering = false;
    }

    Published& operator=(T newValue) {
        set(std::move(newValue));
        return *this;
    }

    // Modify a copy of the current value and assign it (one delivery).
    template <typename F> void modify(F&& f) {
        T copy = state_->value;
        f(copy);
        set(std::move(copy));
    }

    [[nodiscard]] Subscription subscribe(Callback cb) { return add(std::move(cb), false); }

    // Like subscribe, but a value equal to the last one delivered to this subscriber is skipped.
    [[nodiscard]] Subscription subscribeDistinct(Callback cb) { return add(std::move(cb), true); }

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
            if (distinct) {
                if (last && *last == v) {
                    return;
                }
                last = v;
            }
            cb(v);
        }
    };
    struct State {
        T value{};
        std::vector<std::shared_ptr<Entry>> entries;
        std::deque<T> queue;
        bool delivering = false;
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
            if (st) {
                std::erase(st->entries, en);
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

#pragma once

#include "core/util/Subscription.h"

#include <functional>
#include <memory>
#include <vector>

namespace tavrine {

// A stream of events without a current value. notify() delivers synchronously, in subscription order,
// on the emitting thread. A subscriber may cancel itself during delivery. Single-threaded.
template <typename... Args> class Signal {
  public:
    using Callback = std::function<void(const Args&...)>;

    Signal() : entries_(std::make_shared<std::vector<std::shared_ptr<Entry>>>()) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Subscription subscribe(Callback cb) {
        auto entry = std::make_shared<Entry>(Entry{std::move(cb), true});
        entries_->push_back(entry);
        std::weak_ptr<std::vector<std::shared_ptr<Entry>>> weakList = entries_;
        std::weak_ptr<Entry> weakEntry = entry;
        return Subscription([weakList, weakEntry] {
            auto en = weakEntry.lock();
            if (!en) {
                return;
            }
            en->active = false;
            if (auto list = weakList.lock()) {
                std::erase(*list, en);
            }
        });
    }

    void notify(const Args&... args) {
        auto keepAlive = entries_;
        auto snapshot = *entries_;
        for (const auto& e : snapshot) {
            if (e->active) {
                e->cb(args...);
            }
        }
    }

    std::size_t subscriberCount() const { return entries_->size(); }

  private:
    struct Entry {
        Callback cb;
        bool active;
    };
    std::shared_ptr<std::vector<std::shared_ptr<Entry>>> entries_;
};

} // namespace tavrine

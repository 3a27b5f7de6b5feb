#include "core/util/Published.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using tavrine::Published;
using tavrine::Subscription;

// One delivery at a time: a subscriber reads the old value while the new one is delivered; an assignment
// or a modification made during a delivery follows it in order (and modifications build on each other);
// a subscriber added during a delivery gets the stored value, then the one in flight.
TEST(Published, DeliversEveryAssignmentInOrderBeforeItReadsBack) {
    Published<int> p{0};
    std::vector<std::string> log;
    Subscription late;
    auto first = p.subscribe([&](const int& v) {
        log.push_back("a" + std::to_string(v) + "/" + std::to_string(p.get()));
        if (v == 1) {
            p = 2;
            late = p.subscribe([&](const int& w) { log.push_back("late" + std::to_string(w)); });
        }
        if (v == 3) {
            p.modify([](int& x) { x += 10; });
            p.modify([](int& x) { x += 10; });
        }
    });
    auto second = p.subscribe([&](const int& v) { log.push_back("b" + std::to_string(v)); });
    log.clear();
    p = 1;
    p = 3;
    p = 23;
    EXPECT_EQ(p.get(), 23);
    EXPECT_EQ(log, (std::vector<std::string>{"a1/0", "late0", "b1", "late1", "a2/1", "b2", "late2", "a3/2",
                                             "b3", "late3", "a13/3", "b13", "late13", "a23/13", "b23",
                                             "late23", "a23/23", "b23", "late23"}));
}

// Only a consecutive equal value is skipped, and NaN never equals itself.
TEST(Published, DistinctSubscriptionDropsConsecutiveDuplicatesOnly) {
    Published<float> p{0.0f};
    std::vector<float> seen;
    auto sub = p.subscribeDistinct([&](const float& v) { seen.push_back(v); });
    for (float v : {0.0f, 1.0f, 1.0f, 0.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        p = v;
    }
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(std::vector<float>(seen.begin(), seen.begin() + 3), (std::vector<float>{0.0f, 1.0f, 0.0f}));
}

// A subscriber that throws leaves nothing stored and nothing wedged; one may cancel itself and another
// (which then misses the rest of the delivery), or destroy the value, and the delivery in progress still
// reaches the rest; handles outliving the value stay safe.
TEST(Published, SubscribersMayThrowCancelOrDestroyDuringADelivery) {
    auto p = std::make_unique<Published<int>>(0);
    std::vector<std::string> log;
    Subscription actor, quitter, victim, watcher;
    actor = p->subscribe([&](const int& v) {
        log.push_back("actor" + std::to_string(v));
        if (v == 1) {
            throw std::runtime_error("boom");
        }
        if (v == 3) {
            p.reset();
        }
    });
    quitter = p->subscribe([&](const int& v) {
        log.push_back("quitter" + std::to_string(v));
        if (v == 2) {
            quitter.cancel();
            victim.cancel();
        }
    });
    victim = p->subscribe([&](const int& v) { log.push_back("victim" + std::to_string(v)); });
    watcher = p->subscribe([&](const int& v) { log.push_back("watcher" + std::to_string(v)); });
    log.clear();
    EXPECT_THROW(*p = 1, std::runtime_error);
    EXPECT_EQ(p->get(), 0);
    *p = 2;
    *p = 3;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(log,
              (std::vector<std::string>{"actor1", "actor2", "quitter2", "watcher2", "actor3", "watcher3"}));
    actor.cancel();
    EXPECT_FALSE(actor.isActive());
}

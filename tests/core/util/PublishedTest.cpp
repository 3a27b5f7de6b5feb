#include "core/util/Published.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using tavrine::Published;
using tavrine::Subscription;

TEST(Published, NewSubscriberGetsCurrentValueThenEveryAssignmentBeforeItReadsBack) {
    Published<int> p{5};
    std::vector<std::pair<int, int>> seen; // (delivered, value read during delivery)
    auto sub = p.subscribe([&](const int& v) { seen.emplace_back(v, p.get()); });
    p = 6;
    p = 6;
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{5, 5}, {6, 5}, {6, 6}}));
    EXPECT_EQ(p.get(), 6);
}

TEST(Published, DistinctSubscriptionDropsConsecutiveDuplicatesOnly) {
    Published<std::string> p{"a"};
    std::vector<std::string> seen;
    auto sub = p.subscribeDistinct([&](const std::string& v) { seen.push_back(v); });
    p = "a";
    p = "b";
    p = "b";
    p = "a";
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "a"}));
}

TEST(Published, AssignmentFromASubscriberIsDeliveredAfterTheCurrentOneInOrder) {
    Published<int> p{0};
    std::vector<std::string> log;
    auto first = p.subscribe([&](const int& v) {
        log.push_back("first:" + std::to_string(v));
        if (v == 1) {
            p = 2; // re-entrant assignment
        }
    });
    auto second = p.subscribe([&](const int& v) { log.push_back("second:" + std::to_string(v)); });
    log.clear();
    p = 1;
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "second:1", "first:2", "second:2"}));
    EXPECT_EQ(p.get(), 2);
}

TEST(Published, SubscriberMayCancelItselfOrAnotherDuringDelivery) {
    Published<int> p{0};
    Subscription self, other;
    int selfCount = 0, otherCount = 0;
    self = p.subscribe([&](const int& v) {
        ++selfCount;
        if (v == 1) {
            self.cancel();
            other.cancel();
        }
    });
    other = p.subscribe([&](const int&) { ++otherCount; });
    p = 1;
    p = 2;
    EXPECT_EQ(selfCount, 2);  // initial + 1
    EXPECT_EQ(otherCount, 1); // initial only: cancelled before its turn in the delivery of 1
}

TEST(Published, HandleOutlivingThePublishedValueIsSafe) {
    Subscription sub;
    {
        Published<int> p{1};
        sub = p.subscribe([](const int&) {});
    }
    sub.cancel();
    EXPECT_FALSE(sub.isActive());
}

TEST(Published, SubscriberAddedDuringADeliveryIsNotLeftWithAStaleValue) {
    Published<int> p{0};
    Subscription late;
    std::vector<int> lateSeen;
    auto first = p.subscribe([&](const int& v) {
        if (v == 1 && !late.isActive()) {
            late = p.subscribe([&](const int& w) { lateSeen.push_back(w); });
        }
    });
    p = 1;
    p = 2;
    EXPECT_EQ(lateSeen, (std::vector<int>{0, 1, 2}));
}

TEST(Published, DistinctSubscriptionNeverSkipsNaN) {
    Published<float> p{0.0f};
    int count = 0;
    auto sub = p.subscribeDistinct([&](const float&) { ++count; });
    p = std::numeric_limits<float>::quiet_NaN();
    p = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(count, 3);
}

TEST(Published, AThrowingSubscriberDoesNotWedgeLaterAssignments) {
    Published<int> p{0};
    std::vector<int> seen;
    auto thrower = p.subscribe([](const int& v) {
        if (v == 1) {
            throw std::runtime_error("boom");
        }
    });
    auto watcher = p.subscribe([&](const int& v) { seen.push_back(v); });
    EXPECT_THROW(p = 1, std::runtime_error);
    EXPECT_EQ(p.get(), 0); // the failed delivery was not stored
    p = 2;
    EXPECT_EQ(p.get(), 2);
    EXPECT_EQ(seen, (std::vector<int>{0, 2}));
}

TEST(Published, ASubscriberMayDestroyThePublishedValueDuringDelivery) {
    auto p = std::make_unique<Published<int>>(0);
    int after = 0;
    auto killer = p->subscribe([&](const int& v) {
        if (v == 1) {
            p.reset();
        }
    });
    auto other = p->subscribe([&](const int&) { ++after; });
    *p = 1;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(after, 2); // the delivery in progress still reaches everyone
}

TEST(Published, ModificationsMadeDuringADeliveryBuildOnEachOther) {
    Published<int> p{0};
    std::vector<int> seen;
    auto bump = p.subscribe([&](const int& v) {
        seen.push_back(v);
        if (v == 1) {
            p.modify([](int& x) { x += 10; });
            p.modify([](int& x) { x += 10; });
        }
    });
    p = 1;
    EXPECT_EQ(p.get(), 21);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 11, 21}));
}

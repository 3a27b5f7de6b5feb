#include "core/filter/FilterFsm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using tavrine::DetectionInput;
using tavrine::FaceData;
using tavrine::FilterFsm;
using tavrine::FilterSettings;
using tavrine::FilterState;
using tavrine::PauseReason;
using Event = tavrine::FilterFsm::SystemEvent;

namespace {

constexpr std::int64_t t0 = 1'700'000'000'000;

DetectionInput attentive(std::int64_t t) {
    return {t, 1, FaceData{0.0f, 0.0f, 0.2f}};
}
DetectionInput away(std::int64_t t, float yaw = 45.0f, float pitch = 0.0f) {
    return {t, 1, FaceData{yaw, pitch, 0.2f}};
}
DetectionInput noFace(std::int64_t t) {
    return {t, 0, std::nullopt};
}
DetectionInput twoFaces(std::int64_t t) {
    return {t, 2, FaceData{0.0f, 0.0f, 0.2f}};
}

class FilterFsmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sub = fsm.state.subscribe([this](const FilterState& s) { published.push_back(toString(s)); });
        published.clear();
    }

    const FilterState& state() const { return fsm.state.get(); }

    // Drives the machine into alert from nominal at time t and back out after the recovery hold.
    void alertAndRecover(std::int64_t t) {
        fsm.onDetectionInput(twoFaces(t));
        ASSERT_EQ(state(), FilterState::alert());
        fsm.onDetectionInput(attentive(t + 1));
        fsm.onDetectionInput(attentive(t + 1 + FilterFsm::alertRecoveryHoldMs));
        ASSERT_EQ(state(), FilterState::nominal(3)) << "at " << t;
    }

    FilterFsm fsm;
    std::vector<std::string> published;
    tavrine::Subscription sub;
};

} // namespace

TEST_F(FilterFsmTest, StartsInactiveAndIgnoresFramesUntilActivated) {
    EXPECT_EQ(state(), FilterState::inactive());
    fsm.onDetectionInput(twoFaces(t0));
    EXPECT_EQ(state(), FilterState::inactive());
    fsm.activate();
    fsm.activate();
    EXPECT_EQ(published, (std::vector<std::string>{"nominal(3)"}));
    fsm.deactivate();
    fsm.deactivate();
    EXPECT_EQ(published, (std::vector<std::string>{"nominal(3)", "inactive"}));
}

TEST_F(FilterFsmTest, InattentionFallsAtTheFirstFrameAtOrAfterTheDelay) {
    fsm.activate();
    for (std::int64_t t = t0; t < t0 + 1500; t += 100) {
        fsm.onDetectionInput(away(t));
        ASSERT_EQ(state(), FilterState::nominal(3)) << "too early at +" << (t - t0);
    }
    fsm.onDetectionInput(away(t0 + 1500));
    EXPECT_EQ(state(), FilterState::inattention(3));
    fsm.onDetectionInput(away(t0 + 1600));
    EXPECT_EQ(published, (std::vector<std::string>{"nominal(3)", "inattention(3)"}));
}

TEST_F(FilterFsmTest, InattentionDelayFollowsTheSettings) {
    FilterSettings s;
    s.inattentionDelayMs = 500;
    fsm.updateSettings(s);
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(away(t0 + 499));
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 500));
    EXPECT_EQ(state(), FilterState::inattention(3));
}

TEST_F(FilterFsmTest, FacelessFramesNeitherStopNorRestartTheLookAway) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(noFace(t0 + 500));
    fsm.onDetectionInput(noFace(t0 + 1000));
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 1500));
    EXPECT_EQ(state(), FilterState::inattention(3));
}

TEST_F(FilterFsmTest, AnAttentiveFrameRestartsTheDelayInNominal) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(attentive(t0 + 1000));
    fsm.onDetectionInput(away(t0 + 1100));
    fsm.onDetectionInput(away(t0 + 2599));
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 2600));
    EXPECT_EQ(state(), FilterState::inattention(3));
}

TEST_F(FilterFsmTest, AttentionLimitsAreStrictOnBothAxesAndNaNLooksAway) {
    struct Case {
        float yaw, pitch;
        bool attentive;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {{29.99f, 0.0f, true},  {-29.99f, 24.99f, true}, {30.0f, 0.0f, false},
                          {-30.0f, 0.0f, false}, {0.0f, 25.0f, false},    {0.0f, -25.0f, false},
                          {nan, 0.0f, false},    {0.0f, nan, false},      {INFINITY, 0.0f, false}};
    for (const Case& c : cases) {
        FilterFsm m;
        FilterSettings s;
        s.inattentionDelayMs = 0;
        m.updateSettings(s);
        m.activate();
        m.onDetectionInput(away(t0, c.yaw, c.pitch));
        EXPECT_EQ(m.state.get().is(FilterState::Kind::nominal), c.attentive)
            << "yaw " << c.yaw << " pitch " << c.pitch << " gave " << toString(m.state.get());
    }
}

TEST_F(FilterFsmTest, InInattentionAttentiveReturnsAtOnceAndLosingTheFaceAlerts) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(away(t0 + 1500));
    ASSERT_EQ(state(), FilterState::inattention(3));
    fsm.onDetectionInput(attentive(t0 + 1600));
    EXPECT_EQ(state(), FilterState::nominal(3));

    // The look-away starts afresh after the return.
    fsm.onDetectionInput(away(t0 + 1700));
    fsm.onDetectionInput(away(t0 + 3199));
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 3200));
    ASSERT_EQ(state(), FilterState::inattention(3));
    fsm.onDetectionInput(away(t0 + 3300, 80.0f));
    EXPECT_EQ(state(), FilterState::inattention(3));
    fsm.onDetectionInput(noFace(t0 + 3400));
    EXPECT_EQ(state(), FilterState::alert());
}

TEST_F(FilterFsmTest, NoPrimaryFaceIsJudgedOnItsOwnWhateverTheFaceCount) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(away(t0 + 1500));
    ASSERT_EQ(state(), FilterState::inattention(3));
    // A count of one without a primary face is still a lost face.
    fsm.onDetectionInput({t0 + 1600, 1, std::nullopt});
    EXPECT_EQ(state(), FilterState::alert());
}

TEST_F(FilterFsmTest, AFacelessFrameInNominalChangesNothing) {
    fsm.activate();
    fsm.onDetectionInput(noFace(t0));
    fsm.onDetectionInput(noFace(t0 + 100000));
    EXPECT_EQ(published, (std::vector<std::string>{"nominal(3)"}));
}

TEST_F(FilterFsmTest, AlertHoldsFor2999msOfCalmAndLeavesAt3000) {
    fsm.activate();
    fsm.onDetectionInput(twoFaces(t0));
    ASSERT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 100)); // first calm frame
    fsm.onDetectionInput(noFace(t0 + 1000));
    fsm.onDetectionInput(away(t0 + 3099));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(noFace(t0 + 3100));
    EXPECT_EQ(state(), FilterState::nominal(3));
    EXPECT_EQ(published, (std::vector<std::string>{"nominal(3)", "alert", "nominal(3)"}));
}

TEST_F(FilterFsmTest, ATwoFaceFrameRestartsTheHold) {
    fsm.activate();
    fsm.onDetectionInput(twoFaces(t0));
    fsm.onDetectionInput(attentive(t0 + 100));
    fsm.onDetectionInput(twoFaces(t0 + 2000));
    fsm.onDetectionInput(attentive(t0 + 2100));
    fsm.onDetectionInput(attentive(t0 + 5099));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 5100));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, LeavingAlertLooksAwayAfreshInNominal) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(twoFaces(t0 + 1000));
    fsm.onDetectionInput(away(t0 + 1100));
    fsm.onDetectionInput(away(t0 + 4100));
    ASSERT_EQ(state(), FilterState::nominal(3));
    // The look-away timer was reset by entering nominal: this frame starts a new one.
    fsm.onDetectionInput(away(t0 + 4200));
    fsm.onDetectionInput(away(t0 + 5699));
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 5700));
    EXPECT_EQ(state(), FilterState::inattention(3));
}

TEST_F(FilterFsmTest, ThirdEntryInAWindowLocksTheAlertUntilThirtySecondsLater) {
    fsm.activate();
    alertAndRecover(t0);
    alertAndRecover(t0 + 5000);
    fsm.onDetectionInput(twoFaces(t0 + 10000));
    ASSERT_EQ(state(), FilterState::alert());
    // Calm frames before the lock's end keep the alert and never start the hold.
    for (std::int64_t t = t0 + 10100; t < t0 + 40000; t += 1000) {
        fsm.onDetectionInput(attentive(t));
        ASSERT_EQ(state(), FilterState::alert()) << "+" << (t - t0);
    }
    fsm.onDetectionInput(attentive(t0 + 39999));
    fsm.onDetectionInput(attentive(t0 + 40000)); // first calm frame after the lock
    fsm.onDetectionInput(attentive(t0 + 42999));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 43000));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, EntriesMoreThanFifteenSecondsApartOpenANewWindow) {
    // t and t+15000 share a window; t+15001 starts a new one with count 1, so two more entries
    // are needed for a lock.
    fsm.activate();
    alertAndRecover(t0);
    alertAndRecover(t0 + 15000);
    alertAndRecover(t0 + 30001);
    alertAndRecover(t0 + 40000);
    fsm.onDetectionInput(twoFaces(t0 + 45000)); // third of the window opened at t0 + 30001
    fsm.onDetectionInput(attentive(t0 + 45100));
    fsm.onDetectionInput(attentive(t0 + 74999));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 75000));
    fsm.onDetectionInput(attentive(t0 + 78000));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, AnEntryOneMillisecondPastTheWindowStartsANewCountOfOne) {
    fsm.activate();
    alertAndRecover(t0);
    alertAndRecover(t0 + 4000);
    alertAndRecover(t0 + 15001);                // new window: count 1, no lock
    alertAndRecover(t0 + 19001);                // count 2, no lock
    fsm.onDetectionInput(twoFaces(t0 + 23001)); // count 3: locked until t0 + 53001
    fsm.onDetectionInput(attentive(t0 + 23100));
    fsm.onDetectionInput(attentive(t0 + 53000));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 53001));
    fsm.onDetectionInput(attentive(t0 + 56001));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, AnEntryAtExactlyFifteenSecondsStillCountsInTheWindowAndLocks) {
    fsm.activate();
    alertAndRecover(t0);
    alertAndRecover(t0 + 4000);
    fsm.onDetectionInput(twoFaces(t0 + 15000));
    fsm.onDetectionInput(attentive(t0 + 15100));
    fsm.onDetectionInput(attentive(t0 + 44999));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 45000));
    fsm.onDetectionInput(attentive(t0 + 48000));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, TheFlapLockSurvivesAStopAndRestart) {
    fsm.activate();
    alertAndRecover(t0);
    alertAndRecover(t0 + 4000);
    fsm.onDetectionInput(twoFaces(t0 + 8000));
    fsm.deactivate();
    fsm.activate();
    fsm.onDetectionInput(twoFaces(t0 + 9000));
    fsm.onDetectionInput(attentive(t0 + 9100));
    fsm.onDetectionInput(attentive(t0 + 37999));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 38000));
    fsm.onDetectionInput(attentive(t0 + 41000));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, AClockJumpingBackwardsOnlyLengthensDelaysAndHolds) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(away(t0 - 60000)); // negative difference: never reaches the delay
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 1500));
    EXPECT_EQ(state(), FilterState::inattention(3));

    fsm.onDetectionInput(twoFaces(t0 + 2000));
    fsm.onDetectionInput(attentive(t0 + 2100));
    fsm.onDetectionInput(attentive(t0 - 100000));
    EXPECT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(t0 + 5100));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, ExtremeTimestampsDoNotOverflow) {
    const auto max = std::numeric_limits<std::int64_t>::max();
    const auto min = std::numeric_limits<std::int64_t>::min();
    fsm.activate();
    fsm.onDetectionInput(away(min + 1));
    fsm.onDetectionInput(away(max));
    EXPECT_EQ(state(), FilterState::inattention(3));
    fsm.onDetectionInput(twoFaces(max));
    ASSERT_EQ(state(), FilterState::alert());
    fsm.onDetectionInput(attentive(1));
    fsm.onDetectionInput(attentive(max));
    EXPECT_EQ(state(), FilterState::nominal(3));

    // Three entries near the end of time lock until the end of time rather than wrapping around.
    FilterFsm late;
    late.activate();
    for (std::int64_t t : {max - 14000, max - 9000}) {
        late.onDetectionInput(twoFaces(t));
        late.onDetectionInput(attentive(t + 1));
        late.onDetectionInput(attentive(t + 3001));
        ASSERT_EQ(late.state.get(), FilterState::nominal(3));
    }
    late.onDetectionInput(twoFaces(max - 4000));
    late.onDetectionInput(attentive(max - 3999));
    late.onDetectionInput(attentive(max - 999));
    EXPECT_EQ(late.state.get(), FilterState::alert());
}

TEST_F(FilterFsmTest, SettingsApplyFromTheNextEntryIntoAState) {
    fsm.activate();
    FilterSettings s;
    s.filterStrength = 5;
    fsm.updateSettings(s);
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0));
    fsm.onDetectionInput(away(t0 + 1500));
    EXPECT_EQ(state(), FilterState::inattention(5));
    fsm.onDetectionInput(attentive(t0 + 1600));
    EXPECT_EQ(state(), FilterState::nominal(5));
}

TEST_F(FilterFsmTest, NominalWithAnOldStrengthIsReenteredWithTheNewOne) {
    fsm.activate();
    FilterSettings s;
    s.filterStrength = 1;
    fsm.updateSettings(s);
    fsm.onSystemEvent(Event::screenOn()); // not paused: nothing
    EXPECT_EQ(state(), FilterState::nominal(3));
    fsm.onSystemEvent(Event::cameraBusy());
    fsm.onSystemEvent(Event::cameraAvailable());
    EXPECT_EQ(state(), FilterState::nominal(1));
}

TEST_F(FilterFsmTest, FramesAreIgnoredWhilePausedOrCameraBusy) {
    fsm.activate();
    fsm.onSystemEvent(Event::screenOff());
    fsm.onDetectionInput(twoFaces(t0));
    EXPECT_EQ(state(), FilterState::autoPaused(PauseReason::screenOff()));
    fsm.onSystemEvent(Event::cameraBusy());
    fsm.onDetectionInput(twoFaces(t0 + 100));
    EXPECT_EQ(state(), FilterState::cameraBusy(5000));
}

struct EventRow {
    std::string from;
    FilterState start;
    Event event;
    FilterState expected;
};

void PrintTo(const EventRow& row, std::ostream* os) {
    *os << row.from << " + event " << static_cast<int>(row.event.kind) << " -> " << toString(row.expected);
}

class FilterFsmEventTable : public ::testing::TestWithParam<EventRow> {};

namespace {

// Puts a fresh machine in the requested state through its public operations.
void driveTo(FilterFsm& m, const FilterState& target) {
    switch (target.kind) {
    case FilterState::Kind::inactive:
        return;
    case FilterState::Kind::nominal:
        m.activate();
        return;
    case FilterState::Kind::inattention:
        m.activate();
        m.onDetectionInput(away(t0));
        m.onDetectionInput(away(t0 + 5000));
        return;
    case FilterState::Kind::alert:
        m.activate();
        m.onDetectionInput(twoFaces(t0));
        return;
    case FilterState::Kind::cameraBusy:
        m.onSystemEvent(Event::cameraBusy());
        return;
    case FilterState::Kind::autoPaused:
        switch (target.reason.kind) {
        case PauseReason::Kind::screenOff:
            m.onSystemEvent(Event::screenOff());
            return;
        case PauseReason::Kind::lowBattery:
            m.onSystemEvent(Event::lowBattery());
            return;
        case PauseReason::Kind::userPaused:
            m.onSystemEvent(Event::userPause(target.reason.durationMs));
            return;
        }
    }
}

std::vector<EventRow> eventRows() {
    const FilterState states[] = {FilterState::inactive(),
                                  FilterState::nominal(3),
                                  FilterState::inattention(3),
                                  FilterState::alert(),
                                  FilterState::cameraBusy(5000),
                                  FilterState::autoPaused(PauseReason::screenOff()),
                                  FilterState::autoPaused(PauseReason::lowBattery()),
                                  FilterState::autoPaused(PauseReason::userPaused(1000))};
    const Event events[] = {Event::userPause(1000), Event::userPause(2000),  Event::screenOff(),
                            Event::screenOn(),      Event::lowBattery(),     Event::batteryOk(),
                            Event::cameraBusy(),    Event::cameraAvailable()};
    std::vector<EventRow> rows;
    for (const FilterState& s : states) {
        for (const Event& e : events) {
            FilterState expected = s;
            switch (e.kind) {
            case Event::Kind::userPause:
                expected = FilterState::autoPaused(PauseReason::userPaused(e.durationMs));
                break;
            case Event::Kind::screenOff:
                expected = FilterState::autoPaused(PauseReason::screenOff());
                break;
            case Event::Kind::screenOn:
                if (s.is(FilterState::Kind::autoPaused)) {
                    expected = FilterState::nominal(3);
                }
                break;
            case Event::Kind::lowBattery:
                expected = FilterState::autoPaused(PauseReason::lowBattery());
                break;
            case Event::Kind::batteryOk:
                if (s == FilterState::autoPaused(PauseReason::lowBattery())) {
                    expected = FilterState::nominal(3);
                }
                break;
            case Event::Kind::cameraBusy:
                expected = FilterState::cameraBusy(5000);
                break;
            case Event::Kind::cameraAvailable:
                if (s.is(FilterState::Kind::cameraBusy)) {
                    expected = FilterState::nominal(3);
                }
                break;
            }
            rows.push_back({toString(s), s, e, expected});
        }
    }
    return rows;
}

} // namespace

TEST_P(FilterFsmEventTable, EveryEventInEveryStateGivesTheTableResultAndPublishesOnlyChanges) {
    const EventRow& row = GetParam();
    FilterFsm m;
    driveTo(m, row.start);
    ASSERT_EQ(m.state.get(), row.start) << toString(m.state.get());
    int publications = 0;
    auto sub = m.state.subscribe([&](const FilterState&) { ++publications; });
    m.onSystemEvent(row.event);
    EXPECT_EQ(m.state.get(), row.expected) << "got " << toString(m.state.get());
    EXPECT_EQ(publications, row.expected == row.start ? 1 : 2); // the first is the subscription's
    m.onSystemEvent(row.event);
    EXPECT_EQ(m.state.get(), row.expected) << "a repeated event must change nothing";
    EXPECT_EQ(publications, row.expected == row.start ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(AllRows, FilterFsmEventTable, ::testing::ValuesIn(eventRows()),
                         [](const ::testing::TestParamInfo<EventRow>& info) {
                             std::string name = std::to_string(info.index) + "_" + info.param.from;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

TEST_F(FilterFsmTest, PauseReasonsReplaceEachOtherAndScreenOnEndsAnyPause) {
    fsm.activate();
    fsm.onSystemEvent(Event::lowBattery());
    fsm.onSystemEvent(Event::screenOff());
    EXPECT_EQ(state(), FilterState::autoPaused(PauseReason::screenOff()));
    fsm.onSystemEvent(Event::batteryOk());
    EXPECT_EQ(state(), FilterState::autoPaused(PauseReason::screenOff()));
    fsm.onSystemEvent(Event::userPause(60000));
    fsm.onSystemEvent(Event::screenOn());
    EXPECT_EQ(state(), FilterState::nominal(3));
    EXPECT_EQ(published,
              (std::vector<std::string>{"nominal(3)", "autoPaused(lowBattery)", "autoPaused(screenOff)",
                                        "autoPaused(userPaused(60000))", "nominal(3)"}));
}

TEST_F(FilterFsmTest, EventsDoNotTouchTheLookAwayTimerExceptThroughNominal) {
    fsm.activate();
    fsm.onDetectionInput(away(t0));
    fsm.onSystemEvent(Event::screenOn());        // nominal: nothing
    fsm.onSystemEvent(Event::cameraAvailable()); // nominal: nothing
    fsm.onDetectionInput(away(t0 + 1500));
    EXPECT_EQ(state(), FilterState::inattention(3));

    fsm.onSystemEvent(Event::screenOff());
    fsm.onSystemEvent(Event::screenOn());
    ASSERT_EQ(state(), FilterState::nominal(3));
    fsm.onDetectionInput(away(t0 + 1600)); // the timer was reset on re-entering nominal
    fsm.onDetectionInput(away(t0 + 3099));
    EXPECT_EQ(state(), FilterState::nominal(3));
}

TEST_F(FilterFsmTest, ASubscriberSeesEachStateOnceAndInOrderOverALongStream) {
    fsm.activate();
    std::int64_t t = t0;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 30; ++i, t += 100) {
            fsm.onDetectionInput(away(t));
        }
        fsm.onDetectionInput(attentive(t += 100));
        fsm.onDetectionInput(attentive(t += 100));
    }
    EXPECT_EQ(published,
              (std::vector<std::string>{"nominal(3)", "inattention(3)", "nominal(3)", "inattention(3)",
                                        "nominal(3)", "inattention(3)", "nominal(3)"}));
}

TEST(FilterAlpha, MatchesTheTableInSinglePrecision) {
    const float nominal[] = {0.3025f, 0.3575f, 0.4125f, 0.4675f, 0.5225f};
    const float inattention[] = {0.44f, 0.52f, 0.60f, 0.68f, 0.76f};
    const float alert[] = {0.55f, 0.65f, 0.75f, 0.80f, 0.80f};
    for (int strength = 1; strength <= 5; ++strength) {
        const int i = strength - 1;
        EXPECT_FLOAT_EQ(tavrine::filterAlpha(FilterState::nominal(1), strength), nominal[i]) << strength;
        EXPECT_FLOAT_EQ(tavrine::filterAlpha(FilterState::inattention(9), strength), inattention[i])
            << strength;
        EXPECT_FLOAT_EQ(tavrine::filterAlpha(FilterState::alert(), strength), alert[i]) << strength;
    }
    // Computed as a float product, the value the overlay receives.
    EXPECT_EQ(tavrine::filterAlpha(FilterState::nominal(5), 2), 0.65f * 0.55f);
}

TEST(FilterAlpha, OtherStrengthsUseTheBaseOfThreeAndIdleStatesAreClear) {
    for (int strength : {0, 6, 9, -1, std::numeric_limits<int>::min()}) {
        EXPECT_FLOAT_EQ(tavrine::filterAlpha(FilterState::nominal(3), strength), 0.4125f);
        EXPECT_FLOAT_EQ(tavrine::filterAlpha(FilterState::alert(), strength), 0.75f);
    }
    for (const FilterState& s : {FilterState::inactive(), FilterState::cameraBusy(5000),
                                 FilterState::autoPaused(PauseReason::userPaused(1))}) {
        EXPECT_EQ(tavrine::filterAlpha(s, 5), 0.0f) << toString(s);
    }
}

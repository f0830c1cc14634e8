// The run state of the clock, row by row of its table, through the menu and
// the keys of a real window: the sign of tickInterval and the timer behind it.
#include <gtest/gtest.h>

#include <QTest>

#include "window_fixture.h"

namespace {

// The run state as the user meets it: the remembered interval and the period
// of the timer that actually runs (0 when none does).
struct RunState {
    std::int32_t tickInterval;
    int timerPeriod;
    bool operator==(const RunState&) const = default;
};
std::ostream& operator<<(std::ostream& out, const RunState& s) {
    return out << "{tickInterval " << s.tickInterval << ", timer " << s.timerPeriod << "}";
}

const RunState STOPPED_FAST{-50, 0};
const RunState STOPPED_SLOW{-333, 0};
const RunState RUNNING_FAST{50, 50};
const RunState RUNNING_SLOW{333, 333};

class RunControlTest : public WindowTest {
  protected:
    RunState state() const { return {app->tickInterval, timer_period(window(), TIMER_ID)}; }
    bool ticks_within(int ms) {
        const float before = simTime();
        return wait_until([&] { return simTime() > before; }, ms);
    }
};

TEST_F(RunControlTest, StoppedRows) {
    EXPECT_EQ(state(), STOPPED_FAST) << "the program comes up stopped, fast";

    choose("Simulation", "Stop");
    EXPECT_EQ(state(), STOPPED_FAST) << "Stop while stopped changes nothing";

    choose("Rate", "Fast");
    release(Qt::Key_Up);
    EXPECT_EQ(state(), STOPPED_FAST) << "Fast while stopped starts nothing";
    choose("Rate", "Slow");
    EXPECT_EQ(state(), STOPPED_SLOW);
    release(Qt::Key_Up);
    EXPECT_EQ(state(), STOPPED_FAST);
    release(Qt::Key_Down);
    EXPECT_EQ(state(), STOPPED_SLOW);
    EXPECT_FALSE(ticks_within(400));
    EXPECT_EQ(simTime(), 0.0f);

    choose("Simulation", "Start");
    EXPECT_EQ(state(), RUNNING_SLOW) << "the period chosen while stopped";
    choose("Simulation", "Stop");
    EXPECT_EQ(state(), STOPPED_SLOW);
    choose("Rate", "Fast");
    release(Qt::Key_Space);
    EXPECT_EQ(state(), RUNNING_FAST);
    EXPECT_TRUE(ticks_within(1000));
}

TEST_F(RunControlTest, RunningRows) {
    choose("Simulation", "Start");
    ASSERT_EQ(state(), RUNNING_FAST);

    choose("Rate", "Slow");
    EXPECT_EQ(state(), RUNNING_SLOW) << "Slow while running changes the period at once";
    EXPECT_GT(timer_remaining(window(), TIMER_ID), 250);
    release(Qt::Key_Up);
    EXPECT_EQ(state(), RUNNING_FAST);
    release(Qt::Key_Down);
    EXPECT_EQ(state(), RUNNING_SLOW);

    // Start while running: the period starts again, and Start itself does not tick.
    QTest::qWait(200);
    const float before = simTime();
    const int remainingBefore = timer_remaining(window(), TIMER_ID);
    choose("Simulation", "Start");
    EXPECT_EQ(state(), RUNNING_SLOW);
    EXPECT_EQ(simTime(), before);
    EXPECT_LT(remainingBefore, 250);
    EXPECT_GT(timer_remaining(window(), TIMER_ID), 300);

    choose("Simulation", "Stop");
    EXPECT_EQ(state(), STOPPED_SLOW);
    const float stoppedAt = simTime();
    QTest::qWait(400);
    EXPECT_EQ(simTime(), stoppedAt);
}

TEST_F(RunControlTest, SpaceTwiceGivesBackTheRunStateItStartedFrom) {
    for (const RunState& start : {STOPPED_FAST, RUNNING_FAST, RUNNING_SLOW, STOPPED_SLOW}) {
        // Bring the window to the row's state through the menu.
        choose("Simulation", "Stop");
        choose("Rate", start.tickInterval == 50 || start.tickInterval == -50 ? "Fast" : "Slow");
        if (start.tickInterval > 0) choose("Simulation", "Start");
        ASSERT_EQ(state(), start);

        release(Qt::Key_Space);
        EXPECT_EQ(state(), (RunState{-start.tickInterval,
                                     start.tickInterval < 0 ? -start.tickInterval : 0}));
        release(Qt::Key_Space);
        EXPECT_EQ(state(), start);
    }
}

TEST_F(RunControlTest, ScenarioCommandsLeaveTheRunStateAsItIs) {
    const auto every_scenario_command = [this] {
        choose("Simulation", "Reset");
        release(Qt::Key_R);
        choose("Scenario", "Next");
        choose("Scenario", "Previous");
        release(Qt::Key_Right);
        release(Qt::Key_Left);
        choose("Miscommunication", "Moderate error (360)");
        choose("Miscommunication", "High error (inf)");
        choose("Miscommunication", "Low error (.0001)");
    };
    choose("Rate", "Slow");
    every_scenario_command();
    EXPECT_EQ(state(), STOPPED_SLOW);

    choose("Simulation", "Start");
    every_scenario_command();
    EXPECT_EQ(state(), RUNNING_SLOW);
    EXPECT_TRUE(wait_until([this] { return simTime() >= 1.0f; }, 2000))
        << "the rebuilt town goes on ticking";
}

}  // namespace

// Menu commands and keys in a real window: what each one does to the scenario
// (compared with the driver building the same scenario on its own), the title
// and frame that follow every one of them, the Info box, and the two ways out.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <string>

#include "sim/fingerprint.h"
#include "window_fixture.h"

namespace {

// Whole-state digests of two scenarios, without the tick number.
std::string digest(const Simulation& sim) {
    return fingerprint_line(sim, 0).text;
}

// The scenario the driver builds on its own for a seed and error level, one
// tick on: the first tick rewrites the threat flags, which a reset leaves as
// they were, and shows that the two go on alike.
std::string rebuilt(std::int32_t seed, float errorSpread) {
    auto sim = std::make_unique<Simulation>();
    sim->scenarioSeed = seed;
    sim->errorSpread = errorSpread;
    reset_scenario(*sim);
    sim_tick(*sim);
    return digest(*sim);
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class CommandTest : public WindowTest {
  protected:
    // The window's scenario after one tick of its timer.
    std::string ticked() {
        send_message(window(), WM_TIMER, TIMER_ID, 0);
        return digest(app->sim);
    }
};

TEST_F(CommandTest, FiveTicksShowTimeFiveInTheTitle) {
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=0.0");
    const long before = requested();
    for (int i = 0; i < 5; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    EXPECT_TRUE(ends_with(title(), "Time=5.0")) << title();
    EXPECT_EQ(requested(), before + 5) << "each tick asks for its frame";

    // Only timer 1 drives the clock.
    send_message(window(), WM_TIMER, 2, 0);
    EXPECT_EQ(simTime(), 5.0f);
    EXPECT_EQ(requested(), before + 5);
}

TEST_F(CommandTest, UnknownIdentifiersAndUnhandledKeysStillRefreshFrameAndTitle) {
    // The clock moves behind the window's back; only a redraw shows it.
    sim_tick(app->sim);
    sim_tick(app->sim);
    ASSERT_TRUE(ends_with(title(), "Time=0.0"));

    long before = requested();
    send_message(window(), WM_COMMAND, 99, 0);
    EXPECT_TRUE(ends_with(title(), "Time=2.0")) << title();
    EXPECT_EQ(requested(), before + 1);

    sim_tick(app->sim);
    before = requested();
    QTest::keyPress(client_widget(window()), Qt::Key_F5);
    EXPECT_TRUE(ends_with(title(), "Time=2.0")) << "a press alone does nothing";
    release(Qt::Key_F5);
    EXPECT_TRUE(ends_with(title(), "Time=3.0")) << title();
    EXPECT_EQ(requested(), before + 1);

    // Only the low 16 bits are the identifier: 0x10000 + 30 is Next.
    send_message(window(), WM_COMMAND, 0x10000 + CMD_NEXT, 0);
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
}

TEST_F(CommandTest, ScenarioCommandsRebuildTheTownAsTheDriverDoes) {
    {  // start-up: the driver's own start-up sequence, cars first, then the storm
        auto reference = std::make_unique<Simulation>();
        init_app(*reference);
        EXPECT_EQ(digest(app->sim), digest(*reference));
        sim_tick(*reference);
        EXPECT_EQ(ticked(), digest(*reference));
    }
    choose("Scenario", "Next");
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=1 Time=0.0");
    EXPECT_EQ(ticked(), rebuilt(1001, ERROR_LOW));

    release(Qt::Key_Left);
    release(Qt::Key_Left);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=0.0") << "-999 / 1000 is 0";
    EXPECT_EQ(ticked(), rebuilt(-999, ERROR_LOW));
    choose("Scenario", "Previous");
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=-1 Time=0.0");
    release(Qt::Key_Right);
    EXPECT_EQ(app->sim.scenarioSeed, -999);

    // A reset after some ticks gives back the start of the same scenario.
    for (int i = 0; i < 20; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    release(Qt::Key_R, Qt::ShiftModifier);
    EXPECT_TRUE(ends_with(title(), "Time=0.0")) << title();
    EXPECT_EQ(ticked(), rebuilt(-999, ERROR_LOW));

    // An error level rebuilds the current seed under the new level, and the
    // level holds through later resets and scenario steps.
    choose("Miscommunication", "Moderate error (360)");
    EXPECT_EQ(app->sim.errorSpread, 360.0f);
    EXPECT_EQ(ticked(), rebuilt(-999, 360.0f));
    choose("Simulation", "Reset");
    EXPECT_EQ(ticked(), rebuilt(-999, 360.0f));
    release(Qt::Key_Right);
    EXPECT_EQ(ticked(), rebuilt(1, 360.0f));
    choose("Miscommunication", "High error (inf)");
    EXPECT_EQ(app->sim.errorSpread, 1.0e30f);
    EXPECT_EQ(ticked(), rebuilt(1, 1.0e30f));
    choose("Miscommunication", "Low error (.0001)");
    EXPECT_EQ(app->sim.errorSpread, 0.001f);
    EXPECT_EQ(ticked(), rebuilt(1, 0.001f));
}

TEST_F(CommandTest, InfoShowsTheTallyAtStartUp) {
    std::string caption, text;
    when_box_opens([&](QMessageBox& box) {
        caption = box.windowTitle().toStdString();
        text = box.text().toStdString();
    });
    const long before = requested();
    release(Qt::Key_Return);
    // At start-up every one of the 720 cars is waiting at home.
    EXPECT_EQ(caption, "Current Info");
    EXPECT_EQ(text,
              "Not evacuated: 720\nEvacuated: 0\nGave up: 0\nEn route: 0\nTowed: 0\n"
              "Out of gas: 0\nTotal: 720");
    EXPECT_EQ(requested(), before + 1) << "the key's redraw follows the box";
}

TEST_F(CommandTest, InfoBoxShowsTheMomentItOpensWhileTheClockAndWindowGoOn) {
    choose("Simulation", "Start");
    ASSERT_TRUE(wait_until([this] { return simTime() >= 40.0f; }, 10000));

    std::string text;
    float openedAt = 0.0f, beforeKey = 0.0f, closedAt = 0.0f;
    std::int32_t seedWhileOpen = 0;
    when_box_opens([&](QMessageBox& box) {
        text = box.text().toStdString();
        openedAt = simTime();
        QTest::qWait(400);
        beforeKey = simTime();
        release(Qt::Key_Right);  // the main window stays usable
        seedWhileOpen = app->sim.scenarioSeed;
        QTest::qWait(200);
        closedAt = simTime();
    });
    choose("File", "Info..");

    const QRegularExpression format(
        "^Not evacuated: (\\d+)\nEvacuated: (\\d+)\nGave up: (\\d+)\nEn route: (\\d+)\n"
        "Towed: (\\d+)\nOut of gas: (\\d+)\nTotal: (\\d+)$");
    const QRegularExpressionMatch match = format.match(QString::fromStdString(text));
    ASSERT_TRUE(match.hasMatch()) << text;
    int sum = 0;
    for (int i = 1; i <= 6; ++i) sum += match.captured(i).toInt();
    EXPECT_EQ(match.captured(7).toInt(), sum) << "the total is the sum of the six counts";
    EXPECT_EQ(sum, 720) << "every car is in exactly one of them";
    EXPECT_LT(match.captured(1).toInt(), 720) << "by tick 40 someone has left";

    EXPECT_GT(beforeKey, openedAt) << "the clock ticked while the box was open";
    EXPECT_EQ(seedWhileOpen, 1001);
    EXPECT_GT(closedAt, 0.0f) << "and went on in the scenario rebuilt meanwhile";
    EXPECT_EQ(app->tickInterval, 50);
}

TEST_F(CommandTest, QuitFromTheMenuEndsTheProgramWithZero) {
    choose("Simulation", "Start");
    EXPECT_EQ(quit_by_menu(), 0);
    EXPECT_EQ(app->mainWindow, nullptr);
    // What follows a command once the window is gone does nothing and does not fail.
    present_frame(*app);
    on_command(*app, CMD_NEXT);
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
}

TEST_F(CommandTest, TheCloseBoxEndsTheProgramWithZero) {
    choose("Simulation", "Start");
    QWidget* frame = frame_widget(window());
    QTimer::singleShot(0, frame, [frame] { frame->close(); });
    EXPECT_EQ(run_message_loop(), 0);
    EXPECT_EQ(app->mainWindow, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

// The program in a real window, driven as its user drives it: menu items, key
// releases and mouse drags, and what each does to the clock, the scenario, the
// camera, the title and the boxes.
#include <QKeyEvent>
#include <QThread>
#include <algorithm>
#include <utility>
#include <vector>

#include "sim/fingerprint.h"
#include "window_fixture.h"

namespace {

// The run state as the user meets it: tickInterval, and the period of the
// timer that actually runs (0 when none does).
using RunState = std::pair<std::int32_t, int>;
const RunState STOPPED_50{-50, 0}, STOPPED_333{-333, 0}, RUNNING_50{50, 50}, RUNNING_333{333, 333};

// The scenario the driver builds on its own for a seed and error level, one
// tick on: a reset leaves the threat flags as they were and the first tick
// rewrites them, and the tick shows that the two go on alike.
std::string rebuilt(std::int32_t seed, float errorSpread) {
    auto sim = std::make_unique<Simulation>();
    sim->scenarioSeed = seed;
    sim->errorSpread = errorSpread;
    reset_scenario(*sim);
    sim_tick(*sim);
    return fingerprint_line(*sim, 0).text;
}

// A value below its lower bound is drawn for at most one step: the next step
// of its kind puts it back on the bound.
void expect_dips_once(const std::vector<float>& values, float bound, float step) {
    const auto dip = std::find_if(values.begin(), values.end(), [&](float v) { return v < bound; });
    ASSERT_TRUE(dip < values.end() - 1) << "never below " << bound;
    EXPECT_EQ(dip[1], bound);
    EXPECT_GE(*std::min_element(values.begin(), values.end()), bound - step);
}

class ShellTest : public WindowTest {
  protected:
    RunState state() const { return {app->tickInterval, timer_period(window(), TIMER_ID)}; }
    // "key " and a key sequence ("key Shift+R") releases the key, any other text
    // chooses the menu item.
    void act(const std::string& what) {
        if (!what.starts_with("key ")) return choose(what);
        const QKeyCombination key = QKeySequence(QString::fromStdString(what.substr(4)))[0];
        release(key.key(), key.keyboardModifiers());
    }
    // The window's scenario after one tick of its timer.
    std::string ticked() {
        send_message(window(), WM_TIMER, TIMER_ID, 0);
        return fingerprint_line(app->sim, 0).text;
    }
    QWidget* view() const { return client_widget(window()); }
    void press(Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mousePress(view(), button, mods, cursor = at);
    }
    // `count` drag steps of (dx, dy) with the given keys held; returns the chosen
    // camera value after each step.
    std::vector<float> drag(int count, int dx, int dy, float Camera::*value,
                            Qt::KeyboardModifiers mods = Qt::NoModifier) {
        std::vector<float> values;
        for (int i = 0; i < count; ++i) {
            QTest::mouseEvent(QTest::MouseMove, view(), Qt::NoButton, mods, cursor += {dx, dy});
            values.push_back(app->camera.*value);
        }
        return values;
    }
    void lift(Qt::MouseButton b) { QTest::mouseRelease(view(), b, Qt::NoModifier, cursor); }
    QPoint cursor;
};

TEST_F(ShellTest, TheRunStateFollowsItsTableRowByRow) {
    EXPECT_EQ(state(), STOPPED_50) << "the program comes up stopped, fast";
    const struct {
        RunState from;
        const char* event;
        RunState to;
    } rows[] = {
        {STOPPED_50, "Start", RUNNING_50},     {STOPPED_333, "Start", RUNNING_333},
        {STOPPED_50, "key Space", RUNNING_50}, {STOPPED_333, "key Space", RUNNING_333},
        {STOPPED_50, "Stop", STOPPED_50},      {STOPPED_333, "Stop", STOPPED_333},
        {STOPPED_50, "Fast", STOPPED_50},      {STOPPED_333, "key Up", STOPPED_50},
        {STOPPED_50, "Slow", STOPPED_333},     {STOPPED_50, "key Down", STOPPED_333},
        {RUNNING_50, "Start", RUNNING_50},     {RUNNING_333, "Start", RUNNING_333},
        {RUNNING_50, "Stop", STOPPED_50},      {RUNNING_333, "Stop", STOPPED_333},
        {RUNNING_50, "key Space", STOPPED_50}, {RUNNING_333, "key Space", STOPPED_333},
        {RUNNING_50, "Slow", RUNNING_333},     {RUNNING_50, "key Down", RUNNING_333},
        {RUNNING_333, "Fast", RUNNING_50},     {RUNNING_333, "key Up", RUNNING_50},
    };
    for (const auto& [from, event, to] : rows) {
        act("Stop");
        act(from.first == 333 || from.first == -333 ? "Slow" : "Fast");
        if (from.first > 0) act("Start");
        ASSERT_EQ(state(), from);
        act(event);
        EXPECT_EQ(state(), to) << event << " from " << testing::PrintToString(from);
        if (std::string(event) != "key Space") continue;
        act(event);
        EXPECT_EQ(state(), from) << "Space twice gives back the state";
    }
    // Running fast, a program busy for ten periods is not made to catch up.
    const float before = simTime();
    QThread::msleep(500);
    QTest::qWait(30);
    EXPECT_TRUE(simTime() >= before + 1.0f && simTime() <= before + 3.0f) << simTime() - before;
}

TEST_F(ShellTest, TicksCommandsAndEveryKeyEndWithAFreshFrameAndTitle) {
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=0.0");
    const long before = requested();
    for (int i = 0; i < 5; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=5.0");
    send_message(window(), WM_TIMER, TIMER_ID + 1, 0);  // only timer 1 drives the clock
    EXPECT_EQ(requested(), before + 5) << "a frame for each tick";

    // The clock moves behind the window's back; only a redraw shows it.
    sim_tick(app->sim);
    send_message(window(), WM_COMMAND, 99, 0);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=6.0") << "after an identifier not in the menu";
    sim_tick(app->sim);
    release(Qt::Key_F5);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=7.0") << "after a key of no use";
    EXPECT_EQ(requested(), before + 7);
}

TEST_F(ShellTest, ScenarioCommandsRebuildTheTownAsTheDriverDoesAndKeepTheRunState) {
    auto startUp = std::make_unique<Simulation>();
    init_app(*startUp);
    sim_tick(*startUp);
    EXPECT_EQ(ticked(), fingerprint_line(*startUp, 0).text) << "start-up is the driver's own";
    act("Slow");
    act("Start");
    // Each row follows a tick of the row before, which the rebuild must undo.
    const struct {
        const char* event;
        std::int32_t seed;
        float errorSpread;
        int scenario;  // in the title: the seed / 1000, truncated towards zero
    } rows[] = {
        {"Next", 1001, 0.001f, 1},           {"key Left", 1, 0.001f, 0},
        {"key Left", -999, 0.001f, 0},       {"Previous", -1999, 0.001f, -1},
        {"key Right", -999, 0.001f, 0},      {"Moderate error (360)", -999, 360.0f, 0},
        {"Reset", -999, 360.0f, 0},          {"key R", -999, 360.0f, 0},
        {"key Shift+R", -999, 360.0f, 0},    {"key Ctrl+R", -999, 360.0f, 0},
        {"key Right", 1, 360.0f, 0},         {"High error (inf)", 1, 1.0e30f, 0},
        {"Low error (.0001)", 1, 0.001f, 0},
    };
    for (const auto& [event, seed, errorSpread, scenario] : rows) {
        act(event);
        EXPECT_EQ(title(), "Marovel 1.0: Scenario=" + std::to_string(scenario) + " Time=0.0")
            << event;
        EXPECT_EQ(ticked(), rebuilt(seed, errorSpread)) << event;
        EXPECT_EQ(state(), RUNNING_333) << event;
    }
    // A held key acts once, on its release; auto-repeat sends releases of its own.
    QTest::keyPress(view(), Qt::Key_Right);
    for (QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
        QKeyEvent repeat(type, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(view(), &repeat);
    }
    release(Qt::Key_Right);
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
}

TEST_F(ShellTest, InfoShowsTheTallyWhileTheClockAndTheWindowGoOn) {
    act("Start");
    std::string text;
    bool tickedWhileOpen = false;
    when_box_opens([&](QMessageBox& box) {
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box blocks no window";
        text = box.windowTitle().toStdString() + ": " + box.text().toStdString();
        const float openedAt = simTime();
        QTest::qWait(300);
        tickedWhileOpen = simTime() > openedAt;
        release(Qt::Key_Right);  // the window stays usable
    });
    release(Qt::Key_Return);
    // Opened before the first tick, when every one of the 720 cars waits at home.
    EXPECT_EQ(text,
              "Current Info: Not evacuated: 720\nEvacuated: 0\nGave up: 0\nEn route: 0\n"
              "Towed: 0\nOut of gas: 0\nTotal: 720");
    EXPECT_TRUE(tickedWhileOpen);
    EXPECT_EQ(app->sim.scenarioSeed, 1001) << "a key reached the window while the box was open";
    when_box_opens([&](QMessageBox& box) { text = box.windowTitle().toStdString(); });
    choose("Info..");
    EXPECT_EQ(text, "Current Info");
}

TEST(MenuTest, TheMenusDeliverTheirIdentifiersAndHaveNoMnemonicsOrShortcuts) {
    auto app = std::make_unique<App>();
    std::vector<WParam> commands;
    app->mainWindow = create_main_window("menus", 640, 480, [&](unsigned m, WParam w, LParam) {
        if (m == WM_COMMAND) commands.push_back(w);
    });
    create_menus(*app);
    std::vector<std::string> items;  // "popup/item/identifiers delivered"
    for (QAction* popup : menu_bar_widget(app->mainWindow)->actions()) {
        EXPECT_TRUE(QKeySequence::mnemonic(popup->text()).isEmpty());
        for (QAction* item : popup->menu()->actions()) {
            EXPECT_TRUE(item->isEnabled() && !item->isCheckable() && !item->isSeparator() &&
                        item->shortcut().isEmpty() &&
                        QKeySequence::mnemonic(item->text()).isEmpty())
                << item->text().toStdString();
            item->trigger();
            items.push_back((popup->text() + "/" + item->text()).toStdString());
            for (WParam id : std::exchange(commands, {}))
                items.back().append("/").append(std::to_string(id));
        }
    }
    EXPECT_EQ(
        items,
        (std::vector<std::string>{
            "File/Info../1", "File/Quit/10", "Simulation/Start/20", "Simulation/Stop/21",
            "Simulation/Reset/22", "Rate/Slow/41", "Rate/Fast/42", "Scenario/Next/30",
            "Scenario/Previous/31", "Miscommunication/Low error (.0001)/51",
            "Miscommunication/Moderate error (360)/52", "Miscommunication/High error (inf)/53"}));
    destroy_window(app->mainWindow);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MissingPictureTest, EachGivesItsErrorBoxAndTheProgramCarriesOn) {
    auto app = std::make_unique<App>();
    std::vector<std::string> seen;
    std::function<void(QMessageBox&)> look = [&](QMessageBox& box) {
        seen.push_back(box.windowTitle().toStdString() + " " + box.text().toStdString() +
                       " cars=" + std::to_string(app->sim.vehicles.vehicleCount));
        if (seen.size() < 3) when_box_opens(look);
    };
    when_box_opens(look);
    start_app(*app, PictureSetup{{MAROVEL_SOURCE_DATA "/missing"}, show_notice_box});
    // The map and the car are read before the town is built, the storm after.
    EXPECT_EQ(seen, (std::vector<std::string>{"ERROR! init_map() - can't read map! cars=0",
                                              "ERROR! init_car() - can't read map! cars=0",
                                              "ERROR! init_storm() - can't read map! cars=720"}));
    on_command(*app, CMD_START);  // and carries on: it ticks and shows its frames
    const long shown = frame_counts(app->mainWindow).shown;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return app->sim.storm.simTime >= 3.0f && frame_counts(app->mainWindow).shown > shown + 2;
    }));
    QTimer::singleShot(0, [&] { frame_widget(app->mainWindow)->close(); });
    EXPECT_EQ(run_message_loop(), 0) << "the close box ends the program as Quit does";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(ShellTest, RightDragsPanAndZoomWithinTheirBounds) {
    const auto distance = &Camera::cameraDistance, panX = &Camera::cameraPanX;
    press(Qt::RightButton, {400, 100}, Qt::ShiftModifier);
    EXPECT_EQ(drag(10, 0, 10, distance, Qt::ShiftModifier).back(), 65.0f) << "from 60: not 70";
    expect_dips_once(drag(50, 0, -10, distance, Qt::ShiftModifier), 20.0f, 1.0f);
    EXPECT_EQ(drag(1, 0, 40, &Camera::cameraPanY).back(), 16.0f) << "without Shift it pans";
    lift(Qt::RightButton);

    press(Qt::RightButton, {300, 300});
    EXPECT_NEAR(drag(40, 10, 0, panX).back(), 10.0f, 1e-4f) << "400 pixels right at 0.025 each";
    const std::vector<float> towardsTheFarEdge = drag(60, -30, 0, panX);
    EXPECT_EQ(*std::max_element(towardsTheFarEdge.begin(), towardsTheFarEdge.end()), 40.0f);
    EXPECT_EQ(towardsTheFarEdge.back(), 40.0f);
    expect_dips_once(drag(70, 30, 0, panX), 0.0f, 0.75f);
    lift(Qt::RightButton);
}

TEST_F(ShellTest, ALeftDragMovesAndDrawsNothingBetweenItsPressAndRelease) {
    view()->clearFocus();
    const long before = requested();
    press(Qt::LeftButton, {20, 30});
    EXPECT_EQ(requested(), before + 1) << "a press redraws";
    EXPECT_TRUE(frame_widget(window())->focusWidget() == view() && has_capture(window()));
    drag(10, -5, -7, &Camera::cameraPanX, Qt::ShiftModifier);
    EXPECT_EQ(requested(), before + 1);
    const Camera& c = app->camera;  // where it started
    EXPECT_EQ((std::vector{c.cameraPanX, c.cameraPanY, c.cameraDistance}),
              (std::vector{20.f, 15.f, 60.f}));
    // The cursor is followed, also out of the window.
    EXPECT_EQ((std::pair<int, int>(app->lastMouseX, app->lastMouseY)), std::pair(-30, -40));
    lift(Qt::LeftButton);
    EXPECT_EQ(requested(), before + 2) << "a release redraws";
    EXPECT_FALSE(has_capture(window()));
    QTest::mouseMove(view(), {500, 400});  // no button: the release position stays
    EXPECT_EQ(app->lastMouseX, -30);
}

}  // namespace

// The program in a real window, driven as its user drives it: menu items, key
// releases and mouse drags, and what each does to the clock, the scenario, the
// camera, the title and the boxes.
#include <QMessageBox>
#include <algorithm>
#include <functional>
#include <tuple>

#include "sim/fingerprint.h"
#include "window_fixture.h"

namespace {

// Run states: S is stopped, R running, at 50 or 333 ms.
const RunState S50{-50, 0}, S333{-333, 0}, R50{50, 50}, R333{333, 333};

// The scenario the driver builds on its own, one tick on: a reset leaves the
// threat flags as they were and the first tick rewrites them, and the tick
// shows that the two go on alike.
std::string alone(void (*build)(Simulation&), std::int32_t seed = 1, float spread = ERROR_LOW) {
    auto sim = std::make_unique<Simulation>();
    sim->scenarioSeed = seed;
    sim->parameters.errorSpread = spread;
    build(*sim);
    sim_tick(*sim);
    return fingerprint_line(*sim, 0).text;
}

// A value below its lower bound is drawn for at most one step: the next step
// of its kind puts it back on the bound.
void expect_dips_once(const std::vector<float>& values, float bound, float step) {
    const auto dip = std::ranges::find_if(values, [&](float v) { return v < bound; });
    ASSERT_TRUE(dip < values.end() - 1) << "never below " << bound;
    EXPECT_EQ(dip[1], bound);
    EXPECT_GE(std::ranges::min(values), bound - step);
}

TEST_F(WindowTest, TheRunStateFollowsItsTableAndTheClockGoesOnUnderTheInfoBox) {
    EXPECT_EQ(state(), S50) << "the program comes up stopped, fast";
    const std::tuple<RunState, const char*, RunState> rows[] = {
        {S50, "Start", R50},       {S333, "Start", R333}, {S50, "key Space", R50},
        {S333, "key Space", R333}, {S50, "Stop", S50},    {S333, "Stop", S333},
        {S50, "Fast", S50},        {S333, "key Up", S50}, {S50, "Slow", S333},
        {S50, "key Down", S333},   {R50, "Start", R50},   {R333, "Start", R333},
        {R50, "Stop", S50},        {R333, "Stop", S333},  {R50, "key Space", S50},
        {R333, "key Space", S333}, {R50, "Slow", R333},   {R50, "key Down", R333},
        {R333, "Fast", R50},       {R333, "key Up", R50},
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
    const float before = app->sim.storm.simTime;
    QTest::qSleep(500);
    QTest::qWait(30);
    EXPECT_NEAR(app->sim.storm.simTime - before, 2.0f, 1.0f);

    std::string text;
    on_next_box([&](QMessageBox& box) {
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box blocks no window";
        text = box.windowTitle().toStdString() + ": " + box.text().toStdString();
        const float openedAt = app->sim.storm.simTime;
        QTest::qWait(300);
        EXPECT_GT(app->sim.storm.simTime, openedAt) << "the clock goes on while the box is open";
        act("key Right");  // and the window stays usable
    });
    act("Reset");
    QTest::keyClick(view(), Qt::Key_Return);  // a key acts when it is let go
    wait_for_keys();
    // Opened before the first tick of the reset town, every one of its 720 cars at home.
    EXPECT_EQ(text,
              "Current Info: Not evacuated: 720\nEvacuated: 0\nGave up: 0\nEn route: 0\n"
              "Towed: 0\nOut of gas: 0\nTotal: 720");
    EXPECT_EQ(app->sim.scenarioSeed, 1001) << "a key reached the window while the box was open";
}

TEST_F(WindowTest, TicksCommandsAndKeysRebuildTheTownAsTheDriverDoesAndRefreshTheTitle) {
    send_message(window(), WM_TIMER, TIMER_ID, 0);
    // Start-up is the driver's own.
    EXPECT_EQ(fingerprint_line(app->sim, 0).text, alone(init_app));
    for (int i = 1; i < 5; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    send_message(window(), WM_TIMER, TIMER_ID + 1, 0);  // only timer 1 drives the clock
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=5.0");
    // The clock moves behind the window's back; only a redraw shows it.
    sim_tick(app->sim);
    send_message(window(), WM_COMMAND, 99, 0);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=6.0") << "after an identifier not in the menu";
    sim_tick(app->sim);
    act("key F5");
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=0 Time=7.0") << "after a key of no use";

    act("Slow");
    act("Start");
    // Each row follows a tick of the row before, which the rebuild must undo:
    // event, seed, error level, and the scenario in the title (seed / 1000,
    // truncated towards zero).
    const std::tuple<const char*, std::int32_t, float, int> rows[] = {
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
        send_message(window(), WM_TIMER, TIMER_ID, 0);
        EXPECT_EQ(fingerprint_line(app->sim, 0).text, alone(reset_scenario, seed, errorSpread))
            << event;
        EXPECT_EQ(state(), R333) << event;
    }
    // A held key acts once, on its release; auto-repeat sends releases of its
    // own, marked as such or not (a release that a press of its key follows at
    // once), and the stopped clock must not step through scenarios meanwhile.
    act("Stop");
    QTest::keyPress(view(), Qt::Key_Right);
    for (bool marked : {true, false, false, true})
        for (bool down : {false, true})
            QTest::simulateEvent(view(), down, Qt::Key_Right, {}, {}, marked);
    wait_for_keys();
    EXPECT_EQ(app->sim.scenarioSeed, 1);
    QTest::keyRelease(view(), Qt::Key_Right);
    wait_for_keys();
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
    // Two different keys released in turn both act, in order.
    QTest::keyPress(view(), Qt::Key_Right);
    QTest::keyPress(view(), Qt::Key_Left);
    QTest::keyRelease(view(), Qt::Key_Right);
    QTest::keyRelease(view(), Qt::Key_Left);
    wait_for_keys();
    EXPECT_EQ(app->sim.scenarioSeed, 1001);
    EXPECT_EQ(title(), "Marovel 1.0: Scenario=1 Time=0.0");
}

TEST(MenuTest, TheMenusShowTheirTextsAndKeysAndDeliverTheirIdentifiers) {
    auto app = std::make_unique<App>();
    QString items;  // "popup/item shortcut/identifiers delivered", one a line
    app->mainWindow = create_main_window("menus", 640, 480, [&](unsigned m, WParam w, LParam) {
        if (m == WM_COMMAND) items += "/" + QString::number(w);
    });
    create_menus(*app);
    for (QAction* popup : menu_bar_widget(app->mainWindow)->actions())
        for (QAction* item : popup->menu()->actions()) {
            items += "\n" + popup->text() + "/" + item->text() + item->shortcut().toString();
            item->trigger();
        }
    // Exact texts: the "&" before the letter Alt opens a popup with, the key
    // after the tab, and no shortcut of Qt's own (keys act on release, through
    // the window).
    EXPECT_EQ(items.toStdString(),
              "\n&File/Open town..\tO/4\n&File/Info..\tEnter/1\n&File/Save picture..\tP/2"
              "\n&File/Record video\tV/3"
              "\n&File/Quit\tQ/10\n&Simulation/Start\tSpace/20\n&Simulation/Stop\tSpace/21"
              "\n&Simulation/Step\tS/23\n&Simulation/Reset\tR/22\n&Rate/Slow\tDown/41"
              "\n&Rate/Fast\tUp/42\nS&cenario/Next\tRight/30\nS&cenario/Previous\tLeft/31"
              "\n&Miscommunication/Low error (.0001)\t1/51"
              "\n&Miscommunication/Moderate error (360)\t2/52"
              "\n&Miscommunication/High error (inf)\t3/53\n&Miscommunication/Custom..\t4/54"
              "\n&View/Panel\tF2/60\n&View/Storm track\tT/61\n&View/Threat zone\tZ/62"
              "\n&View/Threatened houses\tH/63\n&View/Car states\tC/64\n&View/Compare\tF3/65"
              "\n&Help/Guide..\tF1/70\n&Help/Why do so many leave at once?../71");
    destroy_window(app->mainWindow);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MissingPictureTest, EachGivesItsErrorBoxAndTheProgramCarriesOn) {
    auto app = std::make_unique<App>();
    std::vector<std::string> seen;
    std::function<void(QMessageBox&)> look = [&](QMessageBox& box) {
        seen.push_back(box.windowTitle().toStdString() + " " + box.text().toStdString() +
                       " cars=" + std::to_string(app->sim.vehicles.vehicleCount));
        if (seen.size() < 3) on_next_box(look);
    };
    on_next_box(look);
    start_app(*app, PictureSetup{{MAROVEL_SOURCE_DATA "/missing"}, show_notice_box});
    // The map and the car are read before the town is built, the storm after;
    // each box names its own picture and the folder searched.
    const std::string where = ": no folder holds it (looked in " MAROVEL_SOURCE_DATA "/missing)";
    EXPECT_EQ(
        seen,
        (std::vector<std::string>{
            "ERROR! init_map() - can't read the map picture map.bmp" + where + " cars=0",
            "ERROR! init_car() - can't read the car picture car.bmp" + where + " cars=0",
            "ERROR! init_storm() - can't read the storm picture storm.bmp" + where + " cars=720"}));
    on_command(*app, CMD_START);  // and carries on: it ticks and shows its frames
    const long shown = frame_counts(app->mainWindow).shown;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return app->sim.storm.simTime >= 3.0f && frame_counts(app->mainWindow).shown > shown + 2;
    }));
    QTimer::singleShot(0, [&] { frame_widget(app->mainWindow)->close(); });
    EXPECT_EQ(run_message_loop(), 0) << "the close box ends the program as Quit does";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Left first: it must leave the camera where it started (pan 20, 15; distance
// 60), which the right drags after it start from.
TEST_F(WindowTest, OnlyARightDragMovesTheCameraAndOnlyWithinItsBounds) {
    view()->clearFocus();
    const long before = requested();
    QTest::mousePress(view(), Qt::LeftButton, {}, cursor = {20, 30});
    EXPECT_EQ(requested(), before + 1) << "a press redraws";
    EXPECT_TRUE(frame_widget(window())->focusWidget() == view() && has_capture(window()));
    drag(10, -5, -7, &Camera::cameraPanX, Qt::ShiftModifier);
    EXPECT_EQ(requested(), before + 1) << "a left drag draws nothing";
    // The cursor is followed, also out of the window.
    EXPECT_EQ((std::pair<int, int>(app->lastMouseX, app->lastMouseY)), std::pair(-30, -40));
    QTest::mouseRelease(view(), Qt::LeftButton, {}, cursor);
    EXPECT_EQ(requested(), before + 2) << "a release redraws";
    EXPECT_FALSE(has_capture(window()));

    const auto distance = &Camera::cameraDistance, panX = &Camera::cameraPanX;
    QTest::mousePress(view(), Qt::RightButton, {}, cursor = {400, 100});
    EXPECT_EQ(drag(10, 0, 10, distance, Qt::ShiftModifier).back(), 65.0f) << "from 60: not 70";
    expect_dips_once(drag(50, 0, -10, distance, Qt::ShiftModifier), 20.0f, 1.0f);
    EXPECT_EQ(drag(1, 0, 40, &Camera::cameraPanY).back(), 16.0f) << "without Shift it pans";
    EXPECT_NEAR(drag(40, 10, 0, panX).back(), 10.0f, 1e-4f) << "400 pixels right at 0.025 each";
    const std::vector<float> far = drag(60, -30, 0, panX);  // clamped at the far edge
    EXPECT_EQ(std::pair(std::ranges::max(far), far.back()), std::pair(40.0f, 40.0f));
    expect_dips_once(drag(70, 30, 0, panX), 0.0f, 0.75f);
    QTest::mouseRelease(view(), Qt::RightButton, {}, cursor);
}

}  // namespace

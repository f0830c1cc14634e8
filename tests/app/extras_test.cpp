// The window's widgets beside the town, driven in a real window as a user
// drives them: the panel's monitors, plot, run controls and parameters, the
// inspector, the View choices kept between launches, the custom error level,
// the menu bar's keys, and saving and recording the view.
#include "app/extras.h"

#include <QCheckBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <functional>

#include "app/car_viewer.h"
#include "app/panel.h"
#include "experiments/pictures/movie.h"
#include "extras_fixture.h"
#include "render/town_map.h"
#include "sim/town_text.h"
#include "support/command.h"

namespace {

// The extras' window with the ways these tests tick, click and find a cell.
class ExtrasTest : public ExtrasWindowTest {
  protected:
    void click(QWidget* widget, QPoint at = {}) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
    }
    // The client pixel (in Qt's units) at the middle of a cell with the start
    // camera: 30 rows fill the view's height, the town's middle (20, 15) is at
    // its centre, rows count up the screen.
    QPoint pixel_of(CellPos c) const {
        const double perCell = view()->height() / 30.0;
        return QPoint(static_cast<int>(view()->width() / 2.0 + (c.x + 0.5 - 20.0) * perCell),
                      static_cast<int>(view()->height() / 2.0 - (c.y + 0.5 - 15.0) * perCell));
    }
};

TEST_F(ExtrasTest, ThePanelOpensBesideTheViewAndFollowsEveryTickOfTheRun) {
    const QSize viewBefore = view()->size();
    EXPECT_FALSE(extras->dock()->isVisible()) << "closed at first";
    act("Panel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return extras->dock()->isVisible(); }));
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_PANEL));
    // The window grows by the panel up to the screen's edge; what it cannot
    // grow the town's view gives up, its height kept.
    const QRect screen = frame_widget(window())->screen()->availableGeometry();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return view()->height() == viewBefore.height() &&
               (view()->width() == viewBefore.width() ||
                frame_widget(window())->frameGeometry().right() == screen.right());
    })) << view()->width() << "x" << view()->height();
    EXPECT_TRUE(screen.contains(extras->dock()->mapToGlobal(extras->dock()->rect().bottomRight())))
        << "the panel on the screen whole";

    // The monitors and the plot against the driver's own run.
    tick(150);
    const auto alone = driver_run(150, {}, 1, true);
    const VehicleTally t = tally_vehicles(alone->vehicles);
    ASSERT_EQ(print(app->sim), print(*alone));
    EXPECT_EQ(panel().monitor("counts"), counts_text(t));
    EXPECT_EQ(panel().monitor("run"), "stopped at tick 150");
    EXPECT_EQ(panel().monitor("scenario"), "0 (seed 1)");
    EXPECT_TRUE(panel().monitor("error").startsWith("low"))
        << panel().monitor("error").toStdString();
    EXPECT_TRUE(panel().monitor("changed").startsWith("none"));

    // (Each curve against the driver's tallies tick for tick: CompareTest.)
    ASSERT_EQ(panel().plotted(1).size(), 151) << "tick 0 and every tick since";
    EXPECT_EQ(panel().plotted(1).back(), QPointF(150, t.evacuated));
    EXPECT_EQ(panel().plotted(6).back(), QPointF(150, 720)) << "the total";
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel().drawn_points() == 151; }))
        << panel().drawn_points() << " points on the screen";
    act("Reset");
    EXPECT_EQ(panel().plotted(1), QList<QPointF>{QPointF(0, 0)}) << "a rebuild starts it again";
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel().drawn_points() == 1; }));

    act("Start");
    EXPECT_TRUE(panel().monitor("run").startsWith("running"));
    EXPECT_TRUE(panel().monitor("rate").startsWith("20 ticks/s chosen (every 50 ms); "))
        << panel().monitor("rate").toStdString();
    act("key F2");
    EXPECT_FALSE(extras->dock()->isVisible());
    EXPECT_FALSE(menu_item_checked(app->menuBar, CMD_PANEL));
}

TEST_F(ExtrasTest, RunControlsStartStopStepSetTheSpeedAndRunToATick) {
    act("Panel");
    click(panel().start_stop_button());
    EXPECT_EQ(state(), (RunState{50, 50}));
    click(panel().start_stop_button());
    EXPECT_EQ(state(), (RunState{-50, 0}));
    // Step: one tick, from the button, the key and the menu alike, the clock stopped.
    click(panel().step_button());
    act("key S");
    act("Step");
    EXPECT_EQ(app->sim.storm.simTime, 3.0f);
    EXPECT_EQ(state(), (RunState{-50, 0}));
    // The slider from one tick a second to 1000; running, the timer follows at once.
    act("Start");
    const std::pair<int, RunState> positions[] = {
        {0, {1000, 1000}}, {SPEED_STEPS, {1, 1}}, {SPEED_STEPS / 3, {100, 100}}};
    for (const auto& [position, expected] : positions) {
        panel().speed_slider()->setValue(position);
        EXPECT_EQ(state(), expected) << "position " << position;
    }
    EXPECT_FALSE(menu_item_checked(app->menuBar, CMD_SLOW) ||
                 menu_item_checked(app->menuBar, CMD_FAST))
        << "10 ticks a second is neither menu rate";
    act("Fast");
    EXPECT_EQ(panel().speed_slider()->value(), position_of_period(50));
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_FAST));
    act("Stop");
    // Run to tick 400: the driver's town at 400, the clock still stopped, and a
    // tick already passed stays.
    panel().run_to_box()->setValue(400);
    click(panel().run_to_button());
    EXPECT_EQ(print(app->sim), print(*driver_run(400, {}, 1, true)));
    panel().run_to_box()->setValue(10);
    click(panel().run_to_button());
    EXPECT_EQ(app->sim.storm.simTime, 400.0f);
    EXPECT_EQ(panel().plotted(0).size(), 401);
}

TEST_F(ExtrasTest, EditedParametersReachTheTownOnlyThroughApplyAndReset) {
    act("Panel");
    ASSERT_TRUE(panel().edit("cars_per_house", "1"));
    ASSERT_TRUE(panel().edit("error_spread", "360"));
    EXPECT_TRUE(panel().marked("cars_per_house") && panel().marked("error_spread"));
    EXPECT_FALSE(panel().marked("trip_effort"));
    EXPECT_FALSE(panel().edit("cars_per_house", "1.5")) << "a whole number";
    EXPECT_FALSE(panel().edit("patience_min", "-1")) << "out of range";
    // Neither a tick nor a rebuild of another kind takes them.
    tick();
    act("Reset");
    act("key Right");
    act("key Left");
    EXPECT_EQ(app->sim.vehicles.vehicleCount, 720);
    EXPECT_EQ(app->sim.parameters.errorSpread, static_cast<double>(ERROR_LOW));
    EXPECT_TRUE(panel().marked("cars_per_house"));

    click(panel().apply_button());
    ModelParameters p;
    p.carsPerHouse = 1;
    p.errorSpread = 360;
    EXPECT_EQ(app->sim.vehicles.vehicleCount, 360);
    EXPECT_FALSE(panel().marked("cars_per_house") || panel().marked("error_spread"));
    tick(5);
    // The town Reset builds under those values, as the driver builds it.
    EXPECT_EQ(print(app->sim), print(*driver_run(5, p)));
    EXPECT_EQ(panel().monitor("changed"), "error_spread=360 (moderate), cars_per_house=1");
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_ERROR_MODERATE));

    // An error level from the menu moves the value nobody edited since.
    act("High error (inf)");
    EXPECT_EQ(panel().edited().errorSpread, static_cast<double>(ERROR_HIGH));
    EXPECT_FALSE(panel().marked("error_spread"));
    // A minimum above its maximum cannot be applied.
    ASSERT_TRUE(panel().edit("fuel_min", "390"));
    ASSERT_TRUE(panel().edit("fuel_max", "300"));
    EXPECT_FALSE(panel().apply_button()->isEnabled());
    panel().edit_defaults();
    click(panel().apply_button());
    EXPECT_EQ(app->sim.vehicles.vehicleCount, 720);
    EXPECT_TRUE(panel().monitor("changed").startsWith("none"));
}

TEST_F(ExtrasTest, ACustomErrorLevelIsCheckedAndTheMenusOpenWithAltAndGiveTheKeysBack) {
    // The menu's own levels and Custom are checked by the spread that runs.
    const std::pair<const char*, CommandId> levels[] = {
        {"Moderate error (360)", CMD_ERROR_MODERATE}, {"Low error (.0001)", CMD_ERROR_LOW}};
    for (const auto& [item, id] : levels) {
        act(item);
        for (CommandId other :
             {CMD_ERROR_LOW, CMD_ERROR_MODERATE, CMD_ERROR_HIGH, CMD_ERROR_CUSTOM})
            EXPECT_EQ(menu_item_checked(app->menuBar, other), other == id) << item << " " << other;
    }
    // (The Custom.. dialog itself is driven by Legible.TheEnterThatCloses...)
    EXPECT_TRUE(extras->set_custom_error("120.5"));
    EXPECT_EQ(app->sim.parameters.errorSpread, 120.5);
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_ERROR_CUSTOM));
    EXPECT_FALSE(menu_item_checked(app->menuBar, CMD_ERROR_LOW));
    EXPECT_TRUE(extras->set_custom_error("inf"));
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_ERROR_HIGH)) << "inf is the high level";
    EXPECT_FALSE(extras->set_custom_error("-3"));
    EXPECT_FALSE(extras->set_custom_error("0x10"));

    // Alt+letter opens each popup; Escape closes it and the next key reaches the town.
    frame_widget(window())->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_widget(window())));
    view()->setFocus();
    const std::pair<Qt::Key, const char*> popups[] = {
        {Qt::Key_F, "&File"},     {Qt::Key_S, "&Simulation"},       {Qt::Key_R, "&Rate"},
        {Qt::Key_C, "S&cenario"}, {Qt::Key_M, "&Miscommunication"}, {Qt::Key_V, "&View"}};
    for (const auto& [letter, title] : popups) {
        QTest::keyClick(frame_widget(window()), letter, Qt::AltModifier);
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr) << title;
        EXPECT_EQ(qobject_cast<QMenu*>(popup)->title().toStdString(), title);
        QTest::keyClick(popup, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }));
        QTest::qWait(20);
        ASSERT_EQ(QApplication::focusWidget(), view()) << "after " << title;
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    send_pending_key(window());
    EXPECT_EQ(state(), (RunState{50, 50})) << "Space reached the town view";
}

TEST_F(ExtrasTest, AClickOpensTheInspectorOnThatCellsCarsAndItFollowsThem) {
    // A house of the first row of houses: its two cars, live.
    CellPos house{};
    for (int i = 0; i < app->sim.vehicles.vehicleCount; ++i)
        if (app->sim.vehicles.vehicles[i].home.y == 27) {
            house = app->sim.vehicles.vehicles[i].home;
            break;
        }
    ASSERT_EQ(cell_at(app->sim.grid, house).layout, LAYOUT_HOUSE);
    QTest::mouseClick(view(), Qt::LeftButton, {}, pixel_of(house));
    Inspector& inspector = *extras->inspector();
    ASSERT_TRUE(inspector.isVisible());
    EXPECT_FALSE(inspector.isModal());
    EXPECT_EQ(std::pair(inspector.cell().x, inspector.cell().y), std::pair(house.x, house.y));
    ASSERT_EQ(inspector.cars().size(), 2u);
    const auto shown = [&](int row, int column) {
        return inspector.table()->item(row, column)->text().toStdString();
    };
    // Every column against what the simulation holds, as the clock runs.
    for (int ticks : {0, 300, 300}) {
        tick(ticks);
        for (int row = 0; row < 2; ++row) {
            const int i = inspector.cars()[static_cast<std::size_t>(row)];
            const Vehicle& v = app->sim.vehicles.vehicles[i];
            const DecisionRecord r = decision_record(app->sim.decisions, i);
            EXPECT_EQ(v.home, house);
            EXPECT_EQ(shown(row, 0), std::to_string(i));
            EXPECT_EQ(shown(row, 3), QString("(%1, %2)").arg(v.pos.x).arg(v.pos.y).toStdString());
            EXPECT_EQ(shown(row, 4), std::to_string(v.patience));
            EXPECT_EQ(shown(row, 5), std::to_string(v.fuel));
            EXPECT_NEAR(std::stod(shown(row, 8)), r.departureTime, 0.051);
            EXPECT_NEAR(std::stod(shown(row, 7)), r.signal, std::fabs(r.signal) * 1e-5 + 1e-6);
            EXPECT_EQ(shown(row, 10), app->sim.storm.threatFlags[i] ? "yes" : "no");
        }
    }
    // A drag is no click; a click on a road cell follows that cell's cars.
    QTest::mousePress(view(), Qt::LeftButton, {}, pixel_of({1, 1}));
    QTest::mouseMove(view(), pixel_of({3, 1}));
    QTest::mouseRelease(view(), Qt::LeftButton, {}, pixel_of({3, 1}));
    EXPECT_EQ(inspector.cell().x, house.x);
    const CellPos road = app->sim.vehicles.vehicles[inspector.cars()[0]].pos;
    if (!(road == house)) {
        QTest::mouseClick(view(), Qt::LeftButton, {}, pixel_of(road));
        EXPECT_EQ(std::pair(inspector.cell().x, inspector.cell().y), std::pair(road.x, road.y));
        EXPECT_FALSE(inspector.cars().empty());
    }
}

TEST_F(ExtrasTest, OverlaysAreOffAtFirstAndEachChoiceIsKeptForTheNextLaunch) {
    EXPECT_FALSE(app->overlays.any());
    const std::pair<const char*, bool SceneOverlays::*> items[] = {
        {"Storm track", &SceneOverlays::stormTrack},
        {"Threat zone", &SceneOverlays::threatZone},
        {"Threatened houses", &SceneOverlays::threatenedHouses},
        {"Car states", &SceneOverlays::carStates}};
    for (const auto& [item, flag] : items) act(item);
    for (const auto& [item, flag] : items) EXPECT_TRUE(app->overlays.*flag) << item;
    EXPECT_TRUE(extras->legend()->isVisible()) << "the car colours come with their legend";
    act("Panel");
    act("key T");  // the track off again, by its key
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_SHOW_ZONE));
    EXPECT_FALSE(menu_item_checked(app->menuBar, CMD_SHOW_TRACK));

    // The next launch of the program reads them back.
    App next;
    next.mainWindow = create_main_window("next", 640, 480, [](unsigned, WParam, LParam) {});
    create_menus(next);
    {
        WindowExtras again(next);
        EXPECT_FALSE(next.overlays.stormTrack);
        EXPECT_TRUE(next.overlays.threatZone && next.overlays.threatenedHouses &&
                    next.overlays.carStates && next.panelShown);
    }
    destroy_window(next.mainWindow);
    // The window goes on the next turn of the loop, and its panel still reads
    // `next` then: that turn comes before `next` itself goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QSettings().clear();
}

TEST_F(ExtrasTest, TheViewIsSavedAsAPictureAndRecordedFrameByFrameWithItsTickStamped) {
    const QImage saved = saved_picture();
    EXPECT_EQ(saved.size(), view()->size() * MAROVEL_TEST_SCALE_FACTOR);
    EXPECT_NE(saved.pixelColor(saved.rect().center()), QColor(160, 160, 160))
        << "the town, not grey";
    QTemporaryDir folder;
    QString error;
    EXPECT_FALSE(extras->save_picture(folder.filePath("no/such/folder/view.png"), error));

    if (find_ffmpeg().empty()) GTEST_SKIP() << "no ffmpeg program to record an MP4 with";
    const QString movie = folder.filePath("run.mp4");
    const long before = frame_counts(window()).shown;
    ASSERT_TRUE(extras->start_recording(movie, 1, error)) << error.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame_counts(window()).shown > before; }));
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_RECORD));
    for (int i = 0; i < 40; ++i) {  // each frame far more than a pipe holds
        const long shown = frame_counts(window()).shown;
        tick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame_counts(window()).shown > shown; }));
    }
    ASSERT_TRUE(extras->stop_recording(error)) << error.toStdString();
    EXPECT_EQ(extras->recorded_frames(), 41) << "the frame on the screen, then one a tick";
    const CommandResult probe = run_command(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames -of csv=p=0 '" +
        movie.toStdString() + "'");
    EXPECT_EQ(probe.out, "41\n") << probe.err;

    // Every 10th tick into numbered PNGs, each stamped in its top-left corner.
    ASSERT_TRUE(extras->start_recording(folder.filePath("frames.png"), 10, error));
    tick(1);
    for (int i = 0; i < 20; ++i) {
        const long shown = frame_counts(window()).shown;
        tick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame_counts(window()).shown > shown; }));
    }
    ASSERT_TRUE(extras->stop_recording(error));
    EXPECT_EQ(extras->recorded_frames(), 3) << "ticks 41 (the first), 50 and 60";
    const QImage first(folder.filePath("frames_000001.png"));
    const QImage last(folder.filePath("frames_000003.png"));
    ASSERT_FALSE(first.isNull() || last.isNull());
    EXPECT_FALSE(QFile::exists(folder.filePath("frames_000004.png")));
    const QRect corner(10, 10, 200, 12);
    EXPECT_NE(first.copy(corner), last.copy(corner)) << "the stamps differ with the tick";
}

// A town drawn from OpenStreetMap shows the map's credit over the view and on
// saved pictures; the same town without its source shows
// none, and its picture differs only where the credit stood.
TEST_F(ExtrasTest, ATownFromOpenStreetMapCreditsTheMapOnTheScreenAndInPictures) {
    QTemporaryDir folder;
    const std::string cells = "name = street\nexit = 0,1\nexit = 24,1\ngrid\n"
                              "+++++++++++++++++++++++++\nNNNNNNNNNNNN.NNNNNNNNNNNN\n";
    const QString mapped =
        write_file(folder.filePath("mapped.town"),
                   "source = map data (c) OpenStreetMap contributors, ODbL 1.0\n" + cells);
    const QString classed =
        write_file(folder.filePath("classed.town"),
                   cells + "roads\nPPPPPPPPPPPPRRRRRRRRRRRRR\n.........................\n");
    const QString plain = write_file(folder.filePath("plain.town"), cells);
    QString error;
    const auto shown = [&](const QString& town) {
        EXPECT_TRUE(extras->open_town_file(town, error)) << error.toStdString();
        present_frame(*app);
        return saved_picture();
    };
    const QImage withCredit = shown(mapped);
    QLabel* credit = extras->credit();
    ASSERT_TRUE(credit->isVisible());
    EXPECT_NE(credit->text().indexOf("OpenStreetMap contributors"), -1)
        << credit->text().toStdString();
    EXPECT_TRUE(QRect(QPoint(0, 0), view()->size()).contains(credit->geometry()));
    const QImage without = shown(plain);
    EXPECT_FALSE(credit->isVisible());
    const QLabel& legend = *extras->legend();
    EXPECT_FALSE(legend.isVisible()) << "grey roads and no overlay need no key";
    ASSERT_EQ(withCredit.size(), without.size());
    int changed = 0;
    for (int y = 0; y < without.height(); ++y)
        for (int x = 0; x < without.width(); ++x)
            if (withCredit.pixel(x, y) != without.pixel(x, y)) {
                ++changed;
                ASSERT_GT(x, without.width() / 2) << "at (" << x << ", " << y << ")";
                ASSERT_GT(y, without.height() * 3 / 4) << "at (" << x << ", " << y << ")";
            }
    EXPECT_GT(changed, 50) << "the saved picture carries the credit";

    // A town whose roads are drawn by class comes with their key, every overlay off, and
    // the key lists only the classes the town has.
    shown(classed);
    ASSERT_FALSE(app->overlays.any());
    ASSERT_TRUE(legend.isVisible());
    const std::string key = legend.text().toStdString();
    EXPECT_NE(key.find("primary"), std::string::npos) << key;
    EXPECT_NE(key.find("street"), std::string::npos) << key;
    EXPECT_EQ(key.find("motorway"), std::string::npos) << key;
    shown(plain);
    EXPECT_FALSE(legend.isVisible()) << "the key goes with the town";
}

// File > Open town chooses the file in its dialog; the town the rebuilt
// scenario runs on is then the one drawn, fitted, counted, titled and inspected.
// A bad file says where it is at fault in a box and changes nothing.
TEST_F(ExtrasTest, OpenTownLoadsTheChosenTownAndABadFileShowsWhereAndKeepsTheTown) {
    const auto open_in_dialog = [this](const QString& file) {
        when_shown<QFileDialog>([file](QFileDialog& dialog) {
            dialog.selectFile(file);
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        act("Open town..");
    };
    const QString good = MAROVEL_SOURCE_DIR "/tests/sim/towns/two_exits.town";
    const std::string status = "Marovel 1.0: Scenario=0 Time=0.0";
    open_in_dialog(good);
    const Town& town = *app->sim.town;
    ASSERT_EQ(town.name, "two exits");
    EXPECT_EQ(std::pair(app->sim.grid.width, app->sim.grid.height), std::pair(9, 2));
    EXPECT_EQ(title(), status + " - two exits");
    // The scenario as Reset builds it on that town, counted as the Info box counts.
    auto alone = std::make_unique<Simulation>();
    build_scenario(*alone, ScenarioSetup{1, {}, false}, app->sim.town);
    EXPECT_STREQ(info_text(app->sim.vehicles).text, info_text(alone->vehicles).text);
    EXPECT_EQ(app->sim.vehicles.vehicleCount, 16) << "eight houses of two cars";
    const Camera fitted = fitted_camera(9, 2);
    EXPECT_EQ(
        std::tuple(app->camera.cameraPanX, app->camera.cameraPanY, app->camera.cameraDistance),
        std::tuple(fitted.cameraPanX, fitted.cameraPanY, fitted.cameraDistance));

    // On the screen: the exits red at the ends of the street, the gap between the
    // houses (each cell's colour is held against the cells by Overlays.AnotherTownsMap...).
    const auto pixel_in = [this](CellPos c, double fx = 0.5, double fy = 0.5) {
        const double perCell = view()->height() / (app->camera.cameraDistance / 2.0);
        return QPoint(
            static_cast<int>(view()->width() / 2.0 + (c.x + fx - app->camera.cameraPanX) * perCell),
            static_cast<int>(view()->height() / 2.0 -
                             (c.y + fy - app->camera.cameraPanY) * perCell));
    };
    const QImage shown = saved_picture();
    const auto colour_at = [&](CellPos c, double fx = 0.5, double fy = 0.5) {
        return shown.pixelColor(pixel_in(c, fx, fy) * MAROVEL_TEST_SCALE_FACTOR);
    };
    EXPECT_EQ(colour_at({0, 1}), QColor(TOWN_EXIT.r, TOWN_EXIT.g, TOWN_EXIT.b));
    EXPECT_EQ(colour_at({8, 1}), QColor(TOWN_EXIT.r, TOWN_EXIT.g, TOWN_EXIT.b));
    EXPECT_EQ(colour_at({4, 0}), QColor(TOWN_LAND.r, TOWN_LAND.g, TOWN_LAND.b)) << "the gap";

    // A click on a house of the new town opens the inspector on its two cars.
    QTest::mouseClick(view(), Qt::LeftButton, {}, pixel_in({6, 0}));
    Inspector& inspector = *extras->inspector();
    ASSERT_TRUE(inspector.isVisible());
    EXPECT_EQ(std::pair(inspector.cell().x, inspector.cell().y), std::pair(6, 0));
    EXPECT_EQ(inspector.cars().size(), 2u);
    inspector.hide();

    // A town with an unknown cell: the box names the file, line and column.
    QTemporaryDir folder;
    const QString bad = write_file(folder.filePath("bad.town"), "exit = 0,1\ngrid\n+++\nN?N\n");
    std::string boxText;
    when_shown<QMessageBox>([&](QMessageBox& box) {
        boxText = box.text().toStdString();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    open_in_dialog(bad);
    EXPECT_TRUE(boxText.starts_with(bad.toStdString() + ":4:2:")) << boxText;
    EXPECT_EQ(&*app->sim.town, &town) << "the town shown stays";
    EXPECT_EQ(title(), status + " - two exits");

    // Back to the built-in town from its own text: its painted map, no name in the title.
    open_in_dialog(write_file(folder.filePath("builtin.town"), format_town(builtin_town())));
    EXPECT_EQ(&*app->sim.town, &builtin_town());
    EXPECT_EQ(app->camera.cameraDistance, 60.0f);
    EXPECT_EQ(title(), status);
}

TEST_F(ExtrasTest, InfoBoxesOpenEachALittleBelowAndRightOfTheLast) {
    std::vector<QPoint> places;
    std::function<void()> look = [&] {
        QMessageBox* newest = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(top); box != nullptr && box->isVisible())
                if (std::find(places.begin(), places.end(), box->pos()) == places.end())
                    newest = box;
        if (newest == nullptr) return QTimer::singleShot(10, look);
        places.push_back(newest->pos());
        if (places.size() < 3) {
            QTimer::singleShot(10, look);
            return QTimer::singleShot(0, [this] { act("Info.."); });
        }
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(top)) box->done(0);
    };
    QTimer::singleShot(10, look);
    act("Info..");
    ASSERT_EQ(places.size(), 3u);
    EXPECT_EQ(places[1] - places[0], QPoint(24, 24));
    EXPECT_EQ(places[2] - places[1], QPoint(24, 24));
}

}  // namespace

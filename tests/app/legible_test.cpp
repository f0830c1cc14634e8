// What a class reads off the window: keys that act only where they were
// pressed, one colour per car state in every part of the window, a town that
// scales with the window, and values as the model uses them.
#include <QDoubleSpinBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <cmath>
#include <functional>
#include <set>

#include "app/car_viewer.h"
#include "app/extras.h"
#include "app/panel.h"
#include "experiments/planning/parameter_text.h"
#include "render/scene.h"
#include "extras_fixture.h"

namespace {

constexpr QRgb CLEAR = qRgb(160, 160, 160);  // the grey around the map

class Legible : public ExtrasWindowTest {
  protected:
    // The frame on the screen after everything asked for so far, in device pixels.
    QImage frame() {
        present_frame(*app);
        const long shown = frame_counts(window()).shown;
        EXPECT_TRUE(QTest::qWaitFor([&] { return frame_counts(window()).shown > shown; }));
        return qobject_cast<QOpenGLWidget*>(view())->grabFramebuffer();
    }
    // Where a map point lies in the frame (device pixels).
    QPoint device_pixel(double x, double y) const {
        double px = 0.0, py = 0.0;
        EXPECT_TRUE(pixel_of_point(app->camera, app->clientWidth, app->clientHeight, x, y, px, py));
        return QPoint(static_cast<int>(std::floor(px)), static_cast<int>(std::floor(py)));
    }
    // The same in Qt's units on the view.
    QPoint view_point(double x, double y) const {
        const QPoint p = device_pixel(x, y);
        return p / MAROVEL_TEST_SCALE_FACTOR;
    }
    // Boxes that open while `during` runs are counted and closed.
    int boxes_during(const std::function<void()>& during) {
        BoxDismisser dismiss(50);
        during();
        QTest::qWait(200);
        return dismiss.boxes;
    }
};

// Keys act when released. The Enter that closes the Info box, or confirms the
// custom error level, is pressed in that box and released over the town: the
// release must not open another Info box. Pressed and released on the town,
// Enter still opens one.
TEST_F(Legible, TheEnterThatClosesABoxOrConfirmsADialogDoesNotReachTheTown) {
    const auto release_on_town = [this] {
        QTest::keyRelease(view(), Qt::Key_Return);
        send_pending_key(window());
    };
    when_shown<QMessageBox>([](QMessageBox& box) { QTest::keyPress(&box, Qt::Key_Return); });
    act("Info..");
    EXPECT_EQ(boxes_during(release_on_town), 0) << "after the Info box";

    when_shown<QInputDialog>([](QInputDialog& dialog) {
        dialog.setTextValue(QStringLiteral("180"));
        QTest::keyPress(&dialog, Qt::Key_Return);
    });
    act("Custom..");
    EXPECT_EQ(app->sim.parameters.errorSpread, 180.0) << "the dialog took the Enter";
    EXPECT_EQ(boxes_during(release_on_town), 0) << "after the custom error level";

    EXPECT_EQ(boxes_during([this] {
                  QTest::keyClick(view(), Qt::Key_Return);
                  send_pending_key(window());
              }),
              1)
        << "Enter on the town opens the Info box";
}

// The six counts of the Info box, one colour each, the same in the overlay's
// tints, the legend, the panel's counts and plot, the inspector and the
// recorded frames' stamp; the legend names every mark and keeps clear of the
// storm's start marker.
TEST_F(Legible, EveryCarStateHasOneColourInEveryPartOfTheWindow) {
    // The names are the Info box's, in its order.
    const QString info = QString::fromLatin1(info_text(app->sim.vehicles).text);
    for (int i = 0; i < TALLY_SLOTS; ++i)
        EXPECT_EQ(info.section('\n', i, i).section(':', 0, 0).toLower(),
                  QString::fromLatin1(CAR_STATE_NAMES[i]));
    std::set<QRgb> distinct;
    for (int i = 0; i < TALLY_SLOTS; ++i) distinct.insert(state_colour(i).rgb());
    EXPECT_EQ(distinct.size(), 6u);

    // The legend at the start: the storm waits at its track's start, on the view.
    act("Storm track");
    act("Car states");
    QImage shown = frame();
    const QLabel& legend = *extras->legend();
    ASSERT_TRUE(legend.isVisible());
    const StormPoint start = app->sim.storm.stormTrack[0];
    // The marker: a square of 1.2 cells around the start, at least partly on the view.
    const QRect marker(view_point(start.x - 0.6, start.y + 0.6), view_point(start.x + 0.6, start.y - 0.6));
    ASSERT_TRUE(view()->rect().intersects(marker))
        << start.x << ", " << start.y << " at " << marker.x() << ", " << marker.y();
    EXPECT_FALSE(legend.geometry().intersects(marker)) << "the legend hides the storm's start marker";
    for (int i = 0; i < TALLY_SLOTS; ++i)
        EXPECT_TRUE(legend.text().contains(QString("color:%1'>&#9632;</span> %2")
                                               .arg(state_colour(i).name(), CAR_STATE_NAMES[i])))
            << CAR_STATE_NAMES[i];
    act("Threat zone");
    act("Threatened houses");
    frame();
    for (const char* mark : {"white line", "white square", "red circle", "yellow outline"})
        EXPECT_TRUE(legend.text().contains(mark)) << mark;

    act("Panel");
    for (int i = 0; i < TALLY_SLOTS; ++i) {
        EXPECT_EQ(panel().plotted_colour(i).rgb(), state_colour(i).rgb()) << CAR_STATE_NAMES[i];
        EXPECT_EQ(panel().monitor_colour(i).rgb(), state_colour(i).rgb()) << CAR_STATE_NAMES[i];
    }

    // Well into a run, every car's cell against the same frame without tints:
    // a cell whose cars are all of one state is tinted in that state's colour.
    act("Moderate error (360)");
    act("Threat zone");
    act("Threatened houses");
    act("Storm track");
    run_to_tick(*app, 700);  // no frame between the ticks
    act("Car states");
    const QImage plain = frame();
    act("Car states");
    shown = frame();
    std::map<std::pair<int, int>, std::set<int>> states;
    for (int i = 0; i < app->sim.vehicles.vehicleCount; ++i) {
        const Vehicle& v = app->sim.vehicles.vehicles[i];
        states[{v.pos.x, v.pos.y}].insert(tally_slot(v));
    }
    std::set<int> seen;
    for (const auto& [cell, here] : states) {
        if (here.size() != 1) continue;
        const int slot = *here.begin();
        const QPoint p = device_pixel(static_cast<double>(cell.first) + 0.5,
                                      static_cast<double>(cell.second) + 0.5);
        if (!shown.rect().contains(p) || legend.geometry().contains(p / MAROVEL_TEST_SCALE_FACTOR))
            continue;
        const QColor under = plain.pixelColor(p), tint = shown.pixelColor(p);
        const QColor want = state_colour(slot);
        const auto blend = [](int a, int b) {
            return static_cast<int>(std::lround(a * (1.0 - OVERLAY_TINT_ALPHA) +
                                                b * static_cast<double>(OVERLAY_TINT_ALPHA)));
        };
        EXPECT_NEAR(tint.red(), blend(under.red(), want.red()), 3) << CAR_STATE_NAMES[slot];
        EXPECT_NEAR(tint.green(), blend(under.green(), want.green()), 3) << CAR_STATE_NAMES[slot];
        EXPECT_NEAR(tint.blue(), blend(under.blue(), want.blue()), 3) << CAR_STATE_NAMES[slot];
        seen.insert(slot);
    }
    EXPECT_GE(seen.size(), 3u) << "the run shows several states";

    // The inspector names each car's state as the tally counts it, in its colour.
    const Vehicle& car = app->sim.vehicles.vehicles[0];
    QTest::mouseClick(view(), Qt::LeftButton, {}, view_point(car.pos.x + 0.5, car.pos.y + 0.5));
    Inspector& inspector = *extras->inspector();
    ASSERT_TRUE(inspector.isVisible());
    for (int row = 0; row < inspector.table()->rowCount(); ++row) {
        const Vehicle& v = app->sim.vehicles.vehicles[inspector.cars()[row]];
        const QTableWidgetItem* item = inspector.table()->item(row, 1);
        EXPECT_EQ(item->text(), CAR_STATE_NAMES[tally_slot(v)]);
        EXPECT_EQ(item->foreground().color().rgb(), state_colour(tally_slot(v)).rgb());
    }

    // A recorded frame's stamp shows every state's colour, and the legend.
    QTemporaryDir folder;
    QString error;
    ASSERT_TRUE(extras->start_recording(folder.filePath("frames.png"), 1, error));
    ASSERT_TRUE(QTest::qWaitFor([&] { return extras->recorded_frames() == 1; }));
    ASSERT_TRUE(extras->stop_recording(error));
    const QImage recorded(folder.filePath("frames_000001.png"));
    ASSERT_FALSE(recorded.isNull());
    const QImage stamp = recorded.copy(0, 0, recorded.width(), 40);
    for (int i = 0; i < TALLY_SLOTS; ++i) {
        int pixels = 0;
        for (int y = 0; y < stamp.height(); ++y)
            for (int x = 0; x < stamp.width(); ++x)
                pixels += stamp.pixel(x, y) == state_colour(i).rgb();
        EXPECT_GE(pixels, 16) << CAR_STATE_NAMES[i];
    }
    const QImage key = const_cast<QLabel&>(legend).grab().toImage();
    const QPoint inKey(key.width() / 2, 4);  // the dark padding above the text
    // Its dark, nearly opaque background over the town, as on the screen.
    const QPoint at = legend.pos() * MAROVEL_TEST_SCALE_FACTOR + inKey;
    EXPECT_NEAR(qGray(recorded.pixel(at)), qGray(key.pixel(inKey)), 12) << "the legend recorded";
    EXPECT_GT(std::abs(qGray(shown.pixel(at)) - qGray(key.pixel(inKey))), 12)
        << "which the drawn frame itself does not hold";
}

// A narrow window shows the whole width of the town, scaled, with grey above
// and below, and a click still finds the cell under the cursor; the panel's
// parameters come in folding groups with their meanings.
TEST_F(Legible, ANarrowWindowScalesTheTownAndTheParametersFoldInGroups) {
    frame_widget(window())->resize(520, 760);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view()->width() == 520; }));
    const QImage shown = frame();
    const int middle = shown.height() / 2;
    EXPECT_EQ(shown.pixel(shown.width() / 2, 2), CLEAR) << "grey above the town";
    EXPECT_NE(shown.pixel(1, middle), CLEAR) << "the town's west edge";
    EXPECT_NE(shown.pixel(shown.width() - 2, middle), CLEAR) << "the town's east edge";
    const QPoint west = device_pixel(0.0, 15.0), east = device_pixel(40.0, 15.0);
    EXPECT_LE(std::abs(west.x()), 1);
    EXPECT_LE(std::abs(east.x() - shown.width()), 1);
    // A click on a house finds it.
    const CellPos house = app->sim.vehicles.vehicles[0].home;
    QTest::mouseClick(view(), Qt::LeftButton, {}, view_point(house.x + 0.5, house.y + 0.5));
    EXPECT_EQ(std::pair(extras->inspector()->cell().x, extras->inspector()->cell().y),
              std::pair(house.x, house.y));

    // Every overlay's key in a short window: the legend widens to keep to the
    // view, and is tall enough for all of its text.
    for (const char* overlay : {"Storm track", "Threat zone", "Threatened houses", "Car states"})
        act(overlay);
    frame_widget(window())->resize(520, 330);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view()->height() < 330; }));
    present_frame(*app);
    const QLabel& legend = *extras->legend();
    ASSERT_TRUE(QTest::qWaitFor([&] { return legend.isVisible(); }));
    EXPECT_TRUE(view()->rect().contains(legend.geometry()))
        << legend.width() << "x" << legend.height() << " in " << view()->height();
    EXPECT_GE(legend.height(), legend.heightForWidth(legend.width())) << "its last lines cut";
    EXPECT_GT(legend.width(), 520 / 3) << "wider than a third";

    act("Panel");
    const char* titles[] = {"Households' information", "Households' decisions", "Cars", "Storm"};
    for (int g = 0; g < 4; ++g) {
        ASSERT_NE(panel().group_header(g), nullptr);
        EXPECT_EQ(panel().group_header(g)->text(), titles[g]);
        EXPECT_EQ(panel().group_header(g)->isChecked(), g == 0) << "only the first open";
    }
    QLabel* patience = panel().meaning_label("patience_min");
    ASSERT_NE(patience, nullptr);
    EXPECT_EQ(patience->text(), find_parameter("patience_min", 12)->meaning);
    EXPECT_FALSE(patience->isVisible()) << "folded";
    panel().group_header(2)->click();
    EXPECT_TRUE(patience->isVisible());
    EXPECT_TRUE(panel().meaning_label("route_guide")->isVisible()) << "routing is the cars'";
    panel().group_header(2)->click();
    EXPECT_FALSE(patience->isVisible());
}

// The error spread as the model uses it, the low level's value beside its
// menu label, units in the inspector, and the rate the ticks really came at.
TEST_F(Legible, ValuesAreShownAsTheModelUsesThem) {
    act("Panel");
    QDoubleSpinBox* spread = panel().findChildren<QDoubleSpinBox*>().front();
    act("High error (inf)");
    EXPECT_EQ(spread->text(), "inf (high)");
    EXPECT_EQ(panel().monitor("changed"), "error_spread=inf (high)");
    EXPECT_TRUE(panel().monitor("error").startsWith("high: inf")) << panel().monitor("error").toStdString();
    // The box reads its own text back to the level.
    act("Low error (.0001)");
    EXPECT_EQ(spread->text(), "0.001 (low)");
    spread->findChild<QLineEdit*>()->setText(QStringLiteral("inf (high)"));
    spread->interpretText();
    EXPECT_EQ(panel().edited().errorSpread, static_cast<double>(ERROR_HIGH));
    EXPECT_EQ(panel().monitor("error"), "low: 0.001");
    EXPECT_NE(menu_item(window(), "Low error (.0001)"), nullptr) << "the menu's label stays";

    QStringList headers;
    for (int c = 0; c < INSPECTOR_COLUMN_COUNT; ++c)
        headers << extras->inspector()->table()->horizontalHeaderItem(c)->text();
    for (const char* column : {"patience (ticks)", "fuel (ticks)", "departure (tick)",
                               "arrival (tick)"})
        EXPECT_TRUE(headers.contains(column)) << column << ": " << headers.join(", ").toStdString();

    // As fast as the frames go: the rate achieved against the clock's own count.
    set_rate(*app, RATE_FASTEST_MS);
    start_run(*app);
    QTest::qWait(1200);
    const float before = app->sim.storm.simTime;
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1000);
    const double measured = (app->sim.storm.simTime - before) * 1000.0 /
                            static_cast<double>(clock.elapsed());
    const QString rate = panel().monitor("rate");
    stop_run(*app);
    ASSERT_TRUE(rate.startsWith("1000 ticks/s chosen (every 1 ms); ")) << rate.toStdString();
    const double achieved = rate.section("; ", 1).section(' ', 0, 0).toDouble();
    EXPECT_NEAR(achieved, measured, 0.25 * measured + 2.0) << rate.toStdString();
}

// The panel's values go to a file that the start option --params reads, and
// come back from one; a bad file names its line and changes nothing.
TEST_F(Legible, ThePanelsValuesAreSavedAndLoadedAsAParameterFile) {
    act("Panel");
    ASSERT_TRUE(panel().edit("cars_per_house", "1"));
    ASSERT_TRUE(panel().edit("error_spread", "inf"));
    ASSERT_TRUE(panel().edit("route_guide", "1"));
    ASSERT_TRUE(panel().edit("feedback", "0.3"));
    const ModelParameters edited = panel().edited();
    ASSERT_EQ(edited.carsPerHouse, 1.0);
    ASSERT_EQ(edited.errorSpread, static_cast<double>(ERROR_HIGH));
    QTemporaryDir folder;
    const QString file = folder.filePath("lesson.txt");
    QString error;
    ASSERT_TRUE(panel().save_parameters(file, error)) << error.toStdString();
    ModelParameters read;  // as marovel --params reads it
    ASSERT_EQ(apply_parameter_file(read, file.toStdString()), "");
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i)
        EXPECT_EQ(read.*PARAMETER_TABLE[i].field, edited.*PARAMETER_TABLE[i].field)
            << PARAMETER_TABLE[i].name;

    panel().edit_defaults();
    ASSERT_TRUE(panel().load_parameters(file, error)) << error.toStdString();
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i)
        EXPECT_EQ(panel().edited().*PARAMETER_TABLE[i].field, edited.*PARAMETER_TABLE[i].field)
            << PARAMETER_TABLE[i].name;
    EXPECT_TRUE(panel().marked("cars_per_house")) << "loaded, not yet applied";

    const QString bad =
        write_file(folder.filePath("bad.txt"), "cars_per_house = 3\nfuel_min = lots\n");
    EXPECT_FALSE(panel().load_parameters(bad, error));
    EXPECT_TRUE(error.contains("bad.txt:2:")) << error.toStdString();
    EXPECT_EQ(panel().edited().carsPerHouse, 1.0) << "nothing of the bad file";
}

}  // namespace

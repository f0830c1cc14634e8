// Start-up in a real window: the title before and after the first frame, the
// first town, and pictures that cannot be read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/fingerprint.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;

// Quits through the menu and lets the loop end.
int quit(App& app) {
    QTimer::singleShot(0, [&app] { on_command(app, CMD_QUIT); });
    const int code = run_message_loop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}

TEST(StartupTest, ComesUpStoppedWithThePlainTitleUntilTheFirstFrame) {
    auto app = std::make_unique<App>();
    start_app(*app, source_pictures());
    EXPECT_EQ(window_title(app->mainWindow), "Marovel 1.0:");
    EXPECT_EQ(frame_counts(app->mainWindow).painted, 0) << "paints come from the event loop";
    ASSERT_TRUE(wait_until([&] { return frame_counts(app->mainWindow).shown > 0; }));
    EXPECT_EQ(window_title(app->mainWindow), "Marovel 1.0: Scenario=0 Time=0.0");
    EXPECT_EQ(app->tickInterval, -50);
    EXPECT_EQ(timer_period(app->mainWindow, TIMER_ID), 0);
    EXPECT_EQ(quit(*app), 0);
}

class MissingPictureTest : public testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("marovel-pictures-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        fs::copy_file(fs::path(MAROVEL_SOURCE_DATA) / "car.bmp", folder / "car.bmp",
                      fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_F(MissingPictureTest, EachIsReportedInItsBoxAndStartUpGoesOn) {
    auto app = std::make_unique<App>();
    struct Seen {
        std::string caption, text, title;
        int cars = -1;
    };
    std::vector<Seen> seen;
    const auto look = [&](QMessageBox& box) {
        // Paints still reach the window while the box is open.
        wait_until([&] { return frame_counts(app->mainWindow).shown > 0; }, 3000);
        seen.push_back({box.windowTitle().toStdString(), box.text().toStdString(),
                        window_title(app->mainWindow), app->sim.vehicles.vehicleCount});
    };
    when_box_opens([&](QMessageBox& box) {
        look(box);
        when_box_opens(look);  // the storm's box comes next
    });
    start_app(*app, PictureSetup{{folder.string()}, show_notice_box});

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, "ERROR!");
    EXPECT_EQ(seen[0].text, "init_map() - can't read map!");
    EXPECT_EQ(seen[0].cars, 0) << "the map is read before the town is built";
    EXPECT_EQ(seen[0].title, "Marovel 1.0: Scenario=0 Time=0.0");
    EXPECT_EQ(seen[1].caption, "ERROR!");
    EXPECT_EQ(seen[1].text, "init_storm() - can't read map!");
    EXPECT_EQ(seen[1].cars, 720) << "the storm picture is read after the town is built";

    // The program carries on: the first town as the driver builds it, menus, frames, ticks.
    auto reference = std::make_unique<Simulation>();
    init_app(*reference);
    EXPECT_STREQ(fingerprint_line(app->sim, 0).text, fingerprint_line(*reference, 0).text);
    EXPECT_EQ(menu_bar_widget(app->mainWindow)->actions().size(), 5);
    on_command(*app, CMD_START);
    ASSERT_TRUE(wait_until([&] { return app->sim.storm.simTime >= 3.0f; }));
    const long shown = frame_counts(app->mainWindow).shown;
    EXPECT_TRUE(wait_until([&] { return frame_counts(app->mainWindow).shown > shown; }));
    EXPECT_EQ(quit(*app), 0);
}

}  // namespace

// Rules of the window that nothing else shows: a size notice of height 0 keeps
// the projection, a key released with Alt held belongs to the system, closing
// the main window while a start-up error box is open ends the program, and the
// Info box tells the tally of the moment it opens.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

#include <QKeyEvent>
#include <QMessageBox>
#include <array>
#include <functional>

#include "window_fixture.h"

namespace {

using Matrix = std::array<GLfloat, 16>;

class WindowRules : public WindowTest {
  protected:
    Matrix projection() {
        make_current(window());
        Matrix m{};
        glGetFloatv(GL_PROJECTION_MATRIX, m.data());
        return m;
    }
};

// A minimised window reports a client of height 0: the aspect would divide by
// zero, so the projection of the last real size stays, while the size is noted.
TEST_F(WindowRules, ASizeNoticeOfHeightZeroKeepsTheProjection) {
    QTest::qWait(50);        // the window's own size notices first
    make_current(window());  // as the window system has it for every size notice
    send_message(window(), WM_SIZE, 0, make_lparam(800, 600));
    const Matrix before = projection();
    EXPECT_NEAR(before[0], 600.0f / 800.0f * 4.0f, 1e-5f);
    for (const int width : {800, 0, 1}) {
        make_current(window());
        send_message(window(), WM_SIZE, 0, make_lparam(width, 0));
        EXPECT_EQ(app->clientWidth, width);
        EXPECT_EQ(app->clientHeight, 0);
        EXPECT_EQ(projection(), before) << width;
    }
    // (A narrow client shows the town whole, scaled: Legible.ANarrowWindow...)
}

// Keys released with Alt held, Alt itself and F10 are the system's (menus,
// window moves): the program's keys do nothing with them, not even a redraw.
TEST_F(WindowRules, AKeyReleasedWithAltHeldDoesNothing) {
    act("Slow");
    const std::int32_t seed = app->sim.scenarioSeed;
    const RunState run = state();
    const long frames = requested();
    auto dismiss = std::make_unique<BoxDismisser>(200);  // boxes the program should not open
    for (const Qt::Key key :
         {Qt::Key_Right, Qt::Key_Left, Qt::Key_Space, Qt::Key_Up, Qt::Key_R, Qt::Key_Return}) {
        // Sent as single events: QTest would also release the modifiers after the key.
        for (const Qt::KeyboardModifiers held :
             {Qt::KeyboardModifiers(Qt::AltModifier), Qt::AltModifier | Qt::ShiftModifier,
              Qt::AltModifier | Qt::ControlModifier}) {
            QKeyEvent release(QEvent::KeyRelease, key, held);
            QApplication::sendEvent(view(), &release);
        }
    }
    QTest::keyRelease(view(), Qt::Key_Alt);
    QTest::keyRelease(view(), Qt::Key_F10);
    EXPECT_EQ(app->sim.scenarioSeed, seed);
    EXPECT_EQ(state(), run);
    EXPECT_EQ(requested(), frames);
    EXPECT_EQ(dismiss->boxes, 0);
    dismiss.reset();
    QTest::keyClick(view(), Qt::Key_Right);  // the same key without Alt acts
    wait_for_keys();  // a release acts a moment later (held back for auto-repeats)
    EXPECT_EQ(app->sim.scenarioSeed, seed + 1000);
}

// The Info box shows the tally of the moment it opens, well into a run, with
// every count in its place and the total of all cars.
TEST_F(WindowRules, TheInfoBoxTellsTheTallyOfItsMoment) {
    act("Moderate error (360)");
    for (int i = 0; i < 700; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    const VehicleTally t = tally_vehicles(app->sim.vehicles);
    const int counts[6] = {t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas};
    ASSERT_GT(counts[1] + counts[3], 0) << "the run got going";
    std::string text;
    on_next_box([&](QMessageBox& box) {
        text = box.windowTitle().toStdString() + ": " + box.text().toStdString();
    });
    act("Info..");
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Current Info: Not evacuated: %d\nEvacuated: %d\nGave up: %d\nEn route: %d\n"
                  "Towed: %d\nOut of gas: %d\nTotal: %d",
                  counts[0], counts[1], counts[2], counts[3], counts[4], counts[5], tally_total(t));
    EXPECT_EQ(text, expected);
}

// The start-up error boxes run their own loops while the window is up. Closing
// the window from one of them ends the program: the remaining start-up goes on
// without waiting for anyone, and the message loop returns at once.
TEST(StartUpBoxTest, ClosingTheMainWindowUnderAnErrorBoxEndsTheProgram) {
    auto app = std::make_unique<App>();
    int boxes = 0;
    on_next_box([&](QMessageBox&) {
        ++boxes;
        ASSERT_NE(app->mainWindow, nullptr);
        frame_widget(app->mainWindow)->close();
    });
    auto later = std::make_unique<BoxDismisser>(2000);  // boxes after it, if any, closed
    start_app(*app, PictureSetup{{MAROVEL_SOURCE_DATA "/missing"}, show_notice_box});
    EXPECT_EQ(boxes + later->boxes, 1) << "no box after the window was closed";
    EXPECT_EQ(app->mainWindow, nullptr);
    // Had the quit been lost, this later one would end the loop with status 1.
    QTimer::singleShot(8000, [] { post_quit_message(1); });
    EXPECT_EQ(run_message_loop(), 0) << "the program went on after its window was closed";
    later.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

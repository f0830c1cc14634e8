// The mouse in a real window: right drags pan, Shift + right drags zoom, left
// drags only follow the cursor; the camera's bounds; focus and capture; and the
// projection that follows the client area.
#include <gtest/gtest.h>

#include <QTest>
#include <vector>

#define GL_GLEXT_LEGACY
#include <GL/gl.h>

#include "window_fixture.h"

namespace {

class CameraTest : public WindowTest {
  protected:
    QWidget* view() const { return client_widget(window()); }

    void press(Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        cursor = at;
        QTest::mousePress(view(), button, mods, at);
    }
    // One move by (dx, dy) with the given keys held; returns the camera after it.
    Camera step(int dx, int dy, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        cursor += QPoint(dx, dy);
        QTest::mouseEvent(QTest::MouseMove, view(), Qt::NoButton, mods, cursor);
        return app->camera;
    }
    void release_button(Qt::MouseButton button) {
        QTest::mouseRelease(view(), button, Qt::NoModifier, cursor);
    }

    QPoint cursor;
};

TEST_F(CameraTest, RightDragMovesTheMapWithTheCursor) {
    press(Qt::RightButton, {300, 300});
    for (int i = 0; i < 40; ++i) step(10, 0);
    // 400 pixels to the right at 0.025 map units each.
    EXPECT_NEAR(app->camera.cameraPanX, 10.0f, 1e-4f);
    EXPECT_EQ(app->camera.cameraPanY, 15.0f);
    for (int i = 0; i < 20; ++i) step(0, 10);
    EXPECT_NEAR(app->camera.cameraPanY, 20.0f, 1e-4f) << "dragging down moves the view down";
    EXPECT_EQ(app->camera.cameraDistance, 60.0f);
    release_button(Qt::RightButton);

    // Ctrl changes nothing about a pan.
    press(Qt::RightButton, {300, 300}, Qt::ControlModifier);
    step(-40, 0, Qt::ControlModifier);
    EXPECT_NEAR(app->camera.cameraPanX, 11.0f, 1e-4f);
    release_button(Qt::RightButton);
}

TEST_F(CameraTest, PanStopsAtTheFarEdgeAndComesBackToZeroAfterOneDip) {
    press(Qt::RightButton, {600, 300});
    std::vector<float> panX;
    for (int i = 0; i < 40; ++i) panX.push_back(step(-20, 0).cameraPanX);  // +0.5 a step
    for (float x : panX) EXPECT_LE(x, 40.0f) << "above the bound is never drawn";
    EXPECT_EQ(panX.back(), 40.0f);

    panX.clear();
    for (int i = 0; i < 60; ++i) panX.push_back(step(30, 0).cameraPanX);  // -0.75 a step
    std::size_t dip = 0;
    while (dip < panX.size() && panX[dip] >= 0.0f) ++dip;
    ASSERT_LT(dip + 1, panX.size()) << "the pan never went below 0";
    EXPECT_GE(panX[dip], -0.75f) << "at most one step below the bound";
    EXPECT_EQ(panX[dip + 1], 0.0f) << "the next pan step puts it back on the bound";
    for (float x : panX) EXPECT_GE(x, -0.75f);
    release_button(Qt::RightButton);
}

TEST_F(CameraTest, ShiftDragZoomsWithinItsBoundsAndShiftIsReadEveryStep) {
    press(Qt::RightButton, {400, 100}, Qt::ShiftModifier);
    for (int i = 0; i < 10; ++i) step(0, 10, Qt::ShiftModifier);
    EXPECT_EQ(app->camera.cameraDistance, 65.0f) << "100 pixels down from 60 stop at 65, not 70";
    EXPECT_EQ(app->camera.cameraPanY, 15.0f);

    std::vector<float> distance;
    for (int i = 0; i < 50; ++i) distance.push_back(step(0, -10, Qt::ShiftModifier).cameraDistance);
    std::size_t dip = 0;
    while (dip < distance.size() && distance[dip] >= 20.0f) ++dip;
    ASSERT_LT(dip + 1, distance.size());
    EXPECT_NEAR(distance[dip], 19.0f, 1e-4f) << "one step may carry it below 20";
    EXPECT_EQ(distance[dip + 1], 20.0f) << "and the next zoom step puts it back";

    // Shift let go in the middle of the drag: the same drag now pans.
    const float panY = app->camera.cameraPanY;
    step(0, 40);
    EXPECT_NEAR(app->camera.cameraPanY, panY + 1.0f, 1e-4f);
    release_button(Qt::RightButton);
}

TEST_F(CameraTest, LeftDragMovesNothingAndDrawsOnlyAtPressAndRelease) {
    const Camera start = app->camera;
    const long before = requested();
    press(Qt::LeftButton, {200, 200});
    EXPECT_EQ(requested(), before + 1) << "a press redraws";
    for (int i = 0; i < 10; ++i) step(15, -7, Qt::ShiftModifier);
    EXPECT_EQ(requested(), before + 1) << "nothing is drawn while dragging";
    EXPECT_EQ(app->camera.cameraPanX, start.cameraPanX);
    EXPECT_EQ(app->camera.cameraPanY, start.cameraPanY);
    EXPECT_EQ(app->camera.cameraDistance, start.cameraDistance);
    EXPECT_EQ(app->lastMouseX, 350) << "but the cursor is followed";
    EXPECT_EQ(app->lastMouseY, 130);
    release_button(Qt::LeftButton);
    EXPECT_EQ(requested(), before + 2) << "a release redraws";
}

TEST_F(CameraTest, ButtonsTakeFocusAndCaptureUntilEitherIsReleased) {
    client_widget(window())->clearFocus();
    ASSERT_NE(frame_widget(window())->focusWidget(), view());
    press(Qt::RightButton, {100, 100});
    EXPECT_EQ(frame_widget(window())->focusWidget(), view()) << "a press takes the keyboard focus";
    EXPECT_TRUE(has_capture(window()));
    press(Qt::LeftButton, {100, 100});
    release_button(Qt::LeftButton);
    EXPECT_FALSE(has_capture(window())) << "releasing either button ends the capture";
    release_button(Qt::RightButton);

    // After the release, moves with no button leave the remembered cursor alone.
    QTest::mouseMove(view(), QPoint(500, 400));
    EXPECT_EQ(app->lastMouseX, 100);
    EXPECT_EQ(app->lastMouseY, 100);
}

TEST_F(CameraTest, TheProjectionFollowsTheClientArea) {
    frame_widget(window())->resize(800, 500);
    ASSERT_TRUE(wait_until([this] { return view()->width() == 800; }));
    EXPECT_EQ(app->clientWidth, view()->width());
    EXPECT_EQ(app->clientHeight, view()->height());

    make_current(window());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], app->clientWidth);
    EXPECT_EQ(viewport[3], app->clientHeight);
    // A frustum of half-height 1 at the near plane 4, as wide as the client's aspect.
    GLfloat m[16] = {};
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    const float aspect =
        static_cast<float>(app->clientWidth) / static_cast<float>(app->clientHeight);
    EXPECT_NEAR(m[0], 4.0f / aspect, 1e-5f);
    EXPECT_NEAR(m[5], 4.0f, 1e-5f);
    EXPECT_EQ(m[11], -1.0f);
    EXPECT_NEAR(m[10], -(256000.0f + 4.0f) / (256000.0f - 4.0f), 1e-6f);
}

}  // namespace

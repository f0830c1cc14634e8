// The projection follows the client area in device pixels. Built twice: on a
// plain screen, and on one with two device pixels to each of Qt's logical
// pixels, where the client size, the viewport and the cursor positions the
// gestures are measured in are all twice what Qt's widgets report.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

#include <utility>
#include <vector>

#include "window_fixture.h"

namespace {

constexpr int SCALE = MAROVEL_TEST_SCALE_FACTOR;  // device pixels to each of Qt's pixels

// The suite's name (ProjectionTest, HighDensityProjectionTest) tells the two
// builds apart in the test list.
using MAROVEL_PROJECTION_SUITE = WindowTest;

TEST_F(MAROVEL_PROJECTION_SUITE, ViewportFrustumAndGesturesFollowTheClientInDevicePixels) {
    QWidget* view = client_widget(window());
    frame_widget(window())->resize(600, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->width() == 600; }));
    ASSERT_EQ(view->devicePixelRatio(), SCALE);
    const int width = SCALE * 600, height = SCALE * view->height();  // in device pixels
    EXPECT_EQ((std::pair<int, int>(app->clientWidth, app->clientHeight)), std::pair(width, height));
    make_current(window());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<int>(viewport, viewport + 4), (std::vector<int>{0, 0, width, height}));
    // A frustum of half-height 1 at the near plane 4, as wide as the client's aspect.
    GLfloat m[16] = {};
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_NEAR(m[0], 4.0f * static_cast<float>(view->height()) / 600.0f, 1e-5f);
    EXPECT_NEAR(m[5], 4.0f, 1e-5f);
    EXPECT_NEAR(m[10], -(256000.0f + 4.0f) / (256000.0f - 4.0f), 1e-6f);
    EXPECT_EQ(m[11], -1.0f);

    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, QPoint(100, 50));
    EXPECT_EQ(app->lastMouseX, SCALE * 100);
    QTest::mouseEvent(QTest::MouseMove, view, Qt::NoButton, Qt::NoModifier, QPoint(300, 50));
    EXPECT_NEAR(app->camera.cameraPanX, 20.0f - SCALE * 200 * 0.025f, 1e-4f);
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(300, 50));
}

}  // namespace

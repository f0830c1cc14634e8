// The projection follows the client area in device pixels. Built twice: on a
// plain screen, and on one with two device pixels to each of Qt's logical
// pixels, where the client size and the cursor positions the gestures are
// measured in are both twice what Qt's widgets report. (The GL viewport itself
// is set to the device size by Qt before every paint.)
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

#include "window_fixture.h"

namespace {

constexpr int SCALE = MAROVEL_TEST_SCALE_FACTOR;  // device pixels to each of Qt's pixels

// The suite's name (ProjectionTest, HighDensityProjectionTest) tells the two
// builds apart in the test list.
using MAROVEL_PROJECTION_SUITE = WindowTest;

TEST_F(MAROVEL_PROJECTION_SUITE, ClientSizeFrustumAndDragsAreInDevicePixels) {
    frame_widget(window())->resize(600, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view()->width() == 600; }));
    ASSERT_EQ(view()->devicePixelRatio(), SCALE);
    const int width = SCALE * 600, height = SCALE * view()->height();  // in device pixels
    EXPECT_EQ((std::pair<int, int>(app->clientWidth, app->clientHeight)), std::pair(width, height));
    make_current(window());
    // A frustum of half-height 1 at the near plane 4, as wide as the client's aspect.
    GLfloat m[16] = {};
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_NEAR(m[0], 4.0f * static_cast<float>(view()->height()) / 600.0f, 1e-5f);
    EXPECT_NEAR(m[5], 4.0f, 1e-5f);
    EXPECT_NEAR(m[10], -(256000.0f + 4.0f) / (256000.0f - 4.0f), 1e-6f);
    EXPECT_EQ(m[11], -1.0f);
    // A drag of 200 of Qt's pixels is 200 * SCALE pixels at 0.025 map units each.
    QTest::mousePress(view(), Qt::RightButton, {}, cursor = {100, 50});
    EXPECT_NEAR(drag(1, 200, 0, &Camera::cameraPanX)[0], 20.0f - SCALE * 200 * 0.025f, 1e-4f);
    QTest::mouseRelease(view(), Qt::RightButton, {}, cursor);
}

}  // namespace

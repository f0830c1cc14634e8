// On a screen with two device pixels to each logical one (Qt's scale factor 2):
// the viewport and the client size are in device pixels, and so are the
// cursor positions the gestures are measured in.
#include <gtest/gtest.h>

#include <QTest>

#define GL_GLEXT_LEGACY
#include <GL/gl.h>

#include "window_fixture.h"

namespace {

using HighDensityTest = WindowTest;

TEST_F(HighDensityTest, ViewportAndCursorAreInDevicePixels) {
    QWidget* view = client_widget(window());
    ASSERT_EQ(view->devicePixelRatio(), 2.0);
    EXPECT_EQ(app->clientWidth, 2 * view->width());
    EXPECT_EQ(app->clientHeight, 2 * view->height());
    make_current(window());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 2 * view->width());
    EXPECT_EQ(viewport[3], 2 * view->height());

    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, QPoint(100, 50));
    EXPECT_EQ(app->lastMouseX, 200);
    EXPECT_EQ(app->lastMouseY, 100);
    QTest::mouseEvent(QTest::MouseMove, view, Qt::NoButton, Qt::NoModifier, QPoint(300, 50));
    EXPECT_NEAR(app->camera.cameraPanX, 20.0f - 400 * 0.025f, 1e-4f);
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(300, 50));
}

}  // namespace

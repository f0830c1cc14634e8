// View > Compare in a real window, driven as a teacher drives it: a second run
// beside the first under another error spread, both on one clock, each the
// driver's own run under its parameters, both tallies and both runs' curves in
// the panel, and the single view back as it was when Compare closes.
#include "app/compare.h"

#include <QDockWidget>
#include <QFormLayout>
#include <QLabel>
#include <QLineSeries>
#include <QOpenGLWidget>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/extras.h"
#include "app/panel.h"
#include "extras_fixture.h"

namespace {

class CompareTest : public ExtrasWindowTest {
  protected:
    CompareViews& compare() const { return *extras->compare(); }
};

TEST_F(CompareTest, TwoRunsShareTheClockEachAsTheDriverRunsItAndClosingRestoresTheSingleView) {
    act("Panel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return extras->dock()->isVisible(); }));
    QWidget* frame = frame_widget(window());
    QTest::qWait(100);
    const QSize frameBefore = frame->size(), viewBefore = view()->size();
    tick(30);  // Compare copies the run where it is
    // The window grows for the second view, which stands beside the first.
    act("key F3");
    ASSERT_NE(app->second, nullptr);
    EXPECT_TRUE(menu_item_checked(app->menuBar, CMD_COMPARE));
    EXPECT_EQ(print(*app->second), print(app->sim)) << "the second run starts as a copy";
    EXPECT_EQ(panel().plotted_second(1), panel().plotted(1)) << "and so do its curves";
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return compare().view()->isVisible() &&
               std::abs(compare().view()->width() - view()->width()) <= 1;
    })) << view()->width()
        << " " << compare().view()->width();
    EXPECT_TRUE(frame->width() > frameBefore.width() ||
                frame->frameGeometry().right() == frame->screen()->availableGeometry().right())
        << "the window grows up to the screen's edge";
    EXPECT_EQ(compare().view()->height(), view()->height());
    EXPECT_GE(compare().view()->mapToGlobal(QPoint(0, 0)).x(),
              view()->mapToGlobal(QPoint(view()->width(), 0)).x())
        << "beside the first";
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return panel().monitor_shown("second counts") && panel().monitor_shown("plot key");
    }));
    EXPECT_FALSE(panel().monitor_shown("counts")) << "both runs' counts in its place";

    // A right drag on the second view moves the one camera, as on the first.
    const QPoint grip(100, 100);
    QTest::mousePress(compare().view(), Qt::RightButton, {}, grip);
    EXPECT_TRUE(has_capture(window()));
    cursor = view()->mapFromGlobal(compare().view()->mapToGlobal(grip));
    const float panX = app->camera.cameraPanX;
    EXPECT_FLOAT_EQ(drag(4, 10, 0, &Camera::cameraPanX).back(), panX - 1.0f) << "40 pixels";
    QTest::mouseRelease(view(), Qt::RightButton, {}, cursor);
    EXPECT_FALSE(has_capture(window()));

    // B at error 90 and A at 360, from the panel; Apply rebuilds both.
    panel().edit_run(1);
    ASSERT_TRUE(panel().edit("error_spread", "90"));
    panel().edit_run(0);
    EXPECT_FALSE(panel().marked("error_spread")) << "A's value shown again";
    ASSERT_TRUE(panel().edit("error_spread", "360"));
    QTest::mouseClick(panel().apply_button(), Qt::LeftButton);
    ModelParameters a, b;
    a.errorSpread = 360;
    b.errorSpread = 90;
    EXPECT_EQ(compare().caption(0)->text(), "A: error 360");
    EXPECT_EQ(compare().caption(1)->text(), "B: error 90");

    // One clock: the timer, Step, and Run to tick advance both.
    tick(150);
    act("Step");
    panel().run_to_box()->setValue(400);
    QTest::mouseClick(panel().run_to_button(), Qt::LeftButton);
    ASSERT_EQ(app->second->storm.simTime, 400.0f);
    EXPECT_EQ(print(app->sim), print(*driver_run(400, a))) << "A as the driver runs it alone";
    EXPECT_EQ(print(*app->second), print(*driver_run(400, b))) << "B under its own values";
    ASSERT_NE(print(app->sim), print(*app->second)) << "the error spread matters by tick 400";

    // Save picture holds both towns as shown, each with its caption.
    {
        QTemporaryDir folder;
        QString error;
        ASSERT_TRUE(extras->save_picture(folder.filePath("both.png"), error)) << error.toStdString();
        const QImage saved(folder.filePath("both.png"));
        const QImage left = qobject_cast<QOpenGLWidget*>(view())->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        const QImage right =
            compare().view()->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        ASSERT_GT(saved.width(), left.width() + right.width()) << "both, apart";
        const int offset = saved.width() - right.width();
        for (int y = right.height() / 3; y < right.height(); y += right.height() / 3 - 1)
            for (int x = 0; x < right.width(); ++x) {
                ASSERT_EQ(saved.pixel(offset + x, y), right.pixel(x, y)) << x << "," << y;
                ASSERT_EQ(saved.pixel(x, y), left.pixel(x, y)) << x << "," << y;
            }
        const QPoint captionB = compare().caption(1)->geometry().center();
        EXPECT_NE(saved.pixel(offset + captionB.x(), captionB.y()),
                  right.pixel(captionB.x(), captionB.y()))
            << "B's caption drawn over its town";
    }
    EXPECT_EQ(panel().monitor("counts"), counts_text(tally_vehicles(app->sim.vehicles)));
    EXPECT_EQ(panel().monitor("second counts"),
              counts_text(tally_vehicles(app->second->vehicles)));
    EXPECT_TRUE(panel().monitor("compare").contains("error 90"));

    // Both runs' curves, tick for tick the driver's; the second drawn dashed in
    // the same colours.
    auto replayA = driver_run(0, a), replayB = driver_run(0, b);
    for (int t = 0; t <= 400; ++t) {
        const VehicleTally ta = tally_vehicles(replayA->vehicles);
        const VehicleTally tb = tally_vehicles(replayB->vehicles);
        ASSERT_EQ(panel().plotted(0).value(t), QPointF(t, ta.notEvacuated)) << t;
        ASSERT_EQ(panel().plotted_second(0).value(t), QPointF(t, tb.notEvacuated)) << t;
        ASSERT_EQ(panel().plotted_second(1).value(t), QPointF(t, tb.evacuated)) << t;
        sim_tick(*replayA);
        sim_tick(*replayB);
    }
    EXPECT_EQ(panel().plotted_second(0).size(), 401);
    for (int s = 0; s < 7; ++s) {
        const QLineSeries* second = panel().curve(s, true);
        EXPECT_TRUE(second->isVisible());
        EXPECT_EQ(second->pen().color(), panel().curve(s, false)->pen().color()) << s;
        EXPECT_NE(second->pen().style(), Qt::SolidLine);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel().curve(2, true)->count() == 401; }));

    // B's error buttons: B's spread at once, both runs again from tick 0, A's kept.
    QToolButton* high = nullptr;
    for (QToolButton* button : panel().findChildren<QToolButton*>())
        if (button->text() == "inf") high = button;
    ASSERT_NE(high, nullptr);
    QTest::mouseClick(high, Qt::LeftButton);
    EXPECT_EQ(app->second->parameters.errorSpread, static_cast<double>(ERROR_HIGH));
    EXPECT_EQ(app->sim.parameters.errorSpread, 360.0);
    EXPECT_EQ(app->sim.storm.simTime, 0.0f);
    EXPECT_EQ(app->second->storm.simTime, 0.0f);
    b.errorSpread = ERROR_HIGH;

    // Scenario steps and Reset take both to the same new town; Start runs both.
    act("key Right");
    EXPECT_EQ(app->second->scenarioSeed, app->sim.scenarioSeed);
    tick(20);
    EXPECT_EQ(print(*app->second), print(*driver_run(20, b, seed_of_step(1))));
    act("key R");
    act("Start");
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->sim.storm.simTime >= 5.0f; }));
    act("Stop");
    EXPECT_EQ(app->second->storm.simTime, app->sim.storm.simTime);

    // Closing: the first run goes on as it is, in the single view as before,
    // and the window gives the width back.
    const std::string first = print(app->sim);
    act("Compare");
    EXPECT_EQ(app->second, nullptr);
    EXPECT_FALSE(menu_item_checked(app->menuBar, CMD_COMPARE));
    EXPECT_EQ(print(app->sim), first);
    EXPECT_FALSE(compare().dock()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view()->size() == viewBefore; }))
        << view()->width() << "x" << view()->height();
    EXPECT_EQ(frame->size(), frameBefore);
    EXPECT_FALSE(compare().caption(0)->isVisible());
    EXPECT_TRUE(panel().plotted_second(0).isEmpty());
    EXPECT_FALSE(panel().curve(0, true)->isVisible());
    EXPECT_EQ(panel().edited_run(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel().monitor_shown("counts"); }))
        << "the first run's counts back in their row";
    EXPECT_FALSE(panel().monitor_shown("second counts") || panel().monitor_shown("plot key"));
}

}  // namespace

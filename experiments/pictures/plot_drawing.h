// What the curve plots (plot.cpp) and the index charts (index_chart.cpp)
// share; defined in plot.cpp.
#pragma once

#include <QPainter>
#include <QSize>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "experiments/pictures/plot.h"

class QApplication;
class QChart;
class QValueAxis;

namespace plot_drawing {

constexpr int HEADER_H = 44;  // the title strip above the panels

// The axes of a curve panel, added to `chart`: ticks from 0 to `lastTick`
// along the bottom, cars up the left (its range set once the curves are known).
struct CurveAxes {
    QValueAxis* ticks;
    QValueAxis* cars;
};
CurveAxes add_curve_axes(QChart& chart, long long lastTick);

// Qt's widgets need an application object; the plot never shows a window, so
// it always uses the offscreen platform and needs no display.
struct OffscreenApplication {
    OffscreenApplication();
    ~OffscreenApplication();
    QtMessageHandler previous = nullptr;
    int argc = 1;
    char name[12] = "marovel-sim";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};

// Paints one picture into every target, PNG or SVG, on a white ground.
bool render_to_targets(QSize size, const std::string& title, const char* description,
                       const std::function<void(QPainter&)>& paint,
                       const std::vector<PlotTarget>& targets, std::string& error);

// `panels` charts of `panel` pixels side by side under the title strip, the
// i-th made by `chart(i)`, into every target.
bool render_chart_panels(const std::string& title, const char* description, int panels, QSize panel,
                         const std::function<QChart*(int)>& chart,
                         const std::vector<PlotTarget>& targets, std::string& error);

// The frame of a plot of shares against time in `area` of a picture `height`
// pixels high: a light grid, the time from 0 to `xMax` along the bottom in
// round steps (whole ticks unless in `hours`), 0 to 100 % up the left, and
// the axes' titles.
void draw_share_axes(QPainter& p, const QRectF& area, double xMax, bool hours, int height,
                     const char* yTitle);

// The title, bold, centred and wrapped in the strip `top` pixels high above a
// plot `width` pixels wide; the font is `font` again afterwards.
void draw_plot_title(QPainter& p, const QFont& font, int width, int top, const std::string& title);

// A group's name for the legend, without the grouping parameter's name that
// the panel's title already gives ("35" for "departure_noise=35").
QString legend_label(const SweepSummary& summary, std::size_t group);

}  // namespace plot_drawing

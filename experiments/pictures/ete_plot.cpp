#include "experiments/pictures/ete_plot.h"

#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "experiments/pictures/plot_drawing.h"

using plot_drawing::draw_share_axes;

namespace {

constexpr int W = 1200, H = 760;
constexpr int LEFT = 90, RIGHT = 40, TOP = 70, BOTTOM = 80;
}  // namespace

bool draw_ete_plot(const EteBand& band, const std::string& title,
                   std::optional<double> minutesPerTick, std::string& png, std::string& error) {
    plot_drawing::OffscreenApplication application;
    // Drawn up to a little past the last change of the mean or the band, so
    // that a town emptied early is not a thin line at the left.
    // With no car leaving in any run, the axes alone, saying so.
    const std::size_t ticks = band.mean.size();
    std::size_t lastChange = 1;
    for (std::size_t t = 1; t < band.mean.size(); ++t)
        if (band.mean[t] != band.mean[t - 1] || band.low[t] != band.low[t - 1] ||
            band.high[t] != band.high[t - 1])
            lastChange = t;
    const double lastTick =
        ticks == 0 ? 10.0
                   : static_cast<double>(std::min(
                         ticks - 1, std::max<std::size_t>(10, lastChange + lastChange / 10)));
    const double scale = minutesPerTick ? *minutesPerTick / 60.0 : 1.0;  // ticks to the axis' unit
    const double xMax = std::max(lastTick * scale, 1e-9);
    const QRectF area(LEFT, TOP, W - LEFT - RIGHT, H - TOP - BOTTOM);
    const auto at = [&](double tick, double share) {
        return QPointF(area.left() + tick * scale / xMax * area.width(),
                       area.bottom() - share * area.height());
    };
    const auto paint = [&](QPainter& p) {
        QFont font = p.font();
        font.setPixelSize(16);
        p.setFont(font);
        draw_share_axes(p, area, xMax, minutesPerTick.has_value(), H, "leaving cars at an exit");
        // The band, then the mean over it.
        QPolygonF shape;
        const std::size_t shown = std::min(ticks, static_cast<std::size_t>(lastTick) + 1);
        if (shown == 0) p.drawText(area, Qt::AlignCenter, "no car left home in any run");
        for (std::size_t t = 0; t < shown; ++t) shape << at(static_cast<double>(t), band.high[t]);
        for (std::size_t t = shown; t-- > 0;) shape << at(static_cast<double>(t), band.low[t]);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 130, 200, 80));
        p.drawPolygon(shape);
        QPolygonF mean;
        for (std::size_t t = 0; t < shown; ++t) mean << at(static_cast<double>(t), band.mean[t]);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(20, 60, 140), 2.5));
        p.drawPolyline(mean);
        // The shares the estimate reports.
        for (int share : ETE_SHARES) {
            p.setPen(QPen(QColor(190, 40, 40), 1.2, Qt::DashLine));
            const QPointF a = at(0, share / 100.0), b = at(lastTick, share / 100.0);
            p.drawLine(a, b);
            p.drawText(QRectF(b.x() - 80, b.y() + 2, 76, 20), Qt::AlignRight,
                       QString::number(share) + " %");
        }
        // Title and legend.
        plot_drawing::draw_plot_title(p, font, W, TOP, title);
        const QPointF legend(area.left() + area.width() * 0.55, area.bottom() - 70);
        p.fillRect(QRectF(legend.x(), legend.y(), 28, 14), QColor(70, 130, 200, 80));
        p.drawText(QPointF(legend.x() + 36, legend.y() + 13),
                   "middle 95 % of " + QString::number(band.runs) + " runs");
        p.setPen(QPen(QColor(20, 60, 140), 2.5));
        p.drawLine(QPointF(legend.x(), legend.y() + 37), QPointF(legend.x() + 28, legend.y() + 37));
        p.setPen(Qt::black);
        p.drawText(QPointF(legend.x() + 36, legend.y() + 43), "mean");
    };
    const std::vector<PlotTarget> targets = {{"the arrivals plot", PlotFormat::Png, &png}};
    return plot_drawing::render_to_targets(QSize(W, H), title, "cumulative arrivals", paint,
                                           targets, error);
}

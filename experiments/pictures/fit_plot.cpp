#include "experiments/pictures/fit_plot.h"

#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "experiments/pictures/plot_drawing.h"

namespace {

constexpr int W = 1200, H = 760;
constexpr int LEFT = 90, RIGHT = 40, TOP = 70, BOTTOM = 80;

struct Series {
    const char* name;
    const std::vector<double>* mean;
    const std::vector<double>* low;
    const std::vector<double>* high;
    QColor colour;
};

}  // namespace

bool draw_fit_plot(const ObservedCurve& observed, const SimulatedShares& shares,
                   const std::string& title, std::optional<double> minutesPerTick,
                   std::string& png, std::string& error) {
    plot_drawing::OffscreenApplication application;
    const double scale = minutesPerTick ? *minutesPerTick / 60.0 : 1.0;  // ticks to the axis' unit
    const double xMax =
        std::max(static_cast<double>(shares.ticks.empty() ? 1 : shares.ticks.back()) * scale, 1e-9);
    const QRectF area(LEFT, TOP, W - LEFT - RIGHT, H - TOP - BOTTOM);
    const auto at = [&](double tick, double share) {
        return QPointF(area.left() + tick * scale / xMax * area.width(),
                       area.bottom() - share * area.height());
    };
    std::vector<Series> series = {{"departed", &shares.departedMean, &shares.departedLow,
                                   &shares.departedHigh, QColor(20, 60, 140)}};
    if (observed.hasArrived)
        series.push_back({"arrived", &shares.arrivedMean, &shares.arrivedLow, &shares.arrivedHigh,
                          QColor(30, 120, 50)});
    const auto paint = [&](QPainter& p) {
        QFont font = p.font();
        font.setPixelSize(16);
        p.setFont(font);
        plot_drawing::draw_share_axes(p, area, xMax, minutesPerTick.has_value(), H,
                                      "share of all cars");
        for (std::size_t s = 0; s < series.size(); ++s) {
            const Series& c = series[s];
            QPolygonF band, mean;
            for (std::size_t t = 0; t < shares.ticks.size(); ++t) {
                band << at(static_cast<double>(shares.ticks[t]), (*c.high)[t]);
                mean << at(static_cast<double>(shares.ticks[t]), (*c.mean)[t]);
            }
            for (std::size_t t = shares.ticks.size(); t-- > 0;)
                band << at(static_cast<double>(shares.ticks[t]), (*c.low)[t]);
            QColor fill = c.colour;
            fill.setAlpha(60);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawPolygon(band);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(c.colour, 2.5));
            p.drawPolyline(mean);
            p.setBrush(c.colour);
            p.setPen(QPen(Qt::white, 1));
            for (const ObservedPoint& o : observed.points)
                p.drawEllipse(at(static_cast<double>(o.tick), s == 0 ? o.departed : *o.arrived),
                              4.5, 4.5);
            const QPointF legend(area.left() + area.width() * 0.62, area.bottom() - 110 + 52.0 * static_cast<double>(s));
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawRect(QRectF(legend.x(), legend.y(), 28, 14));
            p.setBrush(c.colour);
            p.drawEllipse(QPointF(legend.x() + 14, legend.y() + 32), 4.5, 4.5);
            p.setPen(Qt::black);
            p.drawText(QPointF(legend.x() + 36, legend.y() + 13),
                       QString(c.name) + ": mean and 10-90 % of " +
                           QString::number(shares.runs) + " runs");
            p.drawText(QPointF(legend.x() + 36, legend.y() + 37), QString(c.name) + ": observed");
        }
        plot_drawing::draw_plot_title(p, font, W, TOP, title);
    };
    const std::vector<PlotTarget> targets = {{"fit.png", PlotFormat::Png, &png}};
    return plot_drawing::render_to_targets(QSize(W, H), title, "calibration fit", paint, targets,
                                           error);
}

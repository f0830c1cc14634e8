// The bar chart of sensitivity indices (write_index_chart in plot.h).
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "experiments/pictures/plot.h"
#include "experiments/pictures/plot_drawing.h"

using namespace plot_drawing;

namespace {

// ---------------------------------------------------------------------------
// The bar chart of sensitivity indices: a panel per figure, in each a pair of
// bars per parameter with a whisker over each bar's interval.

constexpr int BAR_PANEL_W = 560;
constexpr int BAR_PANEL_H = 430;
constexpr int BAR_COLUMNS = 3;  // panels per row

struct Bar {
    double value, low, high;
    bool interval;
};

// A step of 1, 2, 2.5 or 5 times a power of ten giving about five ticks.
double nice_step(double span) {
    const double raw = span / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10.0 * power;
}

void paint_bar_panel(QPainter& painter, const QRect& box, const QString& title,
                     const std::vector<QString>& names, const std::vector<std::vector<Bar>>& series,
                     const std::vector<QString>& seriesNames, const QString& axisTitle) {
    const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e)};
    const QRect plot = box.adjusted(70, 46, -16, -104);
    double lo = 0.0, hi = 0.0;
    for (const auto& bars : series)
        for (const Bar& b : bars) {
            lo = std::min({lo, b.value, b.interval ? b.low : b.value});
            hi = std::max({hi, b.value, b.interval ? b.high : b.value});
        }
    if (hi - lo <= 0.0) hi = lo + 1.0;
    const double step = nice_step(hi - lo);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    const auto y_of = [&](double v) {
        return plot.bottom() - (v - lo) / (hi - lo) * plot.height();
    };

    QFont font = painter.font();
    font.setPointSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(box.left(), box.top() + 6, box.width(), 30), Qt::AlignCenter, title);
    font.setBold(false);
    font.setPointSize(9);
    painter.setFont(font);

    for (double v = lo; v <= hi + step / 2; v += step) {
        const double y = y_of(v);
        painter.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1.0));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(box.left(), y - 9, 62, 18), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(std::abs(v) < step / 1e6 ? 0.0 : v, 'g', 4));
    }
    painter.setPen(QPen(Qt::black, 1.0));
    painter.drawLine(QPointF(plot.left(), y_of(0.0)), QPointF(plot.right(), y_of(0.0)));
    painter.drawLine(plot.topLeft(), plot.bottomLeft());
    painter.save();
    painter.translate(box.left() + 12, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.height() / 2.0, -10, plot.height(), 20), Qt::AlignCenter,
                     axisTitle);
    painter.restore();

    const double slot = static_cast<double>(plot.width()) / static_cast<double>(names.size());
    const double barW = slot * 0.7 / static_cast<double>(series.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const double x0 = plot.left() + slot * static_cast<double>(i) + slot * 0.15;
        for (std::size_t s = 0; s < series.size(); ++s) {
            const Bar& b = series[s][i];
            const double x = x0 + barW * static_cast<double>(s);
            const double top = y_of(std::max(b.value, 0.0)), bottom = y_of(std::min(b.value, 0.0));
            painter.fillRect(QRectF(x, top, barW * 0.92, bottom - top), colours[s % 2]);
            if (b.interval) {
                const double cx = x + barW * 0.46;
                painter.setPen(QPen(Qt::black, 1.5));
                painter.drawLine(QPointF(cx, y_of(b.low)), QPointF(cx, y_of(b.high)));
                painter.drawLine(QPointF(cx - barW * 0.2, y_of(b.low)),
                                 QPointF(cx + barW * 0.2, y_of(b.low)));
                painter.drawLine(QPointF(cx - barW * 0.2, y_of(b.high)),
                                 QPointF(cx + barW * 0.2, y_of(b.high)));
            }
        }
        // The parameter's name, slanted under its bars.
        painter.save();
        painter.setPen(Qt::black);
        painter.translate(plot.left() + slot * (static_cast<double>(i) + 0.5), plot.bottom() + 8);
        painter.rotate(-35);
        painter.drawText(QRectF(-150, -8, 150, 16), Qt::AlignRight | Qt::AlignVCenter, names[i]);
        painter.restore();
    }
    // The legend, top right.
    for (std::size_t s = 0; s < seriesNames.size(); ++s) {
        const QRectF key(plot.right() - 150, plot.top() + 4 + 18.0 * static_cast<double>(s), 12,
                         12);
        painter.fillRect(key, colours[s % 2]);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(key.right() + 6, key.top() - 3, 130, 18),
                         Qt::AlignLeft | Qt::AlignVCenter, seriesNames[s]);
    }
}

}  // namespace

bool write_index_chart(const Design& design, const std::vector<SensitivityReport::Row>& rows,
                       const std::string& title, const std::vector<PlotTarget>& targets,
                       std::string& error) {
    if (targets.empty()) return true;
    std::vector<const SensitivityReport::Row*> shown;
    for (const SensitivityReport::Row& row : rows)
        if (row.sobol || row.morris) shown.push_back(&row);
    if (shown.empty()) {
        error = "no figure has indices to draw";
        return false;
    }
    OffscreenApplication application;
    const int columns = std::min(BAR_COLUMNS, static_cast<int>(shown.size()));
    const int panelRows = (static_cast<int>(shown.size()) + columns - 1) / columns;
    const QSize size(BAR_PANEL_W * columns, HEADER_H + BAR_PANEL_H * panelRows);
    std::vector<QString> names;
    for (const ParameterInfo* info : design.parameters) names.push_back(info->name);

    return render_to_targets(
        size, title, "Sensitivity indices drawn by marovel-sim",
        [&](QPainter& painter) {
            QFont font = painter.font();
            font.setPointSize(13);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, 0, size.width(), HEADER_H), Qt::AlignCenter,
                             QString::fromStdString(title));
            for (std::size_t i = 0; i < shown.size(); ++i) {
                const SensitivityReport::Row& row = *shown[i];
                const QRect box(
                    static_cast<int>(i % static_cast<std::size_t>(columns)) * BAR_PANEL_W,
                    HEADER_H +
                        static_cast<int>(i / static_cast<std::size_t>(columns)) * BAR_PANEL_H,
                    BAR_PANEL_W, BAR_PANEL_H);
                std::vector<std::vector<Bar>> series(2);
                for (std::size_t p = 0; p < names.size(); ++p) {
                    if (row.sobol) {
                        const IndexEstimate &f = row.sobol->first[p], &t = row.sobol->total[p];
                        series[0].push_back({f.value, f.low, f.high, true});
                        series[1].push_back({t.value, t.low, t.high, true});
                    } else {
                        const IndexEstimate& m = row.morris->muStar[p];
                        series[0].push_back({m.value, m.low, m.high, true});
                        series[1].push_back({row.morris->sigma[p], 0.0, 0.0, false});
                    }
                }
                const QString figure = output_figure_name(row.figure);
                if (row.sobol)
                    paint_bar_panel(painter, box, figure, names, series,
                                    {"first order", "total order"}, "index (95 % interval)");
                else
                    paint_bar_panel(painter, box, figure, names, series, {"mu*", "sigma"},
                                    "effect over the whole range");
            }
        },
        targets, error);
}

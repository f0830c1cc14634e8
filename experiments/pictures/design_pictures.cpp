#include "experiments/pictures/design_pictures.h"

#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "experiments/pictures/plot_drawing.h"

using namespace plot_drawing;

namespace {

constexpr int PANEL_W = 600;  // pixels per panel, as the sweep's plot
constexpr int PANEL_H = 560;
constexpr int BAND_ALPHA = 40;       // of 255: many groups' bands overlap
constexpr int MARKS_PER_CURVE = 8;   // markers along each mean curve
constexpr double MARKER_SIZE = 9.0;  // pixels

struct Panel {
    SweepSummary::Quantity quantity;
    const char* title;
};
constexpr Panel PANELS[] = {
    {SweepSummary::Quantity::Evacuated, "Evacuated"},
    {SweepSummary::Quantity::EnRoute, "En route"},
    {SweepSummary::Quantity::NotEvacuated, "Not evacuated"},
};

QList<QPointF> points_of(const std::vector<long long>& ticks, const std::vector<double>& values) {
    QList<QPointF> points;
    for (std::size_t i = 0; i < ticks.size() && i < values.size(); ++i)
        points.append(QPointF(static_cast<double>(ticks[i]), values[i]));
    return points;
}

// MARKS_PER_CURVE of the curve's points, the groups' shifted against one
// another so that curves that run together keep their markers apart.
QList<QPointF> marked_points(const QList<QPointF>& curve, std::size_t group, std::size_t groups) {
    QList<QPointF> marks;
    const auto n = static_cast<std::size_t>(curve.size());
    if (n == 0) return marks;
    const double step = static_cast<double>(n) / MARKS_PER_CURVE;
    const double shift = step * static_cast<double>(group) / static_cast<double>(groups);
    for (int m = 0; m < MARKS_PER_CURVE; ++m) {
        const auto at = static_cast<std::size_t>(shift + step * m);
        if (at < n) marks.append(curve[static_cast<qsizetype>(at)]);
    }
    return marks;
}

QChart* make_chart(const SweepSummary& table, const Panel& panel) {
    auto* chart = new QChart;
    chart->setTitle(QString("%1 by %2 (mean, 10-90 % band)")
                        .arg(panel.title, QString::fromStdString(table.group_title())));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(table.groups().size() > 4 ? Qt::AlignRight : Qt::AlignBottom);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    const std::vector<long long>& ticks = table.sample_ticks();
    const plot_drawing::CurveAxes axes = plot_drawing::add_curve_axes(*chart, ticks.back());
    QValueAxis* const axisX = axes.ticks;
    QValueAxis* const axisY = axes.cars;
    const auto attach = [&](QAbstractSeries* series, bool inLegend) {
        chart->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
        if (!inLegend)
            for (QLegendMarker* marker : chart->legend()->markers(series))
                marker->setVisible(false);
    };

    double top = 1.0;
    const std::size_t groups = table.groups().size();
    for (std::size_t g = 0; g < groups; ++g) {
        const SweepSummary::Band band = table.curve_band(g, panel.quantity);
        if (band.mean.empty()) continue;  // a group without runs (a shard's)
        for (double v : band.p90) top = std::max(top, v);
        const GroupMark mark = group_mark(g);

        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        upper->replace(points_of(ticks, band.p90));
        lower->replace(points_of(ticks, band.p10));
        auto* area = new QAreaSeries(upper, lower);
        upper->setParent(area);
        lower->setParent(area);
        QColor fill = mark.colour;
        fill.setAlpha(BAND_ALPHA);
        area->setBrush(fill);
        area->setPen(Qt::NoPen);
        attach(area, false);

        auto* mean = new QLineSeries;
        const QList<QPointF> curve = points_of(ticks, band.mean);
        mean->replace(curve);
        QPen pen(mark.colour);
        pen.setWidthF(2.0);
        mean->setPen(pen);
        attach(mean, false);

        // The group's name goes with its marker, which the legend shows.
        auto* marks = new QScatterSeries;
        marks->replace(marked_points(curve, g, groups));
        marks->setName(legend_label(table, g));
        marks->setMarkerShape(static_cast<QScatterSeries::MarkerShape>(mark.shape));
        marks->setMarkerSize(MARKER_SIZE);
        marks->setColor(mark.colour);
        marks->setBorderColor(mark.colour.darker(150));
        attach(marks, true);
    }
    axisY->setRange(0.0, top);
    axisY->applyNiceNumbers();
    return chart;
}

// Each picture into its own string, in the format its name ends in.
std::vector<PlotTarget> targets_of(const std::vector<std::string>& paths,
                                   std::vector<std::string>& bytes) {
    bytes.resize(paths.size());
    std::vector<PlotTarget> targets;
    for (std::size_t i = 0; i < paths.size(); ++i)
        targets.push_back(
            {paths[i], plot_format_of(paths[i]).value_or(PlotFormat::Png), &bytes[i]});
    return targets;
}

}  // namespace

GroupMark group_mark(std::size_t group) {
    // Tableau's ten colours, which stay apart on screen and in print.
    static const QRgb colours[GROUP_MARK_COLOURS] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728,
                                                     0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                                                     0xbcbd22, 0x17becf};
    static const QScatterSeries::MarkerShape shapes[GROUP_MARK_SHAPES] = {
        QScatterSeries::MarkerShapeCircle,   QScatterSeries::MarkerShapeRectangle,
        QScatterSeries::MarkerShapeTriangle, QScatterSeries::MarkerShapeRotatedRectangle,
        QScatterSeries::MarkerShapeStar,     QScatterSeries::MarkerShapePentagon};
    // Groups ten apart share a colour; their shapes then lie 11 m (mod 6) apart,
    // which is never 0 for m = 1..5: 60 marks in all.
    const std::size_t colour = group % GROUP_MARK_COLOURS;
    const std::size_t shape = (group + group / GROUP_MARK_COLOURS) % GROUP_MARK_SHAPES;
    return {QColor(colours[colour]), static_cast<int>(shapes[shape])};
}

bool write_design_plots(const SweepSummary& table, const std::string& title,
                        const std::vector<PlotTarget>& targets, std::string& error) {
    if (targets.empty()) return true;
    if (table.runs() == 0 || table.sample_ticks().empty()) {
        error = "no runs to plot";
        return false;
    }
    OffscreenApplication application;
    constexpr int panels = static_cast<int>(sizeof PANELS / sizeof PANELS[0]);
    return render_chart_panels(
        title, "A design's evacuation curves drawn by marovel-sim", panels, QSize(PANEL_W, PANEL_H),
        [&](int i) { return make_chart(table, PANELS[i]); }, targets, error);
}

bool DrawnDesignPictures::draw_design_plots(const SweepSummary& table, const std::string& title,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::string>& bytes, std::string& error) {
    return write_design_plots(table, title, targets_of(paths, bytes), error);
}

bool DrawnDesignPictures::draw_index_charts(const Design& design,
                                            const std::vector<SensitivityReport::Row>& rows,
                                            const std::string& title,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::string>& bytes, std::string& error) {
    return write_index_chart(design, rows, title, targets_of(paths, bytes), error);
}

#include "experiments/pictures/plot.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

#include "experiments/pictures/plot_drawing.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/records/rows.h"

using namespace plot_drawing;

namespace {

constexpr int PANEL_W = 600;  // pixels per panel
constexpr int PANEL_H = 560;
constexpr int PANELS = 3;
constexpr int BAND_ALPHA = 56;  // of 255: bands stay readable where they overlap

// Named groups (a design's points or values): a palette of twelve colours
// that stay apart from one another, the error levels' three first.
constexpr QRgb PALETTE[] = {0x1f77b4, 0xff7f0e, 0xd62728, 0x2ca02c, 0x9467bd, 0x8c564b,
                            0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x393b79, 0xad494a};
constexpr std::size_t PALETTE_SIZE = sizeof PALETTE / sizeof PALETTE[0];
QColor group_colour(std::size_t group) {
    return QColor(PALETTE[group % PALETTE_SIZE]);
}

// The error levels' colours: low, moderate and high their own (blue, orange,
// red) in every sweep; every other spread the palette's next colours, in the
// levels' order, so that no two levels share one up to the palette's size.
std::vector<std::size_t> level_colours(const std::vector<float>& levels) {
    std::vector<std::size_t> colours;
    std::size_t next = 3;
    for (float spread : levels) {
        if (spread == ERROR_LOW)
            colours.push_back(0);
        else if (spread == ERROR_MODERATE)
            colours.push_back(1);
        else if (spread == ERROR_HIGH)
            colours.push_back(2);
        else
            colours.push_back(next++);
    }
    return colours;
}

// A level by its spread: "spread 180", or "spread 360 (moderate)".
QString level_label(float spread) {
    const QString number = QString::fromStdString(spread_text(spread));
    const std::string name = error_spread_text(spread);
    if (name == spread_text(spread)) return QString("spread %1").arg(number);
    return QString("spread %1 (%2)").arg(number, QString::fromStdString(name));
}

struct Panel {
    SweepSummary::Quantity quantity;
    const char* title;
};
constexpr Panel PANEL_LIST[PANELS] = {
    {SweepSummary::Quantity::Evacuated, "Evacuated"},
    {SweepSummary::Quantity::EnRoute, "En route"},
    {SweepSummary::Quantity::NotEvacuated, "Not evacuated"},
};

QLineSeries* line_of(const std::vector<long long>& ticks, const std::vector<double>& values) {
    auto* series = new QLineSeries;
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(ticks.size()));
    for (std::size_t i = 0; i < ticks.size() && i < values.size(); ++i)
        points.append(QPointF(static_cast<double>(ticks[i]), values[i]));
    series->replace(points);
    return series;
}

QChart* make_chart(const SweepSummary& summary, const Panel& panel) {
    auto* chart = new QChart;
    chart->setTitle(summary.levels().empty()
                        ? QString("%1 by %2 (mean, 10-90 % band)")
                              .arg(panel.title, QString::fromStdString(summary.group_title()))
                        : QString("%1 by error spread (mean, 10-90 % band)").arg(panel.title));
    chart->setAnimationOptions(QChart::NoAnimation);
    // Many groups' names fit only in a column beside the plot.
    chart->legend()->setAlignment(summary.groups().size() > 4 ? Qt::AlignRight : Qt::AlignBottom);

    const std::vector<long long>& ticks = summary.sample_ticks();
    const plot_drawing::CurveAxes axes = plot_drawing::add_curve_axes(*chart, ticks.back());
    QValueAxis* const axisX = axes.ticks;
    QValueAxis* const axisY = axes.cars;

    double top = 1.0;
    const bool byLevel = !summary.levels().empty();
    const std::vector<std::size_t> levelColours = level_colours(summary.levels());
    for (std::size_t level = 0; level < summary.groups().size(); ++level) {
        const SweepSummary::Band band = summary.curve_band(level, panel.quantity);
        if (band.mean.empty()) continue;  // a group without runs (a shard's)
        for (double v : band.p90) top = std::max(top, v);
        const std::size_t colourIndex = byLevel ? levelColours[level] : level;
        const QColor colour = group_colour(colourIndex);

        QLineSeries* upper = line_of(ticks, band.p90);
        QLineSeries* lower = line_of(ticks, band.p10);
        auto* area = new QAreaSeries(upper, lower);
        upper->setParent(area);
        lower->setParent(area);
        QColor fill = colour;
        fill.setAlpha(BAND_ALPHA);
        area->setBrush(fill);
        area->setPen(Qt::NoPen);
        chart->addSeries(area);
        area->attachAxis(axisX);
        area->attachAxis(axisY);
        for (QLegendMarker* marker : chart->legend()->markers(area)) marker->setVisible(false);

        QLineSeries* mean = line_of(ticks, band.mean);
        mean->setName(byLevel ? level_label(summary.levels()[level])
                              : legend_label(summary, level));
        QPen pen(colour);
        pen.setWidthF(2.0);
        // Past the palette, the colours come again, dashed.
        if (byLevel && colourIndex >= PALETTE_SIZE) pen.setStyle(Qt::DashLine);
        mean->setPen(pen);
        chart->addSeries(mean);
        mean->attachAxis(axisX);
        mean->attachAxis(axisY);
    }
    axisY->setRange(0.0, top);
    axisY->applyNiceNumbers();
    return chart;
}

// Qt's messages go to standard error as usual, except its complaint that a
// desktop session's runtime folder is not set: the offscreen platform needs
// none, and a batch job has none.
void forward_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith("QStandardPaths: XDG_RUNTIME_DIR")) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

namespace plot_drawing {

namespace {

// A round step for about `want` divisions of `span`: 1, 2 or 5 times a power of ten.
double nice_step(double span, int want) {
    const double raw = span / want;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10.0 * power;
}

}  // namespace

void draw_share_axes(QPainter& p, const QRectF& area, double xMax, bool hours, int height,
                     const char* yTitle) {
    p.setPen(QPen(QColor(225, 225, 225), 1));
    const double step = std::max(nice_step(xMax, 10), hours ? 0.0 : 1.0);  // whole ticks
    for (double x = 0; x <= xMax + 1e-9; x += step) {
        const double px = area.left() + x / xMax * area.width();
        p.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
    }
    for (int y = 0; y <= 100; y += 10) {
        const double py = area.bottom() - y / 100.0 * area.height();
        p.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
    }
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(area);
    for (double x = 0; x <= xMax + 1e-9; x += step) {
        const double px = area.left() + x / xMax * area.width();
        p.drawText(QRectF(px - 50, area.bottom() + 6, 100, 22), Qt::AlignHCenter,
                   QString::number(x, 'g', 6));
    }
    for (int y = 0; y <= 100; y += 20) {
        const double py = area.bottom() - y / 100.0 * area.height();
        p.drawText(QRectF(area.left() - 70, py - 11, 62, 22), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(y) + " %");
    }
    p.drawText(QRectF(area.left(), height - 40, area.width(), 24), Qt::AlignHCenter,
               hours ? "hours" : "ticks");
    p.save();
    p.translate(22, area.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-200, -12, 400, 24), Qt::AlignHCenter, yTitle);
    p.restore();
}

void draw_plot_title(QPainter& p, const QFont& font, int width, int top, const std::string& title) {
    p.setPen(Qt::black);
    QFont bold = font;
    bold.setPixelSize(17);
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(40, 6, width - 80, top - 10), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromStdString(title));
    p.setFont(font);
}

CurveAxes add_curve_axes(QChart& chart, long long lastTick) {
    auto* ticks = new QValueAxis;
    ticks->setTitleText("tick");
    ticks->setLabelFormat("%d");
    ticks->setRange(0.0, static_cast<double>(lastTick));
    auto* cars = new QValueAxis;
    cars->setTitleText("cars");
    cars->setLabelFormat("%d");
    chart.addAxis(ticks, Qt::AlignBottom);
    chart.addAxis(cars, Qt::AlignLeft);
    return {ticks, cars};
}

OffscreenApplication::OffscreenApplication() {
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        previous = qInstallMessageHandler(forward_qt_message);
        app = std::make_unique<QApplication>(argc, argv);
    }
}

OffscreenApplication::~OffscreenApplication() {
    if (app) {
        app.reset();
        qInstallMessageHandler(previous);
    }
}

bool render_to_targets(QSize size, const std::string& title, const char* description,
                       const std::function<void(QPainter&)>& paint,
                       const std::vector<PlotTarget>& targets, std::string& error) {
    for (const PlotTarget& target : targets) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (target.format == PlotFormat::Png) {
            QImage image(size, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            paint(painter);
            painter.end();
            if (!image.save(&buffer, "PNG")) {
                error = "could not encode the plot image " + target.file;
                return false;
            }
        } else {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(size);
            svg.setViewBox(QRect(QPoint(0, 0), size));
            svg.setTitle(QString::fromStdString(title));
            svg.setDescription(description);
            QPainter painter;
            if (!painter.begin(&svg)) {
                error = "could not encode the plot drawing " + target.file;
                return false;
            }
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
            paint(painter);
            painter.end();
        }
        const QByteArray& encoded = buffer.data();
        if (target.bytes != nullptr) {
            target.bytes->assign(encoded.constData(), static_cast<std::size_t>(encoded.size()));
            continue;
        }
        // Every byte written and the file closed, or the failure named.
        QFile file(QString::fromStdString(target.file));
        if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size() ||
            !file.flush()) {
            error =
                "could not write the plot " + target.file + ": " + file.errorString().toStdString();
            return false;
        }
    }
    return true;
}

bool render_chart_panels(const std::string& title, const char* description, int panels, QSize panel,
                         const std::function<QChart*(int)>& chart,
                         const std::vector<PlotTarget>& targets, std::string& error) {
    const QSize size(panel.width() * panels, HEADER_H + panel.height());
    QGraphicsScene scene(QRectF(QPointF(0, 0), QSizeF(size)));
    scene.setBackgroundBrush(Qt::white);
    auto* heading = scene.addSimpleText(QString::fromStdString(title));
    QFont font = heading->font();
    font.setPointSize(13);
    heading->setFont(font);
    heading->setPos((size.width() - heading->boundingRect().width()) / 2.0,
                    (HEADER_H - heading->boundingRect().height()) / 2.0);
    for (int i = 0; i < panels; ++i) {
        QChart* c = chart(i);
        scene.addItem(c);  // the scene owns it from here
        c->setGeometry(QRectF(i * panel.width(), HEADER_H, panel.width(), panel.height()));
    }
    return render_to_targets(
        size, title, description,
        [&](QPainter& painter) {
            scene.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)), scene.sceneRect());
        },
        targets, error);
}

QString legend_label(const SweepSummary& summary, std::size_t group) {
    const QString name = QString::fromStdString(summary.groups()[group]);
    const QString title = QString::fromStdString(summary.group_title());
    if (name.startsWith(title + "=") || name.startsWith(title + " "))
        return name.mid(title.size() + 1);
    return name;
}

}  // namespace plot_drawing

std::optional<PlotFormat> plot_format_of(const std::string& path) {
    if (path.size() < 4) return std::nullopt;
    std::string ending = path.substr(path.size() - 4);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ending == ".png") return PlotFormat::Png;
    if (ending == ".svg") return PlotFormat::Svg;
    return std::nullopt;
}

bool write_plots(const SweepSummary& summary, const std::string& title,
                 const std::vector<PlotTarget>& targets, std::string& error) {
    if (targets.empty()) return true;
    if (summary.runs() == 0 || summary.sample_ticks().empty()) {
        error = "no runs to plot";
        return false;
    }
    OffscreenApplication application;
    return render_chart_panels(
        title, "Evacuation curves drawn by marovel-sim", PANELS, QSize(PANEL_W, PANEL_H),
        [&](int i) { return make_chart(summary, PANEL_LIST[i]); }, targets, error);
}

#include "app/panel.h"

#include <QChart>
#include <QChartView>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>
#include <cstring>
#include <vector>

#include "experiments/planning/parameter_text.h"
#include "sim/scenario.h"

namespace {

constexpr int PANEL_WIDTH = 380;      // pixels; the window grows by this much when it opens
constexpr int PLOT_REFRESH_MS = 200;  // the plot is redrawn at most this often
constexpr int SERIES = 7;             // the six counts and their total
const char* const SERIES_NAMES[SERIES] = {"not evacuated", "evacuated",  "gave up", "en route",
                                          "towed",         "out of gas", "total"};
const QColor SERIES_COLOURS[SERIES] = {
    QColor(50, 110, 255), QColor(20, 170, 50),  QColor(255, 150, 0), QColor(0, 180, 200),
    QColor(120, 80, 40),  QColor(230, 20, 150), QColor(90, 90, 90)};

std::int32_t count_of(const VehicleTally& t, int series) {
    const std::int32_t counts[SERIES] = {t.notEvacuated, t.evacuated, t.gaveUp,      t.enRoute,
                                         t.towed,        t.outOfGas,  tally_total(t)};
    return counts[series];
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A spin box that shows and reads numbers as the parameter files do: the
// shortest text that reads back to the same double, so that a value shown is
// exactly the value held, and "inf" where the range allows it.
class ParameterBox : public QDoubleSpinBox {
  public:
    explicit ParameterBox(const ParameterInfo& info) : info_(info) {
        setDecimals(323);  // no rounding of the value held: the text decides
        setRange(info.min, info.max);
        setKeyboardTracking(false);
        const double d = ModelParameters{}.*info.field;
        setSingleStep(info.kind == ParameterKind::Integer ? 1.0
                      : d != 0.0                          ? std::fabs(d) / 10.0
                                                          : 0.1);
        setSuffix(info.unit[0] != '\0' ? QStringLiteral(" ") + info.unit : QString());
    }
    QString textFromValue(double value) const override {
        return QString::fromStdString(format_parameter(info_, value));
    }
    double valueFromText(const QString& text) const override {
        double v = 0.0;
        parse_decimal(strip(text).toStdString(), v);
        return stored_value(info_, v);
    }
    QValidator::State validate(QString& text, int&) const override {
        double v = 0.0;
        if (!parse_decimal(strip(text).toStdString(), v)) return QValidator::Intermediate;
        return check_parameter(info_, v).ok() ? QValidator::Acceptable : QValidator::Intermediate;
    }

  private:
    QString strip(QString text) const {
        if (!suffix().isEmpty() && text.endsWith(suffix())) text.chop(suffix().size());
        return text.trimmed();
    }
    const ParameterInfo& info_;
};

}  // namespace

std::int32_t period_of_position(int position) {
    const double rate = std::pow(1000.0, static_cast<double>(position) / SPEED_STEPS);
    const auto period = static_cast<std::int32_t>(std::lround(1000.0 / rate));
    return std::clamp(period, RATE_FASTEST_MS, RATE_SLOWEST_MS);
}

int position_of_period(std::int32_t periodMs) {
    const double rate = 1000.0 / std::clamp(periodMs, RATE_FASTEST_MS, RATE_SLOWEST_MS);
    return static_cast<int>(std::lround(std::log(rate) / std::log(1000.0) * SPEED_STEPS));
}

struct SidePanel::Parts {
    // Monitors.
    QLabel* countValues[7] = {};
    QLabel* run = nullptr;
    QLabel* rate = nullptr;
    QLabel* error = nullptr;
    QLabel* scenario = nullptr;
    QLabel* changed = nullptr;
    // The plot: the points since the last rebuild, and how many of them the
    // series already hold.
    QChart* chart = nullptr;
    QValueAxis* xAxis = nullptr;
    QLineSeries* series[SERIES] = {};
    QList<QPointF> points[SERIES];
    qsizetype shownPoints = 0;
    bool replot = false;  // the series must be refilled (after a rebuild)
    QTimer plotTimer;
    // Controls.
    QPushButton* startStop = nullptr;
    QPushButton* step = nullptr;
    QSlider* speed = nullptr;
    QLabel* speedText = nullptr;
    QSpinBox* runTo = nullptr;
    QPushButton* runToGo = nullptr;
    // Parameters: the edited record, the record the running scenario was built
    // with, one box and one mark per table entry.
    ModelParameters edited;
    ModelParameters running;
    std::vector<ParameterBox*> boxes;
    std::vector<QLabel*> marks;
    QPushButton* apply = nullptr;
    bool filling = false;  // the boxes are being set from the record, not by the user
    // What the slower-changing monitors and controls show, so that a tick
    // redraws only the counts and the clock.
    bool stale = true;
    std::int32_t shownPeriod = 0;
    bool shownRunning = false;
};

SidePanel::SidePanel(App& app, QWidget* parent)
    : QWidget(parent), app_(app), parts_(std::make_unique<Parts>()) {
    Parts& p = *parts_;
    setFixedWidth(PANEL_WIDTH);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);

    auto* monitors = new QGroupBox(tr("Monitors"));
    auto* grid = new QFormLayout(monitors);
    auto monitorLabel = [&](const char* name) {
        auto* label = new QLabel;
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setWordWrap(true);
        grid->addRow(tr(name), label);
        return label;
    };
    // The counts in the plot's colours: the monitor is the plot's legend too.
    // Names are set once; only the plain numbers change with the ticks.
    auto* countGrid = new QGridLayout;
    countGrid->setHorizontalSpacing(6);
    countGrid->setVerticalSpacing(0);
    for (int i = 0; i < SERIES; ++i) {
        auto* name = new QLabel(QString("<span style='color:%1'>&#9632;</span> %2")
                                    .arg(SERIES_COLOURS[i].name(), tr(SERIES_NAMES[i])));
        p.countValues[i] = new QLabel;
        p.countValues[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        p.countValues[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        countGrid->addWidget(name, i / 2, 3 * (i % 2));
        countGrid->addWidget(p.countValues[i], i / 2, 3 * (i % 2) + 1);
    }
    countGrid->setColumnMinimumWidth(2, 12);
    grid->addRow(tr("Cars"), countGrid);
    p.run = monitorLabel("Clock");
    p.run->setWordWrap(false);
    p.rate = monitorLabel("Rate");
    p.error = monitorLabel("Error level");
    p.scenario = monitorLabel("Scenario");
    p.changed = monitorLabel("Changed");
    column->addWidget(monitors);

    p.chart = new QChart;
    p.chart->legend()->hide();  // the counts monitor above is the legend
    p.chart->setMargins(QMargins(2, 2, 2, 2));
    p.xAxis = new QValueAxis;
    p.xAxis->setRange(0, 100);
    p.xAxis->setLabelFormat(QStringLiteral("%d"));
    p.xAxis->setTitleText(tr("tick"));
    auto* yAxis = new QValueAxis;
    yAxis->setRange(0, 2.0 * 360 * ModelParameters{}.carsPerHouse);
    yAxis->setLabelFormat(QStringLiteral("%d"));
    p.chart->addAxis(p.xAxis, Qt::AlignBottom);
    p.chart->addAxis(yAxis, Qt::AlignLeft);
    for (int i = 0; i < SERIES; ++i) {
        p.series[i] = new QLineSeries;
        p.series[i]->setName(tr(SERIES_NAMES[i]));
        p.series[i]->setColor(SERIES_COLOURS[i]);
        p.chart->addSeries(p.series[i]);
        p.series[i]->attachAxis(p.xAxis);
        p.series[i]->attachAxis(yAxis);
    }
    auto* chartView = new QChartView(p.chart);
    chartView->setRenderHint(QPainter::Antialiasing, false);
    chartView->setMinimumHeight(260);
    column->addWidget(chartView, 1);
    p.plotTimer.setInterval(PLOT_REFRESH_MS);
    connect(&p.plotTimer, &QTimer::timeout, this, [this] {
        Parts& q = *parts_;
        if (!isVisible()) return;
        if (q.replot) {
            for (int i = 0; i < SERIES; ++i) q.series[i]->replace(q.points[i]);
            q.replot = false;
        } else if (q.shownPoints < q.points[0].size()) {
            for (int i = 0; i < SERIES; ++i) q.series[i]->append(q.points[i].mid(q.shownPoints));
        } else {
            return;
        }
        q.shownPoints = q.points[0].size();
        const double last = q.points[0].isEmpty() ? 0.0 : q.points[0].back().x();
        q.xAxis->setRange(0, std::max(100.0, std::ceil(last / 100.0) * 100.0));
        q.chart->axes(Qt::Vertical)
            .front()
            ->setRange(0, q.points[6].isEmpty() ? 720.0 : q.points[6].back().y());
    });
    p.plotTimer.start();

    auto* controls = new QGroupBox(tr("Run"));
    auto* rows = new QGridLayout(controls);
    p.startStop = new QPushButton;
    p.step = new QPushButton(tr("Step (S)"));
    p.step->setToolTip(tr("One tick, then stop"));
    rows->addWidget(p.startStop, 0, 0);
    rows->addWidget(p.step, 0, 1);
    p.speed = new QSlider(Qt::Horizontal);
    p.speed->setRange(0, SPEED_STEPS);
    p.speed->setToolTip(tr("From 1 tick a second (left) to as fast as frames are drawn (right)"));
    p.speedText = new QLabel;
    rows->addWidget(p.speed, 1, 0);
    rows->addWidget(p.speedText, 1, 1);
    p.runTo = new QSpinBox;
    p.runTo->setRange(0, static_cast<int>(RUN_TO_MAX_TICK));
    p.runTo->setValue(1000);
    p.runTo->setPrefix(tr("tick "));
    p.runToGo = new QPushButton(tr("Run to tick"));
    rows->addWidget(p.runTo, 2, 0);
    rows->addWidget(p.runToGo, 2, 1);
    column->addWidget(controls);
    // Pressing a button leaves the keys with the town view.
    for (QWidget* w : std::initializer_list<QWidget*>{p.startStop, p.step, p.speed, p.runToGo})
        w->setFocusPolicy(Qt::NoFocus);
    connect(p.startStop, &QPushButton::clicked, this, [this] {
        toggle_run(app_);
        present_frame(app_);
    });
    connect(p.step, &QPushButton::clicked, this, [this] { on_command(app_, CMD_STEP); });
    connect(p.speed, &QSlider::valueChanged, this, [this](int position) {
        if (parts_->filling) return;
        set_rate(app_, period_of_position(position));
        present_frame(app_);
    });
    connect(p.runToGo, &QPushButton::clicked, this, [this] {
        run_to_tick(app_, parts_->runTo->value());
        present_frame(app_);
    });

    auto* parameters = new QGroupBox(tr("Model parameters (used from the next Apply and reset)"));
    auto* parameterColumn = new QVBoxLayout(parameters);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto* form = new QWidget;
    auto* formGrid = new QGridLayout(form);
    formGrid->setContentsMargins(2, 2, 2, 2);
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        auto* name = new QLabel(QString::fromLatin1(info.name));
        const QString help = QString::fromLatin1(info.meaning) + "\n" +
                             tr("range %1 to %2 %3")
                                 .arg(QString::fromStdString(format_value(info.min)),
                                      QString::fromStdString(format_value(info.max)),
                                      QString::fromLatin1(info.unit));
        name->setToolTip(help);
        auto* box = new ParameterBox(info);
        box->setToolTip(help);
        auto* mark = new QLabel;
        mark->setFixedWidth(14);
        mark->setStyleSheet(QStringLiteral("color: #d06000"));
        formGrid->addWidget(name, static_cast<int>(i), 0);
        formGrid->addWidget(box, static_cast<int>(i), 1);
        formGrid->addWidget(mark, static_cast<int>(i), 2);
        p.boxes.push_back(box);
        p.marks.push_back(mark);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, i](double value) {
            if (parts_->filling) return;
            parts_->edited.*PARAMETER_TABLE[i].field = value;
            parts_->stale = true;
            refresh();
        });
    }
    scroll->setWidget(form);
    parameterColumn->addWidget(scroll);
    auto* buttons = new QHBoxLayout;
    p.apply = new QPushButton(tr("Apply and reset"));
    p.apply->setToolTip(tr("Rebuild the scenario under the values above"));
    auto* defaults = new QPushButton(tr("Defaults"));
    defaults->setToolTip(
        tr("Put every value back to the model's default (Apply and reset to use them)"));
    auto* revert = new QPushButton(tr("Running"));
    revert->setToolTip(tr("Put every value back to the running scenario's"));
    buttons->addWidget(p.apply);
    buttons->addWidget(defaults);
    buttons->addWidget(revert);
    parameterColumn->addLayout(buttons);
    column->addWidget(parameters, 1);
    for (QPushButton* b : {p.apply, defaults, revert}) b->setFocusPolicy(Qt::NoFocus);
    connect(p.apply, &QPushButton::clicked, this, [this] { apply_and_reset(); });
    connect(defaults, &QPushButton::clicked, this, [this] { edit_defaults(); });
    connect(revert, &QPushButton::clicked, this, [this] {
        parts_->edited = app_.sim.parameters;
        parts_->stale = true;
        refresh();
    });

    p.running = app_.sim.parameters;
    p.edited = p.running;
    rebuilt(app_);
    app_.observers.push_back(this);
}

SidePanel::~SidePanel() {
    std::erase(app_.observers, static_cast<AppObserver*>(this));
}

void SidePanel::ticked(App& app) {
    Parts& p = *parts_;
    const VehicleTally t = tally_vehicles(app.sim.vehicles);
    const double tick = app.sim.storm.simTime;
    for (int i = 0; i < SERIES; ++i) p.points[i].append(QPointF(tick, count_of(t, i)));
}

// A rebuild starts the plot again at the new town's tick 0. Values the user
// had not touched follow the new scenario's (an error level from the menu).
void SidePanel::rebuilt(App& app) {
    Parts& p = *parts_;
    for (auto& points : p.points) points.clear();
    p.replot = true;
    p.shownPoints = 0;
    ticked(app);  // the counts of the new town, at its tick
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const auto field = PARAMETER_TABLE[i].field;
        if (same_bits(p.edited.*field, p.running.*field))
            p.edited.*field = app.sim.parameters.*field;
    }
    p.running = app.sim.parameters;
    p.stale = true;
}

// Hidden, the panel only keeps its points; it catches up when it is shown.
void SidePanel::presented(App&) {
    if (isVisible())
        refresh();
    else
        parts_->stale = true;
}

void SidePanel::refresh() {
    Parts& p = *parts_;
    const Simulation& sim = app_.sim;
    const VehicleTally t = tally_vehicles(sim.vehicles);
    for (int i = 0; i < SERIES; ++i) p.countValues[i]->setText(QString::number(count_of(t, i)));
    const bool running = is_running(app_);
    p.run->setText(QString("%1 at tick %2")
                       .arg(running ? tr("running") : tr("stopped"))
                       .arg(static_cast<double>(sim.storm.simTime), 0, 'f', 0));
    // The rest changes only with a command, a rebuild or an edit.
    const std::int32_t period = std::abs(app_.tickInterval);
    if (!p.stale && period == p.shownPeriod && running == p.shownRunning) return;
    p.stale = false;
    p.shownPeriod = period;
    p.shownRunning = running;
    const QString rate =
        QString("%1 ticks/s (every %2 ms)").arg(1000.0 / period, 0, 'g', 3).arg(period);
    p.rate->setText(rate);
    const double spread = sim.parameters.errorSpread;
    p.error->setText(QString("%1 (%2)").arg(error_level_name(spread)).arg(spread, 0, 'g', 6));
    p.scenario->setText(
        QString("%1 (seed %2)").arg(scenario_number(sim.scenarioSeed)).arg(sim.scenarioSeed));
    QString changed;
    for (const auto& [name, value] : changed_parameters(sim.parameters))
        changed += (changed.isEmpty() ? "" : ", ") + QString::fromStdString(name + "=" + value);
    p.changed->setText(changed.isEmpty() ? tr("none: every parameter at its default") : changed);

    p.filling = true;
    p.startStop->setText(running ? tr("Stop (Space)") : tr("Start (Space)"));
    p.speed->setValue(position_of_period(period));
    p.speedText->setText(QString("%1/s").arg(1000.0 / period, 0, 'g', 3));
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const auto field = PARAMETER_TABLE[i].field;
        if (!same_bits(p.boxes[i]->value(), p.edited.*field)) p.boxes[i]->setValue(p.edited.*field);
        const bool differs = !same_bits(p.edited.*field, sim.parameters.*field);
        if (differs == p.marks[i]->text().isEmpty())
            p.marks[i]->setText(differs ? QStringLiteral("\u25cf") : QString());
        p.marks[i]->setToolTip(differs ? tr("running: %1")
                                             .arg(QString::fromStdString(format_parameter(
                                                 PARAMETER_TABLE[i], sim.parameters.*field)))
                                       : QString());
    }
    p.filling = false;
    const ParameterCheck check = check_parameters(p.edited);
    p.apply->setEnabled(check.ok());
    p.apply->setToolTip(check.ok() ? tr("Rebuild the scenario under the values above")
                                   : QString::fromLatin1(check.text));
}

const ModelParameters& SidePanel::edited() const {
    return parts_->edited;
}

bool SidePanel::edit(const char* name, const QString& text) {
    const ParameterInfo* info = find_parameter(name, std::strlen(name));
    if (info == nullptr) return false;
    const std::size_t i = static_cast<std::size_t>(info - PARAMETER_TABLE);
    double value = 0.0;
    if (!parse_decimal(text.toStdString(), value) || !check_parameter(*info, value).ok())
        return false;
    parts_->boxes[i]->setValue(stored_value(*info, value));
    return true;
}

bool SidePanel::marked(const char* name) const {
    const ParameterInfo* info = find_parameter(name, std::strlen(name));
    return info != nullptr &&
           !parts_->marks[static_cast<std::size_t>(info - PARAMETER_TABLE)]->text().isEmpty();
}

void SidePanel::apply_and_reset() {
    if (!check_parameters(parts_->edited).ok()) return;
    apply_parameters(app_, parts_->edited);
    present_frame(app_);
}

void SidePanel::edit_defaults() {
    parts_->edited = ModelParameters{};
    parts_->stale = true;
    refresh();
}

QList<QPointF> SidePanel::plotted(int series) const {
    return parts_->points[series];
}

qsizetype SidePanel::drawn_points() const {
    return parts_->series[0]->count();
}

QString SidePanel::monitor(const char* which) const {
    const Parts& p = *parts_;
    const std::string w = which;
    if (w == "counts") {
        QString text;
        for (int i = 0; i < SERIES; ++i)
            text += (i == 0 ? "" : ", ") + tr(SERIES_NAMES[i]) + " " + p.countValues[i]->text();
        return text;
    }
    QLabel* label = w == "run"        ? p.run
                    : w == "rate"     ? p.rate
                    : w == "error"    ? p.error
                    : w == "scenario" ? p.scenario
                                      : p.changed;
    return label->text();
}

QPushButton* SidePanel::start_stop_button() const {
    return parts_->startStop;
}
QPushButton* SidePanel::step_button() const {
    return parts_->step;
}
QSlider* SidePanel::speed_slider() const {
    return parts_->speed;
}
QSpinBox* SidePanel::run_to_box() const {
    return parts_->runTo;
}
QPushButton* SidePanel::run_to_button() const {
    return parts_->runToGo;
}
QPushButton* SidePanel::apply_button() const {
    return parts_->apply;
}

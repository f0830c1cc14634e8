#include "app/panel.h"

#include <QChart>
#include <QChartView>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QSaveFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <deque>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "experiments/planning/parameter_text.h"
#include "render/scene.h"
#include "sim/scenario.h"

namespace {

constexpr int PANEL_WIDTH = 380;      // pixels; the window grows by this much when it opens
constexpr int PLOT_REFRESH_MS = 200;  // the plot is redrawn at most this often
constexpr qint64 RATE_WINDOW_MS = 1000;  // the achieved rate counts the ticks of this long
constexpr int SERIES = 7;             // the six counts and their total
constexpr const char* PARAMETERS_TITLE = "Model parameters (used from the next Apply and reset)";
const char* const SERIES_NAMES[SERIES] = {"not evacuated", "evacuated",  "gave up", "en route",
                                          "towed",         "out of gas", "total"};
// The six counts in the colours of their car states, the total in grey.
QColor series_colour(int series) {
    return series < TALLY_SLOTS ? state_colour(series) : QColor(90, 90, 90);
}

std::int32_t count_of(const VehicleTally& t, int series) {
    const std::int32_t counts[SERIES] = {t.notEvacuated, t.evacuated, t.gaveUp,      t.enRoute,
                                         t.towed,        t.outOfGas,  tally_total(t)};
    return counts[series];
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// "error 360", "error inf": the spread as the captions name it.
QString error_caption(double spread) {
    if (spread == static_cast<double>(ERROR_HIGH)) return QStringLiteral("error inf");
    const ParameterInfo& info = *find_parameter("error_spread", 12);
    return "error " + QString::fromStdString(format_parameter(info, spread));
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
    QString textFromValue(double value) const override { return shown_value(info_, value); }
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
    // The unit and a level's name ("inf (high)") are not part of the number.
    QString strip(QString text) const {
        if (!suffix().isEmpty() && text.endsWith(suffix())) text.chop(suffix().size());
        text = text.trimmed();
        if (text.endsWith(QLatin1Char(')')) && text.contains(QLatin1Char('(')))
            text.truncate(text.lastIndexOf(QLatin1Char('(')));
        return text.trimmed();
    }
    const ParameterInfo& info_;
};

// The groups of the parameter table, in its order: each starts at its first
// parameter; the route guide belongs with the cars.
struct ParameterGroup {
    const char* title;
    const char* first;
};
constexpr ParameterGroup PARAMETER_GROUPS[] = {
    {"Households' information", "error_spread"},
    {"Households' decisions", "intercept"},
    {"Cars", "patience_min"},
    {"Storm", "storm_size_min"},
};
constexpr int GROUP_COUNT = 4;

int group_of(std::size_t index) {
    if (std::strcmp(PARAMETER_TABLE[index].name, "route_guide") == 0) return 2;
    int group = 0;
    for (std::size_t i = 0; i <= index; ++i)
        for (int g = 0; g < GROUP_COUNT; ++g)
            if (std::strcmp(PARAMETER_TABLE[i].name, PARAMETER_GROUPS[g].first) == 0) group = g;
    return group;
}

}  // namespace

QColor state_colour(int slot) {
    const float(&c)[3] = CAR_STATE_COLOURS[slot];
    return QColor::fromRgbF(c[0], c[1], c[2]);
}

QString shown_value(const ParameterInfo& info, double value) {
    if (info.field != &ModelParameters::errorSpread)
        return QString::fromStdString(format_parameter(info, value));
    const bool high = value == static_cast<double>(ERROR_HIGH);
    const QString number =
        high ? QStringLiteral("inf") : QString::fromStdString(format_parameter(info, value));
    const QString level = QString::fromLatin1(error_level_name(value));
    return level == QLatin1String("custom") ? number : number + " (" + level + ")";
}

QString error_level_text(double spread) {
    const QString level = QString::fromLatin1(error_level_name(spread));
    const ParameterInfo& info = *find_parameter("error_spread", 12);
    if (spread == static_cast<double>(ERROR_HIGH))
        return level + QStringLiteral(": inf (held as 1e30: the signal counts for nothing)");
    return level + ": " + QString::fromStdString(format_parameter(info, spread));
}

QString run_caption(const ModelParameters& run, const ModelParameters& other) {
    QString text;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        const double value = run.*info.field;
        if (info.field == &ModelParameters::errorSpread) {
            text = error_caption(value) + text;
            continue;
        }
        if (!same_bits(value, other.*info.field))
            text += ", " + QString::fromLatin1(info.name) + "=" + shown_value(info, value);
    }
    return text;
}

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
    QLabel* countNames[7] = {};
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
    // Parameters: for each run the edited record and the record its running
    // scenario was built with; one box and one mark per table entry, showing
    // the values of run `target` (the second only while Compare is on).
    struct RunValues {
        ModelParameters edited;
        ModelParameters running;
    };
    RunValues runs[2];
    int target = 0;
    RunValues& editing() { return runs[target]; }
    std::vector<ParameterBox*> boxes;
    std::vector<QLabel*> marks;
    std::vector<QLabel*> meanings;
    QToolButton* groupHeaders[GROUP_COUNT] = {};
    QPushButton* apply = nullptr;
    QGroupBox* parameterBox = nullptr;
    // Compare: the two runs' counts side by side in place of the monitors,
    // the second run's curves, the key to the plot, and which run is edited.
    QGroupBox* monitors = nullptr;
    QGroupBox* compareCounts = nullptr;
    QLabel* compareClock = nullptr;
    QLabel* compareCaption = nullptr;
    QLabel* firstValues[SERIES] = {};
    QLabel* secondValues[SERIES] = {};
    QLineSeries* secondSeries[SERIES] = {};
    QList<QPointF> secondPoints[SERIES];
    QLabel* plotKey = nullptr;
    QWidget* compareEdit = nullptr;
    QToolButton* editButtons[2] = {};
    bool filling = false;  // the boxes are being set from the record, not by the user
    // What the slower-changing monitors and controls show, so that a tick
    // redraws only the counts and the clock.
    bool stale = true;
    std::int32_t shownPeriod = 0;
    bool shownRunning = false;
    // The times of the ticks of the last second, for the achieved rate.
    QElapsedTimer clock;
    std::deque<qint64> tickTimes;
    qint64 runningSince = 0;  // ms on `clock` when the clock last started or changed rate
};

SidePanel::SidePanel(App& app, QWidget* parent)
    : QWidget(parent), app_(app), parts_(std::make_unique<Parts>()) {
    Parts& p = *parts_;
    setFixedWidth(PANEL_WIDTH);
    auto* column = new QVBoxLayout(this);
    // Tight margins: the panel fits beside the town on a 720-pixel-high screen.
    column->setContentsMargins(6, 4, 6, 4);
    column->setSpacing(3);

    auto* monitors = new QGroupBox(tr("Monitors"));
    auto* grid = new QFormLayout(monitors);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setVerticalSpacing(1);
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
                                    .arg(series_colour(i).name(), tr(SERIES_NAMES[i])));
        p.countNames[i] = name;
        p.countValues[i] = new QLabel;
        p.countValues[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        p.countValues[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        countGrid->addWidget(name, i / 2, 3 * (i % 2));
        countGrid->addWidget(p.countValues[i], i / 2, 3 * (i % 2) + 1);
    }
    countGrid->setColumnMinimumWidth(2, 12);
    grid->addRow(tr("Cars"), countGrid);
    // While Compare is on, in place of the monitors: each count of both runs,
    // A's then B's, and the clock.
    p.compareCounts = new QGroupBox(tr("Compare"));
    auto* compareColumn = new QVBoxLayout(p.compareCounts);
    compareColumn->setContentsMargins(6, 2, 6, 2);
    compareColumn->setSpacing(1);
    p.compareCaption = new QLabel;
    p.compareCaption->setWordWrap(true);
    compareColumn->addWidget(p.compareCaption);
    auto* pairGrid = new QGridLayout;
    pairGrid->setHorizontalSpacing(6);
    pairGrid->setVerticalSpacing(0);
    for (int half = 0; half < 2; ++half)
        for (int run = 0; run < 2; ++run) {
            auto* head = new QLabel(run == 0 ? QStringLiteral("<b>A</b>") : QStringLiteral("<b>B</b>"));
            head->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            pairGrid->addWidget(head, 0, 4 * half + 1 + run);
        }
    for (int i = 0; i < SERIES; ++i) {
        auto* name = new QLabel(p.countNames[i]->text());
        pairGrid->addWidget(name, 1 + i / 2, 4 * (i % 2));
        QLabel** values[2] = {p.firstValues, p.secondValues};
        for (int run = 0; run < 2; ++run) {
            values[run][i] = new QLabel;
            values[run][i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            values[run][i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000")));
            pairGrid->addWidget(values[run][i], 1 + i / 2, 4 * (i % 2) + 1 + run);
        }
    }
    pairGrid->setColumnMinimumWidth(3, 10);
    compareColumn->addLayout(pairGrid);
    p.compareClock = new QLabel;
    compareColumn->addWidget(p.compareClock);
    p.compareCounts->hide();
    column->addWidget(p.compareCounts);
    p.monitors = monitors;
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
        p.series[i]->setColor(series_colour(i));
        p.chart->addSeries(p.series[i]);
        p.series[i]->attachAxis(p.xAxis);
        p.series[i]->attachAxis(yAxis);
    }
    // The second run's curves: the same colours, dashed; shown only while Compare is on.
    for (int i = 0; i < SERIES; ++i) {
        p.secondSeries[i] = new QLineSeries;
        p.secondSeries[i]->setName(tr(SERIES_NAMES[i]) + " (B)");
        QPen pen(series_colour(i), p.series[i]->pen().widthF(), Qt::CustomDashLine);
        pen.setDashPattern({4, 3});
        p.secondSeries[i]->setPen(pen);
        p.secondSeries[i]->setVisible(false);
        p.chart->addSeries(p.secondSeries[i]);
        p.secondSeries[i]->attachAxis(p.xAxis);
        p.secondSeries[i]->attachAxis(yAxis);
    }
    p.plotKey = new QLabel;
    p.plotKey->setWordWrap(true);
    p.plotKey->hide();
    column->addWidget(p.plotKey);
    auto* chartView = new QChartView(p.chart);
    chartView->setRenderHint(QPainter::Antialiasing, false);
    chartView->setMinimumHeight(100);
    column->addWidget(chartView, 2);
    p.plotTimer.setInterval(PLOT_REFRESH_MS);
    p.clock.start();
    connect(&p.plotTimer, &QTimer::timeout, this, [this] {
        Parts& q = *parts_;
        if (!isVisible()) return;
        if (is_running(app_)) q.rate->setText(rate_text());
        if (q.replot) {
            for (int i = 0; i < SERIES; ++i) q.series[i]->replace(q.points[i]);
            for (int i = 0; i < SERIES; ++i) q.secondSeries[i]->replace(q.secondPoints[i]);
            q.replot = false;
        } else if (q.shownPoints < q.points[0].size()) {
            for (int i = 0; i < SERIES; ++i) q.series[i]->append(q.points[i].mid(q.shownPoints));
            for (int i = 0; i < SERIES; ++i)
                q.secondSeries[i]->append(q.secondPoints[i].mid(q.shownPoints));
        } else {
            return;
        }
        q.shownPoints = q.points[0].size();
        const double last = q.points[0].isEmpty() ? 0.0 : q.points[0].back().x();
        q.xAxis->setRange(0, std::max(100.0, std::ceil(last / 100.0) * 100.0));
        double top = q.points[6].isEmpty() ? 720.0 : q.points[6].back().y();
        if (!q.secondPoints[6].isEmpty()) top = std::max(top, q.secondPoints[6].back().y());
        q.chart->axes(Qt::Vertical).front()->setRange(0, top);
    });
    p.plotTimer.start();

    auto* controls = new QGroupBox(tr("Run"));
    auto* rows = new QGridLayout(controls);
    rows->setContentsMargins(6, 2, 6, 2);
    rows->setVerticalSpacing(2);
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

    auto* parameters = new QGroupBox(tr(PARAMETERS_TITLE));
    p.parameterBox = parameters;
    auto* parameterColumn = new QVBoxLayout(parameters);
    parameterColumn->setContentsMargins(4, 4, 4, 4);
    // While Compare is on: whose values the editors hold, and the second
    // run's error spread in one click (both runs rebuilt at once).
    p.compareEdit = new QWidget;
    auto* editRow = new QHBoxLayout(p.compareEdit);
    editRow->setContentsMargins(0, 0, 0, 0);
    editRow->setSpacing(2);
    for (int run = 0; run < 2; ++run) {
        auto* b = new QToolButton;
        b->setText(run == 0 ? tr("Edit A") : tr("Edit B"));
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolTip(run == 0 ? tr("The values below are run A's (the left view)")
                               : tr("The values below are run B's (the right view)"));
        connect(b, &QToolButton::clicked, this, [this, run] { edit_run(run); });
        editRow->addWidget(b);
        p.editButtons[run] = b;
    }
    editRow->addSpacing(8);
    editRow->addWidget(new QLabel(tr("B's error:")));
    for (const char* level : {"0.001", "90", "360", "inf"}) {
        auto* b = new QToolButton;
        b->setText(QString::fromLatin1(level));
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolTip(tr("Run B with error spread %1, then Apply and reset both runs").arg(level));
        connect(b, &QToolButton::clicked, this, [this, level] {
            if (!app_.second) return;
            const ParameterInfo& info = *find_parameter("error_spread", 12);
            double spread = 0.0;
            parse_decimal(level, spread);
            parts_->runs[1].edited.errorSpread = stored_value(info, spread);
            apply_and_reset();
        });
        editRow->addWidget(b);
    }
    editRow->addStretch(1);
    p.compareEdit->hide();
    parameterColumn->addWidget(p.compareEdit);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* form = new QWidget;
    auto* groupColumn = new QVBoxLayout(form);
    groupColumn->setContentsMargins(2, 2, 2, 2);
    groupColumn->setSpacing(2);
    // Each group is a header that folds its rows away; only the households'
    // information is open at first.
    QGridLayout* groupGrids[GROUP_COUNT] = {};
    for (int g = 0; g < GROUP_COUNT; ++g) {
        auto* header = new QToolButton;
        header->setText(tr(PARAMETER_GROUPS[g].title));
        header->setCheckable(true);
        header->setChecked(g == 0);
        header->setArrowType(g == 0 ? Qt::DownArrow : Qt::RightArrow);
        header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        header->setAutoRaise(true);
        header->setFocusPolicy(Qt::NoFocus);
        header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
        auto* body = new QWidget;
        body->setVisible(g == 0);
        groupGrids[g] = new QGridLayout(body);
        groupGrids[g]->setContentsMargins(8, 0, 2, 4);
        groupGrids[g]->setVerticalSpacing(1);
        groupGrids[g]->setColumnStretch(0, 1);
        connect(header, &QToolButton::toggled, this, [header, body](bool open) {
            header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
            body->setVisible(open);
        });
        groupColumn->addWidget(header);
        groupColumn->addWidget(body);
        p.groupHeaders[g] = header;
    }
    groupColumn->addStretch(1);
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        QGridLayout* formGrid = groupGrids[group_of(i)];
        const int row = formGrid->rowCount();
        auto* name = new QLabel(QString::fromLatin1(info.name));
        const QString help = QString::fromLatin1(info.meaning) + "\n" +
                             tr("range %1 to %2 %3")
                                 .arg(QString::fromStdString(format_value(info.min)),
                                      QString::fromStdString(format_value(info.max)),
                                      QString::fromLatin1(info.unit));
        name->setToolTip(help);
        auto* box = new ParameterBox(info);
        box->setToolTip(help);
        box->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0.001 (moderate)")) +
                             40);
        auto* mark = new QLabel;
        mark->setFixedWidth(14);
        mark->setStyleSheet(QStringLiteral("color: #d06000"));
        // The meaning in plain words under the row, in the table's own text.
        auto* meaning = new QLabel(QString::fromLatin1(info.meaning));
        meaning->setWordWrap(true);
        meaning->setStyleSheet(QStringLiteral("color: #555; font-size: small"));
        formGrid->addWidget(name, row, 0);
        formGrid->addWidget(box, row, 1);
        formGrid->addWidget(mark, row, 2);
        formGrid->addWidget(meaning, row + 1, 0, 1, 3);
        p.boxes.push_back(box);
        p.marks.push_back(mark);
        p.meanings.push_back(meaning);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, i](double value) {
            if (parts_->filling) return;
            parts_->editing().edited.*PARAMETER_TABLE[i].field = value;
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
    auto* save = new QPushButton(tr("Save"));
    save->setToolTip(tr("Write the values above to a parameter file (marovel --params FILE reads it)"));
    auto* load = new QPushButton(tr("Load"));
    load->setToolTip(tr("Read the values from a parameter file (Apply and reset to use them)"));
    buttons->addWidget(p.apply);
    buttons->addWidget(defaults);
    buttons->addWidget(revert);
    buttons->addWidget(save);
    buttons->addWidget(load);
    for (QPushButton* b : {p.apply, defaults, revert, save, load}) {
        b->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        b->setStyleSheet(QStringLiteral("padding: 3px 3px"));
    }
    parameterColumn->addLayout(buttons);
    column->addWidget(parameters, 3);
    for (QPushButton* b : {p.apply, defaults, revert, save, load}) b->setFocusPolicy(Qt::NoFocus);
    connect(save, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, tr("Save parameters"), QStringLiteral("parameters.txt"),
            tr("Parameter files (*.txt);;All files (*)"), nullptr, QFileDialog::DontUseNativeDialog);
        QString error;
        if (!file.isEmpty() && !save_parameters(file, error))
            message_box(error.toLocal8Bit().constData(), "Marovel");
    });
    connect(load, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, tr("Load parameters"), QString(), tr("Parameter files (*.txt);;All files (*)"),
            nullptr, QFileDialog::DontUseNativeDialog);
        QString error;
        if (!file.isEmpty() && !load_parameters(file, error))
            message_box(error.toLocal8Bit().constData(), "Marovel");
    });
    connect(p.apply, &QPushButton::clicked, this, [this] { apply_and_reset(); });
    connect(defaults, &QPushButton::clicked, this, [this] { edit_defaults(); });
    connect(revert, &QPushButton::clicked, this, [this] {
        parts_->editing().edited = parts_->editing().running;
        parts_->stale = true;
        refresh();
    });

    p.runs[0].running = app_.sim.parameters;
    p.runs[0].edited = p.runs[0].running;
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
    if (app.second) {
        const VehicleTally b = tally_vehicles(app.second->vehicles);
        const double secondTick = app.second->storm.simTime;
        for (int i = 0; i < SERIES; ++i)
            p.secondPoints[i].append(QPointF(secondTick, count_of(b, i)));
    }
    const qint64 now = p.clock.elapsed();
    p.tickTimes.push_back(now);
    while (!p.tickTimes.empty() && p.tickTimes.front() <= now - RATE_WINDOW_MS)
        p.tickTimes.pop_front();
}

// The chosen rate, and while the clock runs the rate the ticks came at over
// the last second (a busy machine or a large town can be slower than asked).
QString SidePanel::rate_text() const {
    const Parts& p = *parts_;
    const std::int32_t period = std::abs(app_.tickInterval);
    QString text = tr("%1 ticks/s chosen (every %2 ms)").arg(1000.0 / period, 0, 'g', 4).arg(period);
    if (!is_running(app_)) return text + tr("; stopped");
    const qint64 now = p.clock.elapsed();
    const qint64 since = std::max(p.runningSince, now - RATE_WINDOW_MS);
    const auto ticks = std::count_if(p.tickTimes.begin(), p.tickTimes.end(),
                                     [since](qint64 t) { return t > since; });
    if (now - since < 250) return text + tr("; achieved: measuring");
    return text + tr("; %1 achieved").arg(1000.0 * static_cast<double>(ticks) /
                                              static_cast<double>(now - since),
                                          0, 'f', 1);
}

// A rebuild starts the plot again at the new town's tick 0. Values the user
// had not touched follow the new scenario's (an error level from the menu).
void SidePanel::rebuilt(App& app) {
    Parts& p = *parts_;
    for (auto& points : p.points) points.clear();
    for (auto& points : p.secondPoints) points.clear();
    p.replot = true;
    p.shownPoints = 0;
    ticked(app);  // the counts of the new town, at its tick
    const Simulation* sims[2] = {&app.sim, app.second.get()};
    for (int run = 0; run < 2 && sims[run] != nullptr; ++run) {
        Parts::RunValues& values = p.runs[run];
        for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
            const auto field = PARAMETER_TABLE[i].field;
            if (same_bits(values.edited.*field, values.running.*field))
                values.edited.*field = sims[run]->parameters.*field;
        }
        values.running = sims[run]->parameters;
    }
    p.stale = true;
}

// The second run starts as a copy of the first, so its curves so far are the
// first's; closing Compare goes back to editing the first run's values.
void SidePanel::compare_toggled(App& app) {
    Parts& p = *parts_;
    const bool on = app.second != nullptr;
    for (int i = 0; i < SERIES; ++i) {
        p.secondPoints[i] = on ? p.points[i] : QList<QPointF>();
        p.secondSeries[i]->setVisible(on);
    }
    if (on) p.runs[1] = {app.second->parameters, app.second->parameters};
    p.target = 0;
    p.replot = true;
    p.shownPoints = 0;
    p.compareCounts->setVisible(on);
    p.monitors->setVisible(!on);
    p.plotKey->setVisible(on);
    p.compareEdit->setVisible(on);
    p.stale = true;
    if (isVisible()) refresh();
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
    if (app_.second) {
        const VehicleTally b = tally_vehicles(app_.second->vehicles);
        for (int i = 0; i < SERIES; ++i) {
            p.firstValues[i]->setText(p.countValues[i]->text());
            p.secondValues[i]->setText(QString::number(count_of(b, i)));
        }
    }
    const bool running = is_running(app_);
    p.run->setText(QString("%1 at tick %2")
                       .arg(running ? tr("running") : tr("stopped"))
                       .arg(static_cast<double>(sim.storm.simTime), 0, 'f', 0));
    if (app_.second)
        p.compareClock->setText(tr("Clock: %1 (both runs); scenario %2")
                                    .arg(p.run->text())
                                    .arg(scenario_number(sim.scenarioSeed)));
    // The rest changes only with a command, a rebuild or an edit.
    const std::int32_t period = std::abs(app_.tickInterval);
    if (!p.stale && period == p.shownPeriod && running == p.shownRunning) return;
    if (period != p.shownPeriod || running != p.shownRunning) p.runningSince = p.clock.elapsed();
    p.stale = false;
    p.shownPeriod = period;
    p.shownRunning = running;
    p.rate->setText(rate_text());
    p.error->setText(error_level_text(sim.parameters.errorSpread));
    p.scenario->setText(
        QString("%1 (seed %2)").arg(scenario_number(sim.scenarioSeed)).arg(sim.scenarioSeed));
    QString changed;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        if (is_default(sim.parameters, info)) continue;
        changed += (changed.isEmpty() ? "" : ", ") + QString::fromLatin1(info.name) + "=" +
                   shown_value(info, sim.parameters.*info.field);
    }
    p.changed->setText(changed.isEmpty() ? tr("none: every parameter at its default") : changed);
    // The run whose values the editors show.
    const Simulation& edited = p.target == 1 && app_.second ? *app_.second : sim;
    if (app_.second) {
        const QString a = run_caption(sim.parameters, app_.second->parameters);
        const QString b = run_caption(app_.second->parameters, sim.parameters);
        p.compareCaption->setText(tr("<b>A</b>: %1 (left) &nbsp; <b>B</b>: %2 (right)").arg(a, b));
        p.plotKey->setText(tr("Plot: solid lines A: %1; dashed lines B: %2").arg(a, b));
        p.parameterBox->setTitle(tr("Run %1's parameters (used from the next Apply and reset)")
                                     .arg(p.target == 0 ? "A" : "B"));
        p.editButtons[p.target]->setChecked(true);
    } else {
        p.parameterBox->setTitle(tr(PARAMETERS_TITLE));
    }

    p.filling = true;
    p.startStop->setText(running ? tr("Stop (Space)") : tr("Start (Space)"));
    p.speed->setValue(position_of_period(period));
    p.speedText->setText(QString("%1/s").arg(1000.0 / period, 0, 'g', 4));
    const ModelParameters& values = p.editing().edited;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const auto field = PARAMETER_TABLE[i].field;
        if (!same_bits(p.boxes[i]->value(), values.*field)) p.boxes[i]->setValue(values.*field);
        const bool differs = !same_bits(values.*field, edited.parameters.*field);
        if (differs == p.marks[i]->text().isEmpty())
            p.marks[i]->setText(differs ? QStringLiteral("\u25cf") : QString());
        p.marks[i]->setToolTip(differs ? tr("running: %1")
                                             .arg(shown_value(PARAMETER_TABLE[i],
                                                              edited.parameters.*field))
                                       : QString());
    }
    p.filling = false;
    ParameterCheck check = check_parameters(p.runs[0].edited);
    if (check.ok() && app_.second) check = check_parameters(p.runs[1].edited);
    p.apply->setEnabled(check.ok());
    p.apply->setToolTip(check.ok() ? tr("Rebuild the scenario under the values above")
                                   : QString::fromLatin1(check.text));
}

const ModelParameters& SidePanel::edited(int run) const {
    return parts_->runs[run == 1 ? 1 : 0].edited;
}

void SidePanel::edit_run(int run) {
    parts_->target = run == 1 && app_.second ? 1 : 0;
    parts_->stale = true;
    refresh();
}

int SidePanel::edited_run() const {
    return parts_->target;
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
    const Parts::RunValues* runs = parts_->runs;
    if (!check_parameters(runs[0].edited).ok()) return;
    if (app_.second && !check_parameters(runs[1].edited).ok()) return;
    apply_parameters(app_, runs[0].edited, app_.second ? &runs[1].edited : nullptr);
    present_frame(app_);
}

void SidePanel::edit_defaults() {
    parts_->editing().edited = ModelParameters{};
    parts_->stale = true;
    refresh();
}

QList<QPointF> SidePanel::plotted(int series) const {
    return parts_->points[series];
}

QList<QPointF> SidePanel::plotted_second(int series) const {
    return parts_->secondPoints[series];
}

const QLineSeries* SidePanel::curve(int series, bool second) const {
    return second ? parts_->secondSeries[series] : parts_->series[series];
}

qsizetype SidePanel::drawn_points() const {
    return parts_->series[0]->count();
}

QString SidePanel::monitor(const char* which) const {
    const Parts& p = *parts_;
    const std::string w = which;
    if (w == "counts" || w == "second counts") {
        QLabel* const* values = w == "counts" ? p.countValues : p.secondValues;
        QString text;
        for (int i = 0; i < SERIES; ++i)
            text += (i == 0 ? "" : ", ") + tr(SERIES_NAMES[i]) + " " + values[i]->text();
        return text;
    }
    QLabel* label = w == "run"        ? p.run
                    : w == "compare"  ? p.compareCaption
                    : w == "plot key" ? p.plotKey
                    : w == "rate"     ? p.rate
                    : w == "error"    ? p.error
                    : w == "scenario" ? p.scenario
                                      : p.changed;
    return label->text();
}

bool SidePanel::monitor_shown(const char* which) const {
    const Parts& p = *parts_;
    const std::string w = which;
    const QWidget* shown = w == "counts"          ? p.countValues[0]
                           : w == "second counts" ? p.secondValues[0]
                           : w == "compare"       ? p.compareCaption
                           : w == "plot key"      ? p.plotKey
                           : w == "run"           ? p.run
                           : w == "rate"          ? p.rate
                           : w == "error"         ? p.error
                           : w == "scenario"      ? p.scenario
                                                  : p.changed;
    return shown->isVisible() && !shown->visibleRegion().isEmpty();
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
QToolButton* SidePanel::group_header(int group) const {
    return group >= 0 && group < GROUP_COUNT ? parts_->groupHeaders[group] : nullptr;
}
QLabel* SidePanel::meaning_label(const char* name) const {
    const ParameterInfo* info = find_parameter(name, std::strlen(name));
    return info != nullptr ? parts_->meanings[static_cast<std::size_t>(info - PARAMETER_TABLE)]
                           : nullptr;
}
QColor SidePanel::plotted_colour(int series) const {
    return parts_->series[series]->color();
}
QColor SidePanel::monitor_colour(int series) const {
    const QString text = parts_->countNames[series]->text();
    const qsizetype at = text.indexOf(QLatin1String("color:"));
    return at < 0 ? QColor() : QColor(text.mid(at + 6, 7));
}

// Every parameter, one "name = value" a line with its meaning as a comment, in
// the text that reads back to the value held (the high error level as inf).
bool SidePanel::save_parameters(const QString& file, QString& error) const {
    QString text = QStringLiteral("# Marovel model parameters (marovel --params FILE)\n");
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        const double value = parts_->runs[parts_->target].edited.*info.field;
        const QString shown = info.field == &ModelParameters::errorSpread &&
                                      value == static_cast<double>(ERROR_HIGH)
                                  ? QStringLiteral("inf")
                                  : QString::fromStdString(format_parameter(info, value));
        text += QString("%1 = %2  # %3\n")
                    .arg(QString::fromLatin1(info.name), shown, QString::fromLatin1(info.meaning));
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text) || out.write(text.toUtf8()) < 0 ||
        !out.commit()) {
        error = tr("could not write %1: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}

// Read as the command line's --params reads it: over the defaults, all or nothing.
bool SidePanel::load_parameters(const QString& file, QString& error) {
    ModelParameters loaded;
    if (const std::string why = apply_parameter_file(loaded, file.toStdString()); !why.empty()) {
        error = QString::fromStdString(why);
        return false;
    }
    if (const ParameterCheck check = check_parameters(loaded); !check.ok()) {
        error = file + ": " + QString::fromLatin1(check.text);
        return false;
    }
    parts_->editing().edited = loaded;
    parts_->stale = true;
    refresh();
    return true;
}

#include "app/car_viewer.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char* const STATE_NAMES[] = {"waiting", "evacuating", "gave up", "out of gas"};

QString cell_text(CellPos c) {
    return QString("(%1, %2)").arg(c.x).arg(c.y);
}

// The heading's bits as compass letters: +y is up on the screen (north).
QString heading_text(std::uint8_t heading) {
    QString s;
    if (heading & DIR_Y_INC) s += 'N';
    if (heading & DIR_Y_DEC) s += 'S';
    if (heading & DIR_X_INC) s += 'E';
    if (heading & DIR_X_DEC) s += 'W';
    return s.isEmpty() ? QStringLiteral("-") : s;
}

// The state as the tally counts it: a car back home after running dry was towed.
QString state_text(const Vehicle& v) {
    if (v.state == VS_OUT_OF_GAS && v.pos == v.home) return QStringLiteral("towed");
    if (v.state == VS_EVACUATING && v.onExit != 0) return QStringLiteral("evacuated");
    return v.state <= VS_OUT_OF_GAS ? QString::fromLatin1(STATE_NAMES[v.state])
                                    : QString::number(v.state);
}

}  // namespace

std::vector<int> cars_at_cell(const Simulation& sim, CellPos cell) {
    std::vector<int> cars;
    if (!in_grid(sim.grid, cell.x, cell.y)) return cars;
    const bool house = cell_at(sim.grid, cell).layout == LAYOUT_HOUSE;
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const Vehicle& v = sim.vehicles.vehicles[i];
        if (house ? v.home == cell : v.pos == cell) cars.push_back(i);
    }
    return cars;
}

std::vector<QString> inspector_row(const Simulation& sim, int i) {
    const Vehicle& v = sim.vehicles.vehicles[i];
    const DecisionRecord r = decision_record(sim.decisions, i);
    return {QString::number(i),
            state_text(v),
            cell_text(v.home),
            cell_text(v.pos),
            QString::number(v.patience),
            QString::number(v.fuel),
            heading_text(v.heading),
            QString::number(static_cast<double>(r.signal), 'g', 6),
            QString::number(static_cast<double>(r.departureTime), 'f', 1),
            QString::number(static_cast<double>(r.arrivalEstimate), 'f', 1),
            sim.storm.threatFlags[i] != 0 ? QStringLiteral("yes") : QStringLiteral("no")};
}

Inspector::Inspector(App& app, QWidget* parent) : QDialog(parent), app_(app) {
    setWindowTitle(tr("Marovel inspector"));
    setModal(false);
    auto* column = new QVBoxLayout(this);
    heading_ = new QLabel;
    column->addWidget(heading_);
    table_ = new QTableWidget(0, INSPECTOR_COLUMN_COUNT);
    QStringList headers;
    for (const char* c : INSPECTOR_COLUMNS) headers << tr(c);
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    column->addWidget(table_);
    resize(760, 200);
    app_.observers.push_back(this);
}

Inspector::~Inspector() {
    std::erase(app_.observers, static_cast<AppObserver*>(this));
}

void Inspector::cell_clicked(App& app, CellPos cell) {
    cell_ = cell;
    cars_ = cars_at_cell(app.sim, cell);
    const bool house = cell_at(app.sim.grid, cell).layout == LAYOUT_HOUSE;
    heading_->setText(cars_.empty() ? tr("Cell %1: no cars here").arg(cell_text(cell))
                      : house ? tr("House %1: its %2 cars").arg(cell_text(cell)).arg(cars_.size())
                              : tr("Road %1: the %2 cars standing there at the click")
                                    .arg(cell_text(cell))
                                    .arg(cars_.size()));
    table_->setRowCount(static_cast<int>(cars_.size()));
    fill();
    show();
    raise();
}

void Inspector::presented(App&) {
    if (isVisible()) fill();
}

void Inspector::quitting(App&) {
    hide();
}

void Inspector::fill() {
    for (std::size_t row = 0; row < cars_.size(); ++row) {
        const std::vector<QString> texts = inspector_row(app_.sim, cars_[row]);
        for (int c = 0; c < INSPECTOR_COLUMN_COUNT; ++c) {
            QTableWidgetItem* item = table_->item(static_cast<int>(row), c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table_->setItem(static_cast<int>(row), c, item);
            }
            if (item->text() != texts[static_cast<std::size_t>(c)])
                item->setText(texts[static_cast<std::size_t>(c)]);
        }
    }
}

#include "app/car_viewer.h"

#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/panel.h"
#include "render/scene.h"

namespace {

// A small square of the state's colour, made once per state.
QIcon state_icon(int slot) {
    static QIcon icons[TALLY_SLOTS];
    if (icons[slot].isNull()) {
        QPixmap square(10, 10);
        square.fill(state_colour(slot));
        icons[slot] = QIcon(square);
    }
    return icons[slot];
}

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
    const int slot = tally_slot(v);
    return slot >= 0 ? QString::fromLatin1(CAR_STATE_NAMES[slot]) : QString::number(v.state);
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
    // Fitted to the texts once a fill has changed any: a header that fits
    // itself on every change of a cell's text takes seconds a frame on an
    // exit cell that holds hundreds of cars.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    column->addWidget(table_);
    resize(INSPECTOR_WIDTH, INSPECTOR_HEIGHT);
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
    if (!isVisible()) place_beside(parentWidget());
    show();
    raise();
}

// Right of the window where the screen has room, else left of it, else below
// it; on a screen the window fills, along the screen's bottom edge.
void Inspector::place_beside(const QWidget* window) {
    if (window == nullptr) return;
    const QScreen* screen = window->screen();
    if (screen == nullptr) return;
    const QRect free = screen->availableGeometry();
    const QRect outer = window->frameGeometry();
    // What the window manager adds round this box, as it adds round the window.
    const int extraWidth = outer.width() - window->width();
    const int extraHeight = outer.height() - window->height();
    const int gap = 4;
    const int wanted = INSPECTOR_WIDTH + extraWidth;
    const int rightRoom = free.right() - outer.right() - gap;
    const int leftRoom = outer.left() - free.left() - gap;
    const int belowRoom = free.bottom() - outer.bottom() - gap;
    const int minimumWidth = 420;
    QPoint at;
    int width = INSPECTOR_WIDTH, height = INSPECTOR_HEIGHT;
    if (rightRoom >= minimumWidth + extraWidth || leftRoom >= minimumWidth + extraWidth) {
        const bool right = rightRoom >= minimumWidth + extraWidth;
        width = std::min(wanted, right ? rightRoom : leftRoom) - extraWidth;
        height = std::min(outer.height(), 360) - extraHeight;
        at = right ? QPoint(outer.right() + 1 + gap, outer.top())
                   : QPoint(outer.left() - gap - width - extraWidth, outer.top());
    } else if (belowRoom >= 160 + extraHeight) {
        height = std::min(INSPECTOR_HEIGHT + extraHeight, belowRoom) - extraHeight;
        at = QPoint(outer.left(), outer.bottom() + 1 + gap);
    } else {
        at = QPoint(free.left(), free.bottom() - INSPECTOR_HEIGHT - extraHeight);
    }
    resize(width, height);
    move(at);
}

void Inspector::presented(App&) {
    if (isVisible()) fill();
}

void Inspector::quitting(App&) {
    hide();
}

void Inspector::fill() {
    bool changed = false;
    for (std::size_t row = 0; row < cars_.size(); ++row) {
        const std::vector<QString> texts = inspector_row(app_.sim, cars_[row]);
        for (int c = 0; c < INSPECTOR_COLUMN_COUNT; ++c) {
            QTableWidgetItem* item = table_->item(static_cast<int>(row), c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table_->setItem(static_cast<int>(row), c, item);
            }
            if (item->text() != texts[static_cast<std::size_t>(c)]) {
                item->setText(texts[static_cast<std::size_t>(c)]);
                changed = true;
            }
            // The state in its colour, as the overlay and the panel show it.
            if (c == 1) {
                const int slot = tally_slot(app_.sim.vehicles.vehicles[cars_[row]]);
                const QBrush brush = slot >= 0 ? QBrush(state_colour(slot)) : QBrush();
                if (item->foreground() != brush) {
                    item->setForeground(brush);
                    item->setIcon(slot >= 0 ? state_icon(slot) : QIcon());
                }
            }
        }
    }
    if (changed) table_->resizeColumnsToContents();
}

// The inspector: a window beside the town that lists the cars of the cell last
// clicked (on a house, the cars that live there wherever they are; on a road,
// the cars standing there at the click) with what the simulation holds for
// each, updated with every frame. A plain Qt widget reading the App record.
#pragma once

#include <QDialog>
#include <vector>

#include "app/shell.h"

class QLabel;
class QTableWidget;

// The columns, left to right, each with its unit: patience and fuel are ticks
// of driving left, departure and arrival are ticks of the clock.
inline constexpr const char* INSPECTOR_COLUMNS[] = {
    "car",      "state",           "home (x, y)",    "at (x, y)",     "patience (ticks)",
    "fuel (ticks)", "heading",     "signal (tick)",  "departure (tick)", "arrival (tick)",
    "threatened"};
constexpr int INSPECTOR_COLUMN_COUNT = 11;

constexpr int INSPECTOR_WIDTH = 760;  // pixels: the eleven columns of two cars' rows
constexpr int INSPECTOR_HEIGHT = 200;

// The cars a click on `cell` chooses, by index in the vehicle table.
std::vector<int> cars_at_cell(const Simulation& sim, CellPos cell);

// One row of the table: the texts of the columns for car `index`.
std::vector<QString> inspector_row(const Simulation& sim, int index);

class Inspector : public QDialog, public AppObserver {
  public:
    explicit Inspector(App& app, QWidget* parent = nullptr);
    ~Inspector() override;

    void cell_clicked(App& app, CellPos cell) override;
    void presented(App& app) override;
    void quitting(App& app) override;

    CellPos cell() const { return cell_; }
    const std::vector<int>& cars() const { return cars_; }
    QTableWidget* table() const { return table_; }

  private:
    void fill();
    // Beside the window, not over it, where the screen has room.
    void place_beside(const QWidget* window);
    App& app_;
    CellPos cell_{};
    std::vector<int> cars_;
    QLabel* heading_ = nullptr;
    QTableWidget* table_ = nullptr;
};

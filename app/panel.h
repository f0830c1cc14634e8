// The side panel of the window: monitors of the run, a live plot of the six
// counts since the last rebuild, run controls, and the model's parameters with
// "Apply and reset". A plain Qt widget that reads and commands the one App
// record through the shell's functions; it holds no simulation state of its own
// beyond the values the user is editing.
#pragma once

#include <QColor>
#include <QWidget>
#include <memory>

#include "app/shell.h"

class QLabel;
class QLineSeries;
class QToolButton;
class QPushButton;
class QSlider;
class QSpinBox;

// The speed slider: positions 0..SPEED_STEPS spread the rate from 1 tick a
// second to 1000 evenly on a logarithmic scale.
constexpr int SPEED_STEPS = 300;
std::int32_t period_of_position(int position);  // ms, RATE_SLOWEST_MS..RATE_FASTEST_MS
int position_of_period(std::int32_t periodMs);

// The colour of car state `slot` (tally_slot's index), as every part of the window shows it.
QColor state_colour(int slot);

// A parameter's value as the window shows it: the value the model uses, in the
// shortest text that reads back to it, the error spread with its level named
// ("0.001 (low)", "360 (moderate)", "inf (high)").
QString shown_value(const ParameterInfo& info, double value);
// The error level for the monitors: "low: 0.001", "moderate: 360", "high: inf (...)".
QString error_level_text(double spread);
// What tells a run apart from the `other` run it is compared with: its error
// spread ("error 360", "error inf"), then every other parameter whose value
// differs from the other's ("error 90, cars_per_house=1").
QString run_caption(const ModelParameters& run, const ModelParameters& other);

class SidePanel : public QWidget, public AppObserver {
  public:
    explicit SidePanel(App& app, QWidget* parent = nullptr);
    ~SidePanel() override;

    // Bring everything shown up to date with the App (also while hidden, so
    // that it is right when it opens).
    void refresh();

    // The parameters being edited for the first run (0) or Compare's second
    // (1): the running scenario's until the user changes one; they reach the
    // simulation only through Apply and reset, which rebuilds both runs.
    const ModelParameters& edited(int run = 0) const;
    // Which run's values the editors show and take: 0, or 1 while Compare is
    // on (Compare's "Edit A" and "Edit B" buttons).
    void edit_run(int run);
    int edited_run() const;
    // Sets the editor of `name` as if the user had typed `text`; false when
    // there is no such parameter or the text is no number.
    bool edit(const char* name, const QString& text);
    // Whether the editor of the parameter is marked as differing from the running value.
    bool marked(const char* name) const;
    void apply_and_reset();
    // The values being edited to a parameter file, in the format of the start
    // option --params, and back from one (over the defaults, as --params
    // reads it; Apply and reset uses them). False with the reason.
    bool save_parameters(const QString& file, QString& error) const;
    bool load_parameters(const QString& file, QString& error);
    void edit_defaults();

    // The plot's points for state `series` (0..5 in the Info box's order) and the
    // total (6), as (tick, count), since the last rebuild; the second run's,
    // drawn dashed in the same colours, while Compare is on.
    QList<QPointF> plotted(int series) const;
    QList<QPointF> plotted_second(int series) const;
    // The curves the chart holds and shows: (series 0..6, second run or not).
    const QLineSeries* curve(int series, bool second) const;
    // How many of those points the plot on the screen shows; it catches up a
    // few times a second.
    qsizetype drawn_points() const;
    // The colour series `series` is drawn in, and the one its monitor's mark shows.
    QColor plotted_colour(int series) const;
    QColor monitor_colour(int series) const;
    // What a monitor shows: "counts", "run", "rate", "error", "scenario",
    // "changed"; while Compare is on also "second counts" (as "counts") and
    // "compare" (the two runs' captions) and "plot key".
    QString monitor(const char* which) const;
    // Whether that monitor can be seen (the panel shown, and its row laid out,
    // not put away while Compare is on or off).
    bool monitor_shown(const char* which) const;

    // The controls, for the tests that press them as a user does.
    QPushButton* start_stop_button() const;
    QPushButton* step_button() const;
    QSlider* speed_slider() const;
    QSpinBox* run_to_box() const;
    QPushButton* run_to_button() const;
    QPushButton* apply_button() const;
    // The headers that fold the parameter groups, and the meaning shown under a parameter.
    QToolButton* group_header(int group) const;
    QLabel* meaning_label(const char* name) const;

    void ticked(App&) override;
    void rebuilt(App&) override;
    void compare_toggled(App&) override;
    void presented(App&) override;

  private:
    QString rate_text() const;
    struct Parts;
    App& app_;
    std::unique_ptr<Parts> parts_;
};

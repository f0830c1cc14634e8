// A design's plots and index charts drawn in this process with Qt. A design's
// curves are drawn here rather than by write_plots (plot.h): its groups (points,
// or values of the first varied parameter) are told apart by a mark each, a
// colour and a marker shape on the mean curve and in the legend, where error
// levels need colours alone.
#pragma once

#include <QColor>
#include <cstddef>

#include "experiments/pictures/plot.h"
#include "experiments/pictures/sweep_pictures.h"

// A group's mark: one of ten colours and one of six marker shapes, paired so
// that groups 0 to 59 each have their own, and neighbours differ in both.
struct GroupMark {
    QColor colour;
    int shape;  // a QScatterSeries::MarkerShape
};
constexpr std::size_t GROUP_MARK_COLOURS = 10;
constexpr std::size_t GROUP_MARK_SHAPES = 6;
GroupMark group_mark(std::size_t group);

// The design's curves as write_plots draws a sweep's (three panels, the mean
// and the 10-90 % band of each group), each group in its mark.
bool write_design_plots(const SweepSummary& table, const std::string& title,
                        const std::vector<PlotTarget>& targets, std::string& error);

class DrawnDesignPictures : public SweepPictures {
  public:
    bool draw_design_plots(const SweepSummary& table, const std::string& title,
                           const std::vector<std::string>& paths, std::vector<std::string>& bytes,
                           std::string& error) override;
    bool draw_index_charts(const Design& design, const std::vector<SensitivityReport::Row>& rows,
                           const std::string& title, const std::vector<std::string>& paths,
                           std::vector<std::string>& bytes, std::string& error) override;
};

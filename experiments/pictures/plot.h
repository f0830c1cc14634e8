// The evacuation curves of a sweep drawn with Qt Charts: three panels (cars
// evacuated, en route, not evacuated over the ticks), each with the mean across
// the sweep's scenarios and the band between their 10th and 90th percentiles,
// one colour per error level. Drawn without a window on Qt's offscreen
// platform, into PNG or SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "experiments/planning/sensitivity.h"
#include "experiments/records/summary.h"

enum class PlotFormat { Png, Svg };

// By the name's ending, ".png" or ".svg" (any case); nothing for other names.
std::optional<PlotFormat> plot_format_of(const std::string& path);

struct PlotTarget {
    std::string file;  // written as is, whatever its name ends in
    PlotFormat format;
    // When set, the picture's bytes go here instead of into `file`, for the
    // caller to write (and check) itself.
    std::string* bytes = nullptr;
};

// Draws the curves the summary kept (it must have been made with keepCurves)
// into every target. `title` heads the picture. False, with the reason in
// `error`, when a file could not be written.
bool write_plots(const SweepSummary& summary, const std::string& title,
                 const std::vector<PlotTarget>& targets, std::string& error);

// The sensitivity indices as bar charts, one panel per run figure that has
// them: a Saltelli design's first- and total-order indices with their
// intervals as whiskers, a Morris design's mu* with its interval beside sigma.
bool write_index_chart(const Design& design, const std::vector<SensitivityReport::Row>& rows,
                       const std::string& title, const std::vector<PlotTarget>& targets,
                       std::string& error);

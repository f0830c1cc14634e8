// The evacuation curves of a sweep drawn with Qt Charts: three panels (cars
// evacuated, en route, not evacuated over the ticks), each with the mean across
// the sweep's scenarios and the band between their 10th and 90th percentiles,
// one colour per error level. Drawn without a window on Qt's offscreen
// platform, into PNG or SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "experiments/summary.h"

enum class PlotFormat { Png, Svg };

// By the name's ending, ".png" or ".svg" (any case); nothing for other names.
std::optional<PlotFormat> plot_format_of(const std::string& path);

// Draws the curves the summary kept (it must have been made with keepCurves)
// once per format, into memory: `pictures[i]` receives the bytes of a file of
// `formats[i]`, for the caller to write where it wants. `title` heads the
// picture. False, with the reason in `error`, when there is nothing to draw or
// a picture could not be encoded.
bool draw_plots(const SweepSummary& summary, const std::string& title,
                const std::vector<PlotFormat>& formats, std::vector<std::string>& pictures,
                std::string& error);

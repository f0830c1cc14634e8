// A calibration's fit: the observed shares as points over the simulated mean
// at the best fit and the band of the middle 80 % (10 to 90 %) of its runs,
// for the departed cars and, when observed, the arrived ones.
#pragma once

#include <optional>
#include <string>

#include "experiments/calibration/problem.h"

// The PNG's bytes; false with the reason in `error`. Time in hours when
// `minutesPerTick` is given, else in ticks.
bool draw_fit_plot(const ObservedCurve& observed, const SimulatedShares& shares,
                   const std::string& title, std::optional<double> minutesPerTick,
                   std::string& png, std::string& error);

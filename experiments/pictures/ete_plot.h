// The cumulative arrivals of an evacuation time estimate: the share of the
// leaving cars at an exit against time, the mean over the replicates and the
// band holding the middle 95 % of them, with the 50, 90 and 100 % lines.
#pragma once

#include <optional>
#include <string>

#include "experiments/records/ete.h"

// The PNG's bytes; false with the reason in `error`. Time in hours when
// `minutesPerTick` is given, else in ticks.
bool draw_ete_plot(const EteBand& band, const std::string& title,
                   std::optional<double> minutesPerTick, std::string& png, std::string& error);

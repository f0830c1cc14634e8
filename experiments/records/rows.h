// A run's rows in the sweep's files: the curve rows, the summary row and the
// key and column names every file's rows start with.
#pragma once

#include <string>
#include <vector>

#include "experiments/planning/run_plan.h"
#include "experiments/records/run_figures.h"

// A run's error spread as a number: the shortest text that reads back to the
// float the model uses ("0.001", "360", "1e+30", "inf"). Every row carries it
// in its spread column beside the level's name in its error column ("low",
// "moderate", "high", or the same number for any other spread).
std::string spread_text(double spread);

// The curve rows of one run, one per sample tick, in the long form
// seed,step,error,spread,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas.
void append_curve_rows(std::string& out, const SweepRun& run, const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples);
constexpr const char* CURVES_COLUMNS =
    "seed,step,error,spread,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas\n";

// The summary row of one run: seed,step,error,spread, the six final counts, the ticks
// of 50 % and 90 % evacuated (empty when never), the most en route and its
// tick, the tick the town settled and the tick of the last arrival (empty when
// never), the evacuated cars' mean and 90th-percentile trip time (empty
// without trips) and the households that never left.
void append_summary_row(std::string& out, const SweepRun& run, const RunFigures& figures);
constexpr const char* SUMMARY_COLUMNS =
    "seed,step,error,spread,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,"
    "tick_50,tick_90,max_en_route,max_en_route_tick,settled_tick,last_arrival_tick,trip_mean,"
    "trip_p90,households_never_left\n";

// The columns a summary row gains when its town has zones or its run has
// orders, each with a leading comma: per zone zone_NAME_departures and
// zone_NAME_tick_50, _tick_90, _tick_100 (its cars' clearance; empty when
// never) and zone_NAME_stranded (its cars that gave up or stand out of gas at
// the end), then left_before_order, left_after_order, left_without_order (shares
// of the cars that left home: before their zone's first order, at or after it,
// in a zone no order named; empty when no car left).
std::string zone_summary_columns(const Town& town);

// The same for a run of `plan`: a design's rows start with the point, the
// replicate, then seed,step,error,spread and the value of every varied parameter.
void append_curve_rows(std::string& out, const SweepPlan& plan, const SweepRun& run,
                       const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples);
void append_summary_row(std::string& out, const SweepPlan& plan, const SweepRun& run,
                        const RunFigures& figures);
// The fields every row of a run of `plan` starts with, and their names, each
// with a trailing comma: "seed,step,error,spread," or a design's point,
// replicate, seed, step, error, spread and varied values. A row's key, the run
// it belongs to, is its first three fields (row_key in sweep_files.h).
std::string plan_run_key(const SweepPlan& plan, const SweepRun& run);
std::string key_columns(const SweepPlan& plan);
// The column lines of the plan's files.
std::string curve_columns(const SweepPlan& plan);
std::string summary_columns(const SweepPlan& plan);

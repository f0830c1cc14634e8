// The headless runner: one scenario, run for a number of ticks, reported as a
// tally table, CSV, or tick-by-tick fingerprints.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "sim/scenario.h"

enum class TallyFormat { Table, Csv };

struct RunOptions {
    ScenarioSetup scenario;
    long long ticks = 2000;            // how many ticks to run
    std::vector<long long> at;         // ticks whose tally is reported
    long long every = 0;               // also every this many ticks (0: not)
    TallyFormat format = TallyFormat::Table;
    bool fingerprint = false;   // fingerprint lines for tick 0 and after every tick instead
    bool untilSettled = false;  // stop once no car waits or is under way; `ticks` is the cap
    std::shared_ptr<const Town> town;  // null: the built-in town
    std::string planLine;              // the header's "# plan: ..." line; empty without a plan
};

// The ticks whose tally a run reports: those asked for (within the run), every
// `every`-th, and the last tick when nothing else was asked; sorted, once each.
std::vector<long long> report_ticks(const RunOptions& options);

// Runs the scenario and writes its report: comment lines naming the town
// (when it is not the built-in one), the parameters that differ from their
// defaults and the road plan when there is one, then the fingerprints or the tally rows;
// after the rows (not after fingerprints) what the run showed: when it
// settled, the last arrival, the trip times and the households that never
// left (as comment lines in CSV).
void run_headless(const RunOptions& options, std::ostream& out);

// Tally rows in both formats, shared with the sweeps.
void write_tally_header(std::ostream& out, TallyFormat format);
void write_tally_row(std::ostream& out, TallyFormat format, long long tick, const VehicleTally& t);

// A whole sweep or design as one piece of work: its output files made, their
// headers written, the runs an interrupted attempt completed kept, the rest
// run on all cores, the plots drawn, every output put in place together, the
// provenance written and the table printed. What to run is checked before
// (the command line, the Python module); this does it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "experiments/pictures/sweep_pictures.h"
#include "experiments/planning/design.h"
#include "experiments/records/provenance.h"
#include "experiments/running/sweep.h"

// Where a sweep's outputs go; an empty name is no such output, "-" standard output.
struct SweepOutputs {
    std::string curves;
    std::string summary;
    std::string households;
    std::string designOut;
    std::string sensitivity;
    std::string metadata;
    std::vector<std::string> plots;
    std::vector<std::string> sensitivityPlots;
    bool noHeader = false;  // rows only: no comment lines, no column names
    bool resume = false;    // keep the complete runs an earlier attempt left
    std::string table;      // the printed table's estimates (CSV)
    std::string paired;     // its paired differences (CSV)
};

struct SweepJob {
    SweepPlan plan;                  // the runs of this shard, in order
    std::size_t sweepRuns = 0;       // the runs of the whole sweep
    std::size_t scenarioCount = 0;   // scenarios, or a design's replicates
    std::vector<float> levels;       // a plain sweep's error levels
    std::string errors;              // as given, for the plot's legend
    const Design* design = nullptr;  // a design's points, or null for a plain sweep
    long long shardIndex = 1;
    long long shardCount = 1;
    SweepOutputs outputs;
    int threads = 0;             // 0: all cores
    std::string command;         // the command line as the headers record it
    ModelParameters parameters;  // as given, before any design point
    std::vector<OutputFigure> figures = default_output_figures();  // of a design's indices
    std::string planLines;  // the headers' "# plan: ..." lines of the plan files; empty: none
    std::vector<std::pair<std::string, std::string>> planRecords;  // the same for the metadata
};

// The most groups of a design's points in the table and the plot.
constexpr std::size_t MAX_TABLE_GROUPS = 12;

// The outcome: 0; 2 with the reason when an output cannot be made (nothing is
// written then); 1 with the reason when the work could not be completed (the
// old outputs are kept). An empty reason was already reported.
struct JobStatus {
    int status = 0;
    std::string message;
};

JobStatus run_sweep_job(SweepJob& job, RunRecord& record, SweepPictures& pictures);

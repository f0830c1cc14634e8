// A calibration's text files: the trace of every evaluation (read back by a
// resumed calibration), the parameter file of the best fit and the report.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "experiments/calibration/fit.h"

// The trace's first lines: what the calibration is (a resume must be the same
// one: the observed points, the replicates, the plan, the method and budget,
// the bounds and the parameters it does not vary), a line for each target,
// and the column names evaluation,stage,sample,NAME...,objective, then
// sim_LABEL for each target (its simulated mean, in the file's unit).
std::string trace_header(const CalibrationSetup& setup);
// One evaluation's row, every number written so that it reads back to itself.
std::string trace_row(const Evaluation& e);

// Reads an earlier trace made by the same calibration into `evaluator`'s memory.
// `name` is the file as messages show it. The refusal ("NAME:LINE: ...") or empty text.
std::string read_trace(std::string_view text, const std::string& name, const CalibrationSetup& setup,
                       Evaluator& evaluator);

// The best record's parameter file: every parameter that differs from its
// default or was fitted, "name = value", for --params.
std::string fit_parameter_file(const CalibrationSetup& setup, const FitResult& fit,
                               const std::string& observedName);

// The best record of the fit: the base parameters with the fitted values.
ModelParameters fitted_parameters(const CalibrationSetup& setup, const FitResult& fit);

// report.txt: the best values with their intervals and bounds, the targets'
// observed and fitted values (`best`: the replicates at the best fit), the
// warnings of parameters the data do not identify, the correlations, the
// objective, the evaluations and runs, and every replicate's seed.
std::string calibration_report(const CalibrationSetup& setup, const FitResult& fit,
                               const Uncertainty& uncertainty, const Evaluator& evaluator,
                               const SimulatedShares& best, const std::string& observedName);

// The warning lines of the report for the parameters the data do not identify.
std::string identification_warnings(const CalibrationSetup& setup, const Uncertainty& uncertainty);

#include "experiments/calibration/report.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/provenance.h"

namespace {

std::string observed_digest(const ObservedCurve& observed) {
    std::string text;
    for (const ObservedPoint& p : observed.points)
        text += std::to_string(p.tick) + "," + format_value(p.departed) + "," +
                (p.arrived ? format_value(*p.arrived) : "") + "," + format_value(p.weight) + "\n";
    for (const ObservedTarget& t : observed.targets)  // none in a curve's file: its digest stays
        text += "target," + t.label + "," + format_value(t.value) + "," + format_value(t.weight) + "\n";
    return sha256_of_text(text);
}

std::string target_text(const ObservedTarget& t) {
    std::string what = t.kind == TargetKind::Participation ? "participation share" : "90 % clearance time";
    what += t.zone.empty() ? " of the town" : " of zone " + t.zone;
    if (t.kind == TargetKind::Participation)
        what += t.tick ? " by tick " + std::to_string(*t.tick) : " at the run's end";
    else
        what += t.minutesPerTick > 0 ? " in hours" : " in ticks";
    return what;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

// A value as the report's table shows it: six significant digits.
std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

}  // namespace

std::string trace_header(const CalibrationSetup& setup) {
    std::string h = "# Marovel calibration trace\n";
    h += "# observed: " + std::to_string(setup.observed.points.size()) + " points" +
         (setup.observed.targets.empty()
              ? std::string()
              : ", " + std::to_string(setup.observed.targets.size()) + " targets") +
         ", sha256 " + observed_digest(setup.observed) + "\n";
    for (const ObservedTarget& t : setup.observed.targets)
        h += "# target " + t.label + ": the " + target_text(t) + ", observed " +
             format_value(target_in_file_unit(t, t.value)) + ", weight " + format_value(t.weight) +
             "; sim_" + t.label + " is the replicates' mean\n";
    h += "# replicates: " + std::to_string(setup.replicates) + ", scenarios " +
         std::to_string(setup.seedBase) + ".." + std::to_string(setup.seedBase + setup.replicates - 1) +
         ", error " + error_spread_text(setup.base.parameters.errorSpread) + ", " +
         std::to_string(setup.base.ticks) + " ticks\n";
    // Not the bootstrap's size, its refits' budget or the slices: no evaluation
    // of a sample or a slice depends on them, so a resume may change them.
    h += "# method: " + std::string(method_name(setup.method)) + ", budget " +
         std::to_string(setup.budget) + "\n";
    if (setup.base.town) h += town_line(*setup.base.town) + "\n";
    h += parameters_line(setup.base.parameters);
    std::string vary = "# vary:";
    for (const VariedParameter& v : setup.varied)
        vary += std::string(" ") + v.info->name + "=" + format_value(v.low) + ".." + format_value(v.high);
    h += vary + "\n";
    std::string columns = "evaluation,stage,sample";
    for (const VariedParameter& v : setup.varied) columns += std::string(",") + v.info->name;
    columns += ",objective";
    for (const ObservedTarget& t : setup.observed.targets) columns += ",sim_" + t.label;
    return h + columns + "\n";
}

std::string trace_row(const Evaluation& e) {
    std::string row = std::to_string(e.number);
    row += ',';
    row += stage_name(e.stage);
    row += ',';
    row += std::to_string(e.sample);
    for (const double v : e.values) {
        row += ',';
        row += format_value(v);
    }
    row += ',';
    row += format_value(e.objective);
    for (const double v : e.targets) {
        row += ',';
        row += format_value(v);
    }
    return row += '\n';
}

std::string read_trace(std::string_view text, const std::string& name, const CalibrationSetup& setup,
                       Evaluator& evaluator) {
    const std::string file = file_name_text(name);
    const std::string header = trace_header(setup);
    std::size_t lineNo = 0, pos = 0;
    while (pos < header.size()) {
        const std::size_t end = header.find('\n', pos) + 1;
        ++lineNo;
        if (text.substr(pos, end - pos) != std::string_view(header).substr(pos, end - pos))
            return file + ":" + std::to_string(lineNo) +
                   ": made by another calibration (its observed points, scenarios, method, "
                   "parameters or bounds differ); remove it or drop --resume";
        pos = end;
    }
    struct Row {
        Stage stage;
        int sample;
        std::vector<double> values;
        double objective;
        std::vector<double> targets;
    };
    std::vector<Row> rows;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        ++lineNo;
        if (nl == std::string_view::npos) break;  // a row cut short by a kill
        const std::vector<std::string_view> fields = split(text.substr(pos, nl - pos));
        pos = nl + 1;
        const std::optional<Stage> stage =
            fields.size() > 1 ? parse_stage(fields[1]) : std::optional<Stage>();
        std::int64_t sample = 0;
        const std::size_t targets = setup.observed.targets.size();
        if (fields.size() != setup.varied.size() + 4 + targets || !stage || !parse_integer(fields[2], sample) ||
            sample < 0 || sample > INT32_MAX)
            return file + ":" + std::to_string(lineNo) + ": not a row of this trace";
        std::vector<double> numbers;
        for (std::size_t i = 3; i < fields.size(); ++i) {
            if (!parse_decimal(fields[i], numbers.emplace_back()))
                return file + ":" + std::to_string(lineNo) + ": " + quote_input(fields[i]) +
                       " is not a number";
        }
        const auto objective = numbers.begin() + static_cast<std::ptrdiff_t>(setup.varied.size());
        rows.push_back({*stage, static_cast<int>(sample), {numbers.begin(), objective}, *objective,
                        {objective + 1, numbers.end()}});
    }
    for (const Row& r : rows) evaluator.remember(r.stage, r.sample, r.values, r.objective, r.targets);
    return {};
}

ModelParameters fitted_parameters(const CalibrationSetup& setup, const FitResult& fit) {
    ModelParameters p = setup.base.parameters;
    for (std::size_t i = 0; i < setup.varied.size(); ++i)
        p.*setup.varied[i].info->field = fit.best[i];
    return p;
}

std::string fit_parameter_file(const CalibrationSetup& setup, const FitResult& fit,
                               const std::string& observedName) {
    const ModelParameters p = fitted_parameters(setup, fit);
    std::string out = "# Marovel calibration: the best fit to " + file_name_text(observedName) +
                      ", objective " + format_value(fit.objective) + "\n";
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        bool varied = false;
        for (const VariedParameter& v : setup.varied) varied = varied || v.info == &info;
        if (varied || !is_default(p, info))
            out += std::string(info.name) + " = " + format_parameter(info, p.*info.field) + "\n";
    }
    return out;
}

std::string identification_warnings(const CalibrationSetup& setup, const Uncertainty& u) {
    std::string out;
    for (std::size_t i = 0; i < setup.varied.size(); ++i)
        if (!u.intervals[i].identified)
            out += std::string("warning: ") + setup.varied[i].info->name +
                   " is not identified: the objective stays flat, within " +
                   format_value(u.flatness) + " of the best, over its whole range " + format_value(setup.varied[i].low) + ".." +
                   format_value(setup.varied[i].high) + "\n";
    return out;
}

std::string calibration_report(const CalibrationSetup& setup, const FitResult& fit,
                               const Uncertainty& u, const Evaluator& evaluator,
                               const SimulatedShares& best, const std::string& observedName) {
    const std::size_t d = setup.varied.size();
    char line[512];
    std::string out = "Marovel calibration\n";
    const std::string targets = std::to_string(setup.observed.targets.size()) + " targets";
    out += "observed: " + file_name_text(observedName) + ", ";
    if (setup.observed.points.empty())
        out += targets + " (no curve)\n";
    else
        out += std::to_string(setup.observed.points.size()) + " points of departed" +
               (setup.observed.hasArrived ? " and arrived" : "") + " shares" +
               (setup.observed.targets.empty() ? std::string() : ", " + targets) + "\n";
    out += std::string("method: ") + method_name(setup.method) + ", budget " +
           std::to_string(setup.budget) + "; " + std::to_string(fit.evaluations) +
           " evaluations of the fit (" + fit.stopped + "), " +
           std::to_string(evaluator.evaluations(Stage::Bootstrap)) + " of the bootstrap's refits, " +
           std::to_string(evaluator.evaluations(Stage::Slice)) + " of the slices; " +
           std::to_string(evaluator.runs()) + " runs simulated\n";
    out += "objective at the best fit: " + format_value(fit.objective) +
           " (weighted squared distance to the mean of " + std::to_string(setup.replicates) +
           " replicates)\n\n";
    std::snprintf(line, sizeof line, "%-22s %-12s %-12s %-12s %s\n", "parameter", "best",
                  "95 % low", "95 % high", "bounds");
    out += line;
    for (std::size_t i = 0; i < d; ++i) {
        const VariedParameter& v = setup.varied[i];
        const ParameterInterval& in = u.intervals[i];
        std::snprintf(line, sizeof line, "%-22s %-12s %-12s %-12s %s..%s%s\n", v.info->name,
                      shown(fit.best[i]).c_str(), shown(in.low).c_str(),
                      shown(in.high).c_str(), format_value(v.low).c_str(),
                      format_value(v.high).c_str(), in.identified ? "" : "  not identified");
        out += line;
    }
    out += '\n';
    if (!setup.observed.targets.empty()) {
        std::snprintf(line, sizeof line, "%-30s %-12s %-12s %-12s %-12s %s\n", "target", "observed",
                      "fitted mean", "10 %", "90 %", "weight");
        out += line;
        for (std::size_t k = 0; k < setup.observed.targets.size(); ++k) {
            const ObservedTarget& t = setup.observed.targets[k];
            const auto in_unit = [&](double v) { return shown(target_in_file_unit(t, v)); };
            std::snprintf(line, sizeof line, "%-30s %-12s %-12s %-12s %-12s %s\n", t.label.c_str(),
                          in_unit(t.value).c_str(), in_unit(best.targetMean[k]).c_str(),
                          in_unit(best.targetLow[k]).c_str(), in_unit(best.targetHigh[k]).c_str(),
                          format_value(t.weight).c_str());
            out += line;
        }
        out += "(a time's difference is scored as a share of the " + std::to_string(best.runTicks) +
               "-tick run; a run that never clears 90 % counts as clearing at its end)\n\n";
    }
    out += identification_warnings(setup, u);
    if (d > 1) {
        out += "correlation of the fitted parameters over the bootstrap's refits (- where one "
               "does not vary):\n";
        out += padded("", 22);
        for (const VariedParameter& v : setup.varied) {
            out += ' ';
            out += padded(v.info->name, 22);
        }
        out += "\n";
        for (std::size_t i = 0; i < d; ++i) {
            out += padded(setup.varied[i].info->name, 22);
            for (std::size_t j = 0; j < d; ++j) {
                const double c = u.correlation[i][j];
                if (std::isfinite(c))
                    std::snprintf(line, sizeof line, " %-22.3f", c);
                else
                    std::snprintf(line, sizeof line, " %-22s", "-");
                out += line;
            }
            out += "\n";
        }
        out += "\n";
    }
    out += "intervals: the best values +- 1.96 standard deviations of " +
           std::to_string(setup.bootstrap) + " refits to bootstrap observations made at the best fit from runs of their own "
           "(scenarios " + std::to_string(setup.seedBase + setup.replicates) + ".." +
           std::to_string(setup.seedBase + setup.replicates + setup.bootstrap - 1) +
           "), their deviations scaled by " + shown(u.noiseScale) +
           " to lie as far from the mean as the observed points do\n";
    out += "error: " + error_spread_text(setup.base.parameters.errorSpread) + ", " +
           std::to_string(setup.base.ticks) + " ticks a run\n";
    out += "seeds of the " + std::to_string(setup.replicates) + " replicates (scenarios " +
           std::to_string(setup.seedBase) + ".." +
           std::to_string(setup.seedBase + setup.replicates - 1) + "):";
    for (long long k = 0; k < setup.replicates; ++k)
        out += (k % 10 == 0 ? "\n  " : " ") + std::to_string(seed_of_step(setup.seedBase + k));
    return out + "\n";
}

#include "experiments/records/rows.h"

#include <charconv>
#include <cmath>

#include "experiments/planning/parameter_text.h"

namespace {

void append_count(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

// The shortest text that reads back to the same double.
void append_real(std::string& out, double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

void append_step(std::string& out, const SweepScenario& s) {
    if (s.step) append_count(out, *s.step);
}

void append_spread(std::string& out, double spread) {
    out += error_spread_text(spread);
    out += ',';
    out += spread_text(spread);
    out += ',';
}

void append_run_key(std::string& out, const SweepRun& run) {
    append_count(out, run.scenario.seed);
    out += ',';
    append_step(out, run.scenario);
    out += ',';
    append_spread(out, run.errorSpread);
}

// A design run's key: point,replicate,seed,step,error,spread, then the varied values.
void append_design_key(std::string& out, const SweepPlan& plan, const SweepRun& run) {
    const ModelParameters& p = plan.points[run.point];
    append_count(out, run.point);
    out += ',';
    append_count(out, run.replicate);
    out += ',';
    append_count(out, run.scenario.seed);
    out += ',';
    append_step(out, run.scenario);
    out += ',';
    append_spread(out, p.errorSpread);
    for (const ParameterInfo* info : plan.varied) {
        out += format_value(p.*info->field);
        out += ',';
    }
}

void append_plan_key(std::string& out, const SweepPlan& plan, const SweepRun& run) {
    if (!plan.variants.empty()) {
        out += plan.variants[run.variant].name;
        out += ',';
    }
    if (plan.points.empty())
        append_run_key(out, run);
    else
        append_design_key(out, plan, run);
}

std::string design_columns(const SweepPlan& plan) {
    std::string columns = "point,replicate,seed,step,error,spread,";
    for (const ParameterInfo* info : plan.varied) {
        columns += info->name;
        columns += ',';
    }
    return columns;
}

void append_tally(std::string& out, const VehicleTally& t) {
    for (std::int32_t n : {t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas}) {
        out += ',';
        append_count(out, n);
    }
}

void append_curve_rows_with_key(std::string& out, const std::string& key,
                                const std::vector<long long>& ticks,
                                const std::vector<VehicleTally>& samples) {
    for (std::size_t i = 0; i < samples.size() && i < ticks.size(); ++i) {
        out += key;
        append_count(out, ticks[i]);
        append_tally(out, samples[i]);
        out += '\n';
    }
}

void append_summary_after_key(std::string& out, const RunFigures& f) {
    out.pop_back();  // the key's trailing comma; the tally brings its own
    append_tally(out, f.final);
    out += ',';
    if (f.tickHalf) append_count(out, *f.tickHalf);
    out += ',';
    if (f.tickMost) append_count(out, *f.tickMost);
    out += ',';
    append_count(out, f.maxEnRoute);
    out += ',';
    append_count(out, f.maxEnRouteTick);
    const RunObservations& o = f.observed;
    out += ',';
    if (o.settledTick) append_count(out, *o.settledTick);
    out += ',';
    if (o.lastArrivalTick) append_count(out, *o.lastArrivalTick);
    out += ',';
    if (o.trips > 0) append_real(out, o.tripMean);
    out += ',';
    if (o.trips > 0) append_real(out, o.tripP90);
    out += ',';
    append_count(out, o.householdsNeverLeft);
    out += '\n';
}

bool zone_columns(const SweepPlan& plan) {
    const Town& town = plan.town ? *plan.town : builtin_town();
    bool any = reports_zones(town, plan.orders);
    for (const PlanVariant& v : plan.variants) any = any || reports_zones(town, v.orders);
    return any;
}

// A plan's column before the others, in a sweep that compares plans.
std::string with_plan_column(const SweepPlan& plan, std::string columns) {
    return plan.variants.empty() ? columns : "plan," + columns;
}

// The zones' fields after the summary's own: each zone's departures, its
// 50, 90 and 100 % clearance ticks and its stranded cars, then the shares of the cars that left
// before their order, at or after it, and without one.
void append_zone_fields(std::string& out, const RunObservations& o) {
    for (const ZoneObservations& z : o.zones) {
        out += ',';
        append_count(out, z.departures);
        for (const std::optional<long long>& t : {z.clear50, z.clear90, z.clear100}) {
            out += ',';
            if (t) append_count(out, *t);
        }
        out += ',';
        append_count(out, z.stranded);
    }
    const std::int64_t left = std::int64_t{o.leftBeforeOrder} + o.leftAfterOrder + o.leftWithoutOrder;
    for (std::int32_t n : {o.leftBeforeOrder, o.leftAfterOrder, o.leftWithoutOrder}) {
        out += ',';
        if (left > 0) append_real(out, static_cast<double>(n) / static_cast<double>(left));
    }
}

}  // namespace

std::string zone_summary_columns(const Town& town) {
    std::string columns;
    for (std::size_t z = 0; z < zone_count(town); ++z) {
        const std::string name = "zone_" + zone_name(town, z);
        columns += "," + name + "_departures," + name + "_tick_50," + name + "_tick_90," + name +
                   "_tick_100," + name + "_stranded";
    }
    return columns + ",left_before_order,left_after_order,left_without_order";
}

std::string spread_text(double spread) {
    if (std::isinf(spread)) return spread > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto [ptr, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(spread));
    (void)ec;
    return std::string(buffer, ptr);
}

void append_curve_rows(std::string& out, const SweepRun& run, const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples) {
    std::string key;
    append_run_key(key, run);
    append_curve_rows_with_key(out, key, ticks, samples);
}

void append_curve_rows(std::string& out, const SweepPlan& plan, const SweepRun& run,
                       const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples) {
    std::string key;
    append_plan_key(key, plan, run);
    append_curve_rows_with_key(out, key, ticks, samples);
}

void append_summary_row(std::string& out, const SweepRun& run, const RunFigures& f) {
    append_run_key(out, run);
    append_summary_after_key(out, f);
}

void append_summary_row(std::string& out, const SweepPlan& plan, const SweepRun& run,
                        const RunFigures& f) {
    append_plan_key(out, plan, run);
    append_summary_after_key(out, f);
    if (!zone_columns(plan)) return;
    out.pop_back();
    if (f.observed.zones.empty()) {
        // A compared plan without orders on a town without zones: its run
        // reports no zones, and its fields stay empty.
        const std::size_t fields = 5 * zone_count(plan.town ? *plan.town : builtin_town()) + 3;
        out.append(fields, ',');
    } else {
        append_zone_fields(out, f.observed);
    }
    out += '\n';
}

std::string plan_run_key(const SweepPlan& plan, const SweepRun& run) {
    std::string key;
    append_plan_key(key, plan, run);
    return key;
}

std::string key_columns(const SweepPlan& plan) {
    return with_plan_column(plan, plan.points.empty() ? std::string("seed,step,error,spread,")
                                                      : design_columns(plan));
}

std::string curve_columns(const SweepPlan& plan) {
    if (plan.points.empty()) return with_plan_column(plan, CURVES_COLUMNS);
    const std::string plain = CURVES_COLUMNS;
    return with_plan_column(plan, design_columns(plan) + plain.substr(plain.find("tick")));
}

std::string summary_columns(const SweepPlan& plan) {
    std::string plain = SUMMARY_COLUMNS;
    if (zone_columns(plan)) {
        plain.pop_back();
        plain += zone_summary_columns(plan.town ? *plan.town : builtin_town()) + "\n";
    }
    if (plan.points.empty()) return with_plan_column(plan, plain);
    return with_plan_column(plan, design_columns(plan) + plain.substr(plain.find("not_evacuated")));
}

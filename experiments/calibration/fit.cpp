#include "experiments/calibration/fit.h"

#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <nlopt.hpp>

#include "experiments/records/summary.h"

const char* stage_name(Stage stage) {
    switch (stage) {
    case Stage::Fit: return "fit";
    case Stage::Bootstrap: return "bootstrap";
    case Stage::Slice: return "slice";
    }
    return "?";
}

std::optional<Stage> parse_stage(std::string_view name) {
    for (const Stage s : {Stage::Fit, Stage::Bootstrap, Stage::Slice})
        if (name == stage_name(s)) return s;
    return std::nullopt;
}

Evaluator::Evaluator(const CalibrationSetup& setup, Listener onEvaluation)
    : setup_(setup), listener_(std::move(onEvaluation)) {}

void Evaluator::remember(Stage stage, int sample, const std::vector<double>& values,
                         double objective, const std::vector<double>& targets) {
    earlier_[{static_cast<int>(stage) * (1 << 20) + sample, values}] = {objective, targets};
}

double Evaluator::score(std::vector<double> values, Stage stage, int sample,
                        const ObservedCurve* observed) {
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = stored_value(*setup_.varied[i].info, values[i]);
    Evaluation e;
    e.number = ++count_;
    ++byStage_[static_cast<int>(stage)];
    e.stage = stage;
    e.sample = sample;
    e.values = values;
    const ObservedCurve& against = observed ? *observed : setup_.observed;
    const auto shown = [&](const SimulatedShares& s) {
        for (std::size_t k = 0; k < s.targetMean.size(); ++k)
            e.targets.push_back(target_in_file_unit(against.targets[k], s.targetMean[k]));
    };
    if (const auto k = shares_.find(values); k != shares_.end()) {
        e.objective = objective_of(against, k->second);
        shown(k->second);
    } else if (const auto r = earlier_.find({static_cast<int>(stage) * (1 << 20) + sample, values});
               r != earlier_.end()) {
        e.objective = r->second.first;
        e.targets = r->second.second;
        e.earlier = true;
    } else {
        SimulatedShares made = simulate_candidate(setup_, values);
        made.departedRuns.clear();  // only the means are scored again
        made.arrivedRuns.clear();
        made.targetRuns.clear();
        const SimulatedShares& kept = shares_.emplace(values, std::move(made)).first->second;
        e.objective = objective_of(against, kept);
        shown(kept);
        runs_ += static_cast<std::size_t>(setup_.replicates);
    }
    if (listener_) listener_(e);
    return e.objective;
}

namespace {

// The optimisers work on the unit cube: coordinate u of parameter i stands for low + u (high - low).
double value_of(const VariedParameter& v, double u) { return v.low + u * (v.high - v.low); }
double unit_of(const VariedParameter& v, double x) { return (x - v.low) / (v.high - v.low); }

nlopt::algorithm algorithm_of(FitMethod method) {
    switch (method) {
    case FitMethod::Bobyqa: return nlopt::LN_BOBYQA;
    case FitMethod::NelderMead: return nlopt::LN_NELDERMEAD;
    case FitMethod::Crs2: return nlopt::GN_CRS2_LM;
    }
    return nlopt::LN_BOBYQA;
}

struct Minimum {
    std::vector<double> u;
    double objective = std::numeric_limits<double>::infinity();
    std::string stopped;
};

// Minimises `f` over the unit cube of u.size() coordinates from `u`, in at
// most `budget` evaluations. The best point seen is kept whatever way the
// optimiser ends (a rounding limit on a flat objective is an ordinary end here).
Minimum minimise(nlopt::algorithm algorithm, std::vector<double> u, long long budget,
                 const std::function<double(const std::vector<double>&)>& f) {
    Minimum best;
    best.u = u;
    if (u.empty()) {
        best.objective = f(u);
        return best;
    }
    nlopt::srand(1);  // CRS2's population: the same fit every time, and on a resume
    // NLopt's BOBYQA needs two coordinates; one is fitted with Nelder-Mead.
    if (algorithm == nlopt::LN_BOBYQA && u.size() == 1) algorithm = nlopt::LN_NELDERMEAD;
    nlopt::opt opt(algorithm, static_cast<unsigned>(u.size()));
    opt.set_lower_bounds(std::vector<double>(u.size(), 0.0));
    opt.set_upper_bounds(std::vector<double>(u.size(), 1.0));
    opt.set_maxeval(static_cast<int>(std::min<long long>(budget, 1 << 30)));
    opt.set_xtol_abs(1e-4);
    if (algorithm != nlopt::GN_CRS2_LM) opt.set_initial_step(0.2);
    // NLopt's CRS2 may go past its maxeval while it builds its population: the
    // budget is also kept here, by stopping the optimiser before the evaluation past it.
    struct Data {
        const std::function<double(const std::vector<double>&)>* f;
        Minimum* best;
        long long left;
    } data{&f, &best, budget};
    opt.set_min_objective(
        [](const std::vector<double>& x, std::vector<double>&, void* d) {
            Data& to = *static_cast<Data*>(d);
            if (to.left-- <= 0) throw nlopt::forced_stop();
            const double y = (*to.f)(x);
            if (y < to.best->objective) {
                to.best->objective = y;
                to.best->u = x;
            }
            return y;
        },
        &data);
    double minimum = 0.0;
    try {
        switch (opt.optimize(u, minimum)) {
        case nlopt::MAXEVAL_REACHED: best.stopped = "the budget was spent"; break;
        case nlopt::XTOL_REACHED: best.stopped = "the step fell below 1e-4 of the bounds"; break;
        case nlopt::FTOL_REACHED: best.stopped = "the objective stopped falling"; break;
        default: best.stopped = "the optimiser converged"; break;
        }
    } catch (const nlopt::forced_stop&) {
        best.stopped = "the budget was spent";
    } catch (const nlopt::roundoff_limited&) {
        best.stopped = "the objective is flat to rounding";
    } catch (const std::exception& e) {
        best.stopped = std::string("the optimiser stopped: ") + e.what();
    }
    return best;
}

std::vector<double> values_of(const std::vector<VariedParameter>& varied,
                              const std::vector<double>& u) {
    std::vector<double> x(u.size());
    for (std::size_t i = 0; i < u.size(); ++i) x[i] = value_of(varied[i], u[i]);
    return x;
}

}  // namespace

FitResult fit(Evaluator& evaluator) {
    const CalibrationSetup& setup = evaluator.setup();
    std::vector<double> start;
    for (const VariedParameter& v : setup.varied) {
        const double x = setup.base.parameters.*v.info->field;
        start.push_back(x >= v.low && x <= v.high ? unit_of(v, x) : 0.5);
    }
    const std::size_t before = evaluator.evaluations();
    const Minimum m = minimise(algorithm_of(setup.method), start, setup.budget,
                               [&](const std::vector<double>& u) {
                                   return evaluator.score(values_of(setup.varied, u), Stage::Fit);
                               });
    FitResult r;
    r.best = values_of(setup.varied, m.u);
    for (std::size_t i = 0; i < r.best.size(); ++i)
        r.best[i] = stored_value(*setup.varied[i].info, r.best[i]);
    r.objective = m.objective;
    r.evaluations = evaluator.evaluations() - before;
    r.stopped = m.stopped;
    return r;
}

namespace {

constexpr double Z_975 = 1.959963984540054;  // the standard normal's 97.5 % point

double correlation_of(const std::vector<std::vector<double>>& samples, std::size_t i, std::size_t j) {
    const auto n = static_cast<double>(samples.size());
    double mi = 0, mj = 0;
    for (const auto& s : samples) mi += s[i], mj += s[j];
    mi /= n, mj /= n;
    double sij = 0, sii = 0, sjj = 0;
    for (const auto& s : samples) {
        sij += (s[i] - mi) * (s[j] - mj);
        sii += (s[i] - mi) * (s[i] - mi);
        sjj += (s[j] - mj) * (s[j] - mj);
    }
    return sii > 0 && sjj > 0 ? sij / std::sqrt(sii * sjj) : std::nan("");
}

}  // namespace

Uncertainty bootstrap_uncertainty(Evaluator& evaluator, const FitResult& best,
                                  const SimulatedShares& shares) {
    const CalibrationSetup& setup = evaluator.setup();
    const ObservedCurve& observed = setup.observed;
    const std::size_t d = setup.varied.size();
    Uncertainty out;
    // The replicates' variance at the observed points, weighted as the objective weighs them.
    const auto index = [&](long long tick) {
        return static_cast<std::size_t>(
            std::lower_bound(shares.ticks.begin(), shares.ticks.end(), tick) - shares.ticks.begin());
    };
    const auto variance = [&](const std::vector<std::vector<double>>& runs, std::size_t t) {
        double m = 0, v = 0;
        for (const auto& r : runs) m += r[t];
        m /= static_cast<double>(runs.size());
        for (const auto& r : runs) v += (r[t] - m) * (r[t] - m);
        return runs.size() > 1 ? v / static_cast<double>(runs.size() - 1) : 0.0;
    };
    double noise = 0.0;
    for (const ObservedPoint& p : observed.points) {
        noise += p.weight * variance(shares.departedRuns, index(p.tick));
        if (observed.hasArrived) noise += p.weight * variance(shares.arrivedRuns, index(p.tick));
    }
    for (std::size_t k = 0; k < observed.targets.size(); ++k) {
        const double scale = target_scale(observed.targets[k], shares);
        noise += observed.targets[k].weight * variance(shares.targetRuns, k) / (scale * scale);
    }
    // The residuals left after fitting p parameters to n points: n / (n - p) of them is the noise.
    const double n = static_cast<double>(observed.points.size() * (observed.hasArrived ? 2 : 1) +
                                         observed.targets.size());
    const double df = std::max(n - static_cast<double>(d), 1.0);
    const double lambda2 = noise > 0 ? best.objective / noise * n / df : 0.0;
    out.noiseScale = std::sqrt(lambda2);
    const long long refitBudget =
        setup.refitBudget > 0 ? setup.refitBudget : 10 + 5 * static_cast<long long>(d);

    std::vector<double> bestU;
    for (std::size_t i = 0; i < d; ++i) bestU.push_back(unit_of(setup.varied[i], best.best[i]));
    if (setup.bootstrap > 0) {
        const SimulatedShares fresh = simulate_candidate(
            setup, best.best, setup.seedBase + setup.replicates, setup.bootstrap);
        for (int b = 1; b <= setup.bootstrap; ++b) {
            ObservedCurve sample = observed;
            const std::vector<double>& dr = fresh.departedRuns[static_cast<std::size_t>(b - 1)];
            const std::vector<double>& ar = fresh.arrivedRuns[static_cast<std::size_t>(b - 1)];
            for (ObservedPoint& p : sample.points) {
                const std::size_t t = index(p.tick);
                p.departed = std::clamp(
                    shares.departedMean[t] + out.noiseScale * (dr[t] - shares.departedMean[t]), 0.0, 1.0);
                if (p.arrived)
                    p.arrived = std::clamp(
                        shares.arrivedMean[t] + out.noiseScale * (ar[t] - shares.arrivedMean[t]), 0.0, 1.0);
            }
            const std::vector<double>& gr = fresh.targetRuns[static_cast<std::size_t>(b - 1)];
            for (std::size_t k = 0; k < sample.targets.size(); ++k) {
                const double v = shares.targetMean[k] + out.noiseScale * (gr[k] - shares.targetMean[k]);
                sample.targets[k].value =
                    sample.targets[k].kind == TargetKind::Participation ? std::clamp(v, 0.0, 1.0)
                                                                        : std::max(v, 0.0);
            }
            const Minimum m = minimise(nlopt::LN_BOBYQA, bestU, refitBudget,
                                       [&](const std::vector<double>& u) {
                                           return evaluator.score(values_of(setup.varied, u),
                                                                  Stage::Bootstrap, b, &sample);
                                       });
            std::vector<double> x = values_of(setup.varied, m.u);
            for (std::size_t i = 0; i < d; ++i) x[i] = stored_value(*setup.varied[i].info, x[i]);
            out.samples.push_back(x);
        }
    }
    // Slices through the best fit, and the rise that counts as more than noise.
    const double t = boost::math::quantile(boost::math::students_t_distribution<double>(df), 0.975);
    out.flatness = best.objective * t * t / df;
    for (std::size_t i = 0; i < d; ++i) {
        const VariedParameter& v = setup.varied[i];
        ParameterInterval in;
        double rise = 0.0;
        for (int k = 0; k <= setup.slicePoints; ++k) {
            std::vector<double> x = best.best;
            x[i] = value_of(v, static_cast<double>(k) / std::max(setup.slicePoints, 1));
            const double y = evaluator.score(x, Stage::Slice);
            in.slice.emplace_back(stored_value(*v.info, x[i]), y);
            rise = std::max(rise, y - best.objective);
        }
        in.identified = rise > out.flatness;
        double mean = 0.0, sd = 0.0;
        for (const auto& s : out.samples) mean += s[i];
        mean /= std::max<double>(1.0, static_cast<double>(out.samples.size()));
        for (const auto& s : out.samples) sd += (s[i] - mean) * (s[i] - mean);
        sd = out.samples.size() > 1 ? std::sqrt(sd / static_cast<double>(out.samples.size() - 1)) : 0.0;
        if (!in.identified) {
            in.low = v.low, in.high = v.high;
        } else {
            in.low = std::max(v.low, best.best[i] - Z_975 * sd);
            in.high = std::min(v.high, best.best[i] + Z_975 * sd);
        }
        out.intervals.push_back(std::move(in));
    }
    out.correlation.assign(d, std::vector<double>(d, std::nan("")));
    for (std::size_t i = 0; i < d; ++i)
        for (std::size_t j = 0; j < d; ++j)
            out.correlation[i][j] = i == j ? 1.0
                                    : out.samples.size() > 2 ? correlation_of(out.samples, i, j)
                                                             : std::nan("");
    return out;
}

// marovel-sim ete as a user runs it, checked against a sweep of the same
// scenarios: its summary rows and the cars' own rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "experiments/sim_folder.h"

namespace {

const std::string TWO_EXITS = MAROVEL_SOURCE_DIR "/tests/sim/towns/two_exits.town";

using Row = std::map<std::string, std::string>;

// The rows of a CSV file, by column name, comment lines skipped.
std::vector<Row> csv_rows(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> names;
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, ',')) fields.push_back(f);
        if (!line.empty() && line.back() == ',') fields.emplace_back();
        if (names.empty()) {
            names = fields;
            continue;
        }
        Row row;
        for (std::size_t i = 0; i < names.size() && i < fields.size(); ++i)
            row[names[i]] = fields[i];
        rows.push_back(row);
    }
    return rows;
}

// The ete CSV's row for a figure and estimator.
Row estimate(const std::vector<Row>& rows, const std::string& figure,
             const std::string& estimator) {
    for (const Row& r : rows)
        if (r.at("figure") == figure && r.at("estimator") == estimator) return r;
    ADD_FAILURE() << "no row " << figure << " " << estimator;
    return {};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double mean(const std::vector<double>& v) {
    double s = 0.0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
}

// What one run did, from the sweep's rows of its cars: the cars that left
// home, the ticks at which the evacuated ones reached an exit, its households.
struct CarAccount {
    long long left = 0;
    std::vector<long long> arrivals;
    std::set<std::string> households;
};

// The first tick by which `percent` % of the leaving cars had reached an exit.
std::optional<long long> share_tick(CarAccount a, int percent) {
    std::sort(a.arrivals.begin(), a.arrivals.end());
    const long long k = (a.left * percent + 99) / 100;  // cars needed
    if (a.left == 0 || k > static_cast<long long>(a.arrivals.size())) return std::nullopt;
    return a.arrivals[static_cast<std::size_t>(std::max(k, 1LL) - 1)];
}

// On a town every car of which leaves and gets out, the times of the leaving
// cars are the sweep's own: the Kaplan-Meier median is the median of the
// summary's tick_50 and tick_90, the restricted mean their mean, and the 100 %
// time the last arrival; no run is censored, every household left, no car is
// on the road. The same numbers on one thread as on two.
TEST_F(SimFolder, EteOnATownThatEmptiesAgreesWithTheSweepsSummary) {
    const CommandResult sweep =
        sim("sweep --town '" + TWO_EXITS + "' --scenarios 0..14 --errors moderate --summary s.csv");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const CommandResult ete = sim("ete --town '" + TWO_EXITS +
                                  "' --replicates 15 --error moderate --csv e.csv --threads 2");
    ASSERT_EQ(ete.status, 0) << ete.err;
    const std::vector<Row> summary = csv_rows(read_file(dir / "s.csv"));
    const std::vector<Row> rows = csv_rows(read_file(dir / "e.csv"));
    ASSERT_EQ(summary.size(), 15u);
    std::map<std::string, std::vector<double>> times;
    for (const Row& r : summary) {
        ASSERT_EQ(r.at("not_evacuated"), "0");
        ASSERT_EQ(r.at("en_route"), "0");
        ASSERT_EQ(r.at("gave_up"), "0");
        times["tick_50"].push_back(std::stod(r.at("tick_50")));
        times["tick_90"].push_back(std::stod(r.at("tick_90")));
        times["tick_100"].push_back(std::stod(r.at("last_arrival_tick")));
    }
    for (const auto& [figure, values] : times) {
        SCOPED_TRACE(figure);
        const Row km = estimate(rows, figure, "km_median");
        EXPECT_DOUBLE_EQ(std::stod(km.at("value")), median(values));
        EXPECT_EQ(km.at("reached"), "15");
        EXPECT_EQ(km.at("censored"), "0");
        EXPECT_LE(std::stod(km.at("low")), median(values));
        const Row rm = estimate(rows, figure, "restricted_mean");
        EXPECT_NEAR(std::stod(rm.at("value")), mean(values), 1e-9);
    }
    EXPECT_EQ(estimate(rows, "households_left", "mean").at("value"), "1");
    EXPECT_EQ(estimate(rows, "on_road", "mean").at("value"), "0");
    // The table says the same, naming its estimators and counts.
    EXPECT_NE(ete.out.find("Kaplan-Meier median"), std::string::npos) << ete.out;
    EXPECT_NE(ete.out.find("restricted mean"), std::string::npos);
    EXPECT_NE(ete.out.find("censored"), std::string::npos);

    const CommandResult one = sim("ete --town '" + TWO_EXITS +
                                  "' --replicates 15 --error moderate --csv one.csv --threads 1");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(read_file(dir / "one.csv"), read_file(dir / "e.csv"));
    EXPECT_EQ(one.out, ete.out);
}

// A town that says what its tick stands for has its times in hours too, as
// --minutes-per-tick gives them; a town that does not, in ticks only.
TEST_F(SimFolder, EteShowsHoursOnATownWithATickLength) {
    std::ofstream(dir / "timed.town") << "minutes_per_tick = 2\n" << read_file(TWO_EXITS);
    const CommandResult timed = sim("ete --town timed.town --replicates 3 --error moderate");
    ASSERT_EQ(timed.status, 0) << timed.err;
    EXPECT_NE(timed.out.find("h:mm"), std::string::npos) << timed.out;
    const CommandResult plain =
        sim("ete --town '" + TWO_EXITS + "' --replicates 3 --error moderate");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("h:mm"), std::string::npos) << plain.out;
}

// By zone, on a street whose far half is ordered out and whose cars give up or
// run dry on the way and wait for a tow past the end: each zone's times are
// those of its leaving cars in the sweep's rows of the same scenarios (the
// restricted mean their mean, a zone that never gets there censored at the
// last tick), and its stranded share the mean of the cars that gave up or ran
// out of gas among those that left.
TEST_F(SimFolder, EteByZoneAgreesWithEachZonesCarsInTheSweepsRows) {
    std::ofstream(dir / "street.town") << "exit = 0,1\ngrid\nSSSSSSSSSSSSSSSSSSSS\n"
                                          "++++++++++++++++++++\nNNNNNNNNNNNNNNNNNNNN\n";
    std::ofstream(dir / "street.zones") << "F = far\nN = near\nNNNNNNNNNNFFFFFFFFFF\n"
                                           "....................\nNNNNNNNNNNFFFFFFFFFF\n";
    const long long ticks = 300;
    const std::string runs =
        " --town street.town --zones street.zones --order far@20 "
        "--set order_compliance=1 --set fuel_min=15 --set fuel_max=60 "
        "--set tow_wait=1000 --set patience_min=5 --set patience_max=30 "
        "--ticks " +
        std::to_string(ticks);
    ASSERT_EQ(sim("sweep --scenarios 0..11 --errors moderate --households h.csv" + runs).status, 0);
    const CommandResult ete = sim("ete --replicates 12 --error moderate --csv e.csv" + runs);
    ASSERT_EQ(ete.status, 0) << ete.err;
    const std::vector<Row> rows = csv_rows(read_file(dir / "e.csv"));
    std::map<std::string, std::map<std::string, CarAccount>> accounts;  // by zone, by seed
    std::map<std::string, std::map<std::string, long long>> stranded;
    for (const Row& car : csv_rows(read_file(dir / "h.csv"))) {
        CarAccount& a = accounts[car.at("zone")][car.at("seed")];
        const std::string& outcome = car.at("outcome");
        if (outcome != "never_left") ++a.left;
        if (outcome == "evacuated") a.arrivals.push_back(std::stoll(car.at("arrival_tick")));
        stranded[car.at("zone")][car.at("seed")] += outcome == "gave_up" || outcome == "out_of_gas";
    }
    ASSERT_EQ(accounts.size(), 2u);
    bool someStranded = false;
    for (const auto& [zone, bySeed] : accounts) {
        SCOPED_TRACE(zone);
        ASSERT_EQ(bySeed.size(), 12u);
        for (int percent : {50, 90, 100}) {
            std::vector<double> times;
            std::size_t reached = 0;
            for (const auto& [seed, a] : bySeed) {
                const std::optional<long long> t = share_tick(a, percent);
                times.push_back(static_cast<double>(t.value_or(ticks)));
                reached += t.has_value();
            }
            const Row rm = estimate(rows, "zone_" + zone + "_tick_" + std::to_string(percent),
                                    "restricted_mean");
            EXPECT_NEAR(std::stod(rm.at("value")), mean(times), 1e-9) << percent;
            EXPECT_EQ(rm.at("reached"), std::to_string(reached));
            EXPECT_EQ(rm.at("censored"), std::to_string(12 - reached));
        }
        std::vector<double> shares;
        for (const auto& [seed, a] : bySeed)
            if (a.left > 0)
                shares.push_back(static_cast<double>(stranded[zone][seed]) /
                                 static_cast<double>(a.left));
        const Row s = estimate(rows, "zone_" + zone + "_stranded", "mean");
        EXPECT_NEAR(std::stod(s.at("value")), mean(shares), 1e-12);
        EXPECT_EQ(s.at("reached"), std::to_string(shares.size()));
        someStranded = someStranded || mean(shares) > 0;
    }
    EXPECT_TRUE(someStranded);
    EXPECT_NE(ete.out.find("zone far: 90 % out"), std::string::npos) << ete.out;
    EXPECT_NE(ete.out.find("zone near: stranded"), std::string::npos) << ete.out;
}

// A run too short for the town to empty: the times count only the cars that
// have left (not all cars, as the summary's tick_50 does), and a run that
// never brings a share out is censored at its last tick. Censored at the end,
// the Kaplan-Meier median is the median of the times with the censored runs
// at the last tick, and the restricted mean their mean.
TEST_F(SimFolder, EteCountsTheLeavingCarsAndCensorsTheRunsThatNeverGetThere) {
    const long long ticks = 400;
    const std::string runs = " --errors moderate --ticks " + std::to_string(ticks);
    const CommandResult sweep =
        sim("sweep --scenarios 0..19" + runs + " --summary s.csv --households h.csv");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const CommandResult ete =
        sim("ete --replicates 20 --error moderate --ticks 400 --csv e.csv --minutes-per-tick 2");
    ASSERT_EQ(ete.status, 0) << ete.err;
    const std::vector<Row> rows = csv_rows(read_file(dir / "e.csv"));

    std::map<std::string, CarAccount> accounts;  // by seed
    for (const Row& car : csv_rows(read_file(dir / "h.csv"))) {
        CarAccount& a = accounts[car.at("seed")];
        a.households.insert(car.at("household"));
        if (car.at("outcome") != "never_left") ++a.left;
        if (car.at("outcome") == "evacuated")
            a.arrivals.push_back(std::stoll(car.at("arrival_tick")));
    }
    const std::vector<Row> summary = csv_rows(read_file(dir / "s.csv"));
    ASSERT_EQ(accounts.size(), 20u);
    ASSERT_EQ(summary.size(), 20u);
    bool someWaiting = false, someCensored = false;
    for (int percent : {50, 90, 100}) {
        SCOPED_TRACE(percent);
        std::vector<double> times;
        std::size_t reached = 0;
        for (const Row& run : summary) {
            const CarAccount& a = accounts.at(run.at("seed"));
            someWaiting = someWaiting || run.at("not_evacuated") != "0";
            const std::optional<long long> t = share_tick(a, percent);
            times.push_back(static_cast<double>(t.value_or(ticks)));
            reached += t.has_value();
            // Fewer cars to count than all of them: never later than the summary's.
            if (percent == 50 && !run.at("tick_50").empty()) {
                ASSERT_TRUE(t);
                EXPECT_LE(*t, std::stoll(run.at("tick_50")));
            }
        }
        someCensored = someCensored || reached < 20;
        const std::string figure = "tick_" + std::to_string(percent);
        const Row km = estimate(rows, figure, "km_median");
        EXPECT_EQ(std::stoul(km.at("reached")), reached);
        EXPECT_EQ(std::stoul(km.at("censored")), 20 - reached);
        if (reached > 10) {
            EXPECT_DOUBLE_EQ(std::stod(km.at("value")), median(times));
        } else if (reached < 10) {
            EXPECT_EQ(km.at("value"), "");
        }
        EXPECT_NEAR(std::stod(estimate(rows, figure, "restricted_mean").at("value")), mean(times),
                    1e-9);
    }
    EXPECT_TRUE(someWaiting) << "a run this short should leave cars at home";
    EXPECT_TRUE(someCensored) << "a run this short should leave a share unreached";

    std::vector<double> householdsLeft, onRoad;
    for (const Row& run : summary) {
        const CarAccount& a = accounts.at(run.at("seed"));
        const auto houses = static_cast<double>(a.households.size());
        householdsLeft.push_back((houses - std::stod(run.at("households_never_left"))) / houses);
        onRoad.push_back((std::stod(run.at("en_route")) + std::stod(run.at("out_of_gas"))) /
                         static_cast<double>(a.left));
    }
    EXPECT_NEAR(std::stod(estimate(rows, "households_left", "mean").at("value")),
                mean(householdsLeft), 1e-12);
    EXPECT_NEAR(std::stod(estimate(rows, "on_road", "mean").at("value")), mean(onRoad), 1e-12);
    // Two minutes a tick: the restricted mean of the 50 % time also in hours:minutes.
    const double rm50 = std::stod(estimate(rows, "tick_50", "restricted_mean").at("value"));
    const long long minutes = std::llround(rm50 * 2);
    char clock[32];
    std::snprintf(clock, sizeof clock, " %lld:%02lld (", minutes / 60, minutes % 60);
    EXPECT_NE(ete.out.find(clock), std::string::npos) << clock << "\n" << ete.out;
}

// Bad input: one line on the standard error, status 2, nothing written.
TEST_F(SimFolder, EteRefusesBadInputInOneLineAndWritesNothing) {
    const std::string town = " --town '" + TWO_EXITS + "'";
    for (const std::string& args : std::vector<std::string>{
             "--replicates 0", "--replicates x", "--ticks 0", "--minutes-per-tick 0",
             "--minutes-per-tick nan", "--minutes-per-tick 2h", "--error loud", "--set no_such=1",
             "--set cars_per_house=-3", "--plot e.jpg", "--csv e.csv --plot e.csv",
             "--csv nowhere/e.csv", "--plot nowhere/e.png", "--params missing.txt"}) {
        SCOPED_TRACE(args);
        const std::string csv = args.find("--csv") == std::string::npos ? " --csv out.csv" : "";
        const CommandResult r = sim("ete" + town + " --replicates 3 " + args + csv);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(entries().empty());
    }
    const CommandResult r = sim("ete --town missing.town --csv out.csv");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.town"), std::string::npos);
    EXPECT_TRUE(entries().empty());
    // An output that is the town it reads.
    const std::string before = read_file(TWO_EXITS);
    std::ofstream(dir / "my.town", std::ios::binary) << before;
    const CommandResult same = sim("ete --town my.town --replicates 2 --csv ./my.town");
    EXPECT_EQ(same.status, 2) << same.err;
    EXPECT_EQ(read_file(dir / "my.town"), before);
    EXPECT_EQ(entries(), std::set<fs::path>{dir / "my.town"});
}

#if MAROVEL_WITH_PICTURES
// The plot is drawn and put in place with the CSV.
TEST_F(SimFolder, EteDrawsTheArrivalsBesideItsTable) {
    const CommandResult r =
        sim("ete --town '" + TWO_EXITS + "' --replicates 5 --csv e.csv --plot e.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "e.png").substr(1, 3), "PNG");
    EXPECT_FALSE(read_file(dir / "e.csv").empty());
    EXPECT_EQ(entries().size(), 2u);
}
#endif

}  // namespace

// marovel-sim calibrate as a user runs it: its refusals, its files and a resumed calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "experiments/sim_folder.h"

namespace {

const std::string CURVE = "tick,departed\n20,0.1\n40,0.2\n";

struct BadCase {
    std::string observed;  // the observed file's text
    std::string args;      // besides --observed obs.csv --out fit
    std::string says;      // a part of the one line on standard error
};

TEST_F(SimFolder, CalibrateRefusesBadInputInOneLineNamingWhereAndWritesNothing) {
    const std::string vary = " --vary feedback=0.3..0.55";
    const std::vector<BadCase> cases = {
        {"tick,departed\n# no rows\n", vary, "obs.csv:2:1: no usable rows"},
        {"tick,departed,weight\n20,0.1,0\n", vary, "obs.csv:2:1: no usable rows"},
        {"tick,departed\n20,0.1\n20,0.2\n", vary, "obs.csv:3:1: time \"20\" is not after"},
        {"hour,departed\n1,0.1\n1.01,0.2\n", vary + " --minutes-per-tick 5",
         "obs.csv:3:1: time \"1.01\" is not after"},
        {"tick,departed\n20,0.1\n40,1.5\n", vary, "obs.csv:3:4: share \"1.5\" lies outside 0..1"},
        {"tick,departed,arrived\n20,0.1,-0.1\n", vary, "obs.csv:2:8: share \"-0.1\" lies outside"},
        {"tick,departed,arived\n", vary, "obs.csv:1:15: unknown column \"arived\""},
        {"hour,departed\n1,0.1\n", vary, "obs.csv:1:1: an hour column needs --minutes-per-tick"},
        {"tick,departed\n20,0.1,3\n", vary, "obs.csv:2:8: 3 fields where the header"},
        {"tick,departed\n2x,0.1\n", vary, "obs.csv:2:1: \"2x\" is not a finite number"},
        {CURVE + "target,value\nshare,0.5\n", vary, "obs.csv:5:1: unknown target \"share\""},
        {"target,value,weight\nparticipation,1.2,1\n", vary + " --ticks 40",
         "obs.csv:2:15: share \"1.2\" lies outside 0..1"},
        {"target,zone,value\nparticipation,north,0.5\n", vary + " --ticks 40",
         "obs.csv:2:15: the town has no zone \"north\" (it has no zones)"},
        {CURVE + "target,value\ntick_90,-5\n", vary, "obs.csv:5:9: time \"-5\" is below 0"},
        {"target,value\nparticipation,0.5\n", vary, "the last observed time is tick 0"},
        {CURVE, " --vary no_such=1..2", "\"no_such\" is no parameter"},
        {CURVE, " --vary feedback=0.2..1.5", "bound 1.5 of feedback lies outside the parameter's range"},
        {CURVE, " --vary feedback=0.5..0.4", "the low bound must lie below the high one"},
        {CURVE, " --vary route_guide=0..1", "route_guide takes whole values"},
        {CURVE, vary + " --vary feedback=0.3..0.4", "feedback is varied twice"},
        {CURVE, vary + " --budget 0", "--budget"},
        {CURVE, vary + " --method newton", "\"newton\" is not bobyqa, neldermead or crs2"},
        {CURVE, vary + " --ticks 30", "--ticks: 30 ends before the last observed tick 40"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.args + " on " + c.observed);
        std::ofstream(dir / "obs.csv", std::ios::binary) << c.observed;
        const CommandResult r = sim("calibrate --observed obs.csv --out fit" + c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(entries(), std::set<fs::path>{dir / "obs.csv"});
    }
}

// An hour column takes its ticks from the town's minutes_per_tick, and
// --minutes-per-tick, when given, from the option: one hour is tick 12 of
// five-minute ticks and tick 30 of two-minute ones, both after a run of 10.
TEST_F(SimFolder, CalibrateCountsHoursInTheTownsTicks) {
    std::ofstream(dir / "obs.csv") << "hour,departed\n1,0.1\n";
    std::ofstream(dir / "timed.town") << "minutes_per_tick = 5\nexit = 7,3\ngrid\n+++>>+++\n"
                                         "|NN~~NN|\n|SS~~SS|\n+++~~+++\n";
    const std::string args =
        "calibrate --observed obs.csv --town timed.town --vary feedback=0.3..0.55 --ticks 10 --out fit";
    const CommandResult town = sim(args);
    EXPECT_EQ(town.status, 2);
    EXPECT_NE(town.err.find("--ticks: 10 ends before the last observed tick 12"), std::string::npos)
        << town.err;
    const CommandResult option = sim(args + " --minutes-per-tick 2");
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.err.find("--ticks: 10 ends before the last observed tick 30"), std::string::npos)
        << option.err;
    EXPECT_FALSE(fs::exists(dir / "fit"));
}

#if MAROVEL_WITH_PICTURES
// A small calibration writes its five files; the parameter file runs; a resume
// takes every evaluation from the trace and comes to the same fit.
TEST_F(SimFolder, CalibrateWritesItsFilesAndAResumeRunsNothingAgain) {
    std::ofstream(dir / "obs.csv") << "# a made-up curve\ntick,departed,arrived\n"
                                      "40,0.10,0.00\n80,0.14,0.05\n120,0.20,0.10\n160,0.24,0.15\n"
                                      "target,value,weight\nparticipation,0.3,2\ntick_90,150,\n";
    const std::string args = "calibrate --observed obs.csv --vary feedback=0.3..0.55 "
                             "--vary parked_speed=0.0015..0.0035 --replicates 2 --budget 6 "
                             "--bootstrap 2 --refit-budget 3 --slice-points 2 --out fit";
    const CommandResult first = sim(args);
    ASSERT_EQ(first.status, 0) << first.err;
    for (const char* name : {"fit.params", "report.txt", "trace.csv", "fit.png", "metadata.json"})
        EXPECT_TRUE(fs::is_regular_file(dir / "fit" / name)) << name;
    EXPECT_EQ(read_file(dir / "fit/fit.png").substr(1, 3), "PNG");
    const std::string report = read_file(dir / "fit/report.txt");
    EXPECT_EQ(first.out, report);
    // Every evaluation is a row of the trace, and the progress shows each.
    const std::string trace = read_file(dir / "fit/trace.csv");
    const auto rows = std::count(trace.begin(), trace.end(), '\n') -
                      std::count(trace.begin(), trace.end(), '#') - 1;
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), rows);
    EXPECT_NE(report.find("6 evaluations of the fit"), std::string::npos) << report;
    // The targets' observed values beside the fitted ones, and a column of each in the trace.
    EXPECT_NE(report.find("\nparticipation                  0.3 "), std::string::npos) << report;
    EXPECT_NE(report.find("\ntick_90                        150 "), std::string::npos) << report;
    EXPECT_NE(trace.find(",objective,sim_participation,sim_tick_90\n"), std::string::npos) << trace;
    // The best values are in the parameter file, which a run takes.
    const std::string params = read_file(dir / "fit/fit.params");
    EXPECT_NE(params.find("feedback = "), std::string::npos) << params;
    EXPECT_NE(params.find("parked_speed = "), std::string::npos) << params;
    EXPECT_EQ(sim("--params fit/fit.params --ticks 1").status, 0);
    const std::string metadata = read_file(dir / "fit/metadata.json");
    EXPECT_NE(metadata.find("trace.csv"), std::string::npos);

    const CommandResult again = sim(args + " --resume");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find(" 0 runs simulated"), std::string::npos) << again.out;
    EXPECT_EQ(read_file(dir / "fit/fit.params"), params);
    EXPECT_EQ(read_file(dir / "fit/trace.csv"), trace);
    // What a run killed outright leaves: the partial trace under its temporary
    // name, five rows and a cut one. The resume takes the five and writes the rest.
    std::size_t cut = 0;
    const auto headerLines = std::count(trace.begin(), trace.end(), '#') + 1;  // and the column names
    for (long row = 0; row < headerLines + 5; ++row) cut = trace.find('\n', cut) + 1;
    for (const char* name : {"fit.params", "report.txt", "trace.csv", "fit.png", "metadata.json"})
        fs::remove(dir / "fit" / name);
    std::ofstream(dir / "fit/.trace.csv.AbC123.part") << trace.substr(0, cut) << "6,fit,0,0.4";
    const CommandResult killed = sim(args + " --resume");
    ASSERT_EQ(killed.status, 0) << killed.err;
    std::size_t taken = 0;
    for (std::size_t at = 0; (at = killed.err.find("(from the trace)", at)) != std::string::npos; ++at)
        ++taken;
    EXPECT_EQ(taken, 5u) << killed.err;
    EXPECT_EQ(read_file(dir / "fit/trace.csv"), trace);
    EXPECT_FALSE(fs::exists(dir / "fit/.trace.csv.AbC123.part"));
    // Another calibration's trace is not resumed.
    std::string three = args;
    three.replace(three.find("--replicates 2"), 14, "--replicates 3");
    const CommandResult other = sim(three + " --resume");
    EXPECT_EQ(other.status, 2) << other.err;
    EXPECT_NE(other.err.find("made by another calibration"), std::string::npos) << other.err;
    EXPECT_EQ(read_file(dir / "fit/fit.params"), params);
}
#endif

}  // namespace

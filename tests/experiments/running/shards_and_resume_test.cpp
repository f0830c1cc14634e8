// Sweeps beyond one process, as a user runs them: shards joined by
// `marovel-sim merge`, shards taken from a job array's variables, sweeps
// killed and resumed, per-car records and the provenance record.
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>

#include "experiments/sim_folder.h"

namespace {

const std::string SWEEP = "sweep --scenarios 0..4 --errors high,low --ticks 300 --every 7";
const std::string FILES = " --curves c.csv --summary s.csv --households h.csv.gz";

std::string unzipped(const fs::path& file) {
    return run_command("gzip -dc '" + file.string() + "'").out;
}

// The shards' files, handed over in any order and mixed kinds, merge into the
// files and the table of the same sweep in one process, byte for byte
// (households compressed too), with the plot drawn from all runs.
TEST_F(SimFolder, MergedShardsAreTheWholeSweep) {
    const CommandResult one = sim(SWEEP + FILES + " --plot p.svg --table t.csv --paired d.csv");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_NE(one.out.find("\nPaired differences against high (1e+30)"), std::string::npos);
    for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(sim(SWEEP + " --shard " + n + "/4 --threads 1 --curves c" + n +
                      ".csv --summary s" + n + ".csv --households h" + n + ".csv.gz")
                      .status,
                  0);
        EXPECT_NE(read_file(dir / ("s" + n + ".csv")).find("\n# shard " + n + "/4\n"),
                  std::string::npos);
    }
    const CommandResult merged =
        sim("merge h3.csv.gz s2.csv c4.csv c1.csv s4.csv h1.csv.gz s1.csv c3.csv c2.csv "
            "h4.csv.gz s3.csv h2.csv.gz --curves mc.csv --summary ms.csv "
            "--households mh.csv.gz --plot mp.svg --table mt.csv --paired md.csv");
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.out, one.out);
    for (const auto& [a, b] : {std::pair{"c.csv", "mc.csv"},
                               {"s.csv", "ms.csv"},
                               {"h.csv.gz", "mh.csv.gz"},
                               {"p.svg", "mp.svg"},
                               {"t.csv", "mt.csv"},
                               {"d.csv", "md.csv"}})
        EXPECT_EQ(read_file(dir / a), read_file(dir / b)) << b;
    EXPECT_NE(unzipped(dir / "mh.csv.gz").find("\n4001,4,low,0.001,719,"), std::string::npos);
}

// A design's shards merge the same way: its table grouped by point, its plot
// drawn from that table, and a Morris design's sensitivity indices (table and
// file) computed over every run, as the design run in one process gives them.
TEST_F(SimFolder, MergedDesignShardsAreTheWholeDesign) {
    const std::string design =
        "sweep --vary cars_per_house=1..4 --vary patience_min=100..300 --sample morris:4:4 "
        "--replicates 3 --ticks 400 --set fuel_min=150";
    const CommandResult one = sim(design +
                                  " --curves c.csv --summary s.csv --households h.csv "
                                  "--sensitivity i.csv --plot p.svg --table t.csv --paired d.csv");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_NE(one.out.find("\nSensitivity (Morris"), std::string::npos);
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(sim(design + " --shard " + n + "/3 --curves c" + n + ".csv --summary s" + n +
                      ".csv --households h" + n + ".csv")
                      .status,
                  0);
    }
    const CommandResult merged =
        sim("merge s3.csv c1.csv h2.csv s1.csv c3.csv h1.csv s2.csv c2.csv h3.csv --curves "
            "mc.csv --summary ms.csv --households mh.csv --sensitivity mi.csv --plot mp.svg "
            "--table mt.csv --paired md.csv");
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.out, one.out);
    for (const auto& [a, b] : {std::pair{"c.csv", "mc.csv"},
                               {"s.csv", "ms.csv"},
                               {"h.csv", "mh.csv"},
                               {"i.csv", "mi.csv"},
                               {"p.svg", "mp.svg"},
                               {"t.csv", "mt.csv"},
                               {"d.csv", "md.csv"}})
        EXPECT_EQ(read_file(dir / a), read_file(dir / b)) << b;

    // Rows whose points are not the design the header names; indices asked of
    // shards that have none; a design's plot without the summaries it is drawn from.
    for (const std::string n : {"1", "2", "3"}) {
        std::string other = read_file(dir / ("s" + n + ".csv"));
        const std::string seed = "sample seed 1;";
        other.replace(other.find(seed), seed.size(), "sample seed 2;");
        std::ofstream(dir / ("o" + n + ".csv")) << other;
    }
    ASSERT_EQ(sim("sweep --scenarios 0..1 --ticks 50 --shard 1/1 --summary plain.csv").status, 0);
    const std::set<fs::path> before = entries();
    for (const auto& [args, named] : std::vector<std::pair<std::string, std::string>>{
             {"o1.csv o2.csv o3.csv", "not those of the design their header names"},
             {"s1.csv o2.csv s3.csv", "o2.csv: not the same sweep"},
             {"plain.csv --sensitivity x.csv", "needs the run summary files of a design"},
             {"c1.csv c2.csv c3.csv --plot x.svg", "give its summary files too"},
             {"c1.csv c2.csv c3.csv --paired x.csv", "--paired: no run summary files"}}) {
        EXPECT_TRUE(refused(sim("merge " + args), named)) << args;
        EXPECT_EQ(entries(), before) << args;
    }
}

// Shards that are not the N shards of one sweep, each once and whole, are
// refused with the file at fault named, and nothing is written.
TEST_F(SimFolder, MergeRefusesShardsThatDoNotMakeOneSweep) {
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(sim(SWEEP + " --shard " + n + "/3 --summary s" + n + ".csv").status, 0);
    }
    const std::string other = std::regex_replace(SWEEP, std::regex("--every 7"), "--every 8");
    ASSERT_EQ(sim(other + " --shard 3/3 --summary other.csv").status, 0);
    ASSERT_EQ(sim(SWEEP + " --shard 3/4 --summary four.csv").status, 0);
    ASSERT_EQ(sim(SWEEP + " --shard 3/3 --no-header --summary bare.csv").status, 0);
    const std::string whole = read_file(dir / "s3.csv");
    std::ofstream(dir / "short.csv") << whole.substr(0, whole.rfind('\n', whole.size() - 2) + 1);
    std::ofstream(dir / "cut.csv") << whole.substr(0, whole.size() - 3);
    const std::set<fs::path> before = entries();
    // {files, what the refusal names}
    for (const auto& [args, named] : std::vector<std::pair<std::string, std::string>>{
             {"s1.csv s2.csv other.csv", "other.csv: not the same sweep"},  // --every 8
             {"s1.csv s2.csv four.csv", "four.csv: shard 3/4"},  // the same sweep split in four
             {"s1.csv s2.csv s2.csv s3.csv", "s2.csv: shard 2/3 given twice"},
             {"s1.csv s3.csv", "shard 2/3 of s1.csv's sweep is missing"},
             {"s1.csv s2.csv bare.csv", "bare.csv: no header"},       // nothing says which shard
             {"s1.csv s2.csv short.csv", "short.csv: holds 3 runs"},  // a run missing at the end
             {"s1.csv s2.csv cut.csv", "cut.csv: the last line is cut short"},
             {"s1.csv s2.csv s3.csv --curves mc.csv", "no evacuation curves files"},
         }) {
        EXPECT_TRUE(refused(sim("merge " + args + " --summary ms.csv"), named)) << args;
        EXPECT_EQ(entries(), before) << args;
    }
}

// --shard auto takes the shard from a Slurm job array's variables (the ids may
// start anywhere and go in steps) and refuses missing or inconsistent ones,
// naming the variable.
TEST_F(SimFolder, ShardAutoFollowsTheJobArray) {
    ASSERT_EQ(sim(SWEEP + " --shard 2/3 --summary want.csv").status, 0);
    for (const std::string env :
         {"SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1",
          "SLURM_ARRAY_TASK_ID=11 SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=10 "
          "SLURM_ARRAY_TASK_MAX=12",
          "SLURM_ARRAY_TASK_ID=5 SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1 "
          "SLURM_ARRAY_TASK_MAX=9 SLURM_ARRAY_TASK_STEP=4"}) {
        const CommandResult r =
            run_command("cd '" + dir.string() + "' && env " + env + " '" MAROVEL_SIM "' " + SWEEP +
                        " --shard auto --summary got.csv");
        ASSERT_EQ(r.status, 0) << env << r.err;
        EXPECT_EQ(read_file(dir / "got.csv"), read_file(dir / "want.csv")) << env;
    }
    for (const std::string row :
         {"[SLURM_ARRAY_TASK_ID] is not set: SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_COUNT] is not set: SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_MIN] is not set: SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_COUNT=3",
          "[SLURM_ARRAY_TASK_ID=\"x\"]: SLURM_ARRAY_TASK_ID=x SLURM_ARRAY_TASK_COUNT=3 "
          "SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_ID=4] is not one of: SLURM_ARRAY_TASK_ID=4 SLURM_ARRAY_TASK_COUNT=3 "
          "SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_ID=0] is not one of: SLURM_ARRAY_TASK_ID=0 SLURM_ARRAY_TASK_COUNT=3 "
          "SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_COUNT=0]: SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_COUNT=0 "
          "SLURM_ARRAY_TASK_MIN=1",
          "[SLURM_ARRAY_TASK_MAX=7] does not close: SLURM_ARRAY_TASK_ID=1 "
          "SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=7",
          // Near the ends of 64 bits the differences of the ids would overflow.
          "[SLURM_ARRAY_TASK_ID=9223372036854775807] is outside: "
          "SLURM_ARRAY_TASK_ID=9223372036854775807 SLURM_ARRAY_TASK_COUNT=3 "
          "SLURM_ARRAY_TASK_MIN=-1",
          "[SLURM_ARRAY_TASK_MIN=-9223372036854775808] is outside: SLURM_ARRAY_TASK_ID=1 "
          "SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=-9223372036854775808",
          "[SLURM_ARRAY_TASK_COUNT=9223372036854775807] is outside: SLURM_ARRAY_TASK_ID=1 "
          "SLURM_ARRAY_TASK_COUNT=9223372036854775807 SLURM_ARRAY_TASK_MIN=0",
          "[SLURM_ARRAY_TASK_STEP=9223372036854775807] is outside: SLURM_ARRAY_TASK_ID=0 "
          "SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=6 "
          "SLURM_ARRAY_TASK_STEP=9223372036854775807",
          "[SLURM_ARRAY_TASK_MAX=4294967294] does not close: SLURM_ARRAY_TASK_ID=0 "
          "SLURM_ARRAY_TASK_COUNT=4294967294 SLURM_ARRAY_TASK_MIN=0 "
          "SLURM_ARRAY_TASK_MAX=4294967294 SLURM_ARRAY_TASK_STEP=4294967294"}) {
        const std::string env = row.substr(row.find(": ") + 2);
        const std::string named = row.substr(row.find('[') + 1, row.find(']') - row.find('['));
        const CommandResult r = run_command(
            "cd '" + dir.string() +
            "' && env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_COUNT -u SLURM_ARRAY_TASK_MIN "
            "-u SLURM_ARRAY_TASK_MAX -u SLURM_ARRAY_TASK_STEP " +
            env + " '" MAROVEL_SIM "' " + SWEEP + " --shard auto --summary bad.csv");
        EXPECT_EQ(r.status, 2) << env;
        EXPECT_NE(r.err.find(named.substr(0, named.size() - 1)), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "bad.csv"));
    }
}

// Shell words that wait, while the sweep started in the background runs, until
// its summary's partial files hold `rows` runs (none: a moment).
std::string until_rows(int rows) {
    if (rows == 0) return "sleep 0.05";
    return "for i in $(seq 6000); do [ $(cat .s.csv.*.part 2>/dev/null | grep -c '^[0-9]') -ge " +
           std::to_string(rows) + " ] && break; kill -0 $! 2>/dev/null || break; sleep 0.01; done";
}

// The runs of `total` a resumed sweep said it kept; 0 when it said nothing.
std::size_t kept_runs(const std::string& err, int total) {
    std::smatch m;
    const std::regex said("resuming after ([0-9]+) of " + std::to_string(total));
    return std::regex_search(err, m, said) ? std::stoul(m[1]) : 0;
}

// A sweep killed (SIGKILL: no chance to clean up) at several moments, each
// kill during the resumption of the one before, and finally resumed to the
// end gives the files and table of an uninterrupted sweep, byte for byte.
TEST_F(SimFolder, ResumeAfterKillsGivesTheUninterruptedFiles) {
    const std::string sweep = "sweep --scenarios 0..59 --ticks 500";
    const CommandResult whole = sim(sweep + FILES);
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::map<std::string, std::string> want;
    for (const char* f : {"c.csv", "s.csv", "h.csv.gz"}) {
        want[f] = read_file(dir / f);
        fs::rename(dir / f, dir / (std::string("whole-") + f));
    }
    std::size_t resumedAfter = 0;
    // Killed at once, then each time the summary's partial files hold this many
    // runs (the resumed runs among them).
    for (const int rows : {0, 10, 40, 90, 150}) {
        const CommandResult r = sim(sweep + FILES + " --resume --threads 2 & " + until_rows(rows) +
                                    "; kill -KILL $!; wait $!");
        EXPECT_EQ(r.status, 128 + 9) << rows;
        resumedAfter = std::max(resumedAfter, kept_runs(r.err, 180));
    }
    EXPECT_GT(resumedAfter, 0u);  // the kills did leave complete runs to keep
    const CommandResult last = sim(sweep + FILES + " --resume");
    ASSERT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(last.out, whole.out);
    for (const auto& [file, text] : want) EXPECT_EQ(read_file(dir / file), text) << file;
    // The partial files of the killed runs are gone.
    for (const fs::path& p : entries()) EXPECT_FALSE(p.filename().string().ends_with(".part")) << p;
    // Resuming a finished sweep keeps every run.
    const CommandResult again = sim(sweep + FILES + " --resume");
    EXPECT_NE(again.err.find("resuming after 180 of 180 runs"), std::string::npos) << again.err;
    EXPECT_EQ(read_file(dir / "s.csv"), want["s.csv"]);
    // A different sweep's files are not taken for this one's.
    const CommandResult other = sim("sweep --scenarios 0..59 --ticks 499 --summary s.csv --resume");
    EXPECT_EQ(other.status, 0);
    EXPECT_EQ(other.err, "");
}

// The same for a design: its kept runs count in the table, the plot (drawn
// from the table's curves) and the sensitivity indices as if they had just run,
// and its per-car rows, as many per run as that point's cars, carry the point.
TEST_F(SimFolder, ResumedDesignGivesTheUninterruptedFiles) {
    const std::string sweep =
        "sweep --vary cars_per_house=1..4 --vary patience_min=100..300 --sample morris:4:4 "
        "--replicates 10 --ticks 1500 --curves c.csv --summary s.csv --households h.csv.gz "
        "--sensitivity i.csv --design-out d.csv --plot p.svg";
    const std::vector<std::string> files = {"c.csv", "s.csv", "h.csv.gz",
                                            "i.csv", "d.csv", "p.svg"};
    const CommandResult whole = sim(sweep);
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::map<std::string, std::string> want;
    for (const std::string& f : files) {
        want[f] = read_file(dir / f);
        fs::remove(dir / f);
    }
    std::size_t resumedAfter = 0;
    for (const int rows : {30, 80}) {
        const CommandResult r =
            sim(sweep + " --resume --threads 2 & " + until_rows(rows) + "; kill -KILL $!; wait $!");
        resumedAfter = std::max(resumedAfter, kept_runs(r.err, 120));
    }
    const CommandResult last = sim(sweep + " --resume");
    ASSERT_EQ(last.status, 0) << last.err;
    resumedAfter = std::max(resumedAfter, kept_runs(last.err, 120));
    EXPECT_GT(resumedAfter, 0u);
    EXPECT_LT(resumedAfter, 120u);  // some runs were run again
    EXPECT_EQ(last.out, whole.out);
    for (const std::string& f : files) EXPECT_EQ(read_file(dir / f), want[f]) << f;

    const std::string households = unzipped(dir / "h.csv.gz");
    EXPECT_NE(
        households.find("\npoint,replicate,seed,step,error,spread,cars_per_house,patience_min,"
                        "car,household,"),
        std::string::npos);
    std::map<std::string, std::pair<int, int>> carsOfRun;  // run -> {cars per house, rows}
    for (auto& row : csv_rows(households)) {
        auto& [perHouse, count] = carsOfRun[row["point"] + "," + row["replicate"]];
        perHouse = std::stoi(row["cars_per_house"]);
        ++count;
    }
    EXPECT_EQ(carsOfRun.size(), 120u);
    for (const auto& [run, cars] : carsOfRun) EXPECT_EQ(cars.second, 360 * cars.first) << run;
}

// One row per run and car; per run, the cars of each outcome are the summary's
// counts; the ticks are in order (threat or decision, then arrival) and a trip
// is the arrival less the decision; --columns chooses and orders the columns.
// Recording them leaves the runs as they were.
TEST_F(SimFolder, HouseholdRowsAgreeWithTheSummary) {
    ASSERT_EQ(sim(SWEEP + " --curves c0.csv --summary s0.csv").status, 0);
    ASSERT_EQ(sim(SWEEP + " --curves c.csv --summary s.csv --households h.csv").status, 0);
    EXPECT_EQ(read_file(dir / "c.csv"), read_file(dir / "c0.csv"));
    EXPECT_EQ(read_file(dir / "s.csv"), read_file(dir / "s0.csv"));
    const std::string text = read_file(dir / "h.csv");
    EXPECT_NE(text.find("\nseed,step,error,spread,car,household,home_x,home_y,decision_tick,"
                        "first_threat_tick,outcome,arrival_tick,trip_time\n"),
              std::string::npos);
    std::map<std::string, std::map<std::string, int>> outcomes;  // run -> outcome -> cars
    std::set<std::string> households;
    const auto rows = csv_rows(text);
    for (auto f : rows) {
        ASSERT_EQ(f.size(), 13u);
        const std::string& outcome = f["outcome"];
        outcomes[f["seed"] + "," + f["step"] + "," + f["error"]][outcome]++;
        households.insert(f["household"] + " " + f["home_x"] + " " + f["home_y"]);
        const bool arrived = !f["arrival_tick"].empty();
        EXPECT_EQ(!f["decision_tick"].empty(), outcome != "never_left") << outcome;
        EXPECT_EQ(arrived, outcome == "evacuated" || outcome == "gave_up" || outcome == "towed");
        if (arrived) {
            EXPECT_LE(std::stol(f["decision_tick"]), std::stol(f["arrival_tick"]));
            EXPECT_EQ(std::stol(f["trip_time"]),
                      std::stol(f["arrival_tick"]) - std::stol(f["decision_tick"]));
        }
    }
    EXPECT_EQ(rows.size(), 10u * 720);
    EXPECT_EQ(households.size(), 360u);  // one number per house, the same in every run
    int runs = 0;
    for (auto f : csv_rows(read_file(dir / "s.csv"))) {
        auto& n = outcomes[f["seed"] + "," + f["step"] + "," + f["error"]];
        for (const char* o :
             {"not_evacuated", "evacuated", "gave_up", "en_route", "towed", "out_of_gas"})
            EXPECT_EQ(n[o == std::string("not_evacuated") ? "never_left" : o], std::stoi(f[o]))
                << o;
        ++runs;
    }
    EXPECT_EQ(runs, 10);

    ASSERT_EQ(sim(SWEEP + " --households h.csv.gz --columns outcome,car").status, 0);
    const std::string picked = unzipped(dir / "h.csv.gz");
    EXPECT_NE(picked.find("\nseed,step,error,spread,outcome,car\n1,0,high,1e+30,"),
              std::string::npos);
    for (const std::string bad :
         {"--columns car,colour", "--columns car,car", "--columns car --households ''"}) {
        EXPECT_TRUE(refused(sim(SWEEP + " --households x.csv " + bad), "")) << bad;
        EXPECT_FALSE(fs::exists(dir / "x.csv"));
    }
}

// --metadata: the build, the run (time, host, whole command line), every
// parameter, and each output's size and SHA-256 as sha256sum computes it; "-"
// is recorded as standard output, not as a file that happens to be called "-".
TEST_F(SimFolder, MetadataRecordsTheRunAndHashesItsFiles) {
    std::ofstream(dir / "-") << "a file that is no output of the sweep\n";
    const CommandResult r = sim(SWEEP + " --set patience_min=200 --curves c.csv --summary - "
                                "--households h.csv.gz --metadata m.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(read_file(dir / "m.json"));
    EXPECT_EQ(j["version"], MAROVEL_VERSION);
    EXPECT_TRUE(std::regex_match(j["start_time"].get<std::string>(),
                                 std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9:]{8}Z")));
    EXPECT_EQ(j["host"],
              run_command("hostname").out.substr(0, run_command("hostname").out.find('\n')));
    EXPECT_EQ(j["arguments"].back(), "m.json");
    EXPECT_EQ(j["parameters"]["patience_min"], 200.0);
    EXPECT_EQ(j["parameters"]["patience_max"], 360.0);
    ASSERT_EQ(j["outputs"].size(), 3u);
    int dashes = 0;
    for (const auto& out : j["outputs"]) {
        const std::string file = out["file"];
        if (file == "-") {
            ++dashes;
            EXPECT_TRUE(out.value("standard_output", false) && !out.contains("sha256") &&
                        !out.contains("bytes"))
                << out.dump();
            continue;
        }
        const std::string sum = run_command("cd '" + dir.string() + "' && sha256sum " + file).out;
        EXPECT_EQ(out["sha256"].get<std::string>(), sum.substr(0, 64)) << file;
        EXPECT_EQ(out["bytes"].get<std::size_t>(), fs::file_size(dir / file)) << file;
    }
    EXPECT_EQ(dashes, 1);
    EXPECT_EQ(read_file(dir / "-"), "a file that is no output of the sweep\n");
}

// Names are bytes: an output or --params path that is not UTF-8 is recorded
// escaped ({"escaped": ...} with \xHH and doubled backslashes), so the record
// is written, is JSON, and gives the bytes back.
TEST_F(SimFolder, MetadataRecordsNamesThatAreNotText) {
    const std::string odd = "s\xff\\.csv";  // a byte that is no UTF-8, and a backslash
    std::ofstream(dir / "p\xfe.txt") << "tow_wait = 30\n";
    const CommandResult r =
        sim(SWEEP + " --summary '" + odd + "' --params 'p\xfe.txt' --metadata m.json");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / odd));
    const auto j = nlohmann::json::parse(read_file(dir / "m.json"));
    ASSERT_EQ(j["outputs"].size(), 1u);
    EXPECT_EQ(j["outputs"][0]["file"], nlohmann::json({{"escaped", "s\\xff\\\\.csv"}}));
    EXPECT_EQ(j["outputs"][0]["sha256"].get<std::string>().size(), 64u);
    bool paramsSeen = false;
    for (const auto& a : j["arguments"])
        paramsSeen = paramsSeen || a == nlohmann::json({{"escaped", "p\\xfe.txt"}});
    EXPECT_TRUE(paramsSeen) << j["arguments"].dump();
    EXPECT_EQ(j["parameters"]["tow_wait"], 30.0);
}

// A --metadata file that cannot be written (no such folder, a folder, a FIFO,
// a symbolic link) is found with the other outputs, before any run: the sweep
// or merge is refused in one line and every old file stays as it was.
TEST_F(SimFolder, AMetadataFileThatCannotBeWrittenReplacesNothing) {
    const std::string shards = " --scenarios 0..3 --ticks 100";
    for (const std::string n : {"1", "2"})
        ASSERT_EQ(sim("sweep" + shards + " --shard " + n + "/2 --curves c" + n +
                      ".csv --summary s" + n + ".csv")
                      .status,
                  0);
    fs::create_directory(dir / "folder");
    ASSERT_EQ(run_command("mkfifo '" + (dir / "fifo").string() + "'").status, 0);
    fs::create_symlink("elsewhere.json", dir / "link.json");
    std::ofstream(dir / "c6.csv") << "old curves\n";
    std::ofstream(dir / "p.svg") << "old plot\n";
    const std::set<fs::path> before = entries();
    for (const std::string target : {"/nonexistent/m.json", "folder", "fifo", "link.json"}) {
        for (const std::string& command :
             {"sweep" + shards + " --curves c6.csv --plot p.svg",
              std::string("merge c1.csv c2.csv s1.csv s2.csv --curves c6.csv --plot p.svg")}) {
            EXPECT_TRUE(refused(sim(command + " --metadata " + target),
                                "--metadata: cannot write " + target));
            EXPECT_EQ(read_file(dir / "c6.csv"), "old curves\n") << command << target;
            EXPECT_EQ(read_file(dir / "p.svg"), "old plot\n") << command << target;
            EXPECT_EQ(entries(), before) << command << target;
        }
    }
}

// A merge's outputs must be different files, and none of them a file it reads:
// two names of one file (a "./" or "//" more, a hard link) and an output over
// an input shard are refused in one line, nothing written, every file as it was.
TEST_F(SimFolder, MergeRefusesOneFileUnderTwoNamesAndOutputsOverItsInputs) {
    for (const std::string n : {"1", "2"})
        ASSERT_EQ(
            sim(SWEEP + " --shard " + n + "/2 --curves c" + n + ".csv --summary s" + n + ".csv")
                .status,
            0);
    fs::create_directory(dir / "out");
    fs::create_hard_link(dir / "s2.csv", dir / "linked.csv");
    std::map<fs::path, std::string> files;
    for (const fs::path& p : entries())
        if (fs::is_regular_file(p)) files[p] = read_file(p);
    const std::set<fs::path> before = entries();
    const std::string inputs = "merge c1.csv c2.csv s1.csv s2.csv ";
    // {outputs, what the refusal says}
    for (const auto& [args, named] : std::vector<std::pair<std::string, std::string>>{
             {"--curves out/x.csv --summary ./out/x.csv", "./out/x.csv names the same file as"},
             {"--curves out/x.csv --summary out//x.csv", "out//x.csv names the same file as"},
             {"--curves x.csv --plot p.svg --metadata ./p.svg", "./p.svg names the same file"},
             {"--curves x.csv --summary s1.csv", "s1.csv is a file it reads"},
             {"--curves ./c2.csv", "./c2.csv names the same file as c2.csv, a file it reads"},
             {"--summary linked.csv", "linked.csv names the same file as s2.csv"},
             {"--curves x.csv --metadata s1.csv", "s1.csv is a file it reads"},
             {"--curves x.csv --plot c1.csv.svg --plot ./c1.csv.svg", "names the same file"}}) {
        EXPECT_TRUE(refused(sim(inputs + args), named)) << args;
        EXPECT_EQ(entries(), before) << args;
        for (const auto& [p, text] : files) EXPECT_EQ(read_file(p), text) << args << p;
    }
}

// The lines of a file, each with its newline, and back.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + '\n');
    return lines;
}
std::string text_of(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line;
    return text;
}
// The line (1-based) of a file's first row, after its header.
std::size_t first_row(const std::vector<std::string>& lines) {
    std::size_t i = 0;
    while (i < lines.size() && lines[i].starts_with("#")) ++i;
    return i + 2;
}

// Files that are not one sweep's complete shards, though each passes alone: the
// kinds of two sweeps, a design's summaries with a sweep's curves, rows
// missing, repeated or swapped inside the shards, counts that do not add up to
// the town's cars. Each is refused naming its file (and line), nothing written;
// --resume and merge --sensitivity refuse the edited counts too.
TEST_F(SimFolder, MergeRefusesRowsThatAreNotTheSweepsRuns) {
    const std::string design =
        "sweep --vary cars_per_house=1..4 --vary patience_min=100..300 --sample morris:4:4 "
        "--replicates 3 --ticks 300";
    for (const std::string n : {"1", "2"}) {
        const std::string shard = " --shard " + n + "/2";
        ASSERT_EQ(sim(SWEEP + shard + " --curves c" + n + ".csv --summary s" + n +
                      ".csv --households h" + n + ".csv")
                      .status,
                  0);
        ASSERT_EQ(sim(std::regex_replace(SWEEP, std::regex("300"), "301") + shard + " --summary t" +
                      n + ".csv")
                      .status,
                  0);
        ASSERT_EQ(sim(design + shard + " --summary d" + n + ".csv").status, 0);
    }
    ASSERT_EQ(sim("merge c1.csv c2.csv s1.csv s2.csv h1.csv h2.csv d1.csv").status, 2);
    // Edits of the second shards, each written to e.csv: {file, edit, the line
    // at fault or 0}.
    struct Edit {
        std::string file;
        std::function<std::size_t(std::vector<std::string>&)> change;  // the line at fault
        std::string said;
    };
    const auto swap_at = [](std::size_t k) {
        return [k](std::vector<std::string>& l) {
            const std::size_t at = first_row(l) - 1 + k;
            std::swap(l[at], l[at + 1]);
            return at + 1;
        };
    };
    const auto add_a_car = [](std::size_t k, int field) {
        return [k, field](std::vector<std::string>& l) {
            std::string& row = l[first_row(l) - 1 + k];
            std::size_t at = 0;
            for (int f = 0; f < field; ++f) at = row.find(',', at) + 1;
            row.replace(at, row.find(',', at) - at, std::to_string(std::stoi(row.substr(at)) + 1));
            return first_row(l) + k;
        };
    };
    const std::vector<Edit> edits = {
        {"c2.csv",  // a curve row deleted from inside the second run
         [](std::vector<std::string>& l) {
             const std::size_t at = first_row(l) - 1 + 44 + 20;
             l.erase(l.begin() + static_cast<std::ptrdiff_t>(at));
             return at + 1;
         },
         "(a row missing or out of order)"},
        {"s2.csv",  // a summary row duplicated
         [](std::vector<std::string>& l) {
             const std::size_t at = first_row(l) - 1 + 2;
             l.insert(l.begin() + static_cast<std::ptrdiff_t>(at), l[at]);
             return at + 2;
         },
         "a second row of run"},
        {"s2.csv", swap_at(1), "out of the sweep's order"},         // two runs' rows swapped
        {"c2.csv", swap_at(3), "(a row missing or out of order)"},  // two samples swapped
        {"h2.csv",                                                  // a car's row repeated
         [](std::vector<std::string>& l) {
             const std::size_t at = first_row(l) - 1 + 300;
             l.insert(l.begin() + static_cast<std::ptrdiff_t>(at), l[at]);
             return first_row(l) + 721;
         },
         "has 721 rows, not 720 (one per car)"},
        {"s2.csv", add_a_car(3, 4), "add up to 721, not the town's 720 cars"},
        {"c2.csv", add_a_car(50, 5), "add up to 721, not the town's 720 cars"},
        {"h2.csv",  // a car's row deleted
         [](std::vector<std::string>& l) {
             const std::size_t at = first_row(l) - 1 + 100;
             l.erase(l.begin() + static_cast<std::ptrdiff_t>(at));
             return first_row(l) + 719;
         },
         "has 719 rows, not 720 (one per car)"},
    };
    const std::set<fs::path> before = entries();
    for (const Edit& e : edits) {
        std::vector<std::string> lines = lines_of(read_file(dir / e.file));
        const std::size_t line = e.change(lines);
        std::ofstream(dir / "e.csv") << text_of(lines);
        std::string args = "c1.csv c2.csv s1.csv s2.csv h1.csv h2.csv";
        args.replace(args.find(e.file), e.file.size(), "e.csv");
        const CommandResult r = sim("merge " + args + " --summary ms.csv --curves mc.csv");
        EXPECT_TRUE(refused(r, e.said));
        EXPECT_NE(r.err.find("e.csv:" + std::to_string(line) + ": "), std::string::npos) << r.err;
        fs::remove(dir / "e.csv");
        EXPECT_EQ(entries(), before) << e.said;
    }
    for (const auto& [args, said] : std::vector<std::pair<std::string, std::string>>{
             {"c1.csv c2.csv t1.csv t2.csv", "t1.csv: not the same sweep as c1.csv"},
             {"c1.csv c2.csv d1.csv d2.csv", "d1.csv: not the same sweep as c1.csv"},
         }) {
        EXPECT_TRUE(refused(sim("merge " + args + " --summary ms.csv --curves mc.csv"), said));
        EXPECT_EQ(entries(), before) << args;
    }

    // A design's counts edited: merge --sensitivity refuses them.
    std::vector<std::string> lines = lines_of(read_file(dir / "d2.csv"));
    std::size_t line = add_a_car(5, 8)(lines);
    std::ofstream(dir / "e.csv") << text_of(lines);
    CommandResult r = sim("merge d1.csv e.csv --sensitivity i.csv");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("e.csv:" + std::to_string(line) + ": the six counts add up to"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "i.csv"));

    // A sweep resumed from a summary whose counts were edited.
    ASSERT_EQ(sim(SWEEP + " --summary r.csv").status, 0);
    lines = lines_of(read_file(dir / "r.csv"));
    line = add_a_car(2, 5)(lines);
    std::ofstream(dir / "r.csv") << text_of(lines);
    r = sim(SWEEP + " --summary r.csv --resume");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("r.csv:" + std::to_string(line) + ": the six counts add up to 721"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir / "r.csv"), text_of(lines));
}

}  // namespace

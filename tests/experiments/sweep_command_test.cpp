// marovel-sim sweep as a user runs it: files that do not depend on the number
// of threads or machines, refusals before anything is written, and no half
// file after an interruption.
#include <regex>

#include "sim_folder.h"

namespace {

const std::string SWEEP = "sweep --scenarios 0..6 --errors low,high,moderate --ticks 400 --every 9";

// The same bytes on 1, all (OpenMP's default) or 3 threads, and from shards
// concatenated, 21 runs in uneven shards and in more shards than runs.
TEST_F(SimFolder, ThreadsAndShardsWriteTheSameFiles) {
    std::vector<CommandResult> runs;
    for (const char* threads : {" --threads 1", "", " --threads 3"}) {
        const std::string n = std::to_string(runs.size());
        runs.push_back(sim(SWEEP + threads + " --curves c" + n + " --summary=s" + n));
        ASSERT_EQ(runs.back().status, 0) << runs.back().err;
        EXPECT_EQ(runs.back().out, runs[0].out);
        EXPECT_EQ(read_file(dir / ("c" + n)), read_file(dir / "c0"));
        EXPECT_EQ(read_file(dir / ("s" + n)), read_file(dir / "s0"));
    }
    const std::string curves = read_file(dir / "c0");
    const std::string summary = read_file(dir / "s0");
    for (int n : {4, 25}) {
        std::string joined[2];
        for (int i = 1; i <= n; ++i) {
            const std::string shard = " --shard " + std::to_string(i) + "/" + std::to_string(n);
            sim(SWEEP + shard + (i > 1 ? " --no-header" : "") + " --curves p --summary q");
            joined[0] += read_file(dir / "p");
            joined[1] += read_file(dir / "q");
        }
        EXPECT_EQ(joined[0], curves) << n;
        EXPECT_EQ(joined[1], summary) << n;
    }
    // Each file names the program and the command, less the options that only
    // say where output goes or how the work is split, then the columns. Each
    // scenario comes under every level in the order given, so that any leading
    // part of a sweep covers the levels evenly.
    const std::string version = std::string("# Marovel ") + MAROVEL_VERSION;
    const std::string command = "\n# command: marovel-sim " + SWEEP + "\nseed,step,error,";
    EXPECT_TRUE(
        curves.starts_with(version + " evacuation curves" + command +
                           "tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas\n"));
    EXPECT_TRUE(summary.starts_with(version + " run summary" + command + "not_evacuated,"));
    EXPECT_TRUE(std::regex_search(
        summary, std::regex("\n1,0,low,.*\n1,0,high,.*\n1,0,moderate,.*\n1001,1,low,")));
    // 21 runs of 46 samples (0, 9, ..., 396 and 400) after 3 header lines.
    EXPECT_EQ(std::count(curves.begin(), curves.end(), '\n'), 3 + 21 * 46);
    // A title and ten figures per level on standard output; a progress bar on
    // standard error only when it is a terminal (script(1) gives it one).
    EXPECT_NE(runs[0].out.find("21 runs of 400 ticks"), std::string::npos) << runs[0].out;
    EXPECT_EQ(std::count(runs[0].out.begin(), runs[0].out.end(), '\n'), 2 + 3 * 10);
    EXPECT_EQ(runs[0].err, "");
    const CommandResult t = run_command("cd '" + dir.string() +
                                        "' && script -qec \"'" MAROVEL_SIM
                                        "' sweep --scenarios 0..3 --ticks 200 >/dev/null\" "
                                        "/dev/null");
    EXPECT_TRUE(std::regex_search(t.out, std::regex("12/12 runs.*runs/s.*left"))) << t.out;
}

TEST_F(SimFolder, BadInputIsRefusedInOneLineBeforeAnyFileIsWritten) {
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "old.csv") << "earlier\n";
    const std::set<std::string> before = entries();
    // Commands and what their message must name: bad lists, levels, counts,
    // outputs (old.csv twice), pictures, a single run's option a sweep would drop.
    using C = std::pair<std::string, std::string>;
    const std::string S = "sweep --seeds 1 ";
    // clang-format off
    for (const auto& [args, named] : {
             C{"sweep --scenarios 5..3", "--scenarios"},   C{"sweep --seeds ''", "--seeds"},
             C{"sweep --seeds 1,,2", "--seeds"},           C{"sweep", "--scenarios"},
             C{S + "--errors low,extreme", "--errors"},    C{S + "--ticks 0", "--ticks"},
             C{S + "--ticks 2.5", "--ticks"},              C{S + "--every 0", "--every"},
             C{S + "--every x", "--every"},                C{S + "--shard 3/2", "--shard"},
             C{S + "--threads 0", "--threads"},            C{S + "--summary folder", "--summary"},
             C{S + "--summary missing/s.csv", "missing/s.csv"},
             C{S + "--summary old.csv", "old.csv"},        C{S + "--plot a.gif", "--plot"},
             C{"--seed 5 " + S + "--curves old.csv", "--seed "},
             C{"--snapshot 2001:a.png", "--snapshot"},     C{"--snapshot a.png", "--snapshot"},
             C{"--snapshot 5:a.jpg", "--snapshot"},        C{"--snapshot x:a.png", "--snapshot"},
             C{"--snapshot 5:missing/a.png", "--snapshot"},
             C{"--snapshot 5:a.png --snapshot 6:a.png", "--snapshot"}}) {
        // clang-format on
        SCOPED_TRACE(args);
        // An earlier file of an output's name stays as it was.
        const CommandResult r = sim(args + (args.find("sweep") == 0 ? " --curves old.csv" : ""));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(read_file(dir / "old.csv"), "earlier\n");
    }
}

TEST_F(SimFolder, AnInterruptedSweepLeavesNoNewFile) {
    for (const std::string sig : {"INT", "TERM"}) {
        std::ofstream(dir / "c.csv") << "earlier\n";
        // Interrupt once the temporary files exist and the runs are under way.
        const CommandResult r = run_command(
            "cd '" + dir.string() +
            "' && { '" MAROVEL_SIM
            "' sweep --scenarios 0..5000 --curves c.csv --summary s.csv >/dev/null & p=$!; "
            "for i in $(seq 200); do ls -A | grep -q part && break; sleep 0.05; done; "
            "sleep 0.3; ls -A; kill -" +
            sig + " $p; wait $p; echo status=$?; }");
        // It was writing, and it ended by the signal.
        const std::string status = "status=" + std::to_string(128 + (sig == "INT" ? 2 : 15));
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\\.c\\.csv\\.[\\s\\S]*" + status)))
            << r.out;
        EXPECT_EQ(entries(), std::set<std::string>{"c.csv"});
        EXPECT_EQ(read_file(dir / "c.csv"), "earlier\n");
    }
}

}  // namespace

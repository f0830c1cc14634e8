// marovel-sim sweep as a user runs it: files that do not depend on the number
// of threads or machines, refusals before anything is written, and no half
// file after an interruption.
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "experiments/sim_folder.h"

namespace {

const std::string SWEEP = "sweep --scenarios 0..6 --errors low,high,moderate --ticks 400 --every 9";

// The same bytes on 1 and on all threads (OpenMP's default), and from shards on
// 3 threads: their rows (--no-header) concatenated are the whole sweep's rows;
// 21 runs in uneven shards and in more shards than runs.
TEST_F(SimFolder, ThreadsAndShardsWriteTheSameFiles) {
    const CommandResult one = sim(SWEEP + " --threads 1 --curves c --summary=s");
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string curves = read_file(dir / "c"), summary = read_file(dir / "s");
    EXPECT_EQ(sim(SWEEP + " --curves c --summary=s").out, one.out);
    EXPECT_EQ(read_file(dir / "c") + read_file(dir / "s"), curves + summary);
    const auto rows = [](const std::string& text) {
        return text.substr(text.find("\n", text.find("\nseed,") + 1) + 1);
    };
    for (int n : {4, 25}) {
        std::string joined[2];
        for (int i = 1; i <= n; ++i) {
            const std::string shard =
                " --threads 3 --shard " + std::to_string(i) + "/" + std::to_string(n);
            sim(SWEEP + shard + " --no-header --curves p --summary q");
            joined[0] += read_file(dir / "p"), joined[1] += read_file(dir / "q");
        }
        EXPECT_EQ(joined[0] + joined[1], rows(curves) + rows(summary)) << n;
    }
    // Each file names the program and the command, less the options that only
    // say where output goes or how the work is split, the whole sweep, the build
    // and every parameter, then the columns. Each scenario comes under every
    // level in the order given, so that any leading part of a sweep covers the
    // levels evenly. 21 runs of 46 samples (0, 9, ..., 396 and 400) after 6
    // header lines.
    const std::string command =
        "\n# command: marovel-sim " + SWEEP +
        "\n# sweep: 21 runs of 400 ticks, 7 scenarios x 3 error levels"
        "\n# build: Marovel " MAROVEL_VERSION
        ", commit [0-9a-f]{40}(-dirty)?, (GCC|Clang) [0-9.]+, "
        "[A-Za-z]+"
        "\n# parameters: intercept=3.5 feedback=0.49 .* look_ahead=1 route_guide=straight order_compliance=0 order_delay=0\nseed,step,error,";
    EXPECT_TRUE(std::regex_search(
        curves, std::regex("^# Marovel " MAROVEL_VERSION " evacuation curves" + command +
                           "spread,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas\n"
                           "1,0,low,0.001,0,")));
    EXPECT_EQ(std::count(curves.begin(), curves.end(), '\n'), 6 + 21 * 46);
    EXPECT_TRUE(std::regex_search(
        summary,
        std::regex(
            "^# Marovel " MAROVEL_VERSION " run summary" + command +
            "spread,not_evacuated,.*\n1,0,low,0.001,.*\n1,0,high,1e\\+30,.*\n1,0,moderate,360,"
            ".*\n1001,1,low,0.001,")));
    // On standard output a title, the column names and eighteen rows per level
    // (fifteen figures, the three times some runs never reach twice: a median
    // and a restricted mean), then the paired differences of moderate and high
    // against low (fifteen figures each); a progress bar on standard error only
    // when it is a terminal (script(1) gives it one).
    const auto times = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = one.out.find(text); at != std::string::npos;
             at = one.out.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(times(" tick_50 "), 3u * 2 + 2) << one.out;
    EXPECT_EQ(times(" households_never_left "), 3u + 2) << one.out;
    EXPECT_EQ(times("\nPaired differences against low (0.001): "), 1u) << one.out;
    EXPECT_EQ(one.err, "");
    const auto t = run_command("script -qc '" MAROVEL_SIM " sweep --seeds 1 --ticks 9' /dev/null");
    EXPECT_TRUE(std::regex_search(t.out, std::regex("3/3 runs.*runs/s.*left"))) << t.out;
}

// "How much sooner is half the town out at spread 180 than at 360, and how
// sure are we?" One command answers it: every row carries its spread as a
// number beside the level's name; the table gives per level the runs that
// reached each time and those censored; the paired differences (printed and
// in --paired) are those worked out here from the summary's rows, over the
// scenarios where both levels reached the figure.
TEST_F(SimFolder, TheResearchersQuestionIsAnsweredByOneCommand) {
    const CommandResult r =
        sim("sweep --scenarios 0..11 --errors 360,180 --ticks 900 --every 900 --summary s.csv "
            "--curves c.csv --table t.csv --paired p.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& row : csv_rows(read_file(dir / "c.csv")))
        EXPECT_EQ(row.at("spread"), row.at("error") == "moderate" ? "360" : row.at("error"));
    std::map<std::string, std::map<std::string, std::string>> tick;  // spread -> seed -> tick_50
    for (const auto& row : csv_rows(read_file(dir / "s.csv"))) {
        EXPECT_EQ(row.at("error"), row.at("spread") == "360" ? "moderate" : "180");
        tick[row.at("spread")][row.at("seed")] = row.at("tick_50");
    }
    ASSERT_EQ(tick["360"].size(), 12u);
    std::map<std::string, std::size_t> reached;
    std::size_t pairs = 0, onlyModerate = 0, onlyThis = 0;
    double sum = 0.0;
    for (const auto& [seed, at360] : tick["360"]) {
        const std::string& at180 = tick["180"].at(seed);
        reached["360"] += !at360.empty();
        reached["180"] += !at180.empty();
        onlyModerate += !at360.empty() && at180.empty();
        onlyThis += at360.empty() && !at180.empty();
        if (at360.empty() || at180.empty()) continue;
        ++pairs;
        sum += std::stod(at180) - std::stod(at360);
    }
    ASSERT_GT(pairs, 1u);
    for (const auto& row : csv_rows(read_file(dir / "t.csv")))
        if (row.at("figure") == "tick_50") {
            EXPECT_EQ(row.at("reached"), std::to_string(reached[row.at("spread")]))
                << row.at("spread");
            EXPECT_EQ(row.at("censored"), std::to_string(12 - reached[row.at("spread")]));
        }
    bool seen = false;
    for (const auto& row : csv_rows(read_file(dir / "p.csv"))) {
        if (row.at("figure") != "tick_50") continue;
        seen = true;
        EXPECT_EQ(row.at("spread"), "180");
        EXPECT_EQ(row.at("reference_spread"), "360");
        EXPECT_EQ(row.at("matched"), "12");
        EXPECT_EQ(row.at("pairs"), std::to_string(pairs));
        EXPECT_EQ(row.at("only_reference"), std::to_string(onlyModerate));
        EXPECT_EQ(row.at("only_this"), std::to_string(onlyThis));
        const double mean = sum / static_cast<double>(pairs);
        EXPECT_NEAR(std::stod(row.at("difference")), mean, 1e-9);
        EXPECT_LE(std::stod(row.at("low")), mean);
        EXPECT_GE(std::stod(row.at("high")), mean);
        // The printed table says the same.
        char shown[64];
        std::snprintf(shown, sizeof shown, " %.1f  %.1f .. %.1f\n", mean, std::stod(row.at("low")),
                      std::stod(row.at("high")));
        const std::size_t table = r.out.find("\nPaired differences against moderate (360)");
        ASSERT_NE(table, std::string::npos) << r.out;
        std::smatch level;
        const std::string afterTable = r.out.substr(table);
        ASSERT_TRUE(std::regex_search(afterTable, level, std::regex("\n180 +not_evacuated ")))
            << r.out;
        EXPECT_TRUE(std::regex_search(
            afterTable.substr(static_cast<std::size_t>(level.position(0))),
            std::regex("\n +tick_50 +" + std::to_string(pairs) + " +" +
                       std::to_string(onlyModerate) + "/" + std::to_string(onlyThis) + " ")))
            << r.out;
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown << r.out;
    }
    EXPECT_TRUE(seen);
}

// Bad input is refused with one line naming what is wrong (the bracketed part)
// before any file is made, and an interrupted sweep leaves no new file either:
// an earlier file of an output's name stays as it was.
TEST_F(SimFolder, RefusalsAndInterruptionsLeaveNoNewFile) {
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "old.csv") << "earlier\n";
    const std::set<fs::path> before = entries();
    // clang-format off
    for (const std::string row : {
             "sweep [--scenarios] 5..3", "sweep [--seeds] ''", "sweep [--seeds] 1,,2", "[sweep]",
             "sweep --seeds 1 [--errors] low,extreme", "sweep --seeds 1 [--ticks] 0",
             "sweep --seeds 1 [--ticks] 2.5", "sweep --seeds 1 [--every] 0",
             "sweep --seeds 1 [--every] x", "sweep --seeds 1 [--shard] 3/2",
             "sweep --seeds 1 [--threads] 0", "sweep --seeds 1 [--summary] folder",
             "sweep --seeds 1 --summary [missing/s.csv]", "sweep --seeds 1 --summary [old.csv]",
             "sweep --seeds 1 [--plot] a.gif", "[--seed] 5 sweep --seeds 1",
             "[--snapshot] 2001:a.png", "[--snapshot] a.png", "[--snapshot] 5:a.jpg",
             "[--snapshot] x:a.png", "[--snapshot] 5:missing/a.png",
             "--snapshot 5:a.png [--snapshot] 6:a.png"}) {
        // clang-format on
        const std::string named = row.substr(row.find('[') + 1, row.find(']') - row.find('[') - 1);
        std::string args = std::regex_replace(row, std::regex("[\\[\\]]"), "");
        if (args.find("sweep") != std::string::npos) args += " --curves old.csv";
        EXPECT_TRUE(refused(sim(args), named)) << args;
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(read_file(dir / "old.csv"), "earlier\n");
    }
    // Interrupted once its temporary files exist and the runs are under way, it
    // ends by the signal.
    for (const auto& [sig, status] : {std::pair<std::string, int>{"INT", 130}, {"TERM", 143}}) {
        const CommandResult r =
            sim("sweep --scenarios 0..5000 --curves old.csv --summary s.csv & "
                "for i in $(seq 200); do ls -A | grep -q part && break; sleep 0.05; done; "
                "sleep 0.3; ls -A; kill -" +
                sig + " $!; wait $!");
        EXPECT_EQ(r.status, status);
        EXPECT_NE(r.out.find(".old.csv."), std::string::npos) << r.out;  // it was writing
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(read_file(dir / "old.csv"), "earlier\n");
    }
}

}  // namespace

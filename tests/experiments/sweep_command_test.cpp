// marovel-sim sweep as a user runs it: files that do not depend on the number
// of threads or machines, refusals before anything is written, and no half
// file after an interruption.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace {

namespace fs = std::filesystem;
const std::string SIM = MAROVEL_SIM;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every entry of a folder, hidden ones too.
std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class SweepCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("marovel-sweep-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    // Runs marovel-sim in the test's folder.
    CommandResult sim(const std::string& args, const std::string& env = "") const {
        return run_command("cd '" + dir.string() + "' && " + env + " '" + SIM + "' " + args);
    }
    fs::path dir;
};

constexpr const char* SMALL_SWEEP =
    "sweep --scenarios 0..6 --errors low,high,moderate --ticks 400 --every 9";

TEST_F(SweepCommand, OneThreadAndAllThreadsWriteTheSameBytes) {
    const CommandResult one =
        sim(std::string(SMALL_SWEEP) + " --threads 1 --curves c1.csv --summary s1.csv");
    ASSERT_EQ(one.status, 0) << one.err;
    const CommandResult all = sim(std::string(SMALL_SWEEP) + " --curves c2.csv --summary s2.csv");
    ASSERT_EQ(all.status, 0) << all.err;
    const CommandResult three =
        sim(std::string(SMALL_SWEEP) + " --curves c3.csv --summary s3.csv", "OMP_NUM_THREADS=3");
    ASSERT_EQ(three.status, 0) << three.err;

    const std::string curves = read_file(dir / "c1.csv");
    EXPECT_EQ(read_file(dir / "c2.csv"), curves);
    EXPECT_EQ(read_file(dir / "c3.csv"), curves);
    EXPECT_EQ(read_file(dir / "s2.csv"), read_file(dir / "s1.csv"));
    EXPECT_EQ(read_file(dir / "s3.csv"), read_file(dir / "s1.csv"));
    EXPECT_EQ(all.out, one.out);
    // 21 runs of 46 samples (0, 9, ..., 396 and 400), after 3 header lines.
    EXPECT_EQ(lines_of(curves).size(), 3u + 21u * 46u);
    EXPECT_EQ(lines_of(read_file(dir / "s1.csv")).size(), 3u + 21u);
}

TEST_F(SweepCommand, FilesStartWithVersionCommandAndColumns) {
    const CommandResult r =
        sim("sweep --scenarios 2..3 --errors moderate --ticks 50 --every 25 --curves c.csv "
            "--summary=s.csv --threads 2");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string command =
        "# command: marovel-sim sweep --scenarios 2..3 --errors moderate --ticks 50 --every 25";
    const std::vector<std::string> curves = lines_of(read_file(dir / "c.csv"));
    ASSERT_EQ(curves.size(), 3u + 2u * 3u);
    EXPECT_EQ(curves[0], std::string("# Marovel ") + MAROVEL_VERSION + " evacuation curves");
    EXPECT_EQ(curves[1], command);
    EXPECT_EQ(curves[2],
              "seed,step,error,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas");
    EXPECT_EQ(curves[3], "2001,2,moderate,0,720,0,0,0,0,0");
    EXPECT_EQ(curves[8].rfind("3001,3,moderate,50,", 0), 0u);

    const std::vector<std::string> summary = lines_of(read_file(dir / "s.csv"));
    ASSERT_EQ(summary.size(), 3u + 2u);
    EXPECT_EQ(summary[0], std::string("# Marovel ") + MAROVEL_VERSION + " run summary");
    EXPECT_EQ(summary[1], command);
    EXPECT_EQ(summary[2].rfind("seed,step,error,", 0), 0u);
    EXPECT_NE(summary[2].find(",tick_50,tick_90,max_en_route,max_en_route_tick"),
              std::string::npos);
    // The summary's final counts are the curves' last row of the same run.
    EXPECT_EQ(summary[3].substr(0, summary[3].find(",,")),
              "2001,2,moderate" + curves[5].substr(curves[5].find(",50,") + 3));

    // Seeds given directly: the step is known only on the Next chain.
    ASSERT_EQ(sim("sweep --seeds 5,1001 --errors low --ticks 5 --every 5 --curves d.csv").status,
              0);
    const std::vector<std::string> direct = lines_of(read_file(dir / "d.csv"));
    ASSERT_EQ(direct.size(), 7u);
    EXPECT_EQ(direct[3], "5,,low,0,720,0,0,0,0,0");
    EXPECT_EQ(direct[5].rfind("1001,1,low,0,", 0), 0u);
}

TEST_F(SweepCommand, ShardsConcatenateIntoTheWholeSweep) {
    ASSERT_EQ(sim(std::string(SMALL_SWEEP) + " --curves whole.csv --summary whole-s.csv").status,
              0);
    for (int n : {4, 25}) {  // 21 runs: uneven shards, then more shards than runs
        std::string curves;
        std::string summary;
        for (int i = 1; i <= n; ++i) {
            const std::string part = std::to_string(i);
            const CommandResult r =
                sim(std::string(SMALL_SWEEP) + " --shard " + part + "/" + std::to_string(n) +
                    (i > 1 ? " --no-header" : "") + " --curves p" + part + ".csv --summary q" +
                    part + ".csv --threads 2");
            ASSERT_EQ(r.status, 0) << r.err;
            curves += read_file(dir / ("p" + part + ".csv"));
            summary += read_file(dir / ("q" + part + ".csv"));
        }
        EXPECT_EQ(curves, read_file(dir / "whole.csv")) << n;
        EXPECT_EQ(summary, read_file(dir / "whole-s.csv")) << n;
    }
}

TEST_F(SweepCommand, TablePrintsEveryLevelAndStandardErrorStaysQuiet) {
    const CommandResult r = sim("sweep --scenarios 0..3 --errors high,low --ticks 300");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");  // not a terminal: no progress bar
    EXPECT_TRUE(entries(dir).empty());
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u + 2u * 10u);
    EXPECT_NE(lines[0].find("8 runs of 300 ticks"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[2].rfind("high ", 0), 0u);
    EXPECT_EQ(lines[12].rfind("low ", 0), 0u);
    EXPECT_NE(r.out.find("tick of 50% evacuated"), std::string::npos);
}

TEST_F(SweepCommand, ATerminalGetsAProgressBarOnStandardError) {
    // script(1) runs it on a terminal; what it prints there is the terminal's output.
    const CommandResult r =
        run_command("cd '" + dir.string() + "' && script -qec \"'" + SIM +
                    "' sweep --scenarios 0..3 --ticks 200 >/dev/null\" /dev/null");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("12/12 runs"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("runs/s"), std::string::npos);
    EXPECT_NE(r.out.find("left"), std::string::npos);
}

TEST_F(SweepCommand, BadInputIsRefusedInOneLineBeforeAnyFileIsWritten) {
    struct Case {
        const char* args;
        const char* named;
    };
    fs::create_directories(dir / "folder");
    for (const Case& c : {
             Case{"--scenarios 5..3", "--scenarios"},
             Case{"--seeds 9..-9", "--seeds"},
             Case{"--seeds ''", "--seeds"},
             Case{"--seeds 1,,2", "--seeds"},
             Case{"--scenarios x", "--scenarios"},
             Case{"", "--scenarios"},
             Case{"--seeds 1 --scenarios 1", "--scenarios"},
             Case{"--seeds 1 --errors low,extreme", "--errors"},
             Case{"--seeds 1 --errors ''", "--errors"},
             Case{"--seeds 1 --ticks 0", "--ticks"},
             Case{"--seeds 1 --ticks -5", "--ticks"},
             Case{"--seeds 1 --ticks ten", "--ticks"},
             Case{"--seeds 1 --ticks 2.5", "--ticks"},
             Case{"--seeds 1 --every 0", "--every"},
             Case{"--seeds 1 --every x", "--every"},
             Case{"--seeds 1 --shard 3/2", "--shard"},
             Case{"--seeds 1 --shard 1", "--shard"},
             Case{"--seeds 1 --threads 0", "--threads"},
             Case{"--seeds 1 --curves missing/c.csv", "missing/c.csv"},
             Case{"--seeds 1 --summary folder", "--summary"},
             Case{"--seeds 1 --curves same.csv --summary same.csv", "same.csv"},
             Case{"--seeds 1 --curves c.csv --summary missing/s.csv", "missing/s.csv"},
         }) {
        SCOPED_TRACE(c.args);
        // Outputs that can be written, unless the case is about an output.
        const bool aboutOutputs = std::string(c.args).find("--curves") != std::string::npos ||
                                  std::string(c.args).find("--summary") != std::string::npos;
        const CommandResult r = sim(std::string("sweep ") + c.args +
                                    (aboutOutputs ? "" : " --curves out.csv --summary sum.csv"));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_EQ(entries(dir), std::vector<std::string>{"folder"});
    }
    // A single run's option is not silently dropped by a sweep.
    const CommandResult mixed = sim("--seed 5 sweep --seeds 1 --curves out.csv");
    EXPECT_EQ(mixed.status, 2);
    EXPECT_NE(mixed.err.find("--seed"), std::string::npos);
    EXPECT_EQ(entries(dir), std::vector<std::string>{"folder"});
}

TEST_F(SweepCommand, AnInterruptedSweepLeavesNoFile) {
    for (const char* sig : {"INT", "TERM"}) {
        SCOPED_TRACE(sig);
        // Interrupt once the partial files exist and the runs are under way.
        const std::string script =
            "'" + SIM +
            "' sweep --scenarios 0..5000 --curves c.csv --summary s.csv >/dev/null & pid=$!; "
            "for i in $(seq 200); do [ -n \"$(ls -A)\" ] && break; sleep 0.05; done; sleep 0.3; "
            "ls -A; kill -" +
            std::string(sig) + " $pid; wait $pid; echo status=$?";
        const CommandResult r =
            run_command("{ cd '" + dir.string() + "' || exit 1; " + script + "; }");
        EXPECT_NE(r.out.find(".c.csv."), std::string::npos) << r.out;  // it was writing
        EXPECT_NE(r.out.find("status=" + std::to_string(128 + (sig[0] == 'I' ? 2 : 15))),
                  std::string::npos)
            << r.out;
        EXPECT_TRUE(entries(dir).empty());
    }
}

TEST_F(SweepCommand, AnEarlierFileStaysUntilTheNewOneIsComplete) {
    { std::ofstream(dir / "c.csv") << "earlier\n"; }
    const CommandResult refused = sim("sweep --seeds 1 --ticks 0 --curves c.csv");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(read_file(dir / "c.csv"), "earlier\n");
    ASSERT_EQ(sim("sweep --seeds 1 --ticks 10 --curves c.csv").status, 0);
    EXPECT_EQ(read_file(dir / "c.csv").rfind("# Marovel", 0), 0u);
    EXPECT_EQ(entries(dir), std::vector<std::string>{"c.csv"});
}

}  // namespace

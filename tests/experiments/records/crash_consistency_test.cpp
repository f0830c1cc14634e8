// A sweep writing curves, a summary and two plots over existing files, stopped
// at many moments (SIGKILL, SIGTERM, SIGHUP) and given a disk that fills at many
// byte counts: afterwards every output is entirely the old file or entirely the
// new one; a signal the program handles replaces all of them or none; and no
// temporary file outlives the next run.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>
#include <vector>

#include "experiments/sim_folder.h"

namespace {

const std::vector<std::string> OUTPUTS = {"c.csv", "s.csv", "p.png", "p.svg"};
const std::string SWEEP =
    "sweep --seeds 1..3 --ticks 200 --curves c.csv --summary s.csv "
    "--plot p.png --plot p.svg";

class CrashConsistency : public SimFolder {
  protected:
    void SetUp() override {
        // The new files, from a run that nothing disturbs, and how long it takes.
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(sim(SWEEP).status, 0);
        runSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const std::string& name : OUTPUTS) fresh[name] = read_file(dir / name);
    }
    void put_old_files() const {
        for (const std::string& name : OUTPUTS) std::ofstream(dir / name) << "old " << name << '\n';
    }
    // "old" or "new" per output, in OUTPUTS' order; anything else is "mixed".
    std::string states() const {
        std::string s;
        for (const std::string& name : OUTPUTS) {
            const std::string bytes = read_file(dir / name);
            s += bytes == "old " + name + "\n" ? "old "
                 : bytes == fresh.at(name)     ? "new "
                                               : "MIXED ";
        }
        return s;
    }
    std::set<fs::path> temporaries() const {
        std::set<fs::path> found;
        for (const fs::path& p : entries())
            if (p.filename().string().ends_with(".part")) found.insert(p);
        return found;
    }
    std::map<std::string, std::string> fresh;
    double runSeconds = 1.0;
};

TEST_F(CrashConsistency, EveryOutputIsOldOrNewAfterAnyStopAndNoTemporaryOutlivesTheNextRun) {
    constexpr int MOMENTS = 8;  // per signal, spread over twice a run's time
    std::map<std::string, int> outcomes;
    for (const int sig : {SIGKILL, SIGTERM, SIGHUP}) {
        for (int k = 0; k < MOMENTS; ++k) {
            put_old_files();
            const double delay = runSeconds * 2.0 * (k + 0.5) / MOMENTS;
            char wait[32];
            std::snprintf(wait, sizeof wait, "%.3f", delay);
            const CommandResult r = sim(SWEEP + " & sleep " + wait + "; kill -" +
                                        std::to_string(sig) + " $! 2>/dev/null; wait $!");
            const std::string now = states();
            ++outcomes[now];
            EXPECT_EQ(now.find("MIXED"), std::string::npos) << sig << " after " << wait << " s";
            if (r.status == 0) {
                EXPECT_EQ(now, "new new new new ");
            } else {
                EXPECT_EQ(r.status, 128 + sig) << r.err;
            }
            if (sig != SIGKILL) {
                // Handled: the set is replaced whole or not at all, nothing left.
                EXPECT_TRUE(now == "old old old old " || now == "new new new new ")
                    << sig << " after " << wait << " s: " << now;
                EXPECT_EQ(temporaries(), std::set<fs::path>{}) << sig;
                continue;
            }
            // A kill may leave temporary files; the next run over the same
            // outputs removes them, its own included.
            ASSERT_EQ(sim("sweep --seeds 1 --ticks 3 --curves c.csv --summary s.csv "
                          "--plot p.png --plot p.svg")
                          .status,
                      0);
            EXPECT_EQ(temporaries(), std::set<fs::path>{}) << "after a kill at " << wait << " s";
        }
    }
    // The moments reached both ends: runs stopped early and runs that finished.
    EXPECT_GT(outcomes["old old old old "], 0);
    EXPECT_GT(outcomes["new new new new "], 0);
}

// A file-size limit with SIGXFSZ ignored makes every write past it fail as on
// a full disk, at a byte count of the test's choosing: from inside the first
// file to past the last. Below the largest output nothing is replaced.
TEST_F(CrashConsistency, ADiskThatFillsAtAnyByteCountReplacesNothing) {
    std::size_t largest = 0;
    for (const auto& [name, bytes] : fresh) largest = std::max(largest, bytes.size());
    std::vector<std::size_t> limits;
    for (std::size_t limit = 1000; limit < largest; limit = limit * 3 / 2) limits.push_back(limit);
    limits.push_back(largest - 1);
    limits.push_back(largest);
    for (const std::size_t limit : limits) {
        put_old_files();
        const CommandResult r =
            run_command("cd '" + dir.string() + "' && trap '' XFSZ && exec prlimit --fsize=" +
                        std::to_string(limit) + " -- '" MAROVEL_SIM "' " + SWEEP);
        const std::string now = states();
        if (limit >= largest) {
            EXPECT_EQ(std::pair(r.status, now), std::pair(0, std::string("new new new new ")));
        } else {
            EXPECT_EQ(std::pair(r.status, now), std::pair(1, std::string("old old old old ")))
                << limit;
            EXPECT_NE(r.err.find("File too large; no output was replaced"), std::string::npos)
                << r.err;
        }
        EXPECT_EQ(temporaries(), std::set<fs::path>{}) << limit;
    }
    EXPECT_GT(limits.size(), 8u);
}

}  // namespace

// A merge stopped at each rename of its commit, by every signal it handles and
// by SIGKILL (strace stops it there: the moment no timing can hit). A handled
// signal leaves its outputs, metadata included, all old or all new; a kill
// leaves each output old or new.
class MergeCrashConsistency : public SimFolder {
  protected:
    void SetUp() override {
        for (const std::string n : {"1", "2"})
            ASSERT_EQ(sim("sweep --seeds 1..4 --ticks 150 --shard " + n + "/2 --curves c" + n +
                          ".csv --summary s" + n + ".csv --households h" + n + ".csv")
                          .status,
                      0);
        ASSERT_EQ(sim(MERGE).status, 0);
        for (const std::string& name : MERGED) fresh[name] = read_file(dir / name);
    }
    std::string states() const {
        std::string s;
        for (const std::string& name : MERGED) {
            const std::string bytes = read_file(dir / name);
            // The metadata differs from run to run (its times): new when it is whole.
            const bool isNew = name == "m.json"
                                   ? bytes.starts_with("{\n") && bytes.ends_with("\n}\n")
                                   : bytes == fresh.at(name);
            s += bytes == "old " + name + "\n" ? "old " : isNew ? "new " : "MIXED ";
        }
        return s;
    }
    const std::vector<std::string> MERGED = {"mc.csv", "ms.csv", "mh.csv",
                                             "p.png",  "p.svg",  "m.json"};
    const std::string MERGE =
        "merge c1.csv c2.csv s1.csv s2.csv h1.csv h2.csv --curves mc.csv --summary ms.csv "
        "--households mh.csv --plot p.png --plot p.svg --metadata m.json";
    std::map<std::string, std::string> fresh;
};

TEST_F(MergeCrashConsistency, AStopAtAnyRenameLeavesTheOutputsAllOldOrAllNew) {
    if (run_command("strace -o /dev/null true").status != 0) GTEST_SKIP() << "no strace";
    const std::string oldSet = "old old old old old old ";
    const std::string newSet = "new new new new new new ";
    for (const char* sig : {"SIGTERM", "SIGINT", "SIGHUP", "SIGKILL"}) {
        bool finished = false;
        for (int n = 1; n <= 12 && !finished; ++n) {
            for (const std::string& name : MERGED)
                std::ofstream(dir / name) << "old " << name << '\n';
            const CommandResult r = run_command(
                "cd '" + dir.string() +
                "' && exec strace -f -o /dev/null -e trace=rename,renameat,renameat2 "
                "-e inject=rename,renameat,renameat2:signal=" +
                sig + ":when=" + std::to_string(n) +
                // A sanitizer build's leak check cannot run under a tracer.
                " env -u DISPLAY ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" '" MAROVEL_SIM
                "' " +
                MERGE);
            finished = r.status == 0;  // fewer renames than n: nothing was stopped
            const std::string now = states();
            EXPECT_EQ(now.find("MIXED"), std::string::npos) << sig << " at rename " << n;
            if (finished || std::string(sig) != "SIGKILL") {
                EXPECT_TRUE(now == oldSet || now == newSet)
                    << sig << " at rename " << n << ": " << now << r.err;
            }
            if (std::string(sig) != "SIGKILL") {
                for (const fs::path& p : entries())
                    EXPECT_FALSE(p.filename().string().ends_with(".part")) << sig << ' ' << p;
            }
        }
        EXPECT_TRUE(finished) << sig;
    }
}

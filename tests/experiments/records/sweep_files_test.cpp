// marovel-sim's files as a hostile or unlucky user meets them: names that are
// not plain files, one file under two names, numbers in other bases, a full
// disk, signals, very long names, standard output, and huge shards.
#include <sys/stat.h>

#include <csignal>
#include <regex>

#include "experiments/sim_folder.h"

namespace {

const std::string SIM = MAROVEL_SIM;
const std::string SMALL = "sweep --seeds 1 --ticks 3 ";

// Runs marovel-sim in the folder after the shell commands in `before` (which
// may set a umask, ignore signals or end in a program that execs the rest).
CommandResult sim_after(const fs::path& dir, const std::string& before, const std::string& args) {
    return run_command("cd '" + dir.string() + "' && " + before + " env -u DISPLAY '" + SIM + "' " +
                       args);
}

std::string without_command_line(const std::string& csv) {
    return std::regex_replace(csv, std::regex("# command: [^\n]*\n"), "");
}

// Device nodes, links, FIFOs and folders are never replaced by an output, and
// a FIFO never blocks the program: bad input, one line naming the file (every
// kind of name: the output files' own tests).
TEST_F(SimFolder, OutputsThatAreNotPlainFilesAreRefusedAndKept) {
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::set<fs::path> before = entries();
    const std::pair<const char*, const char*> cases[] = {
        {"--curves /dev/full", "/dev/full: it is a device"},
        {"--summary /dev/stdout", "/dev/stdout: it is a symbolic link"},
        {"--curves folder", "folder: it is a folder"},
        {"--curves fifo --summary s.csv", "fifo: it is a FIFO"},
    };
    for (const auto& [args, named] : cases) {
        EXPECT_TRUE(refused(sim_after(dir, "exec timeout 20", SMALL + args), named)) << args;
        EXPECT_EQ(entries(), before);
    }
    struct stat st = {};
    EXPECT_TRUE(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
}

// Two names of one file would leave only the last output written in it; the
// plots and "-" count among the names (links and hard links: the output files'
// own tests).
TEST_F(SimFolder, OneFileUnderTwoNamesIsRefused) {
    fs::create_directory(dir / "real");
    for (const char* args :
         {"--curves x.csv --summary ./x.csv", "--curves - --summary -",
          "--plot p.png --plot ./p.png", "--summary p.svg --plot ./real/../p.svg"}) {
        EXPECT_TRUE(refused(sim(SMALL + args), "output file ")) << args;
        EXPECT_EQ(entries(), std::set<fs::path>{dir / "real"});
    }
}

// A shard of a sweep of R runs split N ways, I-th: runs floor(R (I - 1) / N) up
// to floor(R I / N). With N near 2^63 the last shard still holds the last run.
TEST_F(SimFolder, HugeShardNumbersSplitWithoutOverflow) {
    const std::pair<std::string, int> cases[] = {
        {"6148914691236517206/6148914691236517206", 1},
        {"9223372036854775807/9223372036854775807", 1},
        {"9223372036854775806/9223372036854775807", 0},
        {"1/9223372036854775807", 0},
        {"3074457345618258602/9223372036854775807", 0},  // R I / N = 1 - 1/N: floor 0
        {"3074457345618258603/9223372036854775807", 1},  // 1 + 2/N: the first run
    };
    for (const auto& [shard, rows] : cases) {
        const CommandResult r = sim(SMALL + "--no-header --summary s.csv --shard " + shard);
        ASSERT_EQ(r.status, 0) << shard << ": " << r.err;
        const std::string summary = read_file(dir / "s.csv");
        EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), rows) << shard;
        const char* level = shard.starts_with("3") ? "1,0,low," : "1,0,high,";
        if (rows == 1) {
            EXPECT_TRUE(summary.starts_with(level)) << summary;
        }
    }
}

// Numbers are decimal everywhere: a leading zero is no octal, and other bases,
// digit separators and exponents are not numbers.
TEST_F(SimFolder, SweepNumbersAreDecimal) {
    ASSERT_EQ(sim("sweep --seeds 10 --ticks 10 --every 3 --threads 2 --curves ten.csv").status, 0);
    ASSERT_EQ(sim("sweep --seeds 010 --ticks 010 --every 03 --threads 02 --curves zero.csv").status,
              0);
    const std::string ten = read_file(dir / "ten.csv");
    EXPECT_NE(ten.find("\n10,,low,0.001,10,"), std::string::npos);  // ten ticks: a row at tick 10
    EXPECT_EQ(without_command_line(read_file(dir / "zero.csv")), without_command_line(ten));
    for (const std::string option : {"--ticks", "--every", "--threads"})
        for (const char* value : {"0x10", "0b1010", "1_0", "1e1", "+-3", "0o7", "10.", "٣"}) {
            const CommandResult r = sim("sweep --seeds 1 " + option + " " + value);
            // A byte outside printable ASCII is shown escaped.
            const std::string shown = std::string(value) == "٣" ? "\\xd9\\xa3" : value;
            EXPECT_TRUE(refused(r, option + ": \"" + shown + "\" is not a decimal integer"));
        }
    for (const char* list : {"--seeds 0x10", "--seeds 1..0x3", "--scenarios 1_0"}) {
        EXPECT_TRUE(refused(sim(std::string("sweep --ticks 3 ") + list), "")) << list;
    }
}

// The single run reads its numbers the same way; a tally may be asked for at
// the run's last tick, and comes once.
TEST_F(SimFolder, SingleRunNumbersAreDecimal) {
    const std::pair<const char*, const char*> same[] = {
        {"--ticks 010 --csv", "--ticks 10 --csv"},
        {"--seed 010 --ticks 5 --fingerprint", "--seed 10 --ticks 5 --fingerprint"},
        {"--scenario -010 --ticks 5 --fingerprint", "--scenario -10 --ticks 5 --fingerprint"},
        {"--ticks 20 --at 007,010 --every 010 --csv", "--ticks 20 --at 7,10 --every 10 --csv"},
    };
    for (const auto& [typed, meant] : same) {
        const CommandResult a = sim(typed), b = sim(meant);
        EXPECT_EQ(std::pair(a.status, a.out), std::pair(0, b.out)) << typed;
    }
    EXPECT_NE(sim("--seed 8 --ticks 5 --fingerprint").out,
              sim("--seed 010 --ticks 5 --fingerprint").out);
    for (const char* args : {"--ticks 0x10", "--seed 0x10", "--at 1,0b1", "--every 1_0"}) {
        EXPECT_TRUE(refused(sim(args), "is not a decimal integer")) << args;
    }
    const std::string last = sim("--ticks 10 --at 10 --every 5 --csv").out;
    EXPECT_EQ(
        std::count(last.begin(), last.end(), '\n') - std::count(last.begin(), last.end(), '#'),
        4);  // the columns, then ticks 0, 5 and 10 once each
    EXPECT_NE(last.find("\n10,"), std::string::npos);
}

// A scenario given twice would run twice and count twice in the statistics.
TEST_F(SimFolder, RepeatedScenariosAreRefused) {
    for (const auto& [args, named] : {std::pair{"--seeds 1,1", "--seeds: 1 comes twice"},
                                      {"--seeds 1..5,3", "--seeds: 3 comes twice"},
                                      {"--seeds 2001,7,7,2001", "--seeds: 7 comes twice"},
                                      {"--scenarios 0,0", "--scenarios: 0 comes twice"},
                                      {"--scenarios -2..2,-2", "--scenarios: -2 comes twice"}}) {
        EXPECT_TRUE(refused(sim(std::string("sweep --ticks 3 --curves c.csv ") + args), named));
    }
    EXPECT_EQ(entries(), std::set<fs::path>{});
}

// "-" is standard output: the CSV goes there and the table to standard error
// (the names too long, the lengths that are written and the umask: the output
// files' own tests).
TEST_F(SimFolder, DashIsStandardOutput) {
    const CommandResult dash = sim(SMALL + "--curves -");
    ASSERT_EQ(dash.status, 0) << dash.err;
    const CommandResult file = sim(SMALL + "--curves c.csv");
    EXPECT_EQ(dash.out, read_file(dir / "c.csv"));
    EXPECT_EQ(dash.err, file.out);
    EXPECT_EQ(entries(), std::set<fs::path>{dir / "c.csv"});
}

// Standard output that cannot be written is a failure while running (1), not
// bad input (2), and says why, in single runs, sweeps and the parameter table.
TEST_F(SimFolder, UnwritableStandardOutputFailsWithItsReason) {
    for (const char* args :
         {"--ticks 3", "--ticks 3 --fingerprint", "sweep --seeds 1 --ticks 3", "params"}) {
        EXPECT_TRUE(refused(sim(std::string(args) + " > /dev/full"),
                            "could not write standard output: No space left on device", 1))
            << args;
    }
}

// Old outputs of every kind, for the runs that must leave them as they were.
void put_old_outputs(const fs::path& dir) {
    for (const char* name : {"c.csv", "s.csv", "p.png", "p.svg"}) std::ofstream(dir / name) << name;
}
const std::string ALL_OUTPUTS = "--curves c.csv --summary s.csv --plot p.png --plot p.svg";

// A real disk that fills while the outputs are written: status 1, one line
// naming the file and the system's reason, and every old file as it was (a
// file-size limit at many byte counts: the crash-consistency tests).
TEST_F(SimFolder, AFullDiskLeavesEveryOldOutput) {
    const std::string sweep = "sweep --seeds 1..3 --ticks 200 " + ALL_OUTPUTS;
    fs::create_directory(dir / "small");
    if (run_command("mount -t tmpfs -o size=16k tmpfs '" + (dir / "small").string() + "'").status !=
        0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    put_old_outputs(dir / "small");
    const CommandResult r = sim_after(dir / "small", "", sweep);
    const std::set<fs::path> after = {fs::directory_iterator(dir / "small"),
                                      fs::directory_iterator()};
    std::string kept;
    for (const char* name : {"c.csv", "s.csv", "p.png", "p.svg"})
        kept += read_file(dir / "small" / name);
    run_command("umount '" + (dir / "small").string() + "'");
    EXPECT_TRUE(refused(r, ": No space left on device; no output was replaced", 1));
    EXPECT_EQ(after.size(), 4u);
    EXPECT_EQ(kept, "c.csvs.csvp.pngp.svg");
}

#if MAROVEL_WITH_PICTURES
// A snapshot is the town at its tick whatever else was asked: in any order,
// at tick 0 and at the run's last tick.
TEST_F(SimFolder, SnapshotsInAnyOrderAndAtTheLastTick) {
    fs::copy(MAROVEL_SOURCE_DATA, dir / "data");
    const CommandResult all =
        sim("--ticks 60 --snapshot 60:c.png --snapshot 30:b.png --snapshot 0:a.png");
    ASSERT_EQ(all.status, 0) << all.err;
    const std::pair<const char*, const char*> alone[] = {{"0", "a"}, {"30", "b"}, {"60", "c"}};
    for (const auto& [tick, name] : alone) {
        const CommandResult r = sim(std::string("--ticks ") + (tick[0] == '0' ? "60" : tick) +
                                    " --snapshot " + tick + ":alone.png");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "alone.png"), read_file(dir / (std::string(name) + ".png")))
            << tick;
    }
    EXPECT_NE(read_file(dir / "a.png"), read_file(dir / "c.png"));
    EXPECT_EQ(sim("--ticks 60 --snapshot 61:d.png").status, 2);
}
#endif

}  // namespace

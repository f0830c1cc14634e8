// The files the programs read, given by the user: only regular files, never
// longer than a valid one can be, and refusals that echo what they were given
// as one short line. Each command runs under a memory limit and a timeout, so
// that an input that hangs or grows ends the test instead of the machine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "experiments/sim_folder.h"

namespace {

// At most 1 GiB of address space and 60 s: far more than any refusal needs.
// AddressSanitizer reserves terabytes of address space for its shadow memory,
// so its builds run without the bound on virtual memory (time stays bounded).
#if defined(__SANITIZE_ADDRESS__)
const std::string MEMORY_BOUND;
#else
const std::string MEMORY_BOUND = "ulimit -v 1048576; ";
#endif
const std::string BOUNDED = MEMORY_BOUND + "exec timeout 60 ";

class InputFiles : public SimFolder {
  protected:
    CommandResult bounded_sim(const std::string& args) const {
        return run_command("cd '" + dir.string() + "' && " + BOUNDED +
                           "env -u DISPLAY -u WAYLAND_DISPLAY '" MAROVEL_SIM "' " + args);
    }
    CommandResult bounded_pictures(const std::string& args) const {
        return run_command("cd '" + dir.string() + "' && " + BOUNDED + "'" MAROVEL_PICTURES "' " +
                           args);
    }
    // Status 2, one line on standard error holding each of `said`, nothing on
    // standard output, and no file made or changed.
    void expect_refused(const CommandResult& r, const std::vector<std::string>& said,
                        const std::string& what) {
        for (const std::string& s : said) EXPECT_TRUE(refused(r, s)) << what;
        EXPECT_EQ(entries(), before) << what;
    }
    void SetUp() override {
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
        fs::create_directory(dir / "folder");
        ASSERT_EQ(sim("sweep --scenarios 0..1 --errors low --ticks 20 --summary s.csv").status, 0);
        std::ofstream(dir / "old.csv") << "an earlier output\n";
        before = entries();
    }
    std::set<fs::path> before;
};

// A FIFO with no writer would block the open for ever, a device such as
// /dev/zero never ends, a folder is no file: each is refused at once, naming it.
TEST_F(InputFiles, InputsThatAreNotRegularFilesAreRefusedWithoutWaiting) {
    for (const std::string name : {"fifo", "/dev/zero", "folder"}) {
        expect_refused(bounded_sim("--params " + name + " --ticks 3"),
                       {"--params: " + name + ": not a regular file"}, "--params " + name);
        expect_refused(bounded_sim("sweep --design " + name + " --ticks 3 --summary old.csv"),
                       {"--design: " + name + ": not a regular file"}, "--design " + name);
        expect_refused(bounded_sim("merge " + name + " s.csv --summary old.csv"),
                       {name + ": not a regular file"}, "merge " + name);
    }
    // The picture program, run directly: a FIFO as the picture to write.
    std::ofstream(dir / "p.png") << "an earlier picture\n";
    before = entries();
    expect_refused(bounded_pictures("plot --errors low --png fifo < s.csv"),
                   {"fifo: not a regular file"}, "plot --png fifo");
    EXPECT_EQ(read_file(dir / "p.png"), "an earlier picture\n");
}

// Every file is read only as far as a valid one can reach, and every line too:
// an endless input ends in a refusal, not in all the memory there is.
TEST_F(InputFiles, InputsLongerThanAValidOneAreRefused) {
    std::ofstream(dir / "long.txt") << "# " << std::string(1 << 20, 'c') << "\n";
    std::ofstream(dir / "line.txt") << "tow_wait = 30\n# " << std::string(5000, 'c') << "\n";
    std::ofstream(dir / "line.csv") << "point,tow_wait\n# " << std::string(5000, 'c') << "\n";
    {
        // A shard whose header is followed by a line of 5 MiB.
        std::ofstream shard(dir / "shard.csv");
        shard << read_file(dir / "s.csv") << std::string(5 << 20, '0') << "\n";
    }
    ASSERT_EQ(
        run_command("cd '" + dir.string() + "' && head -c 6000000 /dev/zero | gzip > zeros.csv.gz")
            .status,
        0);
    before = entries();
    expect_refused(bounded_sim("--params long.txt --ticks 3"),
                   {"--params: long.txt: longer than 1048576 bytes"}, "a long parameter file");
    expect_refused(bounded_sim("--params line.txt --ticks 3"),
                   {"--params: line.txt:2: longer than 4096 bytes"}, "a long parameter line");
    expect_refused(bounded_sim("sweep --design line.csv --ticks 3 --summary old.csv"),
                   {"--design: line.csv:2:1: line longer than 4096 bytes"}, "a long design line");
    expect_refused(bounded_sim("merge shard.csv --summary old.csv"),
                   {"shard.csv: a line longer than"}, "a shard with a long line");
    expect_refused(bounded_sim("merge zeros.csv.gz s.csv --summary old.csv"),
                   {"zeros.csv.gz: a line longer than"}, "a compressed shard that unpacks long");
    expect_refused(bounded_pictures("plot --errors low < /dev/zero"),
                   {"standard input: a line longer than"}, "plot < /dev/zero");
}

// A design too large for the memory is refused before it is built: 4 million
// LHS points over 16 parameters take gigabytes to sample, and under 100
// replicates their sweep could never fit; the refusal takes almost nothing.
TEST_F(InputFiles, ADesignTooLargeForTheMemoryIsRefusedBeforeItIsBuilt) {
    std::string vary;
    std::istringstream table(sim("params --csv").out);
    std::string row;
    std::getline(table, row);
    int varied = 0;
    while (std::getline(table, row) && varied < 16) {
        std::vector<std::string> cells;
        std::istringstream cellText(row);
        for (std::string cell; std::getline(cellText, cell, ',') && cells.size() < 6;)
            cells.push_back(cell);
        // Not feedback: its greatest value is refused as a design's bound (it must stay below 1).
        if (cells.size() < 6 || cells[5] != "real" || cells[3] == cells[4] || cells[4] == "inf" ||
            cells[0] == "feedback")
            continue;
        vary += " --vary " + cells[0] + "=" + cells[3] + ".." + cells[4];
        ++varied;
    }
    ASSERT_GE(varied, 4) << vary;
    const CommandResult r =
        run_command("cd '" + dir.string() + "' && " +
                    std::string(MEMORY_BOUND.empty() ? "" : "ulimit -v 524288; ") +
                    "exec timeout 60 env -u DISPLAY '" MAROVEL_SIM "' sweep" + vary +
                    " --sample lhs:4000000 --replicates 100 --ticks 3 --summary old.csv");
    expect_refused(r, {"--sample: lhs:4000000 makes more than", "replicates fit in 4096 MiB"},
                   "lhs:4000000 x 100");
}

// Whatever a refusal echoes is quoted, with control characters, quotes and
// bytes that are not printable ASCII escaped, and cut short when long: one
// line of sensible length, however hostile the input.
TEST_F(InputFiles, EchoedInputIsEscapedAndShortenedToOneLine) {
    std::ofstream(dir / "nul.txt") << std::string("tow\0wait = 3\n", 13);
    std::ofstream(dir / "odd.csv") << "point,tow_wait\n0,3\xff\x01\n";
    std::ofstream(dir / "line.txt") << "# fine\nnot an assignment\tat all\n";
    before = entries();
    const std::string longName(100000, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"--set 'a\nb=1'", "unknown parameter \"a\\nb\""},
        {"--set '\xff\x01=1'", "unknown parameter \"\\xff\\x01\""},
        {"--set \"" + longName + "=1\"", "unknown parameter \"" + std::string(80, 'n') + "...\""},
        {"--set 'tow_wait=\"3\"'", "tow_wait = \"\\\"3\\\"\" is not a decimal number"},
        {"'--frob\nnicate'", "--frob\\nnicate"},
        {"--params nul.txt", "nul.txt:1: holds a NUL byte"},
        {"--params line.txt", "line.txt:2: \"not an assignment\\tat all\" is not NAME=VALUE"},
        {"--params 'p\nq.txt'", "--params: \"p\\nq.txt\": No such file"},
        {"sweep --design odd.csv --summary old.csv", "odd.csv:2:2: tow_wait: \"3\\xff\\x01\""},
    };
    for (const auto& [args, said] : cases) {
        const CommandResult r = bounded_sim(args + " --ticks 3");
        expect_refused(r, {said}, args.substr(0, 60));
        EXPECT_LT(r.err.size(), 400u) << args.substr(0, 60);
        EXPECT_EQ(r.err.find('\0'), std::string::npos) << args.substr(0, 60);
    }
}

// A write that fails (here, beyond the largest file the shell allows) names
// the user's file, not the hidden temporary one it was written to.
TEST_F(InputFiles, AFailedPictureNamesTheUsersFile) {
    const CommandResult r =
        run_command("cd '" + dir.string() +
                    "' && trap '' XFSZ && ulimit -f 2 && exec env -u DISPLAY '" MAROVEL_SIM
                    "' sweep --scenarios 0..1 --ticks 20 --plot p.png");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("could not write p.png: File too large"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".part"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "p.png"));
    // A single run's snapshot, drawn by the same program from the town's pictures.
    fs::copy(MAROVEL_SOURCE_DATA, dir / "data");
    const CommandResult snapshot =
        run_command("cd '" + dir.string() +
                    // Qt's PNG writer keeps its row buffer when libpng fails in the middle of
                    // a picture: a sanitizer build's leak check would end the picture program.
                    "' && trap '' XFSZ && ulimit -f 2 && exec env -u DISPLAY "
                    "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" '" MAROVEL_SIM
                    "' --ticks 5 --snapshot 5:shot.png");
    EXPECT_EQ(snapshot.status, 1) << snapshot.err;
    EXPECT_NE(snapshot.err.find("could not write the snapshot shot.png"), std::string::npos)
        << snapshot.err;
    EXPECT_EQ(snapshot.err.find(".part"), std::string::npos) << snapshot.err;
    EXPECT_FALSE(fs::exists(dir / "shot.png"));
}

}  // namespace

// Road plans on the command line: one plan reaches single runs, sweeps and
// estimates alike, and a bad one is refused before anything is written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/command.h"

namespace {

const std::string SIM = MAROVEL_SIM;

std::string folder() {
    char path[] = "/tmp/marovel-roads-XXXXXX";
    return mkdtemp(path) != nullptr ? path : "";
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// The last data row of a sweep's summary, from its seed to the six final counts.
std::string summary_counts(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#' && line.rfind("seed", 0) != 0) last = line;
    std::string counts;  // fields 5..10: the six counts after the last tick
    std::stringstream fields(last);
    std::string f;
    for (int k = 0; std::getline(fields, f, ','); ++k)
        if (k >= 4 && k < 10) counts += f + " ";
    return counts;
}

// The six counts of a single run's CSV row of its last tick.
std::string run_counts(const std::string& out) {
    const std::size_t row = out.find("\n2000,");
    if (row == std::string::npos) return "";
    std::stringstream fields(out.substr(row + 1, out.find('\n', row + 1) - row - 1));
    std::string f, counts;
    for (int k = 0; std::getline(fields, f, ','); ++k)
        if (k >= 1 && k < 7) counts += f + " ";
    return counts;
}

// The capacity the option gives every exit is the one a town file's exit line
// gives, in a single run and in a sweep; the run's header records the plan.
TEST(RoadOptions, AnExitCapacityReachesSingleRunsAndSweepsAsTheTownFileGivesIt) {
    const std::string dir = folder();
    std::ifstream builtin(std::string(MAROVEL_SOURCE_DATA) + "/towns/builtin.town");
    std::stringstream text;
    text << builtin.rdbuf();
    std::string town = text.str();
    const std::size_t at = town.find("exit = 20,29\n");
    ASSERT_NE(at, std::string::npos);
    town.replace(at, 13, "exit = 20,29,1\n");
    write_file(dir + "/narrow.town", town);

    const std::string moderate = " --error moderate --csv";
    const CommandResult free = run_command(SIM + moderate);
    const CommandResult option = run_command(SIM + moderate + " --exit-capacity 1");
    const CommandResult file = run_command(SIM + moderate + " --town " + dir + "/narrow.town");
    ASSERT_TRUE(free.status == 0 && option.status == 0 && file.status == 0) << option.err << file.err;
    EXPECT_NE(option.out.find("# roads: --exit-capacity 1\n"), std::string::npos);
    EXPECT_NE(run_counts(free.out), run_counts(option.out)) << "a capacity of 1 changed nothing";
    EXPECT_EQ(run_counts(option.out), run_counts(file.out));

    const CommandResult sweep = run_command(SIM + " sweep --seeds 1 --errors moderate --threads 1 "
                                            "--exit-capacity 1 --summary " + dir + "/s.csv");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    EXPECT_EQ(summary_counts(dir + "/s.csv"), run_counts(option.out));
    const CommandResult closed = run_command(SIM + " sweep --seeds 1 --errors moderate --threads 1 "
                                             "--close 20,29@0 --summary " + dir + "/c.csv");
    ASSERT_EQ(closed.status, 0) << closed.err;
    EXPECT_EQ(summary_counts(dir + "/c.csv").rfind("0 0 ", 0), 0u)
        << "no car may get out by a closed exit: " << summary_counts(dir + "/c.csv");
    std::system(("rm -rf " + dir).c_str());
}

// Every command refuses a bad plan in one line naming the option, with status
// 2, before it writes a file; a town file's bad capacity names its line and column.
TEST(RoadOptions, ABadPlanIsRefusedByEveryCommandBeforeAnythingIsWritten) {
    const std::string dir = folder();
    write_file(dir + "/bad.town", "exit = 2,0,0\ngrid\nE++\n");
    const std::pair<std::string, std::string> cases[] = {
        {"--exit-capacity 0", "--exit-capacity: 0 is not a capacity"},
        {"--close 40,3@10", "--close: 40,3@10: (40, 3) lies outside the town (40 x 30 cells)"},
        {"--reopen 1,1:2,1@10", "--reopen: 1,1:2,1@10: (1, 1):(2, 1) holds no road cell"},
        {"--contraflow 0,14:39,14@5", "--contraflow: 0,14:39,14@5: (0, 14):(39, 14) lies across"},
        {"--close 3,4@soon", "--close: \"3,4@soon\": the tick must be"},
        {"--town " + dir + "/bad.town", "bad.town:1:12: exit capacity must be 1..1000000"},
    };
    for (const auto& [args, says] : cases)
        for (const std::string& command :
             {SIM + " --csv " + args, SIM + " sweep --seeds 1 --summary " + dir + "/s.csv " + args,
              SIM + " ete --replicates 2 --csv " + dir + "/e.csv " + args}) {
            const CommandResult r = run_command(command);
            EXPECT_EQ(r.status, 2) << command;
            EXPECT_TRUE(r.out.empty()) << command << ": " << r.out;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_NE(r.err.find(says), std::string::npos) << command << ": " << r.err;
            EXPECT_FALSE(exists(dir + "/s.csv") || exists(dir + "/e.csv")) << command;
        }
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace

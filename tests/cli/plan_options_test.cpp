// Plan files on the command line: --plan runs what the same options run and
// records the file's SHA-256 in every output; sweep --plans runs each plan on
// the same scenarios and pairs them; a bad plan is refused with nothing written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/zoned_street.h"

namespace {

const std::string SIM = MAROVEL_SIM;

struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/marovel-plans-XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "";
    }
    ~Folder() { std::system(("rm -rf " + path).c_str()); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path + "/" + name) << text;
        return path + "/" + name;
    }
};

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string without_comments(const std::string& text) {
    std::stringstream in(text);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind("#", 0) != 0) out += line + "\n";
    return out;
}

// The SHA-256 of a file as the system's own tool computes it.
std::string sha256sum(const std::string& path) {
    const std::string out = run_command("sha256sum " + path).out;
    return out.substr(0, out.find(' '));
}

// The rows of a CSV file with comment lines, by column name.
std::vector<std::map<std::string, std::string>> rows_of(const std::string& path) {
    std::vector<std::map<std::string, std::string>> rows;
    std::stringstream in(without_comments(read(path)));
    std::string line;
    std::vector<std::string> columns;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream f(line);
        std::string field;
        while (std::getline(f, field, ',')) fields.push_back(field);
        if (columns.empty()) {
            columns = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t k = 0; k < columns.size() && k < fields.size(); ++k)
            row[columns[k]] = fields[k];
        rows.push_back(row);
    }
    return rows;
}

constexpr const char* STREET_PLAN =
    "# the far half first\n"
    "order = far@5\n"
    "order = near@40\n"
    "close = 6,1@30\n"
    "reopen = 6,1@45\n"
    "exit_capacity = 2\n";

// The plan file and the options that say the same give the same run, tick by
// tick; the plan's header line names its file and its SHA-256, in single runs,
// sweeps' files and metadata, and estimates.
TEST(PlanOptions, APlanRunsAsItsOptionsAndItsDigestHeadsEveryOutput) {
    const Folder dir;
    const std::string town = dir.write("street.town", ZONED_STREET);
    const std::string plan = dir.write("staged.plan", STREET_PLAN);
    const std::string common =
        SIM + " --town " + town + " --set order_compliance=1 --ticks 80 --fingerprint";
    const CommandResult byPlan = run_command(common + " --plan " + plan);
    const CommandResult byOptions =
        run_command(common +
                    " --order far@5 --order near@40 --close 6,1@30 --reopen 6,1@45 "
                    "--exit-capacity 2");
    ASSERT_EQ(byPlan.status, 0) << byPlan.err;
    ASSERT_EQ(byOptions.status, 0) << byOptions.err;
    EXPECT_EQ(without_comments(byPlan.out), without_comments(byOptions.out));
    const std::string line = "# plan: staged, " + plan + ", sha256 " + sha256sum(plan) + "\n";
    EXPECT_NE(byPlan.out.find(line), std::string::npos) << byPlan.out;
    EXPECT_EQ(byOptions.out.find("# plan:"), std::string::npos);

    const CommandResult sweep =
        run_command(SIM + " sweep --town " + town + " --plan " + plan +
                    " --seeds 1,2 --errors low " + "--ticks 60 --summary " + dir.path +
                    "/s.csv --curves " + dir.path + "/c.csv --metadata " + dir.path + "/m.json");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    for (const char* file : {"/s.csv", "/c.csv"})
        EXPECT_NE(read(dir.path + file).find(line), std::string::npos) << file;
    EXPECT_NE(read(dir.path + "/m.json").find("\"plan_sha256\": \"" + sha256sum(plan) + "\""),
              std::string::npos)
        << read(dir.path + "/m.json");

    const CommandResult ete =
        run_command(SIM + " ete --town " + town + " --plan " + plan +
                    " --replicates 2 --ticks 60 --csv " + dir.path + "/e.csv");
    ASSERT_EQ(ete.status, 0) << ete.err;
    EXPECT_EQ(read(dir.path + "/e.csv").rfind(line, 0), 0u);
}

// A plan against a copy of itself: every run has its twin on the same seed
// and level, and every paired difference is exactly 0. A plan that orders the
// near half 40 ticks after the far half against one that orders both at once:
// the near half's cars that wait for their order leave later, and the street's
// 90 % clearance comes later on average.
TEST(PlanOptions, SweepPlansPairsEachPlanWithTheFirstOnTheSameScenarios) {
    const Folder dir;
    const std::string town = dir.write("street.town", ZONED_STREET);
    const std::string at_once = dir.write("at_once.plan", "order = far@0\norder = near@0\n");
    const std::string copy = dir.write("copy.plan", read(at_once));
    const std::string staged = dir.write("staged.plan", "order = far@0\norder = near@40\n");
    const std::string common = SIM + " sweep --town " + town +
                               " --set order_compliance=1 --seeds 1..6 --errors low,high "
                               "--ticks 150 --summary " +
                               dir.path + "/s.csv --paired " + dir.path + "/p.csv --plans ";

    const CommandResult same = run_command(common + at_once + "," + copy);
    ASSERT_EQ(same.status, 0) << same.err;
    std::map<std::string, std::vector<std::string>> runs;  // plan: seed,error of its runs
    for (const auto& row : rows_of(dir.path + "/s.csv"))
        runs[row.at("plan")].push_back(row.at("seed") + "," + row.at("error"));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs["at_once"].size(), 12u);
    EXPECT_EQ(runs["at_once"], runs["copy"]);
    const auto paired = rows_of(dir.path + "/p.csv");
    ASSERT_FALSE(paired.empty());
    for (const auto& row : paired) {
        EXPECT_EQ(row.at("group"), "copy");
        EXPECT_EQ(row.at("matched"), "12") << row.at("figure");
        EXPECT_EQ(row.at("pairs"), "12") << row.at("figure");
        EXPECT_EQ(std::stod(row.at("difference")), 0.0) << row.at("figure");
    }

    const CommandResult later = run_command(common + at_once + "," + staged);
    ASSERT_EQ(later.status, 0) << later.err;
    bool seen = false;
    for (const auto& row : rows_of(dir.path + "/p.csv"))
        if (row.at("figure") == "tick_90") {
            seen = true;
            EXPECT_EQ(row.at("matched"), "12");
            EXPECT_GT(std::stod(row.at("low")), 0.0)
                << "interval " << row.at("low") << ".." << row.at("high");
        }
    EXPECT_TRUE(seen);
    EXPECT_NE(later.out.find("staged clears 90 % "), std::string::npos) << later.out;
    EXPECT_NE(later.out.find(" later than at_once"), std::string::npos) << later.out;
}

// A sweep of plans split in shards merges back into the whole sweep's files,
// and one cut short resumes to them: the runs come in the same order.
TEST(PlanOptions, SweepPlansSplitAndResumeToTheWholeSweep) {
    const Folder dir;
    const std::string town = dir.write("street.town", ZONED_STREET);
    const std::string a = dir.write("a.plan", "order = far@0\norder = near@0\n");
    const std::string b = dir.write("b.plan", "order = far@0\nclose = 0,1@10\nreopen = 0,1@20\n");
    const std::string sweep = SIM + " sweep --town " + town + " --plans " + a + "," + b +
                              " --seeds 1..3 --errors low,high --ticks 60 ";
    const std::string out = dir.path + "/";
    ASSERT_EQ(
        run_command(sweep + "--summary " + out + "whole.csv --curves " + out + "wc.csv").status, 0);
    for (const char* part : {"1", "2"})
        ASSERT_EQ(run_command(sweep + "--shard " + part + "/2 --summary " + out + "s" + part +
                              ".csv --curves " + out + "c" + part + ".csv")
                      .status,
                  0);
    const CommandResult merged =
        run_command(SIM + " merge " + out + "s2.csv " + out + "s1.csv " + out + "c1.csv " + out +
                    "c2.csv --summary " + out + "merged.csv --curves " + out + "mc.csv");
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(read(out + "merged.csv"), read(out + "whole.csv"));
    EXPECT_EQ(read(out + "mc.csv"), read(out + "wc.csv"));
    EXPECT_NE(merged.out.find("b clears 90 % "), std::string::npos) << merged.out;
    // The summary cut after its fifth run, mid-way through a scenario's plans.
    std::stringstream whole(read(out + "whole.csv"));
    std::string line, cut;
    int rows = 0;
    while (std::getline(whole, line) && rows < 5) {
        cut += line + "\n";
        rows += line[0] != '#' && line.rfind("plan,", 0) != 0;
    }
    dir.write("resumed.csv", cut);
    const CommandResult resumed = run_command(sweep + "--resume --summary " + out + "resumed.csv");
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("resuming after 5 of 12 runs"), std::string::npos) << resumed.err;
    EXPECT_EQ(read(out + "resumed.csv"), read(out + "whole.csv"));
}

// Refused before any file is made: a bad plan, a plan with the options it holds,
// one plan to compare, plans with a design, two plans of one name.
TEST(PlanOptions, BadPlansAreRefusedWithNothingWritten) {
    const Folder dir;
    const std::string town = dir.write("street.town", ZONED_STREET);
    const std::string good = dir.write("good.plan", "order = far@5\n");
    const std::string bad = dir.write("bad.plan", "order = far@5\nclose = 3,1:40,1@10\n");
    const std::string twin = dir.write("twin.plan", "name = good\norder = near@5\n");
    const std::string sweep =
        SIM + " sweep --town " + town + " --seeds 1 --ticks 50 --summary " + dir.path + "/s.csv ";
    const struct {
        std::string command, message;
    } cases[] = {
        {sweep + "--plan " + bad, "bad.plan:2:9: close \"3,1:40,1@10\""},
        {SIM + " --town " + town + " --plan " + bad, "bad.plan:2:9:"},
        {sweep + "--plan " + good + " --order far@3", "excludes"},
        {sweep + "--plans " + good, "two or more plans"},
        {sweep + "--plans " + good + "," + twin, "are both plan \"good\""},
        {sweep + "--plans " + good + "," + bad + " --vary order_delay=0,5", "not with a design"},
    };
    for (const auto& c : cases) {
        const CommandResult r = run_command(c.command);
        EXPECT_EQ(r.status, 2) << c.command;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(access((dir.path + "/s.csv").c_str(), F_OK), 0) << c.command;
    }
}

}  // namespace

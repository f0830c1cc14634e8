// marovel-sim sweep with experiment designs as a user runs it: rows that join
// the design, runs that stay put when a design grows, the same files on any
// number of threads and shards, and bad designs refused before anything is written.
#include <map>
#include <regex>
#include <sstream>

#include "experiments/sim_folder.h"

namespace {

std::vector<std::string> split(const std::string& line, char at = ',') {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, at);) cells.push_back(cell);
    if (!line.empty() && line.back() == at) cells.emplace_back();
    return cells;
}

// The lines of a file after its comment lines and its column line.
std::vector<std::string> data_rows(const std::string& text) {
    std::vector<std::string> rows;
    bool columns = false;
    for (const std::string& line : split(text, '\n')) {
        if (line.empty() || line[0] == '#') continue;
        if (columns) rows.push_back(line);
        columns = true;
    }
    return rows;
}

std::multiset<std::string> row_set(const std::string& text) {
    const std::vector<std::string> rows = data_rows(text);
    return {rows.begin(), rows.end()};
}

bool includes(const std::multiset<std::string>& whole, const std::multiset<std::string>& part) {
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

const std::string FACTORIAL =
    "sweep --vary tow_wait=30,90 --vary congestion_rate=0.003..0.009:3 --ticks 300 --every 50";

// Every summary and curve row names its point, replicate, seed and the values
// of the varied parameters, which are the design's for that point; replicate
// r runs scenario r (seed 1 + 1000 r); each point and replicate once. The
// header records the design; the table has one group per point.
TEST_F(SimFolder, DesignRowsJoinTheDesignOnPoint) {
    const CommandResult r =
        sim(FACTORIAL + " --replicates 2 --summary s.csv --curves c.csv --design-out d.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> design;  // point -> "tow_wait,congestion_rate"
    const std::string d = read_file(dir / "d.csv");
    EXPECT_NE(d.find("\npoint,tow_wait,congestion_rate\n"), std::string::npos) << d;
    for (const std::string& row : data_rows(d))
        design[row.substr(0, row.find(','))] = row.substr(row.find(',') + 1);
    ASSERT_EQ(design.size(), 6u);
    EXPECT_EQ(design["4"], "90,0.006");  // the last parameter changes fastest

    const std::string summary = read_file(dir / "s.csv");
    EXPECT_TRUE(std::regex_search(
        summary, std::regex("\n# design: factorial of tow_wait\\(2\\) x congestion_rate\\(3\\); 6 "
                            "points x 2 replicates\n(# [^\n]*\n)*point,replicate,seed,step,error,"
                            "spread,tow_wait,congestion_rate,not_evacuated,")))
        << summary;
    std::set<std::pair<std::string, std::string>> runs;
    for (const std::string& file : {summary, read_file(dir / "c.csv")}) {
        for (const std::string& row : data_rows(file)) {
            const std::vector<std::string> c = split(row);
            ASSERT_GT(c.size(), 8u);
            EXPECT_EQ(c[5], c[4] == "low" ? "0.001" : c[4]) << row;  // the spread as a number
            EXPECT_EQ(c[6] + "," + c[7], design.at(c[0])) << row;
            EXPECT_EQ(c[2], c[1] == "0" ? "1" : "1001") << row;
            EXPECT_EQ(c[3], c[1]) << row;
            runs.insert({c[0], c[1]});
        }
    }
    EXPECT_EQ(data_rows(summary).size(), 12u);
    EXPECT_EQ(runs.size(), 12u);
    EXPECT_EQ(data_rows(read_file(dir / "c.csv")).size(), 12u * 7);  // ticks 0, 50, ..., 300
    EXPECT_TRUE(std::regex_search(r.out, std::regex("12 runs of 300 ticks, 6 points x 2")));
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("\npoint 5 \\(90, 0.009\\) +not_evacuated +mean +[0-9.]+ [^\n]* 2 +0\n")))
        << r.out;
    // The points ran on the same two scenarios: each is paired with point 0.
    const std::size_t paired = r.out.find("\nPaired differences against point 0 (30, 0.003)");
    ASSERT_NE(paired, std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out.substr(paired),
                                  std::regex("\npoint 5 \\(90, 0.009\\) +not_evacuated +2 +0/0 ")))
        << r.out;
}

// More replicates, more points at the end of a design file and more Saltelli
// base points add rows and change none; a --scenarios list is the replicate list.
TEST_F(SimFolder, GrowingADesignLeavesEarlierRowsAsTheyWere) {
    const auto rows = [&](const std::string& args) {
        const CommandResult r = sim(args + " --ticks 250 --summary s.csv");
        EXPECT_EQ(r.status, 0) << args << r.err;
        return row_set(read_file(dir / "s.csv"));
    };
    const auto two = rows("sweep --vary fuel_min=150,250 --replicates 2");
    const auto three = rows("sweep --vary fuel_min=150,250 --replicates 3");
    EXPECT_EQ(two.size(), 4u);
    EXPECT_EQ(three.size(), 6u);
    EXPECT_TRUE(includes(three, two));
    EXPECT_EQ(rows("sweep --vary fuel_min=150,250 --scenarios 0..1"), two);

    std::ofstream(dir / "small.csv") << "point,departure_noise,tow_wait\n0,10,60\n1,50,20\n";
    std::ofstream(dir / "large.csv")
        << "point,departure_noise,tow_wait\n0,10,60\n1,50,20\n2,90,90\n";
    const auto small = rows("sweep --design small.csv --seeds 7,9");
    const auto large = rows("sweep --design large.csv --seeds 7,9");
    EXPECT_EQ(large.size(), 6u);
    EXPECT_TRUE(includes(large, small));

    const std::string saltelli = "sweep --vary tow_wait=20..80 --vary fuel_min=100..300 --sample ";
    const auto four = rows(saltelli + "saltelli:4");
    const auto eight = rows(saltelli + "saltelli:8");
    EXPECT_EQ(eight.size(), 32u);
    EXPECT_TRUE(includes(eight, four));
}

// Curves, summary, indices and design are the same bytes on 1, 2 and 7
// threads, and shards' curves and summaries concatenate into the whole's.
TEST_F(SimFolder, DesignFilesAreTheSameOnAnyThreadsAndShards) {
    const std::string cmd =
        "sweep --vary fuel_min=100..300 --vary tow_wait=20..80 --sample saltelli:3 --replicates 2 "
        "--ticks 200 --every 40";
    const std::string outputs = " --curves c --summary s --design-out d --sensitivity i";
    const CommandResult one = sim(cmd + " --threads 1" + outputs);
    ASSERT_EQ(one.status, 0) << one.err;
    const auto files = [&] {
        return read_file(dir / "c") + read_file(dir / "s") + read_file(dir / "d") +
               read_file(dir / "i");
    };
    const std::string whole = files();
    for (const char* threads : {" --threads 2", " --threads 7"}) {
        EXPECT_EQ(sim(cmd + threads + outputs).out, one.out) << threads;
        EXPECT_EQ(files(), whole) << threads;
    }
    std::string shards;
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        const CommandResult r =
            sim(cmd + " --threads 2 --shard " + n + "/3 --curves p" + n + " --summary q" + n);
        ASSERT_EQ(r.status, 0) << r.err;
        shards += " p" + n + " q" + n;
    }
    ASSERT_EQ(sim("merge" + shards + " --curves mp --summary mq").status, 0);
    EXPECT_EQ(read_file(dir / "mp") + read_file(dir / "mq"),
              read_file(dir / "c") + read_file(dir / "s"));
    // The indices: each figure for each parameter, under the estimators' names.
    const std::string indices = read_file(dir / "i");
    EXPECT_NE(indices.find("# first order: Saltelli 2010 estimator; total order: Jansen"),
              std::string::npos);
    EXPECT_EQ(data_rows(indices).size(), 5u * 2);
    EXPECT_NE(one.out.find("\nSensitivity ("), std::string::npos);

    ASSERT_EQ(sim("sweep --vary fuel_min=100..300 --vary tow_wait=20..80 --sample morris:3 "
                  "--ticks 100 --sensitivity m")
                  .status,
              0);
    const std::string morris = read_file(dir / "m");
    EXPECT_NE(morris.find("\nfigure,parameter,mu,mu_star,mu_star_low,mu_star_high,sigma\n"),
              std::string::npos);
    EXPECT_EQ(data_rows(morris).size(), 5u * 2);
}

// --sensitivity-figures: the indices of any figures of the summary, in the
// order given, in the file and the table; a small design's indices carry a
// note, in both, saying how many base points would resolve them; a name that
// is no figure is refused naming the figures.
TEST_F(SimFolder, SensitivityOfChosenFiguresWithANoteOnTheDesignsSize) {
    const std::string cmd =
        "sweep --vary fuel_min=100..300 --vary patience_min=100..300 --sample saltelli:4 "
        "--ticks 1500 --every 500 --set error_spread=360";
    const CommandResult r =
        sim(cmd + " --sensitivity-figures tick_90,trip_mean,towed --sensitivity i.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string indices = read_file(dir / "i.csv");
    const std::vector<std::string> rows = data_rows(indices);
    ASSERT_EQ(rows.size(), 3u * 2) << indices;
    // No run has 90 % of its cars out by tick 1500: no indices, and no note.
    EXPECT_EQ(rows[0], "tick_90,fuel_min,,,,,,");
    EXPECT_TRUE(rows[2].starts_with("trip_mean,fuel_min,") && !rows[2].ends_with(",,,,,,"))
        << rows[2];
    EXPECT_TRUE(rows[5].starts_with("towed,patience_min,")) << rows[5];
    // Four base points resolve no index to 0.1.
    EXPECT_NE(indices.find("\n# trip_mean: "), std::string::npos) << indices;
    EXPECT_EQ(indices.find("\n# tick_90: "), std::string::npos) << indices;
    EXPECT_NE(indices.find("the design is too small for these indices"), std::string::npos);
    EXPECT_NE(indices.find("the 4 base points (saltelli:"), std::string::npos);
    const std::string table = r.out.substr(r.out.find("\nSensitivity ("));
    EXPECT_NE(table.find("\ntick_90          no indices: 16 of 16 points"), std::string::npos)
        << table;
    EXPECT_NE(table.find("\ntrip_mean "), std::string::npos) << table;
    EXPECT_EQ(table.find("\ntick_50 "), std::string::npos) << table;
    EXPECT_NE(table.find("note: "), std::string::npos) << table;

    for (const std::string& bad : {std::string("tick_99"), std::string("tick_90,tick_90")}) {
        const CommandResult b = sim(cmd + " --sensitivity-figures " + bad + " --sensitivity x.csv");
        EXPECT_TRUE(refused(b, "marovel-sim: --sensitivity-figures: ")) << bad;
        EXPECT_FALSE(fs::exists(dir / "x.csv"));
    }
    const CommandResult b = sim(cmd + " --sensitivity-figures tick_99");
    EXPECT_NE(b.err.find("\"tick_99\" is not a figure of the summary (figures: not_evacuated, "),
              std::string::npos)
        << b.err;
    EXPECT_NE(b.err.find("tick_90"), std::string::npos) << b.err;
    // The merged shards give the same indices.
    for (int i = 1; i <= 2; ++i)
        ASSERT_EQ(sim(cmd + " --shard " + std::to_string(i) + "/2 --summary s" + std::to_string(i) +
                      ".csv")
                      .status,
                  0);
    const CommandResult m =
        sim("merge s1.csv s2.csv --sensitivity-figures tick_90,trip_mean,towed --sensitivity "
            "m.csv");
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(data_rows(read_file(dir / "m.csv")), rows);
}

// Bad designs: status 2, one line naming the option and what is wrong, no file
// made and an earlier file of an output's name left as it was (every fault of
// a design text or file: the designs' own tests).
TEST_F(SimFolder, BadDesignsAreRefusedWithOneLineAndNothingWritten) {
    std::ofstream(dir / "missing.csv") << "point,tow_wait,fuel_min\n0,30,100\n1,40\n";
    std::ofstream(dir / "design.csv") << "point,tow_wait\n0,30\n1,40\n";
    std::ofstream(dir / "old.csv") << "earlier\n";
    const std::set<fs::path> before = entries();
    const std::string v = "--vary tow_wait=20..80 ";
    // clang-format off
    for (const auto& [args, why] : std::vector<std::pair<std::string, std::string>>{
             {"--vary speed=1,2", "--vary: unknown parameter \"speed\""},
             {"--design missing.csv", "--design: missing.csv:3:3: missing cell for column \"fuel_min\""},
             {"--design none.csv", "--design: none.csv: No such file or directory"},
             {v + "--sample saltelli:1", "--sample: saltelli needs a size of at least 2"},
             {"--vary tow_wait=0..100000:100000 --vary fuel_min=0..1000:1000", "more than 4000000 points"},
             {"--vary tow_wait=0..20000:20001 --scenarios 0..99999", "replicates fit in 4096 MiB"},
             {"--vary patience_min=100,400", "design point 1: patience_min = 400 exceeds patience_max = 360"},
             {"--vary tow_wait=1,2 --sensitivity x.csv", "--sensitivity: needs a design from --sample"},
             {v + "--sample saltelli:2 --sensitivity x.csv --shard 1/2", "not one shard"},
             {"--seeds 1 --replicates 2", "--replicates: only with a design"},
             {"--seeds 1 --design-out d.csv", "--design-out: only with a design"},
             {"--vary tow_wait=1,2 --replicates 2 --seeds 1", "either R or a --scenarios"},
             {"--vary tow_wait=1,2 --errors high", "--errors: a design runs its points' error_spread"},
             {"--design design.csv --vary tow_wait=1,2", "takes no --vary or --sample"}}) {
        // clang-format on
        EXPECT_TRUE(refused(sim("sweep " + args + " --ticks 10 --summary old.csv"), why)) << args;
        EXPECT_EQ(entries(), before) << args;
        EXPECT_EQ(read_file(dir / "old.csv"), "earlier\n");
    }
}

}  // namespace

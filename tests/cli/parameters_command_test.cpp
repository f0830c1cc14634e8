// The model's parameters on the command line: values that reach the run,
// files that say how they were made, and refusals that write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "experiments/sim_folder.h"

namespace {

const std::string RUN = " --ticks 2000 --fingerprint";

std::string body(const std::string& fingerprints) {  // less the parameter lines
    return std::regex_replace(fingerprints, std::regex("# parameter [^\n]*\n"), "");
}

TEST_F(SimFolder, ParametersReachTheRunInTheOrderGiven) {
    const std::string moderate = sim("--error moderate" + RUN).out;
    EXPECT_EQ(sim("--error 360" + RUN).out, moderate);
    EXPECT_EQ(sim("--set error_spread=360" + RUN).out, moderate);
    EXPECT_EQ(sim("--error high --ticks 50 --fingerprint").out,
              sim("--error inf --ticks 50 --fingerprint").out);
    // A file that writes every default is the default run, headers and all.
    const std::string defaults = sim("--ticks 2000 --fingerprint").out;
    EXPECT_EQ(defaults.find('#'), std::string::npos);
    {
        std::ofstream file(dir / "all.txt");
        file << "# every parameter at its default\n\n";
        const CommandResult table = sim("params --csv");
        std::istringstream rows(table.out);
        std::string row;
        std::getline(rows, row);  // the column names
        while (std::getline(rows, row))
            file << row.substr(0, row.find(',')) << " = "
                 << row.substr(row.find(',') + 1,
                               row.find(',', row.find(',') + 1) - row.find(',') - 1)
                 << "  # a comment\n";
    }
    EXPECT_EQ(sim("--params all.txt" + RUN).out, defaults);
    // Later assignments win, whether from --set or from a file; the header says what ran.
    std::ofstream(dir / "patient.txt") << "patience_min = 480\npatience_max=720\n";
    const CommandResult patient = sim("--set patience_max=999 --params patient.txt" + RUN);
    EXPECT_TRUE(patient.out.starts_with(
        "# parameter patience_min = 480\n# parameter patience_max = 720\n0 0.0 "))
        << patient.out.substr(0, 200);
    EXPECT_NE(body(patient.out), defaults);
    EXPECT_TRUE(
        sim("--params patient.txt --set patience_max=999" + RUN)
            .out.starts_with("# parameter patience_min = 480\n# parameter patience_max = 999\n"));
    EXPECT_EQ(sim("--set patience_max=720 --set patience_min=480" + RUN).out, patient.out);
}

// Each way a value reaches the run, refused as the model's checks word it (every
// check: the parameters' own tests), with the unit of its range.
TEST_F(SimFolder, BadValuesAreRefusedByNameAndNothingIsWritten) {
    std::ofstream(dir / "bad.txt") << "# fine so far\nfuel_max = 300\nfuel_min = lots\n";
    const std::pair<const char*, const char*> cases[] = {
        {"--set patience_min=-1", "patience_min = -1 is outside its range 0..1000000 ticks"},
        {"--set feedback=nan", "feedback = \"nan\" is not a decimal number"},
        {"--set storm_speed=0.1", "unknown parameter \"storm_speed\""},
        {"--set cars_per_house=101", "cars_per_house = 101 is outside its range 1..100 cars"},
        {"--set tow_wait=0x10", "tow_wait = \"0x10\" is not a decimal number"},
        {"--set look_ahead", "\"look_ahead\" is not NAME=VALUE"},
        {"--error -3", "error_spread = -3 is outside its range 0..inf"},
        {"--error extreme", "\"extreme\" is not an error level"},
        {"--params bad.txt", "bad.txt:3: fuel_min = \"lots\""},
        {"--params missing.txt", "missing.txt: No such file or directory"},
    };
    const auto before = entries();
    for (const auto& [args, says] : cases) {
        std::vector<std::string> commands = {std::string(args) + " --csv"};
        // Sweeps take the same options, but for --error: theirs is --errors.
        commands.push_back("sweep --seeds 1 --ticks 5 --curves c.csv " +
                           std::regex_replace(args, std::regex("^--error "), "--errors "));
        for (const std::string& command : commands) {
            EXPECT_TRUE(refused(sim(command), says)) << command;
        }
    }
    EXPECT_EQ(entries(), before);
}

// Sweeps record the parameters in their headers, take a spread from them,
// and report what each run showed.
TEST_F(SimFolder, SweepsRecordTheirParametersAndWhatTheRunsShowed) {
    const CommandResult r = sim(
        "sweep --seeds 1,2 --ticks 700 --set tow_wait=30 --set error_spread=100 --summary s.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string summary = read_file(dir / "s.csv");
    EXPECT_TRUE(std::regex_search(
        summary, std::regex("^# Marovel [^\n]* run summary\n# command: [^\n]*\n# parameter "
                            "tow_wait = 30\n(# [^\n]*\n)*seed,step,error,[^\n]*,settled_tick,last_arrival_tick,"
                            "trip_mean,trip_p90,households_never_left\n1,0,100,[^\n]*\n2,,100,")))
        << summary;
    EXPECT_NE(r.out.find("households_never_left"), std::string::npos);
    // The single run under the same values settles where the sweep says it did.
    const CommandResult one = sim("--seed 2 --error 100 --set tow_wait=30 --ticks 700 --csv");
    const std::string shown = one.out.substr(one.out.rfind("\n# ") + 3);
    const std::string row = summary.substr(summary.rfind("\n2,,100,") + 1);
    EXPECT_NE(row.find(std::string(",").append(shown.substr(0, shown.find(','))).append(",")),
              std::string::npos)
        << row << " / " << shown;
}

TEST_F(SimFolder, UntilSettledStopsAtTheFirstSettledTick) {
    const CommandResult full = sim("--error moderate --every 1 --csv");
    const CommandResult settled = sim("--error moderate --until-settled --csv");
    ASSERT_EQ(settled.status, 0) << settled.err;
    // The last row is the first tick with nobody waiting, en route or out of gas.
    const std::smatch m = [&] {
        std::smatch match;
        std::regex_search(full.out, match, std::regex("\n(\\d+),0,\\d+,\\d+,0,\\d+,0,720\n"));
        return match;
    }();
    ASSERT_FALSE(m.empty());
    const std::string tick = m[1].str();
    EXPECT_NE(settled.out.find(std::string("\n").append(tick).append(",0,")), std::string::npos);
    EXPECT_NE(settled.out.find(std::string("\n# ").append(tick).append(",")), std::string::npos);
    const std::string capped = sim("--error moderate --until-settled --ticks 100").out;
    EXPECT_NE(capped.find("\nnot settled after 100 ticks\n"), std::string::npos) << capped;
    EXPECT_NE(sim("--error moderate --until-settled").out.find("\nsettled at tick " + tick),
              std::string::npos);
}

// The parameter table of docs/model.md is the program's own.
TEST(ModelDocument, HoldsTheProgramsParameterTable) {
    const std::string doc = read_file(MAROVEL_SOURCE_DIR "/docs/model.md");
    const std::string begin = "<!-- parameter table: marovel-sim params --markdown -->\n";
    const std::size_t from = doc.find(begin);
    const std::size_t to = doc.find("<!-- end of parameter table -->");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
    const CommandResult table = run_command(MAROVEL_SIM " params --markdown");
    EXPECT_EQ(doc.substr(from + begin.size(), to - from - begin.size()), table.out);
    const CommandResult text = run_command(MAROVEL_SIM " params");
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'),
              std::count(table.out.begin(), table.out.end(), '\n') - 1);
}

}  // namespace

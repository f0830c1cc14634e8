// marovel-sim as a user runs it: options, refusals and reproducibility.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "support/command.h"

namespace {

const std::string SIM = MAROVEL_SIM;

long lines(const std::string& s) {
    return std::count(s.begin(), s.end(), '\n');
}

TEST(CommandLine, HelpAndCsvOnStandardOutputOnly) {
    const CommandResult help = run_command(SIM + " --help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--seed", "--scenario", "--startup", "--error", "--ticks", "--at",
                               "--every", "--csv", "--fingerprint"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const CommandResult csv = run_command(SIM + " --ticks 50 --every 10 --csv");
    EXPECT_TRUE(csv.status == 0 && csv.err.empty() && lines(csv.out) == 7 + 2);
    EXPECT_EQ(csv.out.rfind("tick,not_evacuated,", 0), 0u);
}

TEST(CommandLine, BadOrMissingValuesAreRefusedInOneLineNamingTheOption) {
    const std::pair<const char*, const char*> cases[] = {{"--ticks abc", "--ticks"},
                                                         {"--ticks 0", "--ticks"},
                                                         {"--ticks", "--ticks"},
                                                         {"--error extreme", "--error"},
                                                         {"--seed 99999999999", "--seed"},
                                                         {"--seed x", "--seed"},
                                                         {"--every -5", "--every"},
                                                         {"--at 3,x", "--at"},
                                                         {"--ticks 100 --at 50,101", "--at"},
                                                         {"--seed 5 --scenario 2", "--scenario"},
                                                         {"--fingerprint --csv", "--csv"},
                                                         {"--frobnicate", "--frobnicate"}};
    for (const auto& [args, named] : cases) {
        const CommandResult r = run_command(SIM + " " + args);
        EXPECT_TRUE(r.status == 2 && r.out.empty() && lines(r.err) == 1) << args << ": " << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    }
}

TEST(CommandLine, TheSameCommandGivesTheSameFingerprintsAndScenarioStepsMatchSeeds) {
    const std::string run = " --error moderate --ticks 300 --fingerprint";
    const CommandResult a = run_command(SIM + " --scenario 3" + run);
    EXPECT_TRUE(a.status == 0 && lines(a.out) == 1 + 301);  // the error spread, then the ticks
    EXPECT_TRUE(a.out.starts_with("# parameter error_spread = 360\n0 0.0 720 "));
    EXPECT_EQ(a.out, run_command(SIM + " --scenario 3" + run).out);
    EXPECT_EQ(a.out, run_command(SIM + " --seed 3001" + run).out);
    EXPECT_NE(a.out, run_command(SIM + " --scenario 3 --startup" + run).out);
}

}  // namespace

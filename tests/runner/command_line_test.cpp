// marovel-sim as a user runs it: options, refusals and reproducibility.
#include <gtest/gtest.h>

#include <string>

#include "support/command.h"

namespace {

const std::string SIM = MAROVEL_SIM;

int count_lines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

TEST(CommandLine, HelpDescribesTheOptions) {
    const CommandResult r = run_command(SIM + " --help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--seed", "--scenario", "--startup", "--error", "--ticks", "--at", "--every",
                               "--csv", "--fingerprint"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(CommandLine, BadOrMissingValuesAreRefusedInOneLineNamingTheOption) {
    struct Case {
        const char* args;
        const char* named;
    };
    for (const Case& c : {Case{"--ticks abc", "--ticks"}, Case{"--ticks 0", "--ticks"}, Case{"--ticks", "--ticks"},
                          Case{"--error extreme", "--error"}, Case{"--seed 99999999999", "--seed"},
                          Case{"--seed x", "--seed"}, Case{"--every -5", "--every"}, Case{"--at 3,x", "--at"},
                          Case{"--seed 5 --scenario 2", "--scenario"}, Case{"--fingerprint --csv", "--csv"},
                          Case{"--frobnicate", "--frobnicate"}}) {
        SCOPED_TRACE(c.args);
        const CommandResult r = run_command(SIM + " " + c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count_lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
}

TEST(CommandLine, TheSameCommandGivesTheSameFingerprintsAndScenarioStepsMatchSeeds) {
    const CommandResult a = run_command(SIM + " --scenario 3 --error moderate --ticks 300 --fingerprint");
    const CommandResult b = run_command(SIM + " --seed 3001 --error moderate --ticks 300 --fingerprint");
    ASSERT_EQ(a.status, 0);
    EXPECT_EQ(count_lines(a.out), 301);
    EXPECT_EQ(a.out, b.out);
    const CommandResult c = run_command(SIM + " --scenario 3 --error moderate --ticks 300 --fingerprint");
    EXPECT_EQ(a.out, c.out);
    const CommandResult startup = run_command(SIM + " --scenario 3 --startup --error moderate --ticks 300 --fingerprint");
    EXPECT_NE(a.out, startup.out);
}

TEST(CommandLine, CsvGoesToStandardOutputOnly) {
    const CommandResult r = run_command(SIM + " --ticks 50 --every 10 --csv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_lines(r.out), 7);
    EXPECT_EQ(r.out.rfind("tick,not_evacuated,", 0), 0u);
}

}  // namespace

// The built program itself, as a user meets it: started on the display, keys
// typed from outside through the X server (program_test.sh), its title read
// back, and quit from its File menu.
#include <gtest/gtest.h>

#include <regex>

#include "support/command.h"

TEST(ProgramTest, TakesKeysFromOutsideShowsThemInItsTitleAndQuitsFromItsMenuWithZero) {
    const CommandResult result =
        run_command("bash '" MAROVEL_SCRIPT "' '" MAROVEL_PROGRAM "' '" MAROVEL_SOURCE_DIR "'");
    // Right, Right, Left: scenario 1; Space started the fast clock and Space
    // stopped it again at tick 5 or later.
    EXPECT_TRUE(std::regex_match(
        result.out,
        std::regex(R"(first=Marovel 1\.0: Scenario=0 Time=0\.0\nkeys=Marovel 1\.0: Scenario=1 )"
                   R"(Time=0\.0\nrun=Marovel 1\.0: Scenario=1 Time=([5-9]|\d\d+)\.0\nstatus=0\n)")))
        << result.out << result.err;
}

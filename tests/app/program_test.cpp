// The built program itself, as a user meets it: started on the display, keys
// typed from outside through the X server (program_test.sh), its title read
// back, and quit from its File menu.
#include <gtest/gtest.h>

#include <regex>

#include "support/command.h"

TEST(ProgramTest, TakesKeysFromOutsideShowsThemInItsTitleAndQuitsFromItsMenuWithZero) {
    const CommandResult result =
        run_command("bash '" MAROVEL_SCRIPT "' '" MAROVEL_PROGRAM "' '" MAROVEL_SOURCE_DIR "'");
    // Started at scenario 2 with no box about a picture; Right, Right, Left:
    // scenario 3; Right held: scenario 4; Space started the fast clock and Space
    // stopped it again at tick 5 or later; Quit ended it within a second.
    EXPECT_TRUE(std::regex_match(
        result.out, std::regex(R"(first=Marovel 1\.0: Scenario=2 Time=0\.0\nerrors=0\n)"
                               R"(keys=Marovel 1\.0: Scenario=3 Time=0\.0\n)"
                               R"(held=Marovel 1\.0: Scenario=4 Time=0\.0\n)"
                               R"(run=Marovel 1\.0: Scenario=4 Time=([5-9]|\d\d+)\.0\n)"
                               R"(quit_ms_below_1000=1\nstatus=0\n)")))
        << result.out << result.err;
}

// The installed-style program itself, as a user meets it: started on the
// display, keys typed from outside through the X server, its title read back,
// and quit from its File menu.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/command.h"

namespace {

// Everything one shell runs: the program in the background, xdotool for the
// user's hands, and the titles and exit status printed for the test to read.
const char* const SCRIPT = R"sh(
set -u
cd "$SOURCE_DIR"
timeout 60 "$PROGRAM" &
pid=$!
# Searching fails now and then while windows come and go; it is simply retried.
wid=
for _ in $(seq 200); do
    wid=$(xdotool search --onlyvisible --name '^Marovel 1\.0: Scenario' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "no window"; kill $pid; exit 1; }
# The title once it matches the pattern, or as it is after 10 s.
title_when() {
    for _ in $(seq 100); do
        t=$(xdotool getwindowname "$wid")
        [[ $t =~ $1 ]] && break
        sleep 0.1
    done
    echo "$t"
}
echo "first=$(title_when 'Time=0\.0$')"
xdotool windowfocus --sync "$wid"
xdotool key --delay 80 Right Right Left
echo "keys=$(title_when 'Scenario=1 ')"
xdotool key space
title_when 'Time=([5-9]|[1-9][0-9]+)\.0$' > /dev/null
xdotool key space
sleep 0.3
echo "run=$(xdotool getwindowname "$wid")"
# File is the bar's first title; its second item is Quit.
xdotool mousemove --window "$wid" 15 10 click 1
sleep 0.5
xdotool key --delay 100 Down Down Return
wait $pid
echo "status=$?"
)sh";

std::string field(const std::string& out, const std::string& name) {
    std::smatch m;
    const std::regex line("(^|\n)" + name + "=([^\n]*)");
    return std::regex_search(out, m, line) ? m[2].str() : std::string("<missing>");
}

// In a sanitizer build the program's own leak check at exit would see the data
// of the OpenGL driver, unloaded with the display, as leaked (without stacks to
// tell them apart). The same start-up and quit run in the in-process window
// tests, which do check for leaks; here only memory errors end the program.
#ifdef __SANITIZE_ADDRESS__
const char* const LEAK_CHECK = "ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 ";
#else
const char* const LEAK_CHECK = "";
#endif

TEST(ProgramTest, TakesKeysFromOutsideShowsThemInItsTitleAndQuitsFromItsMenuWithZero) {
    const std::string command = std::string(LEAK_CHECK) + "SOURCE_DIR='" + MAROVEL_SOURCE_DIR +
                                "' PROGRAM='" + MAROVEL_PROGRAM + "' bash -c '" +
                                std::regex_replace(SCRIPT, std::regex("'"), "'\\''") + "'";
    const CommandResult result = run_command(command);
    SCOPED_TRACE(result.out + result.err);
    EXPECT_EQ(field(result.out, "first"), "Marovel 1.0: Scenario=0 Time=0.0");
    EXPECT_EQ(field(result.out, "keys"), "Marovel 1.0: Scenario=1 Time=0.0");

    // Space started the fast clock and Space stopped it again some ticks later.
    std::smatch m;
    const std::string run = field(result.out, "run");
    ASSERT_TRUE(std::regex_match(run, m, std::regex("Marovel 1\\.0: Scenario=1 Time=(\\d+)\\.0")))
        << run;
    EXPECT_GE(std::stoi(m[1].str()), 5);

    EXPECT_EQ(field(result.out, "status"), "0");
}

}  // namespace

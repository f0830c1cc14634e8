// Feeds arbitrary bytes to the town reader. A text it accepts must format back
// to a text that reads as the same town, and a small accepted town must run:
// a few hundred ticks under each route guide, the state checked as the debug
// build checks it. Crashes, leaks, overflows, hangs and undefined behaviour are
// the sanitizers' and the fuzzer's part; what a well-formed town means is the
// unit tests'.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sim/scenario.h"
#include "sim/town_text.h"
#include "sim/validate.h"

namespace {

// The runs are for towns small enough to tick quickly.
constexpr std::int64_t MAX_RUN_CELLS = 64 * 64;
constexpr int RUN_TICKS = 300;

void run_briefly(const std::shared_ptr<const Town>& town, double guide) {
    ModelParameters p;
    p.errorSpread = ERROR_MODERATE;
    p.routeGuide = guide;
    p.patienceMin = 20;  // cars give up and drive home within the run
    p.patienceMax = 40;
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {7, p, false}, town);
    for (int t = 0; t < RUN_TICKS; ++t) {
        sim_tick(*sim);
        if (!validate_simulation(*sim).ok) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto town = std::make_shared<Town>();
    TownTextError error;
    if (!parse_town(text, *town, error)) {
        if (error.message.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    Town again;
    if (!parse_town(format_town(*town), again, error) || !same_town(*town, again)) std::abort();
    (void)validate_town(*town);
    if (static_cast<std::int64_t>(town->width) * town->height <= MAX_RUN_CELLS &&
        !has_errors(validate_town(*town))) {
        run_briefly(town, ROUTE_GUIDE_STRAIGHT);
        run_briefly(town, ROUTE_GUIDE_ROAD);
    }
    return 0;
}

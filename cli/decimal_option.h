// CLI11 reads "010" as eight and "0x10" as sixteen; marovel-sim's numbers are
// decimal everywhere. This transform checks an integer option's text with
// parse_decimal and hands CLI11 the number's plain decimal form.
#pragma once

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "experiments/records/numbers.h"
#include "sim/town_text.h"  // MAX_MINUTES_PER_TICK

// For ->transform(decimal_in(lo, hi)) on every integer option (each item of a
// list option separately).
inline CLI::Validator decimal_in(std::int64_t lo, std::int64_t hi) {
    return CLI::Validator(
        [lo, hi](std::string& text) {
            std::int64_t value = 0;
            std::string why = parse_decimal(text, lo, hi, value);
            if (why.empty()) text = std::to_string(value);
            return why;
        },
        lo == INT64_MIN && hi == INT64_MAX
            ? std::string("INT")
            : "INT in [" + std::to_string(lo) + " - " + std::to_string(hi) + "]",
        "decimal");
}

// --minutes-per-tick as typed: a number of minutes above 0 and at most a day,
// into `minutes`. The refusal, or empty text.
inline std::string parse_minutes_per_tick(const std::string& text, std::optional<double>& minutes) {
    char* end = nullptr;
    const double m = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(m) || m <= 0.0 ||
        m > MAX_MINUTES_PER_TICK)
        return "--minutes-per-tick: \"" + text +
               "\" is not a number of minutes above 0 and at most 1440";
    minutes = m;
    return {};
}

// --threads N: how many threads a command's runs take (0, the default, is all cores).
inline CLI::Option* add_threads_option(CLI::App& app, int& threads) {
    return app.add_option("--threads", threads,
                          "Threads to run on (default: all cores, or OMP_NUM_THREADS)")
        ->transform(decimal_in(1, 4096));
}

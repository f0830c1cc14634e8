#include "experiments/planning/order_text.h"

#include <charconv>
#include <cmath>

#include "sim/town.h"

namespace {

constexpr std::int64_t MAX_ORDER_TICK = 16777216;  // the clock counts ticks exactly up to 2^24

// "TEXT" in quotes; built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view text) {
    std::string s = "\"";
    s += text;
    s += '"';
    return s;
}

}  // namespace

std::string parse_tick_or_hours(std::string_view when, const Town& town, std::int64_t& tick) {
    tick = 0;
    if (when.ends_with('h')) {
        // Hours: the nearest tick of the town's tick length.
        double hours = 0;
        const std::string_view number = when.substr(0, when.size() - 1);
        const auto r = std::from_chars(number.data(), number.data() + number.size(), hours);
        if (number.empty() || r.ec != std::errc() || r.ptr != number.data() + number.size() ||
            !(hours >= 0.0) || hours > 1e9)
            return quoted(when) + " is not a number of hours";
        if (!(town.minutesPerTick > 0))
            return "hours need a tick length: the town has no minutes_per_tick";
        tick = std::llround(hours * 60.0 / town.minutesPerTick);
    } else {
        const auto r = std::from_chars(when.data(), when.data() + when.size(), tick);
        if (when.empty() || r.ec != std::errc() || r.ptr != when.data() + when.size())
            return "the tick " + quoted(when) + " is not a whole number or Nh";
    }
    if (tick < 0 || tick > MAX_ORDER_TICK)
        return "tick " + std::string(when) + " lies before tick 0 or past tick " +
               std::to_string(MAX_ORDER_TICK);
    return {};
}

std::string parse_order(std::string_view text, const Town& town, EvacuationOrder& order) {
    const std::string shown = quoted(text);
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos || at == 0) return shown + " is not ZONE@TICK";
    const std::string_view zone = text.substr(0, at), when = text.substr(at + 1);
    std::int64_t tick = 0;
    if (const std::string why = parse_tick_or_hours(when, town, tick); !why.empty())
        return shown + ": " + why;
    const int z = find_zone(town, zone);
    if (z < 0) {
        std::string known;
        for (std::size_t k = 0; k < zone_count(town); ++k)
            known += (k == 0 ? "" : ", ") + zone_name(town, k);
        return shown + ": the town has no zone \"" + std::string(zone) + "\" (its zones: " + known +
               ")";
    }
    order = {z, tick};
    return {};
}

std::string order_text(const Town& town, const EvacuationOrder& order) {
    return zone_name(town, static_cast<std::size_t>(order.zone)) + "@" + std::to_string(order.tick);
}

std::string order_words(const Town& town, const std::vector<EvacuationOrder>& orders) {
    std::string words;
    for (const EvacuationOrder& o : orders)
        words += (words.empty() ? "--order " : " --order ") + order_text(town, o);
    return words;
}

#include "experiments/records/numbers.h"

#include <charconv>

namespace {

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::string parse_decimal(std::string_view text, std::int64_t lo, std::int64_t hi,
                          std::int64_t& value) {
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
        digits.remove_prefix(1);
    std::string shown(1, '"');  // appended, not "\"" + text: GCC 12 warns falsely about that
    shown += text;
    shown += '"';
    if (!all_digits(digits)) return shown + " is not a decimal integer";
    const std::string range = " is not in " + std::to_string(lo) + ".." + std::to_string(hi);
    // The magnitude is read unsigned, so that the lowest int64 parses too.
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (ec != std::errc() || end != digits.data() + digits.size()) return shown + range;
    constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (magnitude > maxPositive + (negative ? 1 : 0)) return shown + range;
    const std::int64_t v =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    if (v < lo || v > hi) return shown + range;
    value = v;
    return {};
}

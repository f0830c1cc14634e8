#include "experiments/running/shard_env.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace {

// A job array's task ids, counts and steps are 32-bit numbers below the
// scheduler's "no value"; inside this range every sum and difference below
// fits in 64 bits.
constexpr long long MAX_TASK_ID = 4294967294LL;

// The variable as a whole integer; nothing when unset; nothing, and `bad` set
// unless an earlier variable set it, when it is no integer or out of range.
std::optional<long long> integer_of(const EnvironmentLookup& lookup, const char* name,
                                    std::string& bad) {
    const char* text = lookup(name);
    if (text == nullptr) return std::nullopt;
    const std::string_view s(text);
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) {
        if (bad.empty()) bad = std::string(name) + "=\"" + text + "\" is not an integer";
        return std::nullopt;
    }
    if (value < 0 || value > MAX_TASK_ID) {
        if (bad.empty())
            bad = std::string(name) + "=" + text + " is outside 0.." + std::to_string(MAX_TASK_ID);
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string shard_from_environment(const EnvironmentLookup& lookup, long long& index,
                                   long long& count) {
    std::string bad;
    const auto id = integer_of(lookup, "SLURM_ARRAY_TASK_ID", bad);
    const auto n = integer_of(lookup, "SLURM_ARRAY_TASK_COUNT", bad);
    const auto min = integer_of(lookup, "SLURM_ARRAY_TASK_MIN", bad);
    const auto max = integer_of(lookup, "SLURM_ARRAY_TASK_MAX", bad);
    const auto step = integer_of(lookup, "SLURM_ARRAY_TASK_STEP", bad);
    if (!bad.empty()) return bad;
    for (const auto& [value, name] : {std::pair{id, "SLURM_ARRAY_TASK_ID"},
                                      {n, "SLURM_ARRAY_TASK_COUNT"},
                                      {min, "SLURM_ARRAY_TASK_MIN"}})
        if (!value)
            return std::string(name) + " is not set (auto takes the shard from a job array's task)";
    const long long stride = step.value_or(1);
    if (*n < 1) return "SLURM_ARRAY_TASK_COUNT=" + std::to_string(*n) + " is below 1";
    if (stride < 1) return "SLURM_ARRAY_TASK_STEP=" + std::to_string(stride) + " is below 1";
    if (*id < *min || (*id - *min) % stride != 0 || (*id - *min) / stride >= *n)
        return "SLURM_ARRAY_TASK_ID=" + std::to_string(*id) + " is not one of " +
               std::to_string(*n) + " tasks from SLURM_ARRAY_TASK_MIN=" + std::to_string(*min) +
               (stride > 1 ? " by " + std::to_string(stride) : std::string());
    __extension__ using Wide = __int128;
    if (max && static_cast<Wide>(*max) != *min + static_cast<Wide>(*n - 1) * stride)
        return "SLURM_ARRAY_TASK_MAX=" + std::to_string(*max) + " does not close " +
               std::to_string(*n) + " tasks from SLURM_ARRAY_TASK_MIN=" + std::to_string(*min) +
               " (the array's task ids must be evenly spaced)";
    index = (*id - *min) / stride + 1;
    count = *n;
    return {};
}

#include "experiments/running/shards.h"

#include <cstdint>

#include "experiments/planning/run_plan.h"

namespace {

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    std::string q(1, '"');
    q.append(s);
    q += '"';
    return q;
}

}  // namespace

ShardRange shard_range(std::size_t runCount, long long index, long long count) {
    // runs * index needs up to 84 bits for a sweep's million runs and the
    // largest I and N, so the products are formed in 128 bits.
    __extension__ using Wide = unsigned __int128;
    const auto n = static_cast<Wide>(count);
    const auto i = static_cast<Wide>(index);
    const auto runs = static_cast<Wide>(runCount);
    return {static_cast<std::size_t>(runs * (i - 1) / n), static_cast<std::size_t>(runs * i / n)};
}

std::string parse_shard(std::string_view text, long long& index, long long& count) {
    const std::size_t slash = text.find('/');
    std::int64_t i = 0;
    std::int64_t n = 0;
    if (slash == std::string_view::npos || !parse_integer(text.substr(0, slash), i) ||
        !parse_integer(text.substr(slash + 1), n))
        return quoted(text) + " is not I/N";
    if (n < 1 || i < 1 || i > n) return quoted(text) + ": need 1 <= I <= N";
    index = i;
    count = n;
    return {};
}

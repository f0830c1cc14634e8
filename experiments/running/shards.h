// Shards: a sweep's runs cut into contiguous blocks, one per process of a job
// array, whose outputs concatenate into the whole sweep's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Shard `index` (1-based) of `count`: a contiguous block of the runs, the
// blocks in order and as even as can be, so the shards' outputs concatenate
// into the whole sweep's.
struct ShardRange {
    std::size_t first = 0;
    std::size_t end = 0;  // one past the last
};
ShardRange shard_range(std::size_t runCount, long long index, long long count);

// "i/n" with 1 <= i <= n. Error text or empty.
std::string parse_shard(std::string_view text, long long& index, long long& count);

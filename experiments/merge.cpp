#include "experiments/merge.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace {

constexpr std::string_view SWEEP_PREFIX = "# sweep: ";

// The first comment line that differs between two headers, for the refusal.
std::string first_difference(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const std::size_t start = a.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = start == std::string::npos || at == 0 ? 0 : start + 1;
    return a.substr(from, a.find('\n', from) - from);
}

}  // namespace

std::string read_shard_file(const std::string& path, ShardFile& shard) {
    shard = {};
    shard.path = path;
    std::string error;
    if (!read_whole_file(path, shard.text, error)) return error;
    if (!split_sweep_file(shard.text, shard.file) ||
        (shard.kind = file_kind(shard.file.comments)).empty())
        return path +
               ": no header naming a sweep's file (shards to merge must keep their header: "
               "leave out --no-header)";
    if (!shard.text.empty() && shard.text.back() != '\n')
        return path + ": the last line is cut short";
    shard.tag = shard_tag(shard.file.comments).value_or(ShardTag{1, 1});
    return {};
}

bool sweep_run_count(const std::vector<std::string>& comments, std::size_t& runs) {
    for (const std::string& line : comments) {
        if (!std::string_view(line).starts_with(SWEEP_PREFIX)) continue;
        const std::string_view rest = std::string_view(line).substr(SWEEP_PREFIX.size());
        const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), runs);
        return ec == std::errc() && ptr != rest.data();
    }
    return false;
}

std::size_t runs_in_rows(std::string_view rows) {
    std::size_t runs = 0;
    std::string_view key;
    for_each_line(rows, [&](std::string_view line) {
        const std::string_view k = row_key(line);
        if (runs == 0 || k != key) ++runs;
        key = k;
    });
    return runs;
}

std::string merge_shards(std::vector<ShardFile>& shards, std::string& merged) {
    merged.clear();
    if (shards.empty()) return "no files to merge";
    std::sort(shards.begin(), shards.end(),
              [](const ShardFile& a, const ShardFile& b) { return a.tag.index < b.tag.index; });
    const ShardFile& first = shards.front();
    const std::string header = header_without_shard(first.file);
    std::size_t totalRuns = 0;
    if (!sweep_run_count(first.file.comments, totalRuns))
        return first.path + ": its header does not say how many runs the sweep has";
    const long long count = first.tag.count;
    for (std::size_t i = 0; i < shards.size(); ++i) {
        const ShardFile& s = shards[i];
        const std::string h = header_without_shard(s.file);
        if (h != header)
            return s.path + ": not the same sweep as " + first.path + " (\"" +
                   first_difference(h, header) + "\")";
        if (s.tag.count != count)
            return s.path + ": shard " + std::to_string(s.tag.index) + "/" +
                   std::to_string(s.tag.count) + " of a sweep split in " +
                   std::to_string(s.tag.count) + ", not " + std::to_string(count) + " as " +
                   first.path;
        if (i > 0 && shards[i - 1].tag.index == s.tag.index)
            return s.path + ": shard " + std::to_string(s.tag.index) + "/" + std::to_string(count) +
                   " given twice (also " + shards[i - 1].path + ")";
    }
    for (long long index = 1, at = 0; index <= count; ++index, ++at) {
        if (static_cast<std::size_t>(at) >= shards.size() ||
            shards[static_cast<std::size_t>(at)].tag.index != index)
            return "shard " + std::to_string(index) + "/" + std::to_string(count) + " of " +
                   first.path + "'s sweep is missing";
        const ShardFile& s = shards[static_cast<std::size_t>(at)];
        const ShardRange range = shard_range(totalRuns, index, count);
        const std::size_t runs = runs_in_rows(s.file.rows);
        if (runs != range.end - range.first)
            return s.path + ": holds " + std::to_string(runs) + " runs, shard " +
                   std::to_string(index) + "/" + std::to_string(count) + " of this sweep has " +
                   std::to_string(range.end - range.first) + " (cut short?)";
    }
    merged = header;
    for (const ShardFile& s : shards) merged += s.file.rows;
    return {};
}

#include "experiments/resume.h"

#include <filesystem>

#include "experiments/sweep_files.h"

namespace fs = std::filesystem;

namespace {

// Partial files of `path`: ".NAME.<anything>.part" in its folder.
std::vector<std::string> partial_files(const std::string& path) {
    const fs::path p(path);
    const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
    std::string prefix(1, '.');
    prefix += p.filename().string();
    prefix += '.';
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() + 5 && name.starts_with(prefix) && name.ends_with(".part"))
            found.push_back((p.parent_path() / name).string());
    }
    return found;
}

}  // namespace

std::string find_earlier_output(const std::string& path, const std::string& header,
                                const std::vector<std::string>& keys, std::size_t rowsPerRun,
                                EarlierOutput& earlier) {
    earlier = {};
    earlier.leftovers = partial_files(path);
    std::vector<std::string> candidates = earlier.leftovers;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) candidates.insert(candidates.begin(), path);
    for (const std::string& candidate : candidates) {
        std::string text, error;
        if (!read_whole_file(candidate, text, error)) continue;
        if (text.size() < header.size() || text.compare(0, header.size(), header) != 0) continue;
        std::vector<std::size_t> ends;
        std::size_t at = header.size();
        std::size_t rowsInRun = 0;
        while (ends.size() < keys.size()) {
            const std::size_t nl = text.find('\n', at);
            if (nl == std::string::npos) break;  // a line cut short
            const std::string_view line(text.data() + at, nl - at);
            if (row_key(line) != keys[ends.size()])
                return candidate + ": row " + std::to_string(ends.size() + 1) +
                       " is not this sweep's run " + keys[ends.size()] +
                       " (the file holds another sweep's runs)";
            at = nl + 1;
            if (++rowsInRun == rowsPerRun) {
                ends.push_back(at);
                rowsInRun = 0;
            }
        }
        if (earlier.source.empty() || ends.size() > earlier.runEnds.size()) {
            earlier.source = candidate;
            earlier.text = std::move(text);
            earlier.runEnds = std::move(ends);
        }
    }
    earlier.headerBytes = header.size();
    return {};
}

std::string kept_text(const EarlierOutput& earlier, std::size_t runs) {
    if (runs == 0) return {};
    return earlier.text.substr(earlier.headerBytes,
                               earlier.runEnds[runs - 1] - earlier.headerBytes);
}

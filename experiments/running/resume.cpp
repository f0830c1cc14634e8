#include "experiments/running/resume.h"

#include <filesystem>

#include "experiments/records/output_file.h"
#include "experiments/records/sweep_files.h"

namespace fs = std::filesystem;

namespace {

// The "# town:" line of a file's header, without its mark; "the built-in town"
// when the header has none.
std::string town_of_header(std::string_view text) {
    const std::string_view mark = "# town: ";
    std::size_t at = 0;
    while (at < text.size() && text[at] == '#') {
        const std::size_t nl = text.find('\n', at);
        const std::string_view line = text.substr(at, nl == std::string_view::npos ? nl : nl - at);
        if (line.substr(0, mark.size()) == mark) return std::string(line.substr(mark.size()));
        if (nl == std::string_view::npos) break;
        at = nl + 1;
    }
    return "the built-in town";
}

}  // namespace

std::string find_earlier_output(const std::string& path, const std::string& header,
                                const std::vector<std::string>& keys,
                                const std::vector<std::size_t>& rowsOfRun, EarlierOutput& earlier) {
    earlier = {};
    earlier.leftovers = stale_temporaries(path);
    std::vector<std::string> candidates = earlier.leftovers;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) candidates.insert(candidates.begin(), path);
    for (const std::string& candidate : candidates) {
        std::string text, error;
        if (!read_whole_file(candidate, text, error)) continue;
        if (town_of_header(text) != town_of_header(header))
            return candidate + ": its runs are on another town (" + town_of_header(text) +
                   "), not " + town_of_header(header);
        if (text.size() < header.size() || text.compare(0, header.size(), header) != 0) continue;
        std::vector<std::size_t> ends;
        std::size_t at = header.size();
        std::size_t rowsInRun = 0;
        while (ends.size() < keys.size()) {
            if (rowsOfRun[ends.size()] == 0) {  // a run without rows (a town without cars)
                ends.push_back(at);
                continue;
            }
            const std::size_t nl = text.find('\n', at);
            if (nl == std::string::npos) break;  // a line cut short
            const std::string_view line(text.data() + at, nl - at);
            if (row_key(line) != keys[ends.size()])
                return candidate + ": a row of run " + std::to_string(ends.size() + 1) +
                       " is not this sweep's run " + keys[ends.size()] +
                       " (the file holds another sweep's runs)";
            at = nl + 1;
            if (++rowsInRun == rowsOfRun[ends.size()]) {
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

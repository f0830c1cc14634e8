// Design files: reading a design from CSV and writing one back.
#include <algorithm>
#include <charconv>
#include <limits>

#include "experiments/planning/design.h"
#include "experiments/planning/design_text.h"
#include "experiments/planning/parameter_text.h"

namespace {

using design_text::parse_value;
using design_text::quoted;
using design_text::split_cells;

bool parse_whole(std::string_view s, std::int64_t& value) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return !s.empty() && ec == std::errc() && ptr == end;
}

std::string at(const std::string& name, std::size_t line, std::size_t column) {
    return file_name_text(name) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

}  // namespace

std::string parse_design_csv(std::string_view text, const std::string& name, std::size_t maxPoints,
                             Design& design) {
    design = {};
    design.description = "file " + name;
    std::size_t lineNumber = 0;
    std::vector<std::string_view> columns;
    std::size_t pointColumn = 0, scenarioColumn = 0;  // 1-based; 0 when absent
    bool isSeed = false;
    std::vector<std::size_t> parameterColumns;
    std::size_t points = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::size_t length = end - start;
        const std::string_view line = trim(text.substr(start, length));
        start = end + 1;
        ++lineNumber;
        if (length > MAX_DESIGN_LINE_BYTES)
            return at(name, lineNumber, 1) + "line longer than " +
                   std::to_string(MAX_DESIGN_LINE_BYTES) + " bytes";
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> cells = split_cells(line);

        if (columns.empty()) {  // the header
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const std::string_view cell = trim(cells[c]);
                const std::string where = at(name, lineNumber, c + 1);
                if (cell.empty()) return where + "empty column name";
                for (std::size_t d = 0; d < c; ++d)
                    if (trim(cells[d]) == cell)
                        return where + "column " + quoted(cell) + " given twice";
                if (cell == "point") {
                    pointColumn = c + 1;
                } else if (cell == "seed" || cell == "scenario") {
                    if (scenarioColumn != 0) return where + "both a seed and a scenario column";
                    scenarioColumn = c + 1;
                    isSeed = cell == "seed";
                } else {
                    const ParameterInfo* info = find_parameter(cell.data(), cell.size());
                    if (info == nullptr)
                        return where + "unknown parameter " + quoted(cell) +
                               " (marovel-sim params lists them)";
                    design.parameters.push_back(info);
                    parameterColumns.push_back(c);
                }
            }
            if (pointColumn == 0) return at(name, lineNumber, 1) + "no point column";
            if (design.parameters.empty()) return at(name, lineNumber, 1) + "no parameter column";
            columns = cells;
            continue;
        }

        if (cells.size() < columns.size())
            return at(name, lineNumber, cells.size() + 1) + "missing cell for column " +
                   quoted(trim(columns[cells.size()]));
        if (cells.size() > columns.size())
            return at(name, lineNumber, columns.size() + 1) + "more cells than columns";
        for (std::size_t c = 0; c < cells.size(); ++c)
            if (trim(cells[c]).empty())
                return at(name, lineNumber, c + 1) + "empty cell for column " +
                       quoted(trim(columns[c]));
        std::int64_t id = 0;
        if (!parse_whole(cells[pointColumn - 1], id) || id < 0)
            return at(name, lineNumber, pointColumn) + quoted(trim(cells[pointColumn - 1])) +
                   " is not a point number";
        if (static_cast<std::uint64_t>(id) < points)
            return at(name, lineNumber, pointColumn) + "point " + std::to_string(id) +
                   " given twice";
        if (static_cast<std::uint64_t>(id) != points)
            return at(name, lineNumber, pointColumn) + "point " + std::to_string(id) +
                   " out of order: the points count 0, 1, 2, ... and this one is " +
                   std::to_string(points);
        if (points == maxPoints)
            return at(name, lineNumber, pointColumn) + "more than " + std::to_string(maxPoints) +
                   " points";
        for (std::size_t j = 0; j < parameterColumns.size(); ++j) {
            const std::size_t c = parameterColumns[j];
            double v = 0.0;
            if (std::string why = parse_value(*design.parameters[j], cells[c], v); !why.empty())
                return at(name, lineNumber, c + 1) + why;
            design.values.push_back(stored_value(*design.parameters[j], v));
        }
        if (scenarioColumn != 0) {
            std::int64_t v = 0;
            const std::string_view cell = cells[scenarioColumn - 1];
            if (!parse_whole(cell, v) || v < std::numeric_limits<std::int32_t>::min() ||
                v > std::numeric_limits<std::int32_t>::max())
                return at(name, lineNumber, scenarioColumn) + quoted(trim(cell)) +
                       " is not a 32-bit whole number";
            if (isSeed) {
                const auto seed = static_cast<std::int32_t>(v);
                design.scenarios.push_back({seed, step_of_seed(seed)});
            } else {
                design.scenarios.push_back({seed_of_step(v), v});
            }
        }
        ++points;
    }
    if (columns.empty()) return name + ": no header line (point and parameter names)";
    if (points == 0) return name + ": no points";
    return {};
}

std::size_t design_file_bytes(std::size_t maxPoints) {
    const std::size_t line = 32 * (PARAMETER_COUNT + 2);  // point, scenario, parameters
    return (std::size_t(1) << 20) + std::min(maxPoints, std::size_t(1) << 32) * line;
}

std::string read_design_file(const std::string& path, std::size_t maxPoints, Design& design) {
    std::string text;
    if (std::string why = read_regular_file(path, design_file_bytes(maxPoints), text); !why.empty())
        return why;
    return parse_design_csv(text, path, maxPoints, design);
}

std::string design_csv(const Design& design) {
    std::string out = "# design: " + design.description + "\npoint";
    const bool named = !design.scenarios.empty();
    if (named) out += ",seed";
    for (const ParameterInfo* info : design.parameters) {
        out += ',';
        out += info->name;
    }
    out += '\n';
    for (std::size_t p = 0; p < design.point_count(); ++p) {
        out += std::to_string(p);
        if (named) out += ',' + std::to_string(design.scenarios[p].seed);
        for (std::size_t j = 0; j < design.parameters.size(); ++j) {
            out += ',';
            out += format_value(design.value(p, j));
        }
        out += '\n';
    }
    return out;
}

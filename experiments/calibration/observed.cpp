#include "experiments/calibration/observed.h"

#include <cmath>

#include "experiments/planning/parameter_text.h"

namespace {

enum class Column { Tick, Hour, Departed, Arrived, Weight };

struct Field {
    std::string_view text;
    std::size_t column = 1;  // 1-based byte column where the field starts
};

std::vector<Field> split_fields(std::string_view line) {
    std::vector<Field> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
        fields.push_back({trim(line.substr(start, end - start)), start + 1});
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

std::optional<Column> column_of(std::string_view name) {
    if (name == "tick") return Column::Tick;
    if (name == "hour") return Column::Hour;
    if (name == "departed") return Column::Departed;
    if (name == "arrived") return Column::Arrived;
    if (name == "weight") return Column::Weight;
    return std::nullopt;
}

}  // namespace

std::string parse_observed(std::string_view text, const std::string& name,
                           std::optional<double> minutesPerTick, ObservedCurve& curve) {
    const std::string file = file_name_text(name);
    const auto at = [&](std::size_t line, std::size_t column, const std::string& what) {
        return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    };
    std::vector<Column> columns;
    ObservedCurve read;
    std::size_t lineNo = 0, headerLine = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        const std::string_view raw =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        const std::vector<Field> fields = split_fields(raw.back() == '\r' ? raw.substr(0, raw.size() - 1) : raw);
        if (columns.empty()) {
            headerLine = lineNo;
            bool seen[5] = {};
            for (const Field& f : fields) {
                const std::optional<Column> c = column_of(f.text);
                if (!c)
                    return at(lineNo, f.column,
                              "unknown column " + quote_input(f.text) +
                                  " (tick or hour, departed, arrived, weight)");
                if (seen[static_cast<int>(*c)])
                    return at(lineNo, f.column, "column " + quote_input(f.text) + " comes twice");
                seen[static_cast<int>(*c)] = true;
                columns.push_back(*c);
            }
            const bool tick = seen[static_cast<int>(Column::Tick)];
            const bool hour = seen[static_cast<int>(Column::Hour)];
            if (tick == hour)
                return at(lineNo, 1, tick ? "both tick and hour columns: give one"
                                          : "no tick or hour column");
            if (hour && !minutesPerTick)
                return at(lineNo, 1, "an hour column needs --minutes-per-tick");
            if (!seen[static_cast<int>(Column::Departed)]) return at(lineNo, 1, "no departed column");
            read.hasArrived = seen[static_cast<int>(Column::Arrived)];
            continue;
        }
        if (fields.size() != columns.size())
            return at(lineNo, fields.size() > columns.size() ? fields[columns.size()].column : raw.size() + 1,
                      std::to_string(fields.size()) + " fields where the header (line " +
                          std::to_string(headerLine) + ") names " + std::to_string(columns.size()));
        ObservedPoint p;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            double v = 0.0;
            if (!parse_decimal(f.text, v) || !std::isfinite(v))
                return at(lineNo, f.column, quote_input(f.text) + " is not a finite number");
            switch (columns[i]) {
            case Column::Tick:
            case Column::Hour: {
                const double ticks =
                    columns[i] == Column::Hour ? v * 60.0 / *minutesPerTick : v;
                if (columns[i] == Column::Tick && v != std::floor(v))
                    return at(lineNo, f.column, quote_input(f.text) + " is not a whole tick");
                if (ticks < 0.0 || ticks > 1e9)
                    return at(lineNo, f.column, "time " + quote_input(f.text) + " is below 0 or too large");
                p.tick = std::llround(ticks);
                if (!read.points.empty() && p.tick <= read.points.back().tick)
                    return at(lineNo, f.column,
                              "time " + quote_input(f.text) + " is not after the line before's" +
                                  (columns[i] == Column::Hour ? " (both round to the same tick or earlier)" : ""));
                break;
            }
            case Column::Departed:
            case Column::Arrived:
                if (v < 0.0 || v > 1.0)
                    return at(lineNo, f.column,
                              "share " + quote_input(f.text) + " lies outside 0..1");
                (columns[i] == Column::Departed ? p.departed : p.arrived.emplace()) = v;
                break;
            case Column::Weight:
                if (v < 0.0) return at(lineNo, f.column, "weight " + quote_input(f.text) + " is below 0");
                p.weight = v;
                break;
            }
        }
        read.points.push_back(p);
    }
    if (columns.empty()) return at(lineNo == 0 ? 1 : lineNo, 1, "no header line");
    double total = 0.0;
    for (const ObservedPoint& p : read.points) total += p.weight;
    if (read.points.empty() || total <= 0.0)
        return at(lineNo, 1, "no usable rows (no row, or every weight 0)");
    curve = std::move(read);
    return {};
}

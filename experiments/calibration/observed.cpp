#include "experiments/calibration/observed.h"

#include <algorithm>
#include <cmath>

#include "experiments/planning/parameter_text.h"
#include "sim/town.h"

namespace {

enum class Column { Tick, Hour, Departed, Arrived, Weight };
enum class TargetColumn { Target, Value, Zone, Tick, Hour, Weight };

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

std::optional<TargetColumn> target_column_of(std::string_view name) {
    if (name == "target") return TargetColumn::Target;
    if (name == "value") return TargetColumn::Value;
    if (name == "zone") return TargetColumn::Zone;
    if (name == "tick") return TargetColumn::Tick;
    if (name == "hour") return TargetColumn::Hour;
    if (name == "weight") return TargetColumn::Weight;
    return std::nullopt;
}

bool names_target(const std::vector<Field>& fields) {
    return std::any_of(fields.begin(), fields.end(), [](const Field& f) { return f.text == "target"; });
}

std::string at_text(const std::string& file, std::size_t line, std::size_t column,
                    const std::string& what) {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
}

// The targets' header at `lineNo`: its columns, or the refusal.
std::string read_target_header(const std::vector<Field>& fields, const std::string& file,
                               std::size_t lineNo, std::optional<double> minutesPerTick,
                               std::vector<TargetColumn>& columns) {
    bool seen[6] = {};
    for (const Field& f : fields) {
        const std::optional<TargetColumn> c = target_column_of(f.text);
        if (!c)
            return at_text(file, lineNo, f.column,
                           "unknown column " + quote_input(f.text) +
                               " of the targets (target, value, zone, tick or hour, weight)");
        if (seen[static_cast<int>(*c)])
            return at_text(file, lineNo, f.column, "column " + quote_input(f.text) + " comes twice");
        seen[static_cast<int>(*c)] = true;
        columns.push_back(*c);
    }
    if (!seen[static_cast<int>(TargetColumn::Value)])
        return at_text(file, lineNo, 1, "the targets' header has no value column");
    if (seen[static_cast<int>(TargetColumn::Tick)] && seen[static_cast<int>(TargetColumn::Hour)])
        return at_text(file, lineNo, 1, "both tick and hour columns: give one");
    if (seen[static_cast<int>(TargetColumn::Hour)] && !minutesPerTick)
        return at_text(file, lineNo, 1, "an hour column needs --minutes-per-tick");
    return {};
}

// One target row, checked field by field; the refusal or empty text.
std::string read_target_row(const std::vector<Field>& fields, const std::vector<TargetColumn>& columns,
                            const std::string& file, std::size_t lineNo,
                            std::optional<double> minutesPerTick, ObservedTarget& t) {
    const auto at = [&](std::size_t column, const std::string& what) {
        return at_text(file, lineNo, column, what);
    };
    std::size_t valueColumn = 0, valueIndex = 0, timeColumn = 0;
    std::optional<double> value, time;
    bool named = false;
    t.line = lineNo;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        if (columns[i] == TargetColumn::Target) {
            named = true;
            if (f.text == "participation") t.kind = TargetKind::Participation;
            else if (f.text == "tick_90" || f.text == "hour_90") t.kind = TargetKind::Clearance90;
            else
                return at(f.column, "unknown target " + quote_input(f.text) +
                                        " (participation, tick_90, hour_90)");
            if (f.text == "hour_90") {
                if (!minutesPerTick) return at(f.column, "hour_90 needs --minutes-per-tick");
                t.minutesPerTick = *minutesPerTick;
            }
            continue;
        }
        if (columns[i] == TargetColumn::Zone) {
            if (!f.text.empty() && !valid_zone_name(f.text))
                return at(f.column, quote_input(f.text) + " is not a zone's name");
            t.zone = std::string(f.text);
            t.zoneColumn = f.column;
            continue;
        }
        if (f.text.empty()) {
            if (columns[i] == TargetColumn::Value) return at(f.column, "no value");
            continue;  // a blank time or weight: the run's end, or weight 1
        }
        double v = 0.0;
        if (!parse_decimal(f.text, v) || !std::isfinite(v))
            return at(f.column, quote_input(f.text) + " is not a finite number");
        switch (columns[i]) {
        case TargetColumn::Value: value = v, valueColumn = f.column, valueIndex = i; break;
        case TargetColumn::Tick:
        case TargetColumn::Hour:
            if (columns[i] == TargetColumn::Tick && v != std::floor(v))
                return at(f.column, quote_input(f.text) + " is not a whole tick");
            time = columns[i] == TargetColumn::Hour ? v * 60.0 / *minutesPerTick : v;
            timeColumn = f.column;
            if (*time < 0.0 || *time > 1e9)
                return at(f.column, "time " + quote_input(f.text) + " is below 0 or too large");
            break;
        case TargetColumn::Weight:
            if (v < 0.0) return at(f.column, "weight " + quote_input(f.text) + " is below 0");
            t.weight = v;
            break;
        default: break;
        }
    }
    if (!named) return at(1, "no target named (the targets' header has no target column)");
    const std::string valueText = quote_input(fields[valueIndex].text);
    const bool zoned = !t.zone.empty();
    if (t.kind == TargetKind::Participation) {
        if (*value < 0.0 || *value > 1.0)
            return at(valueColumn, "share " + valueText + " lies outside 0..1");
        if (time && zoned)
            return at(timeColumn, "a zone's participation is counted at the run's end: leave the time blank");
        if (time) t.tick = std::llround(*time);
        t.value = *value;
    } else {
        if (*value < 0.0) return at(valueColumn, "time " + valueText + " is below 0");
        if (time) return at(timeColumn, "a clearance time takes no time of its own: leave it blank");
        t.value = t.minutesPerTick > 0 ? *value * 60.0 / t.minutesPerTick : *value;
    }
    t.label = (zoned ? t.zone + "_" : std::string()) +
              (t.kind == TargetKind::Participation ? "participation"
               : t.minutesPerTick > 0              ? "hour_90"
                                                   : "tick_90") +
              (t.tick ? "_at_" + std::to_string(*t.tick) : std::string());
    return {};
}

}  // namespace

double target_in_file_unit(const ObservedTarget& target, double ticksOrShare) {
    return target.minutesPerTick > 0 ? ticksOrShare * target.minutesPerTick / 60.0 : ticksOrShare;
}

long long last_observed_tick(const ObservedCurve& curve) {
    long long last = curve.points.empty() ? 0 : curve.points.back().tick;
    for (const ObservedTarget& t : curve.targets)
        if (t.tick) last = std::max(last, *t.tick);
    return last;
}

std::string parse_observed(std::string_view text, const std::string& name,
                           std::optional<double> minutesPerTick, ObservedCurve& curve) {
    const std::string file = file_name_text(name);
    const auto at = [&](std::size_t line, std::size_t column, const std::string& what) {
        return at_text(file, line, column, what);
    };
    std::vector<Column> columns;
    std::vector<TargetColumn> targetColumns;
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
        if (targetColumns.empty() && names_target(fields)) {
            headerLine = lineNo;
            if (const std::string why = read_target_header(fields, file, lineNo, minutesPerTick, targetColumns);
                !why.empty())
                return why;
            continue;
        }
        if (!targetColumns.empty()) {
            if (fields.size() != targetColumns.size())
                return at(lineNo, fields.size() > targetColumns.size() ? fields[targetColumns.size()].column : raw.size() + 1,
                          std::to_string(fields.size()) + " fields where the targets' header (line " +
                              std::to_string(headerLine) + ") names " + std::to_string(targetColumns.size()));
            ObservedTarget t;
            if (const std::string why = read_target_row(fields, targetColumns, file, lineNo, minutesPerTick, t);
                !why.empty())
                return why;
            for (const ObservedTarget& before : read.targets)
                if (before.label == t.label)
                    return at(lineNo, 1, "target " + t.label + " comes twice (line " +
                                             std::to_string(before.line) + ")");
            read.targets.push_back(std::move(t));
            continue;
        }
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
    if (columns.empty() && targetColumns.empty())
        return at(lineNo == 0 ? 1 : lineNo, 1, "no header line");
    double total = 0.0;
    for (const ObservedPoint& p : read.points) total += p.weight;
    for (const ObservedTarget& t : read.targets) total += t.weight;
    if (total <= 0.0)
        return at(lineNo, 1, "no usable rows (no row, or every weight 0)");
    curve = std::move(read);
    return {};
}

std::string resolve_target_zones(const Town& town, const std::string& name, ObservedCurve& curve) {
    for (ObservedTarget& t : curve.targets) {
        if (t.zone.empty()) continue;
        t.zoneIndex = town.zoneNames.empty() ? -1 : find_zone(town, t.zone);
        if (t.zoneIndex >= 0) continue;
        std::string zones;
        for (const std::string& z : town.zoneNames) zones += (zones.empty() ? "" : ", ") + z;
        return at_text(file_name_text(name), t.line, t.zoneColumn,
                       "the town has no zone " + quote_input(t.zone) +
                           (zones.empty() ? std::string(" (it has no zones)") : " (its zones: " + zones + ")"));
    }
    return {};
}

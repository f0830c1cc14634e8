#include "experiments/planning/plan_file.h"

#include <charconv>

#include "experiments/planning/order_text.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/road_text.h"
#include "experiments/planning/town_file.h"
#include "sim/town.h"
#include "sim/town_text.h"

namespace {

constexpr const char* KEYS[] = {"name",   "zones",      "order",        "close",
                                "reopen", "contraflow", "exit_capacity"};
constexpr const char* ONCE[] = {"name", "zones", "exit_capacity"};

bool one_of(std::string_view key, const auto& keys) {
    for (const char* k : keys)
        if (key == k) return true;
    return false;
}

std::string at(int line, int column, const std::string& what) {
    return std::to_string(line) + ":" + std::to_string(column) + ": " + what;
}

// An operation's text with its tick in hours turned into ticks: "3,4@2h:up" -> "3,4@60:up".
std::string with_ticks(const std::string& text, const Town& town, std::string& error) {
    const std::size_t sign = text.find('@');
    if (sign == std::string::npos) return text;
    const std::size_t dir = text.find(':', sign);
    const std::string when = text.substr(sign + 1, dir == std::string::npos ? dir : dir - sign - 1);
    if (!when.ends_with('h')) return text;
    std::int64_t tick = 0;
    error = parse_tick_or_hours(when, town, tick);
    return text.substr(0, sign + 1) + std::to_string(tick) +
           (dir == std::string::npos ? "" : text.substr(dir));
}

}  // namespace

std::string split_plan_text(std::string_view text, std::vector<PlanLine>& lines) {
    lines.clear();
    int number = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++number;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        if (line.find('\0') != std::string_view::npos)
            return at(number, static_cast<int>(line.find('\0')) + 1, "not text");
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return at(number, static_cast<int>(first) + 1, "not a `key = value` line");
        PlanLine p;
        p.line = number;
        p.keyColumn = static_cast<int>(first) + 1;
        std::string_view key = line.substr(first, eq - first);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
        p.key = key;
        const std::size_t value = line.find_first_not_of(" \t", eq + 1);
        // Without a value, the column just after the '='.
        p.valueColumn = static_cast<int>(value == std::string_view::npos ? eq + 1 : value) + 1;
        if (value != std::string_view::npos) {
            std::string_view v = line.substr(value);
            while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
            p.value = v;
        }
        if (!one_of(p.key, KEYS))
            return at(number, p.keyColumn,
                      "unknown key \"" + p.key +
                          "\" (a plan has name, zones, order, close, reopen, contraflow, "
                          "exit_capacity)");
        if (p.value.empty()) return at(number, p.valueColumn, p.key + " has no value");
        if (one_of(p.key, ONCE))
            for (const PlanLine& earlier : lines)
                if (earlier.key == p.key)
                    return at(number, p.keyColumn,
                              p.key + " given twice (first on line " +
                                  std::to_string(earlier.line) + ")");
        lines.push_back(std::move(p));
    }
    return {};
}

std::string read_plan_lines(const std::vector<PlanLine>& lines, const Town& town, long long ticks,
                            Plan& plan) {
    plan.roads = {};
    plan.orders.clear();
    for (const PlanLine& p : lines) {
        const auto fault = [&](const std::string& what) {
            return at(p.line, p.valueColumn, p.key + " " + what);
        };
        if (p.key == "name") {
            if (!valid_zone_name(p.value))
                return fault("\"" + p.value + "\": a name is letters, digits, '_' and '-'");
            plan.name = p.value;
        } else if (p.key == "zones") {
            plan.zonesFile = p.value;
        } else if (p.key == "exit_capacity") {
            std::int64_t cap = 0;
            const auto r = std::from_chars(p.value.data(), p.value.data() + p.value.size(), cap);
            if (r.ec != std::errc() || r.ptr != p.value.data() + p.value.size() || cap < 1 ||
                cap > MAX_EXIT_CAPACITY)
                return fault(p.value + ": an exit takes 1.." + std::to_string(MAX_EXIT_CAPACITY) +
                             " cars a tick");
            plan.roads.exitCapacity = static_cast<std::int32_t>(cap);
        } else if (p.key == "order") {
            EvacuationOrder order;
            if (const std::string why = parse_order(p.value, town, order); !why.empty())
                return fault(why);
            if (order.tick > ticks)
                return fault("\"" + p.value + "\": tick " + std::to_string(order.tick) +
                             " lies past the run's " + std::to_string(ticks) + " ticks");
            plan.orders.push_back(order);
        } else {
            const RoadAction action = p.key == "close"    ? RoadAction::Close
                                      : p.key == "reopen" ? RoadAction::Reopen
                                                          : RoadAction::Contraflow;
            std::string why;
            const std::string text = with_ticks(p.value, town, why);
            RoadOperation op;
            if (why.empty()) why = parse_road_operation(action, text, op);
            if (!why.empty()) return fault(why);
            if (op.tick > ticks)
                return fault("\"" + p.value + "\": tick " + std::to_string(op.tick) +
                             " lies past the run's " + std::to_string(ticks) + " ticks");
            RoadPlan one;
            one.operations = {op};
            if (const std::string problem = check_road_plan(town, one); !problem.empty())
                return fault("\"" + p.value + "\": " + problem.substr(problem.find(": ") + 2));
            plan.roads.operations.push_back(op);
        }
    }
    return check_orders(town, plan.orders, ticks);
}

std::string plan_stem(std::string_view path) {
    if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    if (const std::size_t dot = path.rfind('.'); dot != std::string_view::npos && dot > 0)
        path = path.substr(0, dot);
    return std::string(path);
}

bool read_plan_file(const std::string& path, std::shared_ptr<const Town> town, long long ticks,
                    Plan& plan, std::string& error) {
    plan = {};
    if (std::string why = read_regular_file(path, MAX_PLAN_BYTES, plan.text); !why.empty()) {
        error = std::move(why);
        return false;
    }
    std::vector<PlanLine> lines;
    if (const std::string why = split_plan_text(plan.text, lines); !why.empty()) {
        error = path + ":" + why;
        return false;
    }
    plan.name = plan_stem(path);
    plan.file = path;
    for (const PlanLine& p : lines) {
        if (p.key != "zones") continue;
        const std::size_t slash = path.rfind('/');
        const std::string file = p.value.front() == '/' || slash == std::string::npos
                                     ? p.value
                                     : path.substr(0, slash + 1) + p.value;
        auto zoned = std::make_shared<Town>(town ? *town : builtin_town());
        std::string why;
        if (!read_zones_file(file, *zoned, why)) {
            error = path + ":" + at(p.line, p.valueColumn, "zones: " + why);
            return false;
        }
        town = std::move(zoned);
    }
    plan.town = town;
    bool named = false;
    for (const PlanLine& p : lines) named = named || p.key == "name";
    // The name heads rows and tables: a stem with a comma or a space cannot.
    if (!named && !valid_zone_name(plan.name)) {
        error =
            path + ": \"" + plan.name +
            "\" is no plan name (letters, digits, '_' and '-'): give the plan a `name = ...` line";
        return false;
    }
    if (const std::string why = read_plan_lines(lines, town ? *town : builtin_town(), ticks, plan);
        !why.empty()) {
        error = path + (why[0] >= '0' && why[0] <= '9' ? ":" : ": ") + why;
        return false;
    }
    return true;
}

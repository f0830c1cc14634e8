#include "experiments/planning/road_text.h"

#include <charconv>

namespace {

constexpr std::int64_t MAX_OPERATION_TICK = 16777216;  // the clock counts ticks exactly up to 2^24
constexpr std::int64_t MAX_COORDINATE = 1 << 20;

bool whole(std::string_view s, std::int64_t lo, std::int64_t hi, std::int64_t& v) {
    if (s.empty() || s.front() == '+') return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && v >= lo && v <= hi;
}

bool cell(std::string_view s, CellPos& c) {
    const std::size_t comma = s.find(',');
    std::int64_t x = 0, y = 0;
    if (comma == std::string_view::npos ||
        !whole(s.substr(0, comma), -MAX_COORDINATE, MAX_COORDINATE, x) ||
        !whole(s.substr(comma + 1), -MAX_COORDINATE, MAX_COORDINATE, y))
        return false;
    c = {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
    return true;
}

struct Named {
    const char* name;
    std::uint8_t bit;
};
constexpr Named DIRECTIONS[] = {
    {"up", DIR_Y_INC}, {"down", DIR_Y_DEC}, {"left", DIR_X_DEC}, {"right", DIR_X_INC}};

std::string text_of(CellPos c) {
    return std::to_string(c.x) + "," + std::to_string(c.y);
}

}  // namespace

const char* road_option_name(RoadAction action) {
    return action == RoadAction::Close    ? "--close"
           : action == RoadAction::Reopen ? "--reopen"
                                          : "--contraflow";
}

std::string parse_road_operation(RoadAction action, std::string_view text, RoadOperation& op) {
    const bool contraflow = action == RoadAction::Contraflow;
    std::string shown = "\"";
    shown += text;
    shown += "\"";
    const std::string form =
        contraflow ? "X,Y:X2,Y2@TICK or X,Y:X2,Y2@TICK:DIR" : "X,Y@TICK or X,Y:X2,Y2@TICK";
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos) return shown + " is not " + form;
    const std::string_view cells = text.substr(0, at);
    std::string_view when = text.substr(at + 1);
    RoadOperation parsed;
    parsed.action = action;
    const std::size_t colon = cells.find(':');
    if (!cell(cells.substr(0, colon), parsed.from) ||
        (colon != std::string_view::npos && !cell(cells.substr(colon + 1), parsed.to)))
        return shown + ": the cells must be X,Y or X,Y:X2,Y2, whole numbers (" + form + ")";
    if (colon == std::string_view::npos) parsed.to = parsed.from;
    const std::size_t dirAt = when.find(':');
    if (dirAt != std::string_view::npos) {
        const std::string_view dir = when.substr(dirAt + 1);
        if (!contraflow) return shown + ": only a contraflow takes a direction (" + form + ")";
        for (const Named& d : DIRECTIONS)
            if (dir == d.name) parsed.direction = d.bit;
        if (parsed.direction == 0)
            return shown + ": the direction must be up, down, left or right";
        when = when.substr(0, dirAt);
    }
    std::int64_t tick = 0;
    if (!whole(when, 0, MAX_OPERATION_TICK, tick))
        return shown + ": the tick must be a whole number 0.." + std::to_string(MAX_OPERATION_TICK);
    parsed.tick = tick;
    op = parsed;
    return {};
}

std::string road_operation_text(const RoadOperation& op) {
    std::string s = text_of(op.from);
    if (!(op.from == op.to)) s += ":" + text_of(op.to);
    s += "@" + std::to_string(op.tick);
    for (const Named& d : DIRECTIONS)
        if (op.direction == d.bit) s += std::string(":") + d.name;
    return s;
}

std::string road_plan_words(const RoadPlan& plan) {
    std::string s;
    if (plan.exitCapacity > 0) s += "--exit-capacity " + std::to_string(plan.exitCapacity);
    for (const RoadOperation& op : plan.operations) {
        if (!s.empty()) s += ' ';
        s += road_option_name(op.action);
        s += ' ';
        s += road_operation_text(op);
    }
    return s;
}

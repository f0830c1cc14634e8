#include "web/marovel_web.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "experiments/planning/parameter_text.h"
#include "sim/driver.h"
#include "sim/fingerprint.h"
#include "sim/scenario.h"
#include "sim/town_text.h"

namespace {

// The most ticks a fingerprint run of the page prints: its text stays a few megabytes.
constexpr int MAX_FINGERPRINT_TICKS = 100000;

// A cell holding cars of several states shows the one of highest rank, as the
// window's car-state overlay does: waiting, evacuated, en route, gave up,
// towed, out of gas above all.
constexpr int STATE_RANK[TALLY_SLOTS] = {0, 1, 3, 2, 4, 5};
constexpr std::uint8_t THREATENED_HOUSE = 0x80;

struct Page {
    Simulation sim;
    ModelParameters next;  // the parameters of the next rebuild
    double ticks = 0;      // since the last rebuild
    std::int32_t counts[TALLY_SLOTS] = {};
    std::vector<std::uint8_t> frames, states, cells;
    float storm[12 + 2 * MAROVEL_TRACK_POINTS] = {};
    std::string text;
};

Page& page() {
    static const std::unique_ptr<Page> p = std::make_unique<Page>();
    return *p;
}

int refuse(std::string why) {
    page().text = std::move(why);
    return 0;
}

std::size_t cell_count(const RoadGrid& g) {
    return static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height);
}

void rebuilt(Page& p) {
    p.ticks = 0;
}

}  // namespace

extern "C" {

void marovel_start() {
    Page& p = page();
    p.sim.parameters = p.next;
    init_app(p.sim);
    rebuilt(p);
}

int marovel_rebuild(int how) {
    Page& p = page();
    if (const ParameterCheck check = check_parameters(p.next); !check.ok()) return refuse(check.text);
    p.sim.parameters = p.next;
    switch (how) {
        case 1:
            next_scenario(p.sim);
            break;
        case 2:
            previous_scenario(p.sim);
            break;
        case 3:
            build_scenario(p.sim, {p.sim.scenarioSeed, p.next, true, p.sim.roads});
            break;
        default:
            reset_scenario(p.sim);
            break;
    }
    rebuilt(p);
    return 1;
}

void marovel_set_seed(std::int32_t seed) {
    page().sim.scenarioSeed = seed;
}

std::int32_t marovel_seed() {
    return page().sim.scenarioSeed;
}

void marovel_tick(int count) {
    Page& p = page();
    for (int i = 0; i < count; ++i) sim_tick(p.sim);
    if (count > 0) p.ticks += count;
}

double marovel_ticks_run() {
    return page().ticks;
}

const std::int32_t* marovel_counts() {
    Page& p = page();
    const VehicleTally& t = current_tally(p.sim.vehicles);
    const std::int32_t counts[TALLY_SLOTS] = {t.notEvacuated, t.evacuated, t.gaveUp,
                                              t.enRoute,      t.towed,     t.outOfGas};
    for (int k = 0; k < TALLY_SLOTS; ++k) p.counts[k] = counts[k];
    return p.counts;
}

std::int32_t marovel_width() {
    return page().sim.grid.width;
}

std::int32_t marovel_height() {
    return page().sim.grid.height;
}

const std::uint8_t* marovel_car_frames() {
    Page& p = page();
    const RoadGrid& g = p.sim.grid;
    p.frames.assign(cell_count(g), 0);
    for (std::size_t i = 0; i < p.frames.size(); ++i) {
        const GridCell& c = g.cells[i];
        if (c.traffic == 0) continue;
        if (c.layout == LAYOUT_HOUSE)
            p.frames[i] = 1;
        else if (c.traffic <= DIR_ALL)
            p.frames[i] = c.traffic;
    }
    return p.frames.data();
}

const std::uint8_t* marovel_car_states() {
    Page& p = page();
    const RoadGrid& g = p.sim.grid;
    p.states.assign(cell_count(g), 0);
    int rankSlot[TALLY_SLOTS] = {};
    for (int slot = 0; slot < TALLY_SLOTS; ++slot) rankSlot[STATE_RANK[slot]] = slot;
    std::vector<std::uint8_t>& shown = p.states;
    const VehicleTable& table = p.sim.vehicles;
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        const int slot = tally_slot(v);
        if (slot >= 0 && in_grid(g, v.pos.x, v.pos.y)) {
            std::uint8_t& s = shown[static_cast<std::size_t>(cell_index(g, v.pos))];
            const int rank = STATE_RANK[slot] + 1;
            if (rank > (s & 0x7F)) s = static_cast<std::uint8_t>((s & THREATENED_HOUSE) | rank);
        }
        if (static_cast<std::size_t>(i) < p.sim.storm.threatFlags.size() &&
            p.sim.storm.threatFlags[static_cast<std::size_t>(i)] != 0 && in_grid(g, v.home.x, v.home.y))
            shown[static_cast<std::size_t>(cell_index(g, v.home))] |= THREATENED_HOUSE;
    }
    for (std::uint8_t& s : shown)
        if ((s & 0x7F) != 0)
            s = static_cast<std::uint8_t>((s & THREATENED_HOUSE) | (rankSlot[(s & 0x7F) - 1] + 1));
    return shown.data();
}

const std::uint8_t* marovel_town_cells() {
    Page& p = page();
    const Town& town = *p.sim.town;
    p.cells.assign(static_cast<std::size_t>(town.width) * static_cast<std::size_t>(town.height), 0);
    const auto at = [&](CellPos c) -> std::uint8_t& {
        return p.cells[static_cast<std::size_t>(c.y) * static_cast<std::size_t>(town.width) +
                       static_cast<std::size_t>(c.x)];
    };
    for (std::int32_t y = 0; y < town.height; ++y)
        for (std::int32_t x = 0; x < town.width; ++x) {
            const std::uint8_t layout = town.layout_at({x, y});
            at({x, y}) = layout == LAYOUT_WATER               ? 1
                         : layout == LAYOUT_HOUSE             ? 4
                         : (layout & LAYOUT_ONE_WAY) != 0     ? 3
                         : (layout & DIR_ALL) != 0            ? 2
                                                              : 0;
        }
    for (const House& h : town.houses)
        if (town.contains(door_cell(h)) && at(door_cell(h)) == 2) at(door_cell(h)) = 6;
    for (const CellPos& e : town.exits)
        if (town.contains(e)) at(e) = 5;
    return p.cells.data();
}

int marovel_builtin_town() {
    return page().sim.town == shared_builtin_town() ? 1 : 0;
}

const float* marovel_storm() {
    Page& p = page();
    const StormState& s = p.sim.storm;
    float* out = p.storm;
    out[0] = s.storm.x;
    out[1] = s.storm.y;
    out[2] = s.storm.size;
    out[3] = s.stormSpin;
    out[4] = s.stormPhase;
    // The circle the households are tested against: around the middle of the
    // zone's centre cell, half the zone's size as radius.
    const StormPoint zone = eval_track(s.stormTrack, s.stormPhase + s.lookAheadOffset);
    CellPos centre{};
    const bool onCell = std::isfinite(zone.size) && zone_centre_cell(zone, centre);
    out[5] = onCell ? 1.0f : 0.0f;
    out[6] = onCell ? static_cast<float>(centre.x) + 0.5f : 0.0f;
    out[7] = onCell ? static_cast<float>(centre.y) + 0.5f : 0.0f;
    out[8] = zone.size * 0.5f;
    const bool onTrack = s.stormPhase > 0.0f && std::isfinite(s.storm.x) && std::isfinite(s.storm.y);
    const StormPoint& mark = onTrack ? s.storm : s.stormTrack[0];
    out[9] = mark.x;
    out[10] = mark.y;
    out[11] = onTrack ? 1.0f : 0.0f;
    for (int i = 0; i < MAROVEL_TRACK_POINTS; ++i) {
        const StormPoint q = eval_track(
            s.stormTrack, static_cast<float>(i) / static_cast<float>(MAROVEL_TRACK_POINTS - 1));
        out[12 + 2 * i] = q.x;
        out[13 + 2 * i] = q.y;
    }
    return out;
}

const char* marovel_status_line() {
    page().text = status_line(page().sim).text;
    return page().text.c_str();
}

const char* marovel_fingerprint_line() {
    Page& p = page();
    p.text = fingerprint_line(p.sim, static_cast<long long>(p.ticks)).text;
    return p.text.c_str();
}

int marovel_parameter_count() {
    return static_cast<int>(PARAMETER_COUNT);
}

namespace {
const ParameterInfo* entry(int i) {
    return i >= 0 && static_cast<std::size_t>(i) < PARAMETER_COUNT ? &PARAMETER_TABLE[i] : nullptr;
}
}  // namespace

const char* marovel_parameter_name(int i) {
    return entry(i) ? entry(i)->name : nullptr;
}
const char* marovel_parameter_unit(int i) {
    return entry(i) ? entry(i)->unit : nullptr;
}
const char* marovel_parameter_meaning(int i) {
    return entry(i) ? entry(i)->meaning : nullptr;
}
double marovel_parameter_min(int i) {
    return entry(i) ? entry(i)->min : NAN;
}
double marovel_parameter_max(int i) {
    return entry(i) ? entry(i)->max : NAN;
}
int marovel_parameter_kind(int i) {
    return entry(i) && entry(i)->kind == ParameterKind::Integer ? 1 : 0;
}
double marovel_parameter_default(int i) {
    static const ModelParameters defaults{};
    return entry(i) ? defaults.*(entry(i)->field) : NAN;
}
const char* marovel_parameter_choice(int i, int k) {
    const ParameterInfo* info = entry(i);
    if (!info || !info->choices || k < 0) return nullptr;
    for (int j = 0; j < k; ++j)
        if (!info->choices[j]) return nullptr;
    return info->choices[k];
}

double marovel_get_parameter(const char* name) {
    const ParameterInfo* info = find_parameter(name, std::char_traits<char>::length(name));
    return info ? page().next.*(info->field) : NAN;
}

int marovel_set_parameter(const char* name, double value) {
    const ParameterInfo* info = find_parameter(name, std::char_traits<char>::length(name));
    if (!info) return refuse(quote_input(name) + " is not a parameter");
    if (const ParameterCheck check = check_parameter(*info, value); !check.ok())
        return refuse(check.text);
    page().next.*(info->field) = stored_value(*info, value);
    return 1;
}

void marovel_default_parameters() {
    page().next = ModelParameters{};
}

int marovel_set_error(const char* text) {
    double spread = 0;
    if (std::string why = parse_error_spread(text, spread); !why.empty()) return refuse(why);
    page().next.errorSpread = spread;
    return 1;
}

int marovel_load_town(const char* text, int length) {
    auto town = std::make_shared<Town>();
    TownTextError error;
    if (length < 0 || !parse_town(std::string_view(text, static_cast<std::size_t>(length)), *town,
                                  error)) {
        std::string where;
        if (error.line > 0) where = "line " + std::to_string(error.line);
        if (error.column > 0) where += ", column " + std::to_string(error.column);
        return refuse(where.empty() ? error.message : where + ": " + error.message);
    }
    Page& p = page();
    if (const ParameterCheck check = check_parameters(p.next); !check.ok()) return refuse(check.text);
    p.sim.town = std::move(town);
    return marovel_rebuild(0);
}

void marovel_builtin() {
    Page& p = page();
    p.sim.town = shared_builtin_town();
    if (!marovel_rebuild(0)) {
        p.sim.parameters = ModelParameters{};
        reset_scenario(p.sim);
        rebuilt(p);
    }
}

int marovel_fingerprint_run(std::int32_t seed, const char* error, int ticks) {
    ScenarioSetup setup;
    setup.seed = seed;
    double spread = 0;
    if (std::string why = parse_error_spread(error, spread); !why.empty())
        return refuse("--error: " + why);
    if (ticks < 1 || ticks > MAX_FINGERPRINT_TICKS)
        return refuse("--ticks: " + std::to_string(ticks) + " is not in 1.." +
                      std::to_string(MAX_FINGERPRINT_TICKS));
    setup.parameters.errorSpread = spread;
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, setup, shared_builtin_town());
    std::string out = changed_parameter_lines(setup.parameters);
    out.reserve(out.size() + static_cast<std::size_t>(ticks + 1) * 160);
    for (int tick = 0; tick <= ticks; ++tick) {
        if (tick > 0) sim_tick(*sim);
        out += fingerprint_line(*sim, tick).text;
        out += '\n';
    }
    page().text = std::move(out);
    return 1;
}

const char* marovel_text() {
    return page().text.c_str();
}

}  // extern "C"

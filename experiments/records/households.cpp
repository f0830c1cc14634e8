#include "experiments/records/households.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <utility>

#include "experiments/records/sweep_files.h"
#include "sim/driver.h"

namespace {

constexpr std::pair<HouseholdColumn, const char*> COLUMN_NAMES[] = {
    {HouseholdColumn::Car, "car"},
    {HouseholdColumn::Household, "household"},
    {HouseholdColumn::Zone, "zone"},
    {HouseholdColumn::HomeX, "home_x"},
    {HouseholdColumn::HomeY, "home_y"},
    {HouseholdColumn::HomeLat, "home_lat"},
    {HouseholdColumn::HomeLon, "home_lon"},
    {HouseholdColumn::DecisionTick, "decision_tick"},
    {HouseholdColumn::FirstThreatTick, "first_threat_tick"},
    {HouseholdColumn::Outcome, "outcome"},
    {HouseholdColumn::ArrivalTick, "arrival_tick"},
    {HouseholdColumn::TripTime, "trip_time"},
};

void append_number(std::string& out, long long value) {
    char buffer[24];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

void append_optional(std::string& out, const std::optional<long long>& value) {
    if (value) append_number(out, *value);
}

// Seven decimals: a centimetre on the ground, finer than any cell.
void append_degrees(std::string& out, double degrees) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%.7f", degrees);
    out.append(buffer, static_cast<std::size_t>(n));
}

bool has_arrived(CarOutcome o) {
    return o == CarOutcome::Evacuated || o == CarOutcome::GaveUp || o == CarOutcome::Towed;
}

}  // namespace

const char* outcome_name(CarOutcome outcome) {
    switch (outcome) {
        case CarOutcome::NeverLeft:
            return "never_left";
        case CarOutcome::Evacuated:
            return "evacuated";
        case CarOutcome::GaveUp:
            return "gave_up";
        case CarOutcome::EnRoute:
            return "en_route";
        case CarOutcome::Towed:
            return "towed";
        case CarOutcome::OutOfGas:
            return "out_of_gas";
    }
    return "unknown";
}

// The same six-way split as tally_vehicles.
CarOutcome outcome_of(const Vehicle& v) {
    switch (v.state) {
        case VS_WAITING:
            return CarOutcome::NeverLeft;
        case VS_EVACUATING:
            return v.onExit != 0 ? CarOutcome::Evacuated : CarOutcome::EnRoute;
        case VS_GAVE_UP:
            return v.pos == v.home ? CarOutcome::GaveUp : CarOutcome::EnRoute;
        default:
            return v.pos == v.home ? CarOutcome::Towed : CarOutcome::OutOfGas;
    }
}

bool needs_origin(HouseholdColumn column) {
    return column == HouseholdColumn::HomeLat || column == HouseholdColumn::HomeLon;
}

std::vector<HouseholdColumn> all_household_columns(bool placed, bool zoned) {
    std::vector<HouseholdColumn> columns;
    for (const auto& [column, name] : COLUMN_NAMES)
        if ((placed || !needs_origin(column)) && (zoned || column != HouseholdColumn::Zone))
            columns.push_back(column);
    return columns;
}

std::string parse_household_columns(std::string_view text, std::vector<HouseholdColumn>& columns) {
    columns.clear();
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view name = text.substr(0, comma);
        const auto* it = std::find_if(std::begin(COLUMN_NAMES), std::end(COLUMN_NAMES),
                                      [&](const auto& entry) { return name == entry.second; });
        if (it == std::end(COLUMN_NAMES)) {
            std::string known;
            for (const auto& entry : COLUMN_NAMES)
                known += std::string(known.empty() ? "" : ",") + entry.second;
            return "unknown column \"" + std::string(name) + "\" (" + known + ")";
        }
        if (std::find(columns.begin(), columns.end(), it->first) != columns.end())
            return "column \"" + std::string(name) + "\" given twice";
        columns.push_back(it->first);
        if (comma == std::string_view::npos) return {};
        text.remove_prefix(comma + 1);
    }
}

std::string household_column_line(const std::string& keyColumns,
                                  const std::vector<HouseholdColumn>& columns) {
    std::string line = keyColumns.substr(0, keyColumns.size() - 1);
    for (HouseholdColumn c : columns)
        for (const auto& [column, name] : COLUMN_NAMES)
            if (column == c) line += std::string(",") + name;
    return line + "\n";
}

void HouseholdRecorder::observe(const Simulation& sim, long long tick) {
    const VehicleTable& table = sim.vehicles;
    if (tick == 0) {
        // Households numbered by their house, in the order the table meets them.
        cars_.assign(static_cast<std::size_t>(table.vehicleCount), Car{});
        town_ = sim.town;
        const std::vector<std::uint8_t> zones = car_zones(*sim.town, table);
        for (std::size_t i = 0; i < cars_.size(); ++i) cars_[i].zone = zones[i];
        std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> houses;
        for (std::size_t i = 0; i < cars_.size(); ++i) {
            const CellPos home = table.vehicles[i].home;
            const auto [it, added] =
                houses.emplace(std::pair{home.y, home.x}, static_cast<std::int32_t>(houses.size()));
            cars_[i].household = it->second;
            cars_[i].home = home;
            town_lat_lon(*sim.town, home.x + 0.5, home.y + 0.5, cars_[i].lat, cars_[i].lon);
        }
    }
    for (std::size_t i = 0; i < cars_.size(); ++i) {
        Car& car = cars_[i];
        const Vehicle& v = table.vehicles[i];
        car.outcome = outcome_of(v);
        if (!car.decision && v.state != VS_WAITING) car.decision = tick;
        if (!car.threat && sim.storm.threatFlags[i] != 0) car.threat = tick;
        if (!car.arrival && has_arrived(car.outcome)) car.arrival = tick;
    }
}

void HouseholdRecorder::append_rows(std::string& out, std::string_view key,
                                    const std::vector<HouseholdColumn>& columns) const {
    key.remove_suffix(1);  // the comma, written before each column
    for (std::size_t i = 0; i < cars_.size(); ++i) {
        const Car& car = cars_[i];
        out += key;
        for (HouseholdColumn c : columns) {
            out += ',';
            switch (c) {
                case HouseholdColumn::Car:
                    append_number(out, static_cast<long long>(i));
                    break;
                case HouseholdColumn::Household:
                    append_number(out, car.household);
                    break;
                case HouseholdColumn::Zone:
                    out += zone_name(*town_, car.zone);
                    break;
                case HouseholdColumn::HomeX:
                    append_number(out, car.home.x);
                    break;
                case HouseholdColumn::HomeY:
                    append_number(out, car.home.y);
                    break;
                case HouseholdColumn::HomeLat:
                    append_degrees(out, car.lat);
                    break;
                case HouseholdColumn::HomeLon:
                    append_degrees(out, car.lon);
                    break;
                case HouseholdColumn::DecisionTick:
                    append_optional(out, car.decision);
                    break;
                case HouseholdColumn::FirstThreatTick:
                    append_optional(out, car.threat);
                    break;
                case HouseholdColumn::Outcome:
                    out += outcome_name(car.outcome);
                    break;
                case HouseholdColumn::ArrivalTick:
                    append_optional(out, has_arrived(car.outcome) ? car.arrival : std::nullopt);
                    break;
                case HouseholdColumn::TripTime:
                    if (has_arrived(car.outcome) && car.arrival && car.decision)
                        append_number(out, *car.arrival - *car.decision);
                    break;
            }
        }
        out += '\n';
    }
}

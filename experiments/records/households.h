// Per-car records of a run: who left when, and how it ended. Kept by an
// observer that reads the simulation after every tick and writes nothing into
// it, so a run with records is the same run, fingerprint for fingerprint.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/records/run_figures.h"

// How a car's run ended: the six counts of the tally, one per car.
enum class CarOutcome { NeverLeft, Evacuated, GaveUp, EnRoute, Towed, OutOfGas };
const char* outcome_name(CarOutcome outcome);  // never_left, evacuated, gave_up, ...
CarOutcome outcome_of(const Vehicle& v);

// The columns a households file can have after the run's seed,step,error,spread,
// which every row starts with.
enum class HouseholdColumn {
    Car,        // the car's index in the town's table
    Household,  // its household: houses numbered in the order the table meets them
    Zone,       // its house's zone: only on a town with zones
    HomeX,      // its home cell
    HomeY,
    HomeLat,          // its home cell's centre in degrees: only on a town with an origin
    HomeLon,
    DecisionTick,     // the tick after which the household had decided to leave; empty if never
    FirstThreatTick,  // the first tick its house lay in the storm's threat zone; empty if never
    Outcome,          // never_left, evacuated, gave_up, en_route, towed, out_of_gas
    ArrivalTick,      // the first tick it stood where it ended: the exit, or home after
                      // giving up or being towed; empty otherwise
    TripTime,         // arrival tick - decision tick; empty without an arrival
};
// Every column, in the file's order; on a town without an origin (`placed`
// false), all but home_lat and home_lon; on a town without zones (`zoned`
// false), all but zone.
std::vector<HouseholdColumn> all_household_columns(bool placed, bool zoned = false);
bool needs_origin(HouseholdColumn column);  // home_lat and home_lon

// Parses "car,outcome,..." (names as in the file, each once). Error text or empty.
std::string parse_household_columns(std::string_view text, std::vector<HouseholdColumn>& columns);
// The column names line: the run's key columns (key_columns: "seed,step,error,spread,"
// or a design's) and the chosen columns, with its newline.
std::string household_column_line(const std::string& keyColumns,
                                  const std::vector<HouseholdColumn>& columns);

class HouseholdRecorder : public RunListener {
  public:
    void observe(const Simulation& sim, long long tick) override;

    // One row per car, in table order, for the run's state as last observed;
    // each starts with the run's key (plan_run_key, with its trailing comma).
    void append_rows(std::string& out, std::string_view key,
                     const std::vector<HouseholdColumn>& columns) const;

  private:
    struct Car {
        std::int32_t household = 0;
        std::uint8_t zone = 0;
        CellPos home = {};
        double lat = 0.0, lon = 0.0;  // the home cell's centre, when the town has an origin
        CarOutcome outcome = CarOutcome::NeverLeft;
        std::optional<long long> decision, threat, arrival;
    };
    std::vector<Car> cars_;
    std::shared_ptr<const Town> town_;  // the town the rows' zones are named in
};

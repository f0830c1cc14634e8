// The road guide's trip home. A car that gives up under `road` prices its
// moves by the steps along lanes, honouring their directions, from each cell
// to its own door: a field per house, made by a breadth-first search over the
// reversed lanes from the door when the first of its cars gives up, shared by
// every car of the house that is driving home, and given back when the last of
// them is home (or stranded). A field covers a square window round the door,
// just large enough for the car that asked for it, and grows to the next size
// when a car of the house stands where its window knows no road home, until it
// covers the whole town. The windows come from a pool sized when the scenario
// is built: a few sizes (32 cells across, doubling up to the town's side), each
// with a fixed number of windows out of a fixed budget of bytes. A car that
// finds no window free drives home by the straight rule instead, and is
// counted; it asks again every tick and drives by a field once one is free.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/grid.h"

struct Town;
struct Vehicle;

// A cell of a window from which the door cannot be reached inside the window.
constexpr std::uint16_t HOME_NO_ROAD = 0xFFFF;
// The pool's bytes: this many per car, and at least HOME_FIELD_MIN_BYTES.
constexpr std::int64_t HOME_FIELD_BYTES_PER_CAR = 64;
constexpr std::int64_t HOME_FIELD_MIN_BYTES = std::int64_t{2} << 20;
// The smallest window's side; each larger size doubles it.
constexpr std::int32_t HOME_FIELD_FIRST_SIDE = 32;

// What a car prices its moves by: steps + 1 from a cell of the window to the
// house (HOME_NO_ROAD where the window knows no road), row-major from (x0, y0).
struct HomeFieldView {
    const std::uint16_t* steps;
    std::int32_t x0, y0, w, h;
};

struct HomeFieldSlot {
    std::int32_t x0 = 0, y0 = 0, w = 0, h = 0;  // the window it holds now
    std::int32_t house = -1;                    // the house it serves; -1 when free
    std::int32_t size = 0;                      // its size class
    std::size_t offset = 0;                     // its first cell in the arena
};

struct HomeFieldSize {
    std::int32_t side = 0;       // the window's side before it is clipped to the town
    std::int32_t w = 0, h = 0;   // its width and height in this town
    std::int32_t first = 0;      // its first slot
    std::int32_t count = 0;      // its slots
    std::int32_t freeCount = 0;  // free slots: freeList[first .. first + freeCount)
};

struct HomeFields {
    bool active = false;  // the road guide: cars that give up drive home by these fields
    std::vector<std::uint16_t> arena;    // every slot's cells
    std::vector<HomeFieldSlot> fields;   // the slots, size by size
    std::vector<HomeFieldSize> sizes;    // smallest first; the last covers the whole town
    std::vector<std::int32_t> freeList;  // free slot numbers, a stack per size
    std::vector<std::uint32_t>
        queue;  // the search's queue: one entry per cell of the largest window
    std::vector<std::int32_t> firstCar;   // per house, and one past the last: its cars' first entry
    std::vector<std::int32_t> houseSlot;  // per house: the slot of its field, -1 for none
    std::vector<std::int32_t> holders;    // per house: its cars that drive by that field
    std::vector<std::int32_t> carSlot;    // per car: the slot it drives by; -1 none; HOME_STRAIGHT
    // Kept counts: fields searched (growths included), cars that found no
    // window free and drove home by the straight rule for a while, and the
    // ticks they drove so.
    std::int64_t fieldsBuilt = 0;
    std::int64_t straightFallbacks = 0;
    std::int64_t straightTicks = 0;
};

// A car that found no window: it drives home by the straight rule until one is free.
constexpr std::int32_t HOME_STRAIGHT = -2;

// Sizes the pool for the town and its `cars` cars (carsPerHouse in a house
// without a count of its own, in the houses' order) when `active`, and frees every field; allocates
// only when the town's size or car count differs from the last build.
void prepare_home_fields(HomeFields& home, const Town& town, std::int32_t carsPerHouse,
                         std::int32_t cars, bool active);
// Every field given back, every car holding none (after callers edit cars).
void clear_home_fields(HomeFields& home);

// The field car `index` (which has given up and is not home) drives by,
// searched or grown first when needed; null when it drives by the straight rule.
const std::uint16_t* home_field_for(HomeFields& home, const RoadGrid& grid, const Vehicle& v,
                                    std::int32_t index, HomeFieldView& view);
// Car `index` no longer drives home (it is home, or stranded): its house's field
// goes back to the pool when it was the last car holding it.
void release_home_field(HomeFields& home, std::int32_t index);

// The house of car `index`.
std::int32_t house_of_car(const HomeFields& home, std::int32_t index);

// The road grid a simulation drives on: one cell per square of its town, each
// with a fixed layout (what may enter) and a traffic byte (who stands on it now).
// Its size comes from the town when a scenario is built, never during a tick.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

// The built-in town's size and exit. Code that draws or inspects the built-in
// town may use them; everything that runs a simulation reads its grid instead.
constexpr int GRID_W = 40;  // columns, x = 0..39
constexpr int GRID_H = 30;  // rows, y = 0..29
constexpr int GRID_CELLS = GRID_W * GRID_H;

struct CellPos {
    std::int32_t x;  // column
    std::int32_t y;  // row
};

constexpr bool operator==(CellPos a, CellPos b) {
    return a.x == b.x && a.y == b.y;
}

// Direction bits. A move's bit is the mover's heading afterwards; the entered
// cell's layout must allow it and its traffic must not hold it yet.
constexpr std::uint8_t DIR_Y_DEC = 1;  // to (x, y-1)
constexpr std::uint8_t DIR_X_DEC = 2;  // to (x-1, y)
constexpr std::uint8_t DIR_Y_INC = 4;  // to (x, y+1)
constexpr std::uint8_t DIR_X_INC = 8;  // to (x+1, y)
constexpr std::uint8_t DIR_ALL = 0x0F;

// The fixed order in which moves are priced and ties are broken; not the bit order.
constexpr std::array<std::uint8_t, 4> MOVE_ORDER = {DIR_Y_DEC, DIR_X_DEC, DIR_X_INC, DIR_Y_INC};

// The move back: y-1 for y+1, x-1 for x+1 and so on.
constexpr std::uint8_t reverse_move(std::uint8_t bit) {
    return static_cast<std::uint8_t>(((bit << 2) | (bit >> 2)) & DIR_ALL);
}
// The step of a single move bit.
constexpr CellPos move_step(std::uint8_t bit) {
    return bit == DIR_Y_DEC   ? CellPos{0, -1}
           : bit == DIR_X_DEC ? CellPos{-1, 0}
           : bit == DIR_Y_INC ? CellPos{0, 1}
                              : CellPos{1, 0};
}

// Layout values. A house is exactly 1, and that test comes before any bit test:
// the house value shares its bit with DIR_Y_DEC but a house is never a road.
// Every other value's low four bits are the moves that may enter the cell.
constexpr std::uint8_t LAYOUT_BLOCKED = 0x00;
constexpr std::uint8_t LAYOUT_HOUSE = 0x01;
constexpr std::uint8_t LAYOUT_ROAD_Y = 0x05;    // entered by y moves only
constexpr std::uint8_t LAYOUT_ROAD_X = 0x0A;    // entered by x moves only
constexpr std::uint8_t LAYOUT_ROAD_ANY = 0x0F;  // entered from all four sides
// Water: blocked like 0x00, but drawn as water. No direction bits.
constexpr std::uint8_t LAYOUT_WATER = 0x10;
// One-way roads, entered by one move only: 0x20 marks them, the low bits say
// which move. 0x20 keeps the y-1 one-way (bit 1) apart from the house (exactly 1).
constexpr std::uint8_t LAYOUT_ONE_WAY = 0x20;
constexpr std::uint8_t LAYOUT_ONE_WAY_Y_DEC = LAYOUT_ONE_WAY | DIR_Y_DEC;
constexpr std::uint8_t LAYOUT_ONE_WAY_X_DEC = LAYOUT_ONE_WAY | DIR_X_DEC;
constexpr std::uint8_t LAYOUT_ONE_WAY_Y_INC = LAYOUT_ONE_WAY | DIR_Y_INC;
constexpr std::uint8_t LAYOUT_ONE_WAY_X_INC = LAYOUT_ONE_WAY | DIR_X_INC;

// A road cell: not a house, and some move may enter it.
constexpr bool is_road(std::uint8_t layout) {
    return layout != LAYOUT_HOUSE && (layout & DIR_ALL) != 0;
}
// One of the values above.
constexpr bool is_known_layout(std::uint8_t layout) {
    switch (layout) {
        case LAYOUT_BLOCKED:
        case LAYOUT_HOUSE:
        case LAYOUT_ROAD_Y:
        case LAYOUT_ROAD_X:
        case LAYOUT_ROAD_ANY:
        case LAYOUT_WATER:
        case LAYOUT_ONE_WAY_Y_DEC:
        case LAYOUT_ONE_WAY_X_DEC:
        case LAYOUT_ONE_WAY_Y_INC:
        case LAYOUT_ONE_WAY_X_INC:
            return true;
        default:
            return false;
    }
}

struct GridCell {
    std::uint8_t layout;   // fixed between resets, copied from the town
    std::uint8_t traffic;  // road: OR of the headings standing here; house: cars parked
};

// A limit on the cars an exit takes in: at most `capacity` enter it in one
// tick; the rest wait on the road behind it.
struct ExitQuota {
    CellPos cell;            // the exit
    std::int32_t capacity;   // cars a tick, at least 1
    std::int32_t taken;      // cars that have entered it this tick
};

struct RoadGrid {
    std::int32_t width = 0;   // columns, 1..4096
    std::int32_t height = 0;  // rows, 1..4096
    std::vector<GridCell> cells;  // row-major: element y * width + x
    // The exits. Every evacuating car drives to one; cars that arrive share it
    // without limit unless a quota says otherwise. With a single exit, is_exit
    // compares with it; with more, it reads one bit per cell.
    CellPos firstExit = {0, 0};
    bool singleExit = true;
    std::vector<std::uint64_t> exitBits;  // bit (y * width + x) set on every exit; empty for one
    std::vector<CellPos> exits;           // every exit, as the town lists them
    std::vector<ExitQuota> quotas;        // the exits that take a limited number a tick; usually none
    // Under the road guide, steps along lanes from each cell to the nearest
    // exit (the town's, which the simulation keeps alive); null under the straight rule.
    const std::int32_t* exitSteps = nullptr;
    // Under the road guide, once a road plan has changed the lanes (ownSteps):
    // the run's own steps, one per cell, in place of the town's. Held by value,
    // so that a copy of the grid drives by its own; sized while a plan is in
    // force, and kept through rebuilds.
    bool ownSteps = false;
    std::vector<std::int32_t> plannedSteps;
    // With more than one exit, the square of the straight-line distance from
    // each cell to the nearest (the town's); null with one exit, or when not set.
    const std::uint32_t* exitSquares = nullptr;
};

// The steps to the exits cars drive by under the road guide (null under the
// straight rule): the run's own once its plan changed the lanes, else the town's.
inline const std::int32_t* exit_steps(const RoadGrid& grid) {
    return grid.ownSteps ? grid.plannedSteps.data() : grid.exitSteps;
}

// The built-in town's one exit.
constexpr CellPos ExitCell = {20, 29};

// The built-in town, 30 rows of 40 layout bytes, row-major: element y * 40 + x.
extern const std::array<std::uint8_t, GRID_CELLS> MapLayoutTable;

inline bool in_grid(const RoadGrid& grid, std::int32_t x, std::int32_t y) {
    return x >= 0 && x < grid.width && y >= 0 && y < grid.height;
}
inline std::int64_t cell_index(const RoadGrid& grid, CellPos p) {
    return static_cast<std::int64_t>(p.y) * grid.width + p.x;
}
inline GridCell& cell_at(RoadGrid& grid, CellPos p) {
    return grid.cells[static_cast<std::size_t>(p.y * grid.width + p.x)];
}
inline const GridCell& cell_at(const RoadGrid& grid, CellPos p) {
    return grid.cells[static_cast<std::size_t>(p.y * grid.width + p.x)];
}
// True on an exit. The cell must lie in the grid.
inline bool is_exit(const RoadGrid& grid, CellPos p) {
    if (grid.singleExit) return p == grid.firstExit;
    const std::size_t i = static_cast<std::size_t>(p.y * grid.width + p.x);
    return (grid.exitBits[i >> 6] >> (i & 63) & 1u) != 0;
}

// The quota of an exit, or null for an exit (or any cell) without one.
inline ExitQuota* exit_quota(RoadGrid& grid, CellPos p) {
    for (ExitQuota& q : grid.quotas)
        if (q.cell == p) return &q;
    return nullptr;
}
inline bool exit_full(const RoadGrid& grid, CellPos p) {
    for (const ExitQuota& q : grid.quotas)
        if (q.cell == p) return q.taken >= q.capacity;
    return false;
}

// A grid of that size, every cell blocked and empty, without exits.
RoadGrid blank_grid(std::int32_t width = GRID_W, std::int32_t height = GRID_H);

// 1 when both cells are the same, else 0.
int same_cell(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by);

// Straight-line distance between two cells in double precision. The differences
// are formed in 64 bits, so any two 32-bit cells can be measured.
double cell_distance(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by);
inline double cell_distance(CellPos a, CellPos b) {
    return cell_distance(a.x, a.y, b.x, b.y);
}

// OR the bits into / clear them from the cell's traffic. The cell must lie in the grid.
void set_traffic(RoadGrid& grid, CellPos p, std::uint8_t bits);
void clear_traffic(RoadGrid& grid, CellPos p, std::uint8_t bits);

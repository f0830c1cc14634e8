// The town's road grid: 40 x 30 cells, each with a fixed layout (what may enter)
// and a traffic byte (who stands on it now).
#pragma once

#include <array>
#include <cstdint>

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

// The fixed order in which moves are priced and ties are broken; not the bit order.
constexpr std::array<std::uint8_t, 4> MOVE_ORDER = {DIR_Y_DEC, DIR_X_DEC, DIR_X_INC, DIR_Y_INC};

// Layout values. A house is exactly 1, and that test comes before any bit test:
// the house value shares its bit with DIR_Y_DEC but a house is never a road.
constexpr std::uint8_t LAYOUT_BLOCKED = 0x00;
constexpr std::uint8_t LAYOUT_HOUSE = 0x01;
constexpr std::uint8_t LAYOUT_ROAD_Y = 0x05;    // entered by y moves only
constexpr std::uint8_t LAYOUT_ROAD_X = 0x0A;    // entered by x moves only
constexpr std::uint8_t LAYOUT_ROAD_ANY = 0x0F;  // entered from all four sides

struct GridCell {
    std::uint8_t layout;   // fixed between resets, copied from the map table
    std::uint8_t traffic;  // road: OR of the headings standing here; house: cars parked
};

struct RoadGrid {
    GridCell cells[GRID_H][GRID_W];  // [y][x]
};

// Every evacuating car drives here; cars that arrive share it without limit.
constexpr CellPos ExitCell = {20, 29};

// The built-in town, 30 rows of 40 layout bytes, row-major: element y * 40 + x.
extern const std::array<std::uint8_t, GRID_CELLS> MapLayoutTable;

inline bool in_grid(std::int32_t x, std::int32_t y) {
    return x >= 0 && x < GRID_W && y >= 0 && y < GRID_H;
}
inline GridCell& cell_at(RoadGrid& grid, CellPos p) {
    return grid.cells[p.y][p.x];
}
inline const GridCell& cell_at(const RoadGrid& grid, CellPos p) {
    return grid.cells[p.y][p.x];
}

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

#include "sim/grid.h"

#include <cmath>
#include <string_view>

namespace {

// The town as drawn by its planners, row 0 first. '+' four-way road, 'v' road
// along y only, '=' road along x only, 'H' house, '.' blocked. Columns 19 and 20
// are the river; the '=' pairs are its bridges, and (20, 29) is the exit.
constexpr std::string_view MAP_ROWS[GRID_H] = {
    "+++++++++++++++++++==+++++++++++++++++++",  // 0
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 1
    "+++++++++++++++++++..+++++++++++++++++++",  // 2
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 3
    "+++++++++++++++++++..+++++++++++++++++++",  // 4
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 5
    "+++++++++++++++++++==+++++++++++++++++++",  // 6
    ".HHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHH.",  // 7
    "......v.....v.....v..v.....v.....v......",  // 8
    "......v.....v.....v..v.....v.....v......",  // 9
    "+++++++++++++++++++==+++++++++++++++++++",  // 10
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 11
    "+++++++++++++++++++..+++++++++++++++++++",  // 12
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 13
    "+++++++++++++++++++..+++++++++++++++++++",  // 14
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 15
    "+++++++++++++++++++==+++++++++++++++++++",  // 16
    ".HHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHH.",  // 17
    "......v.....v.....v..v.....v.....v......",  // 18
    "......v.....v.....v..v.....v.....v......",  // 19
    "+++++++++++++++++++==+++++++++++++++++++",  // 20
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 21
    "+++++++++++++++++++..+++++++++++++++++++",  // 22
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 23
    "+++++++++++++++++++..+++++++++++++++++++",  // 24
    "vHHHHHvHHHHHvHHHHHv..vHHHHHvHHHHHvHHHHHv",  // 25
    "+++++++++++++++++++==+++++++++++++++++++",  // 26
    ".HHHHH.HHHHH.HHHHHv..vHHHHH.HHHHH.HHHHH.",  // 27
    "..................v..v..................",  // 28
    "..................+==+..................",  // 29
};

constexpr std::uint8_t layout_of(char symbol) {
    switch (symbol) {
        case '+':
            return LAYOUT_ROAD_ANY;
        case 'v':
            return LAYOUT_ROAD_Y;
        case '=':
            return LAYOUT_ROAD_X;
        case 'H':
            return LAYOUT_HOUSE;
        default:
            return LAYOUT_BLOCKED;
    }
}

constexpr std::array<std::uint8_t, GRID_CELLS> build_table() {
    std::array<std::uint8_t, GRID_CELLS> table{};
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) table[y * GRID_W + x] = layout_of(MAP_ROWS[y][x]);
    return table;
}

constexpr int count_layout(const std::array<std::uint8_t, GRID_CELLS>& table, std::uint8_t value) {
    int n = 0;
    for (std::uint8_t v : table) n += v == value ? 1 : 0;
    return n;
}

constexpr bool rows_complete() {
    for (std::string_view row : MAP_ROWS)
        if (row.size() != GRID_W) return false;
    return true;
}

constexpr std::array<std::uint8_t, GRID_CELLS> TABLE = build_table();

static_assert(rows_complete(), "every map row has 40 cells");
static_assert(count_layout(TABLE, LAYOUT_ROAD_ANY) == 458);
static_assert(count_layout(TABLE, LAYOUT_ROAD_Y) == 112);
static_assert(count_layout(TABLE, LAYOUT_ROAD_X) == 14);
static_assert(count_layout(TABLE, LAYOUT_HOUSE) == 360);
static_assert(count_layout(TABLE, LAYOUT_BLOCKED) == 256);
static_assert(TABLE[ExitCell.y * GRID_W + ExitCell.x] == LAYOUT_ROAD_X);

}  // namespace

const std::array<std::uint8_t, GRID_CELLS> MapLayoutTable = TABLE;

RoadGrid blank_grid(std::int32_t width, std::int32_t height) {
    RoadGrid g;
    g.width = width;
    g.height = height;
    g.cells.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                   GridCell{LAYOUT_BLOCKED, 0});
    g.firstExit = {-1, -1};
    return g;
}

int same_cell(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by) {
    return ax == bx && ay == by ? 1 : 0;
}

double cell_distance(std::int32_t ax, std::int32_t ay, std::int32_t bx, std::int32_t by) {
    const float dx = static_cast<float>(std::int64_t{bx} - std::int64_t{ax});
    const float dy = static_cast<float>(std::int64_t{by} - std::int64_t{ay});
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

void set_traffic(RoadGrid& grid, CellPos p, std::uint8_t bits) {
    cell_at(grid, p).traffic |= bits;
}

void clear_traffic(RoadGrid& grid, CellPos p, std::uint8_t bits) {
    cell_at(grid, p).traffic &= static_cast<std::uint8_t>(~bits);
}

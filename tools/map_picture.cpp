// The town map: every cell of the built-in road table painted where the
// renderer shows that cell.
//
// Each pixel is the average of SAMPLES x SAMPLES points. A point is shaded in
// cell units (one unit per cell, y up), so shapes are designed on square cells
// and come out square on screen even though a cell is 51.2 x 34.13 pixels here.
// Reading the layout: '+' cells are full-width asphalt with dashed lines both
// ways; 'v' cells a narrow road with a dashed line along y; '=' cells a road along
// x, which on this map is always a bridge; houses show a hipped roof beside a
// driveway (where the parked-car sprite sits); blocked land is grass and trees.
#include <cmath>
#include <cstdint>

#include "paint.h"
#include "pictures.h"
#include "sim/grid.h"

namespace {

using paint::Colour;
using paint::rgb;

constexpr int SAMPLES = 3;  // per pixel side: 9 points, enough for clean edges

// The blocked strip that the roads cross on bridges.
constexpr int RIVER_X0 = 19;
constexpr int RIVER_X1 = 20;

constexpr Colour GRASS = rgb(92, 140, 62);
constexpr Colour LAWN = rgb(114, 166, 78);
constexpr Colour HEDGE = rgb(50, 94, 44);
constexpr Colour ASPHALT = rgb(74, 76, 82);
constexpr Colour SIDEWALK = rgb(178, 176, 168);
constexpr Colour MARKING = rgb(238, 236, 224);
constexpr Colour DRIVEWAY = rgb(170, 160, 144);
constexpr Colour PATH = rgb(200, 190, 170);
constexpr Colour WATER_DEEP = rgb(34, 86, 146);
constexpr Colour WATER_SHALLOW = rgb(70, 138, 178);
constexpr Colour SAND = rgb(198, 184, 138);
constexpr Colour RAILING = rgb(214, 212, 204);
constexpr Colour DECK = rgb(128, 120, 110);  // bridges are paved apart from the streets
constexpr Colour OUTLINE = rgb(40, 40, 44);
constexpr Colour TREE_DARK = rgb(34, 84, 40);
constexpr Colour TREE_LIGHT = rgb(86, 146, 70);
constexpr Colour EXIT_GREEN = rgb(36, 170, 84);
constexpr Colour EXIT_YELLOW = rgb(250, 206, 20);
constexpr Colour EXIT_BLACK = rgb(28, 28, 28);
constexpr Colour WHITE = rgb(250, 250, 246);

// Roof colours, picked per house.
constexpr Colour ROOFS[] = {rgb(176, 86, 60),   rgb(92, 96, 110),  rgb(132, 92, 64),
                            rgb(104, 120, 140), rgb(150, 110, 80), rgb(120, 70, 60)};

std::uint8_t layout_at(int x, int y) {
    if (x < 0 || x >= GRID_W || y < 0 || y >= GRID_H) return LAYOUT_BLOCKED;  // the built-in town
    return MapLayoutTable[static_cast<std::size_t>(y * GRID_W + x)];
}

bool is_road(std::uint8_t layout) {
    return layout != LAYOUT_BLOCKED && layout != LAYOUT_HOUSE;
}
bool in_river(int x) {
    return x == RIVER_X0 || x == RIVER_X1;
}

double frac(double v) {
    return v - std::floor(v);
}

// A cell's own point: its column and row, and where inside it (0..1 each way).
struct Point {
    int cx, cy;
    double u, v;    // inside the cell, v up
    double wx, wy;  // on the whole map, in cells
};

Colour grass(const Point& p, Colour base) {
    const double n = paint::fractal_noise(p.wx * 3.0, p.wy * 3.0, 3, 11);
    const double fine = paint::value_noise(p.wx * 40.0, p.wy * 40.0, 12);
    return paint::scale(base, 0.88 + 0.2 * n + 0.06 * fine);
}

Colour asphalt(const Point& p) {
    const double fine = paint::value_noise(p.wx * 60.0, p.wy * 60.0, 21);
    return paint::scale(ASPHALT, 0.95 + 0.1 * fine);
}

// A dash along a road: `along` in cells, two dashes per cell.
bool dash(double along) {
    const double f = frac(along * 2.0);
    return f > 0.2 && f < 0.62;
}

// Water of the river, continuous across cells: deep in the middle, lighter near
// the banks, with streaks along the flow (y).
Colour river(const Point& p) {
    const double fromBank = std::fmin(p.wx - RIVER_X0, RIVER_X1 + 1 - p.wx);  // 0..1
    if (fromBank < 0.07) {
        const double n = paint::value_noise(p.wx * 50.0, p.wy * 50.0, 31);
        return paint::scale(SAND, 0.9 + 0.15 * n);
    }
    const double depth = paint::smoothstep(0.07, 0.5, fromBank);
    Colour c = paint::mix(WATER_SHALLOW, WATER_DEEP, depth);
    const double streak = paint::fractal_noise(p.wx * 14.0, p.wy * 2.5, 3, 32);
    c = paint::scale(c, 0.9 + 0.22 * streak);
    if (fromBank < 0.1) c = paint::mix(c, WHITE, 0.35);  // foam at the edge
    return c;
}

// Light comes from the upper left, so shadows fall down and to the right.
constexpr double SHADOW_DX = 0.035, SHADOW_DY = -0.035;

// A deck along x over the water, railings on both sides, one dashed line, and
// its shadow on the water below.
Colour bridge(const Point& p) {
    constexpr double lo = 0.14, hi = 0.86, rail = 0.09;
    if (p.v < lo || p.v > hi) {
        Colour c = river(p);
        if (p.v < lo && p.v > lo - 0.08) c = paint::scale(c, 0.55);
        return c;
    }
    if (p.v < lo + 0.02 || p.v > hi - 0.02) return OUTLINE;
    if (p.v < lo + rail || p.v > hi - rail) {
        // Railing posts every eighth of a cell.
        const bool post = frac(p.wx * 8.0) < 0.25;
        return post ? paint::scale(RAILING, 0.75) : RAILING;
    }
    if (p.v < lo + rail + 0.015 || p.v > hi - rail - 0.015) return OUTLINE;
    if (std::fabs(p.v - 0.5) < 0.03 && dash(p.wx)) return MARKING;
    // Expansion joints across the deck.
    if (frac(p.wx * 4.0) < 0.04) return paint::scale(DECK, 0.75);
    return paint::scale(DECK, 0.95 + 0.1 * paint::value_noise(p.wx * 60.0, p.wy * 60.0, 22));
}

// The exit: a green landing with a yellow and black border and a white arrow
// pointing out of the town.
Colour exit_cell(const Point& p) {
    const double edge = std::fmin(std::fmin(p.u, 1.0 - p.u), std::fmin(p.v, 1.0 - p.v));
    if (edge < 0.1) {
        if (edge < 0.015) return EXIT_BLACK;
        return frac((p.u + p.v) * 5.0) < 0.5 ? EXIT_YELLOW : EXIT_BLACK;
    }
    const double du = std::fabs(p.u - 0.5);
    const bool shaft = du < 0.09 && p.v > 0.2 && p.v < 0.56;
    const bool head = p.v >= 0.5 && p.v < 0.82 && du < (0.82 - p.v) * 0.85;
    if (shaft || head) return WHITE;
    return EXIT_GREEN;
}

// Sidewalk on every side of a road cell that borders no road; a house above
// gets a lowered kerb where its driveway comes down.
bool sidewalk(const Point& p, double width) {
    const bool left = !is_road(layout_at(p.cx - 1, p.cy)) && p.u < width;
    const bool right = !is_road(layout_at(p.cx + 1, p.cy)) && p.u > 1.0 - width;
    const bool below = !is_road(layout_at(p.cx, p.cy - 1)) && p.v < width;
    const bool above = !is_road(layout_at(p.cx, p.cy + 1)) && p.v > 1.0 - width;
    return left || right || below || above;
}

// Where a house's driveway runs, across the house cell (u): under the parked
// car, which the car sheet draws in the left part of the cell.
constexpr double DRIVE_U0 = 0.08, DRIVE_U1 = 0.37;

Colour crossing(const Point& p) {
    constexpr double kerb = 0.09;
    if (sidewalk(p, kerb)) {
        const bool cut = p.v > 1.0 - kerb && layout_at(p.cx, p.cy + 1) == LAYOUT_HOUSE &&
                         p.u > DRIVE_U0 && p.u < DRIVE_U1;
        if (cut) return DRIVEWAY;
        return paint::scale(SIDEWALK, 0.94 + 0.08 * paint::value_noise(p.wx * 30, p.wy * 30, 41));
    }
    // Dashed centre lines along both axes: cars may come from any side.
    if (std::fabs(p.v - 0.5) < 0.03 && dash(p.wx)) return MARKING;
    if (std::fabs(p.u - 0.5) < 0.03 && dash(p.wy)) return MARKING;
    return asphalt(p);
}

// A road along one axis only: `across` runs 0..1 over the cell's width,
// `along` is the map coordinate the road follows.
Colour axis_road(const Point& p, double across, double along, Colour verge) {
    const double d = std::fabs(across - 0.5);
    if (d > 0.38) return grass(p, verge);
    if (d > 0.3) return SIDEWALK;
    if (d > 0.28) return paint::scale(ASPHALT, 0.8);  // gutter
    if (d < 0.03 && dash(along)) return MARKING;
    return asphalt(p);
}

Colour verge_colour(const Point& p) {
    // Beside houses the verge is garden lawn, elsewhere open grass.
    const int side = p.u < 0.5 ? -1 : 1;
    return layout_at(p.cx + side, p.cy) == LAYOUT_HOUSE ? LAWN : GRASS;
}

// A hipped roof seen from above: four faces meeting along a ridge, each face
// lit according to the way it slopes.
struct Roof {
    double u0, v0, u1, v1;
};
constexpr Roof HOUSE_ROOF = {0.45, 0.22, 0.94, 0.9};

bool inside(const Roof& r, double u, double v) {
    return u > r.u0 && u < r.u1 && v > r.v0 && v < r.v1;
}

Colour roof(const Roof& r, double u, double v, Colour base) {
    const double dl = u - r.u0, dr = r.u1 - u, db = v - r.v0, dt = r.v1 - v;
    const double edge = std::fmin(std::fmin(dl, dr), std::fmin(db, dt));
    if (edge < 0.012) return OUTLINE;  // eaves
    // The face is the one whose eave is nearest; near-ties are the hips and ridge.
    double first = dl, second = 1e9;
    double light = 1.12;  // slopes down to the left, towards the light
    auto take = [&](double d, double l) {
        if (d < first) {
            second = first;
            first = d;
            light = l;
        } else if (d < second) {
            second = d;
        }
    };
    take(dr, 0.78);
    take(db, 0.86);
    take(dt, 1.04);
    Colour c = paint::scale(base, light);
    // Rows of tiles along the eave of each face.
    if (frac(first * 28.0) < 0.16) c = paint::scale(c, 0.9);
    if (second - first < 0.012) c = paint::scale(base, 0.62);
    return c;
}

Colour house(const Point& p) {
    const std::uint32_t h = paint::hash(p.cx, p.cy, 51);
    const Colour roofColour = ROOFS[h % (sizeof ROOFS / sizeof ROOFS[0])];
    if (inside(HOUSE_ROOF, p.u, p.v)) return roof(HOUSE_ROOF, p.u, p.v, roofColour);
    // Hedges along the left and back of every lot.
    if (p.u < 0.03 || p.v > 0.965) {
        const double n = paint::value_noise(p.wx * 80.0, p.wy * 80.0, 52);
        return paint::scale(HEDGE, 0.85 + 0.3 * n);
    }
    if (p.u > DRIVE_U0 && p.u < DRIVE_U1 && p.v < 0.9) {
        if (p.u < DRIVE_U0 + 0.015 || p.u > DRIVE_U1 - 0.015) return paint::scale(DRIVEWAY, 0.8);
        const double n = paint::value_noise(p.wx * 40.0, p.wy * 40.0, 53);
        return paint::scale(DRIVEWAY, 0.95 + 0.08 * n);
    }
    if (std::fabs(p.u - 0.695) < 0.035 && p.v < HOUSE_ROOF.v0) return PATH;  // to the front door
    Colour c = grass(p, LAWN);
    if (inside(HOUSE_ROOF, p.u - SHADOW_DX, p.v - SHADOW_DY)) c = paint::scale(c, 0.62);
    return c;
}

// Open land: grass with up to three trees, each kept inside its cell.
Colour land(const Point& p) {
    Colour c = grass(p, GRASS);
    const int trees = static_cast<int>(paint::hash(p.cx, p.cy, 61) % 4);
    // Shadows first, so that a tree covers the shadow of another.
    bool shaded = false;
    for (int i = 0; i < trees; ++i) {
        const double r = 0.13 + 0.09 * paint::hash01(p.cx, p.cy, 70 + 3 * i);
        const double tx = r + 0.04 + (1.0 - 2.0 * r - 0.08) * paint::hash01(p.cx, p.cy, 71 + 3 * i);
        const double ty = r + 0.04 + (1.0 - 2.0 * r - 0.08) * paint::hash01(p.cx, p.cy, 72 + 3 * i);
        const double dx = p.u - SHADOW_DX * 1.5 - tx, dy = p.v - SHADOW_DY * 1.5 - ty;
        if (dx * dx + dy * dy < r * r) shaded = true;
    }
    if (shaded) c = paint::scale(c, 0.62);
    for (int i = 0; i < trees; ++i) {
        const double r = 0.13 + 0.09 * paint::hash01(p.cx, p.cy, 70 + 3 * i);
        const double tx = r + 0.04 + (1.0 - 2.0 * r - 0.08) * paint::hash01(p.cx, p.cy, 71 + 3 * i);
        const double ty = r + 0.04 + (1.0 - 2.0 * r - 0.08) * paint::hash01(p.cx, p.cy, 72 + 3 * i);
        const double dx = p.u - tx, dy = p.v - ty;
        const double d2 = dx * dx + dy * dy;
        if (d2 >= r * r) continue;
        // Lit from the upper left, leafy texture on top.
        const double lx = p.u - (tx - r * 0.35), ly = p.v - (ty + r * 0.35);
        const double lit = 1.0 - paint::clamp01(std::sqrt(lx * lx + ly * ly) / (r * 1.5));
        const double leaves = paint::value_noise(p.wx * 90.0, p.wy * 90.0, 73);
        c = paint::mix(TREE_DARK, TREE_LIGHT, paint::clamp01(lit * 0.9 + 0.25 * leaves - 0.1));
    }
    return c;
}

Colour shade(double wx, double wy) {
    Point p{};
    p.wx = wx;
    p.wy = wy;
    p.cx = static_cast<int>(std::floor(wx));
    p.cy = static_cast<int>(std::floor(wy));
    p.u = wx - p.cx;
    p.v = wy - p.cy;
    const std::uint8_t layout = layout_at(p.cx, p.cy);
    if (p.cx == ExitCell.x && p.cy == ExitCell.y) return exit_cell(p);
    if (layout == LAYOUT_HOUSE) return house(p);
    if (layout == LAYOUT_ROAD_ANY) return crossing(p);
    if (layout == LAYOUT_ROAD_Y) return axis_road(p, p.u, p.wy, verge_colour(p));
    if (layout == LAYOUT_ROAD_X) {
        if (in_river(p.cx)) return bridge(p);
        return axis_road(p, p.v, p.wx, GRASS);
    }
    if (in_river(p.cx)) return river(p);
    return land(p);
}

}  // namespace

int draw_map_picture(Image& image) {
    if (!alloc_image(MAP_PICTURE_W, MAP_PICTURE_H, 3, image)) return 0;
    // Sample (sx, sy) of pixel (px, py) lies at ((px * S + sx + 1/2) / S) pixels;
    // formed from integers so that every run computes the same doubles.
    constexpr double toCellX = static_cast<double>(GRID_W) / (2.0 * SAMPLES * MAP_PICTURE_W);
    constexpr double toCellY = static_cast<double>(GRID_H) / (2.0 * SAMPLES * MAP_PICTURE_H);
    for (int py = 0; py < MAP_PICTURE_H; ++py) {
        for (int px = 0; px < MAP_PICTURE_W; ++px) {
            Colour sum{0, 0, 0};
            for (int sy = 0; sy < SAMPLES; ++sy) {
                const double wy = static_cast<double>((py * SAMPLES + sy) * 2 + 1) * toCellY;
                for (int sx = 0; sx < SAMPLES; ++sx) {
                    const double wx = static_cast<double>((px * SAMPLES + sx) * 2 + 1) * toCellX;
                    const Colour c = shade(wx, wy);
                    sum.r += c.r;
                    sum.g += c.g;
                    sum.b += c.b;
                }
            }
            paint::put(image, px, py, paint::scale(sum, 1.0 / (SAMPLES * SAMPLES)));
        }
    }
    return 1;
}

#include "render/town_map.h"

#include <algorithm>

TownColour town_cell_colour(std::uint8_t layout) {
    if (layout == LAYOUT_HOUSE) return TOWN_HOUSE;
    if (layout == LAYOUT_WATER) return TOWN_WATER;
    if (layout == LAYOUT_BLOCKED) return TOWN_LAND;
    return (layout & LAYOUT_ONE_WAY) != 0 ? TOWN_ONE_WAY : TOWN_ROAD;
}

const char* town_road_class_label(std::uint8_t roadClass) {
    static const char* const labels[ROAD_CLASS_COUNT] = {
        "road",     "motorway, trunk", "primary", "secondary", "tertiary",
        "street",   "service road",    "track, path, other"};
    return roadClass < ROAD_CLASS_COUNT ? labels[roadClass] : "road";
}

namespace {

TownColour darker(TownColour c, int percent) {
    return {static_cast<std::uint8_t>(c.r * percent / 100),
            static_cast<std::uint8_t>(c.g * percent / 100),
            static_cast<std::uint8_t>(c.b * percent / 100)};
}

}  // namespace

TownColour town_one_way_mark(std::uint8_t roadClass) {
    return darker(TOWN_ROAD_CLASS[roadClass < ROAD_CLASS_COUNT ? roadClass : 0], 55);
}

bool draw_town_map(const Town& town, int cellPixels, int width, int height, Image& image) {
    const int k = cellPixels;
    if (k < 1 || width < town.width * k || height < town.height * k) return false;
    if (alloc_image(width, height, 3, image) != 1) return false;
    std::uint8_t* const pixels = image.pixels.get();
    // Pixels (x0..x0+w-1, y0..y0+h-1) of cell (x, y), counted from its lower-left corner.
    auto fill = [&](int x, int y, int x0, int y0, int w, int h, TownColour c) {
        for (int py = y * k + y0; py < y * k + y0 + h; ++py)
            for (int px = x * k + x0; px < x * k + x0 + w; ++px) {
                std::uint8_t* p = pixels + 3 * (static_cast<std::size_t>(py) * width + px);
                p[0] = c.r, p[1] = c.g, p[2] = c.b;
            }
    };
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        pixels[3 * i] = TOWN_LAND.r, pixels[3 * i + 1] = TOWN_LAND.g,
                   pixels[3 * i + 2] = TOWN_LAND.b;
    }
    const bool classed = town.roadClass.size() == town.layout.size();
    const auto road_at = [&](std::int32_t x, std::int32_t y) {
        return town.contains({x, y}) && is_road(town.layout_at({x, y}));
    };
    for (std::int32_t y = 0; y < town.height; ++y)
        for (std::int32_t x = 0; x < town.width; ++x) {
            const std::uint8_t v = town.layout_at({x, y});
            if (classed && is_road(v)) {
                // As on a map: the class's colour, edged darker where the road
                // meets land, a one-way lane with a dark line along its middle.
                const std::uint8_t c = town.roadClass[static_cast<std::size_t>(y) * town.width + x];
                const TownColour colour = TOWN_ROAD_CLASS[c < ROAD_CLASS_COUNT ? c : 0];
                fill(x, y, 0, 0, k, k, colour);
                if (k >= 6) {
                    const TownColour edge = darker(colour, 70);
                    if (!road_at(x - 1, y)) fill(x, y, 0, 0, 1, k, edge);
                    if (!road_at(x + 1, y)) fill(x, y, k - 1, 0, 1, k, edge);
                    if (!road_at(x, y - 1)) fill(x, y, 0, 0, k, 1, edge);
                    if (!road_at(x, y + 1)) fill(x, y, 0, k - 1, k, 1, edge);
                }
                if ((v & LAYOUT_ONE_WAY) != 0) {
                    const TownColour mark = town_one_way_mark(c);
                    const int m = std::max(1, k / 4);
                    if (k < 4)
                        fill(x, y, 0, 0, k, k, mark);
                    else if ((v & (DIR_X_INC | DIR_X_DEC)) != 0)
                        fill(x, y, 0, (k - m) / 2, k, m, mark);
                    else
                        fill(x, y, (k - m) / 2, 0, m, k, mark);
                }
                continue;
            }
            fill(x, y, 0, 0, k, k, town_cell_colour(v));
            if (v == LAYOUT_HOUSE && k >= 6) {
                fill(x, y, 0, 0, 1, k, TOWN_LAND);
                fill(x, y, k - 1, 0, 1, k, TOWN_LAND);
            }
        }
    const int t = std::max(1, k / 4);
    for (const House& h : town.houses) {
        if (k < 3) break;
        if (h.door == DIR_Y_DEC) fill(h.pos.x, h.pos.y, 0, 0, k, t, TOWN_DOOR);
        if (h.door == DIR_Y_INC) fill(h.pos.x, h.pos.y, 0, k - t, k, t, TOWN_DOOR);
        if (h.door == DIR_X_DEC) fill(h.pos.x, h.pos.y, 0, 0, t, k, TOWN_DOOR);
        if (h.door == DIR_X_INC) fill(h.pos.x, h.pos.y, k - t, 0, t, k, TOWN_DOOR);
    }
    for (CellPos e : town.exits)
        if (town.contains(e)) fill(e.x, e.y, 0, 0, k, k, TOWN_EXIT);
    return true;
}

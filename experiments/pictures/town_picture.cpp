#include "experiments/pictures/town_picture.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <algorithm>

#include "experiments/pictures/attribution.h"
#include "render/town_map.h"

namespace {

QColor qt(TownColour c) {
    return QColor(c.r, c.g, c.b);
}
const QColor LAND = qt(TOWN_LAND);
const QColor WATER = qt(TOWN_WATER);
const QColor ROAD = qt(TOWN_ROAD);
const QColor ONE_WAY = qt(TOWN_ONE_WAY);
const QColor HOUSE = qt(TOWN_HOUSE);
const QColor DOOR = qt(TOWN_DOOR);
const QColor EXIT = qt(TOWN_EXIT);

bool one_way(std::uint8_t layout) {
    return (layout & LAYOUT_ONE_WAY) != 0;
}

}  // namespace

int town_picture_cell_pixels(const Town& town) {
    const int side = std::max(town.width, town.height);
    return std::clamp(2048 / std::max(side, 1), 1, 32);
}

bool draw_town_picture(const Town& town, std::string& png, std::string& error) {
    const int k = town_picture_cell_pixels(town);
    QImage image(town.width * k, town.height * k, QImage::Format_RGB32);
    if (image.isNull()) {
        error = "the picture of a town this large does not fit in memory";
        return false;
    }
    auto fill = [&](int x, int y, int x0, int y0, int w, int h, const QColor& c) {
        // Cell (x, y) in model coordinates; the top row first on screen.
        const int left = x * k + x0;
        const int top = (town.height - 1 - y) * k + y0;
        for (int py = top; py < top + h; ++py)
            for (int px = left; px < left + w; ++px) image.setPixelColor(px, py, c);
    };
    for (std::int32_t y = 0; y < town.height; ++y)
        for (std::int32_t x = 0; x < town.width; ++x) {
            const std::uint8_t v = town.layout_at({x, y});
            const QColor c = v == LAYOUT_HOUSE     ? HOUSE
                             : v == LAYOUT_WATER   ? WATER
                             : v == LAYOUT_BLOCKED ? LAND
                             : one_way(v)          ? ONE_WAY
                                                   : ROAD;
            fill(x, y, 0, 0, k, k, c);
            // Neighbouring houses apart: a line of land between them.
            if (v == LAYOUT_HOUSE && k >= 6) {
                fill(x, y, 0, 0, 1, k, LAND);
                fill(x, y, k - 1, 0, 1, k, LAND);
            }
        }
    // The door: a stripe along the side of the house that faces it.
    const int t = std::max(1, k / 4);
    for (const House& h : town.houses) {
        if (k < 3) break;
        if (h.door == DIR_Y_DEC) fill(h.pos.x, h.pos.y, 0, k - t, k, t, DOOR);
        if (h.door == DIR_Y_INC) fill(h.pos.x, h.pos.y, 0, 0, k, t, DOOR);
        if (h.door == DIR_X_DEC) fill(h.pos.x, h.pos.y, 0, 0, t, k, DOOR);
        if (h.door == DIR_X_INC) fill(h.pos.x, h.pos.y, k - t, 0, t, k, DOOR);
    }
    for (CellPos e : town.exits)
        if (town.contains(e)) fill(e.x, e.y, 0, 0, k, k, EXIT);
    stamp_attribution(image, town);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        error = "the picture could not be encoded";
        return false;
    }
    png.assign(buffer.data().constData(), static_cast<std::size_t>(buffer.data().size()));
    return true;
}

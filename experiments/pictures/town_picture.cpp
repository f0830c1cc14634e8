#include "experiments/pictures/town_picture.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "experiments/pictures/attribution.h"
#include "experiments/pictures/plot_drawing.h"
#include "render/town_map.h"

namespace {

QColor qt(TownColour c) {
    return QColor(c.r, c.g, c.b);
}

// A key to a town drawn with road classes, in the top-left corner: the classes
// its roads have, a one-way lane, homes, water when it has any, and exits.
// Left out of a picture too small to hold it.
void stamp_road_legend(QImage& image, const Town& town) {
    if (town.roadClass.size() != town.layout.size()) return;
    std::size_t count[ROAD_CLASS_COUNT] = {};
    bool oneWay = false, water = false;
    for (std::size_t i = 0; i < town.layout.size(); ++i) {
        if (is_road(town.layout[i]) && town.roadClass[i] < ROAD_CLASS_COUNT)
            ++count[town.roadClass[i]];
        oneWay = oneWay || (is_road(town.layout[i]) && (town.layout[i] & LAYOUT_ONE_WAY) != 0);
        water = water || town.layout[i] == LAYOUT_WATER;
    }
    struct Entry {
        TownColour fill, mark;
        bool marked;
        const char* words;
    };
    std::vector<Entry> entries;
    for (std::uint8_t c = 1; c < ROAD_CLASS_COUNT; ++c)
        if (count[c] > 0) entries.push_back({TOWN_ROAD_CLASS[c], {}, false, town_road_class_label(c)});
    if (count[ROAD_CLASS_NONE] > 0)
        entries.push_back({TOWN_ROAD_CLASS[ROAD_CLASS_NONE], {}, false, "other road"});
    if (oneWay)
        entries.push_back({TOWN_ROAD_CLASS[ROAD_CLASS_MINOR], town_one_way_mark(ROAD_CLASS_MINOR),
                           true, "one-way lane"});
    entries.push_back({TOWN_HOUSE, TOWN_DOOR, true, "home, its door side dark"});
    if (water) entries.push_back({TOWN_WATER, {}, false, "water"});
    entries.push_back({TOWN_EXIT, {}, false, "exit"});

    const plot_drawing::OffscreenApplication fonts;  // text needs an application; none is shown
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    painter.setFont(font);
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height() + 4, swatch = 14, pad = 6;
    int widest = 0;
    for (const Entry& e : entries)
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(e.words)));
    QRect box(4, 4, pad + swatch + pad + widest + pad,
              pad + line * static_cast<int>(entries.size()) + pad - 4);
    if (box.right() + 4 >= image.width() || box.bottom() + 4 >= image.height() / 2) return;
    // The corner where it hides the fewest pixels that are not land, the
    // bottom right being the credit's.
    const QRgb land = qt(TOWN_LAND).rgb();
    const auto hidden = [&](const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) n += image.pixel(x, y) != land;
        return n;
    };
    int fewest = hidden(box);
    for (const QPoint at : {QPoint(image.width() - 4 - box.width(), 4),
                            QPoint(4, image.height() - 4 - box.height())}) {
        const QRect there(at, box.size());
        if (const int n = hidden(there); n < fewest) fewest = n, box = there;
    }
    painter.fillRect(box, QColor(255, 255, 255, 215));
    painter.setPen(QColor(90, 90, 90));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const int top = box.top() + pad + line * static_cast<int>(i);
        const QRect s(box.left() + pad, top + (line - 4 - swatch) / 2, swatch, swatch);
        painter.fillRect(s, qt(e.fill));
        if (e.marked) painter.fillRect(s.left(), s.top() + swatch * 3 / 8, swatch, swatch / 4, qt(e.mark));
        painter.setPen(QColor(110, 110, 110));
        painter.drawRect(s.adjusted(0, 0, -1, -1));
        painter.setPen(QColor(30, 30, 30));
        painter.drawText(QRect(s.right() + pad + 1, top, widest + pad, line - 4),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(e.words));
    }
}

}  // namespace

int town_picture_cell_pixels(const Town& town) {
    const int side = std::max(town.width, town.height);
    return std::clamp(2048 / std::max(side, 1), 1, 32);
}

bool draw_town_picture(const Town& town, std::string& png, std::string& error) {
    const int k = town_picture_cell_pixels(town);
    const int width = town.width * k, height = town.height * k;
    QImage image(width, height, QImage::Format_RGB888);
    Image map;
    if (image.isNull() || !draw_town_map(town, k, width, height, map)) {
        error = "the picture of a town this large does not fit in memory";
        return false;
    }
    // The map's rows start at the bottom; the picture's at the top.
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(height - 1 - y),
                    map.pixels.get() + static_cast<std::size_t>(y) * width * 3,
                    static_cast<std::size_t>(width) * 3);
    free_image(map);
    stamp_road_legend(image, town);
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

#include "experiments/pictures/attribution.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "experiments/pictures/plot_drawing.h"

std::string town_attribution(const Town& town) {
    return town.source.find("OpenStreetMap") != std::string::npos
               ? "\u00A9 OpenStreetMap contributors"
               : std::string();
}

void stamp_attribution(QImage& image, const Town& town) {
    const std::string text = town_attribution(town);
    if (text.empty()) return;
    const plot_drawing::OffscreenApplication fonts;  // text needs an application; none is shown
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    painter.setFont(font);
    const QString words = QString::fromStdString(text);
    const QRect box = painter.fontMetrics().boundingRect(words).adjusted(-5, -3, 5, 3);
    const QRect placed = box.translated(image.width() - 4 - box.right(),
                                        image.height() - 4 - box.bottom());
    painter.fillRect(placed, QColor(0, 0, 0, 170));
    painter.setPen(Qt::white);
    painter.drawText(placed, Qt::AlignCenter, words);
}

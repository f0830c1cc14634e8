// What the curve plots (plot.cpp) and the index charts (index_chart.cpp)
// share; defined in plot.cpp.
#pragma once

#include <QPainter>
#include <QSize>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "experiments/pictures/plot.h"

class QApplication;

namespace plot_drawing {

constexpr int HEADER_H = 44;  // the title strip above the panels

// Qt's widgets need an application object; the plot never shows a window, so
// it always uses the offscreen platform and needs no display.
struct OffscreenApplication {
    OffscreenApplication();
    ~OffscreenApplication();
    QtMessageHandler previous = nullptr;
    int argc = 1;
    char name[12] = "marovel-sim";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};

// Paints one picture into every target, PNG or SVG, on a white ground.
bool render_to_targets(QSize size, const std::string& title, const char* description,
                       const std::function<void(QPainter&)>& paint,
                       const std::vector<PlotTarget>& targets, std::string& error);

}  // namespace plot_drawing

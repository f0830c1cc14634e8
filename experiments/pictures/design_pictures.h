// A design's plots and index charts drawn in this process with Qt (plot.h).
#pragma once

#include "experiments/pictures/sweep_pictures.h"

class DrawnDesignPictures : public SweepPictures {
  public:
    bool draw_design_plots(const SweepSummary& table, const std::string& title,
                           const std::vector<std::string>& paths, std::vector<std::string>& bytes,
                           std::string& error) override;
    bool draw_index_charts(const Design& design, const std::vector<SensitivityReport::Row>& rows,
                           const std::string& title, const std::vector<std::string>& paths,
                           std::vector<std::string>& bytes, std::string& error) override;
};

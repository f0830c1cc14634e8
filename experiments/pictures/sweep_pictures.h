// What a sweep asks of whoever draws its pictures. A plain sweep's curves are
// always drawn by the picture program (picture_program.h); a design's plots
// and index charts are drawn from its table, in the process that holds it,
// which is the picture program's own build of the sweep (design_pictures.h).
#pragma once

#include <string>
#include <vector>

#include "experiments/planning/design.h"
#include "experiments/planning/sensitivity.h"
#include "experiments/records/summary.h"

class SweepPictures {
  public:
    virtual ~SweepPictures() = default;
    // Draws a design's plots of `table` into `bytes` (one picture per path,
    // in the format its name ends in). False with the reason in `error`.
    virtual bool draw_design_plots(const SweepSummary& table, const std::string& title,
                                   const std::vector<std::string>& paths,
                                   std::vector<std::string>& bytes, std::string& error) = 0;
    // The same for the bar charts of a design's sensitivity indices.
    virtual bool draw_index_charts(const Design& design,
                                   const std::vector<SensitivityReport::Row>& rows,
                                   const std::string& title, const std::vector<std::string>& paths,
                                   std::vector<std::string>& bytes, std::string& error) = 0;
};

// For a process without Qt: it hands designs with pictures to the picture
// program's build before they run, so these are never asked for; if they are,
// they refuse.
class NoDesignPictures : public SweepPictures {
  public:
    bool draw_design_plots(const SweepSummary&, const std::string&, const std::vector<std::string>&,
                           std::vector<std::string>&, std::string& error) override {
        error = "a design's plots are drawn by marovel-pictures";
        return false;
    }
    bool draw_index_charts(const Design&, const std::vector<SensitivityReport::Row>&,
                           const std::string&, const std::vector<std::string>&,
                           std::vector<std::string>&, std::string& error) override {
        error = "index charts are drawn by marovel-pictures";
        return false;
    }
};

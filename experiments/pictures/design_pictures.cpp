#include "experiments/pictures/design_pictures.h"

#include "experiments/pictures/plot.h"

namespace {

// Each picture into its own string, in the format its name ends in.
std::vector<PlotTarget> targets_of(const std::vector<std::string>& paths,
                                   std::vector<std::string>& bytes) {
    bytes.resize(paths.size());
    std::vector<PlotTarget> targets;
    for (std::size_t i = 0; i < paths.size(); ++i)
        targets.push_back(
            {paths[i], plot_format_of(paths[i]).value_or(PlotFormat::Png), &bytes[i]});
    return targets;
}

}  // namespace

bool DrawnDesignPictures::draw_design_plots(const SweepSummary& table, const std::string& title,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::string>& bytes, std::string& error) {
    return write_plots(table, title, targets_of(paths, bytes), error);
}

bool DrawnDesignPictures::draw_index_charts(const Design& design,
                                            const std::vector<SensitivityReport::Row>& rows,
                                            const std::string& title,
                                            const std::vector<std::string>& paths,
                                            std::vector<std::string>& bytes, std::string& error) {
    return write_index_chart(design, rows, title, targets_of(paths, bytes), error);
}

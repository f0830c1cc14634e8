// marovel-sim draws its pictures through the picture program and loads no Qt,
// X or GL library itself; the pictures are byte for byte those the drawing
// code makes in the calling process.
#include <unistd.h>

#include "experiments/pictures/plot.h"
#include "experiments/pictures/snapshot.h"
#include "experiments/records/summary.h"
#include "experiments/running/sweep.h"
#include "experiments/sim_folder.h"

namespace {

// What the dynamic loader maps when marovel-sim starts: nothing when it is
// linked statically (no interpreter in its program headers), else the C++
// runtime, OpenMP, zlib and Nettle, and nothing of a desktop.
TEST(LightRunner, LoadsNoQtXOrGl) {
    const CommandResult headers = run_command("readelf --program-headers '" MAROVEL_SIM "'");
    ASSERT_EQ(headers.status, 0) << headers.err;
    const CommandResult ldd = run_command("ldd '" MAROVEL_SIM "' 2>&1");
    if (headers.out.find("INTERP") == std::string::npos) {
        EXPECT_NE((ldd.out + ldd.err).find("not a dynamic executable"), std::string::npos)
            << ldd.out << ldd.err;
        return;
    }
    ASSERT_EQ(ldd.status, 0) << ldd.out;
    EXPECT_NE(ldd.out.find("libgomp"), std::string::npos) << ldd.out;  // ldd did list them
    for (const char* library :
         {"libQt", "libX11", "libxcb", "libGL", "libEGL", "libOpenGL", "libgbm", "libdbus",
          "libfontconfig", "libfreetype", "libicu", "libpng"})
        EXPECT_EQ(ldd.out.find(library), std::string::npos) << library << "\n" << ldd.out;
}

class PictureFolder : public SimFolder {
  protected:
    // The program's own pictures, in data/ below the folder both draw in.
    PictureFolder() {
        fs::copy(fs::path(MAROVEL_SOURCE_DIR) / "data", dir / "data");
        fs::current_path(dir);
    }
    ~PictureFolder() override { fs::current_path(start); }
    const fs::path start = fs::current_path();
};

// The plot of a sweep (PNG and SVG) and snapshots of a run under a changed
// parameter, drawn here and by marovel-sim, are the same bytes.
TEST_F(PictureFolder, PicturesAreThoseDrawnInProcess) {
    SweepPlan plan;
    plan.ticks = 90;
    plan.every = 10;
    const std::vector<float> levels = {ERROR_LOW, ERROR_HIGH};
    plan.runs = interleave_runs({{5, std::nullopt}, {1001, 1}}, levels);
    SweepSummary summary(levels, sample_ticks(plan), true);
    run_sweep(plan, 1, [&](FinishedRun& run) { summary.add(plan.runs[run.index], run.result); });
    std::string error;
    ASSERT_TRUE(write_plots(summary,
                            "Marovel " MAROVEL_VERSION
                            " sweep: 4 runs of 90 ticks, 2 scenarios x 2 error levels",
                            {{"here.png", PlotFormat::Png}, {"here.svg", PlotFormat::Svg}}, error))
        << error;
    const CommandResult swept =
        sim("sweep --seeds 5,1001 --errors low,high --ticks 90 --every 10 --plot p.png "
            "--plot p.svg");
    ASSERT_EQ(swept.status, 0) << swept.err;
    EXPECT_EQ(read_file(dir / "p.png"), read_file(dir / "here.png"));
    EXPECT_EQ(read_file(dir / "p.svg"), read_file(dir / "here.svg"));

    ScenarioSetup scenario{7, error_level(ERROR_MODERATE), false};
    scenario.parameters.patienceMin = 100;
    SnapshotRenderer renderer;
    ASSERT_TRUE(renderer.open(SNAPSHOT_W, SNAPSHOT_H, snapshot_picture_folders(), error)) << error;
    ASSERT_TRUE(write_snapshots(renderer, scenario, {{0, ""}, {150, ""}},
                                {"here0.png", "here150.png"}, error))
        << error;
    const CommandResult run =
        sim("--seed 7 --error moderate --set patience_min=100 --ticks 150 "
            "--snapshot 150:b.png --snapshot 0:a.png");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "a.png"), read_file(dir / "here0.png"));
    EXPECT_EQ(read_file(dir / "b.png"), read_file(dir / "here150.png"));
}

}  // namespace

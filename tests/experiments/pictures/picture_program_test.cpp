// marovel-sim draws its pictures through the picture program and loads no Qt,
// X or GL library itself; the pictures are byte for byte those the drawing
// code makes in the calling process.
#include <unistd.h>

#include <algorithm>

#include "experiments/pictures/design_pictures.h"
#include "experiments/pictures/install_folders.h"
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

// A design's groups each have a mark of their own, a colour and a marker
// shape, for 60 groups; neighbouring groups differ in both, and groups that
// share a colour differ in shape.
TEST(DesignMarks, SixtyGroupsHaveSixtyMarks) {
    std::set<std::pair<QRgb, int>> seen;
    for (std::size_t g = 0; g < GROUP_MARK_COLOURS * GROUP_MARK_SHAPES; ++g) {
        const GroupMark m = group_mark(g);
        EXPECT_TRUE(seen.insert({m.colour.rgb(), m.shape}).second) << "group " << g;
        if (g > 0) {
            const GroupMark before = group_mark(g - 1);
            EXPECT_NE(m.colour, before.colour) << g;
            EXPECT_NE(m.shape, before.shape) << g;
        }
    }
    std::set<QRgb> colours;
    for (const auto& [colour, shape] : seen) colours.insert(colour);
    EXPECT_EQ(colours.size(), GROUP_MARK_COLOURS);
}

// The install's prefix from the running program's folder, whichever of the
// install's folders it lies in; the pictures and the picture program under it.
TEST(InstallFolders, FoundUnderThePrefixTheProgramLiesIn) {
    EXPECT_EQ(install_prefix_of("/home/a/opt/bin"), "/home/a/opt");
    EXPECT_EQ(install_prefix_of("/home/a/opt/libexec/marovel"), "/home/a/opt");
    EXPECT_EQ(install_prefix_of("/home/a/opt/bin/"), "/home/a/opt");
    EXPECT_EQ(install_prefix_of("/work/build/release/cli"), "") << "a build tree";
    EXPECT_EQ(install_prefix_of("/opt/marovel"), "");
    EXPECT_EQ(install_prefix_of(""), "");
    EXPECT_EQ(picture_folders("", "/env", "/p/libexec/marovel", "/usr/local/share/marovel"),
              (std::vector<std::string>{"/env", "data", "/p/libexec/marovel/data",
                                        "/p/share/marovel", "/usr/local/share/marovel"}));
    EXPECT_EQ(
        picture_program_folders("/p/bin", "/usr/local/libexec/marovel"),
        (std::vector<std::string>{"/p/bin", "/p/libexec/marovel", "/usr/local/libexec/marovel"}));
    EXPECT_EQ(picture_program_folders("/usr/local/bin", "/usr/local/libexec/marovel"),
              (std::vector<std::string>{"/usr/local/bin", "/usr/local/libexec/marovel"}));
    // marovel-sim's snapshots look where the window looks, $MAROVEL_DATA first.
    setenv("MAROVEL_DATA", "/lesson/pictures", 1);
    EXPECT_EQ(snapshot_picture_folders(), running_picture_folders());
    EXPECT_EQ(snapshot_picture_folders().front(), "/lesson/pictures");
    unsetenv("MAROVEL_DATA");
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

// The picture program run by hand, as a user who finds it in libexec may: its
// options are checked as marovel-sim checks them, with marovel-sim's messages,
// and nothing is written; its plot replaces files as marovel-sim's outputs do.
TEST_F(PictureFolder, ThePictureProgramRunByHandChecksAsMarovelSimDoes) {
    const auto pictures = [&](const std::string& args) {
        return run_command("cd '" + dir.string() + "' && exec timeout 20 env -u DISPLAY '" +
                           MAROVEL_PICTURES "' " + args);
    };
    struct Case {
        const char* args;     // of marovel-pictures snapshot
        const char* simArgs;  // marovel-sim's same request
    };
    const Case cases[] = {
        {"--ticks 99999999999999 --seed 1 10:a.png", "--ticks 99999999999999"},
        {"--ticks 20 --seed abc 10:a.png", "--seed abc"},
        {"--ticks 20 --seed 1x 10:a.png", "--seed 1x"},
        {"--ticks 20 --seed 99999999999 10:a.png", "--seed 99999999999"},
        {"--ticks 20 --seed 1 --param feedback=1 10:a.png", "--set feedback=1"},
        {"--ticks 20 --seed 1 --param feedback=0.99999999 10:a.png", "--set feedback=0.99999999"},
        {"--ticks 20 --seed 1 --param cars_per_house=101 10:a.png", "--set cars_per_house=101"},
    };
    for (const Case& c : cases) {
        const CommandResult got = pictures(std::string("snapshot ") + c.args);
        EXPECT_TRUE(refused(got, "")) << c.args;
        const CommandResult expected = sim(c.simArgs);
        ASSERT_EQ(expected.status, 2) << c.simArgs;
        // The same words; marovel-sim names --set where the picture program names --param.
        std::string same = expected.err;
        if (const std::size_t set = same.find("--set: "); set != std::string::npos)
            same.replace(set, 7, "--param: ");
        EXPECT_EQ(got.err, same) << c.args;
        EXPECT_EQ(entries(), std::set<fs::path>{dir / "data"}) << c.args;
    }

    // A plot goes through a symbolic link no more than marovel-sim's outputs do,
    // and makes a file that was not there.
    ASSERT_EQ(sim("sweep --scenarios 0..1 --ticks 40 --curves c.csv").status, 0);
    std::ofstream(dir / "target.txt") << "kept";
    fs::create_symlink("target.txt", dir / "link.png");
    const std::string plot = "plot --title T --errors low,moderate,high ";
    const CommandResult linked = pictures(plot + "--png link.png < c.csv");
    EXPECT_EQ(linked.status, 2) << linked.err;
    EXPECT_NE(linked.err.find("link.png: it is a symbolic link"), std::string::npos) << linked.err;
    EXPECT_EQ(read_file(dir / "target.txt"), "kept");
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    const CommandResult made = pictures(plot + "--png new.png --svg new.svg < c.csv");
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(read_file(dir / "new.png").substr(1, 3), "PNG");
    EXPECT_NE(read_file(dir / "new.svg").find("<svg"), std::string::npos);
    EXPECT_EQ(entries().size(), 6u);  // data, c.csv, target.txt, link.png, new.png, new.svg
}

}  // namespace

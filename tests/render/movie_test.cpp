// marovel-sim's headless movie, run as a user runs it: its frames are the
// --snapshot pictures of the same ticks, whether written as numbered PNGs
// (exactly) or as an MP4 through ffmpeg (within the codec's loss), and a movie
// that cannot be written says why.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "support/command.h"

namespace {

// Leak checking is off for these runs of the pictures program: under ctest the
// leak checker's own tracer crashes at that program's exit (signal 11 in the
// tracer, not a leak); the address checks stay on.
const std::string SIM =
    "cd '" MAROVEL_SOURCE_DIR "' && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 '" MAROVEL_SIM "' ";

// Peak signal to noise of `b` against `a` in dB over the three colours; infinite when equal.
double psnr(const QImage& a, const QImage& b) {
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                sum += d * d;
        }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0.0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST(MovieTest, TheHeadlessMovieHoldsTheSnapshotsOfItsTicks) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    const CommandResult run =
        run_command(SIM + "--scenario 2 --error moderate --ticks 600 --movie-every 300 --movie " +
                    d + "frames.png --snapshot 0:" + d + "s0.png --snapshot 300:" + d +
                    "s300.png --snapshot 600:" + d + "s600.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const char* const snapshots[] = {"s0.png", "s300.png", "s600.png"};
    for (int i = 0; i < 3; ++i) {
        const QImage frame(
            QString::fromStdString(d + "frames_00000" + std::to_string(i + 1) + ".png"));
        const QImage snapshot(QString::fromStdString(d + snapshots[i]));
        ASSERT_FALSE(frame.isNull() || snapshot.isNull()) << snapshots[i];
        EXPECT_TRUE(frame.convertToFormat(QImage::Format_RGB888) ==
                    snapshot.convertToFormat(QImage::Format_RGB888))
            << "frame " << i + 1 << " against " << snapshots[i];
    }
    EXPECT_FALSE(QImage(QString::fromStdString(d + "frames_000004.png")).width() > 0);
    EXPECT_NE(QImage(QString::fromStdString(d + snapshots[0])),
              QImage(QString::fromStdString(d + snapshots[2])))
        << "the town changed between the first and last tick";

    if (run_command("command -v ffmpeg").status != 0) GTEST_SKIP() << "no ffmpeg program";
    const CommandResult mp4 = run_command(SIM + "--scenario 2 --error moderate --ticks 600 " +
                                          "--movie-every 300 --movie " + d + "run.mp4");
    ASSERT_EQ(mp4.status, 0) << mp4.err;
    const CommandResult frames = run_command(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames,width,height -of csv=p=0 " +
        d + "run.mp4");
    EXPECT_EQ(frames.out, "1024,768,3\n");
    ASSERT_EQ(run_command("ffmpeg -v error -i " + d + "run.mp4 " + d + "decoded_%d.png").status, 0);
    for (int i = 0; i < 3; ++i) {
        const QImage decoded(
            QString::fromStdString(d + "decoded_" + std::to_string(i + 1) + ".png"));
        const QImage snapshot(QString::fromStdString(d + snapshots[i]));
        ASSERT_EQ(decoded.size(), snapshot.size());
        // Closer to its own tick's snapshot than to the others', and close.
        const double own = psnr(snapshot, decoded);
        EXPECT_GT(own, 27.0) << "frame " << i + 1;
        for (int j = 0; j < 3; ++j) {
            if (j == i) continue;
            const double other = psnr(QImage(QString::fromStdString(d + snapshots[j])), decoded);
            EXPECT_GT(own, other + 2.0) << "frame " << i + 1 << " against " << snapshots[j];
        }
    }
}

TEST(MovieTest, AMovieThatCannotBeWrittenIsRefusedWithItsReason) {
    // Bad input: status 2 and nothing run; a file that cannot be written: 1.
    const std::tuple<std::string, std::string, int> cases[] = {
        {"--movie run.avi", "must end in .mp4 or .png", 2},
        {"--movie-every 5", "--movie-every requires --movie", 2},
        {"--movie x.png --movie-every 0", "--movie-every", 2},
        {"--movie /no/such/folder/run.mp4", "/no/such/folder", 1},
    };
    for (const auto& [arguments, said, status] : cases) {
        const CommandResult r = run_command(SIM + "--ticks 5 " + arguments);
        EXPECT_EQ(r.status, status) << arguments;
        EXPECT_NE(r.err.find(said), std::string::npos) << arguments << ": " << r.err;
    }
}

}  // namespace

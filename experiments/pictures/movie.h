// Movies of a run: frames of the town as the window draws them, written as an
// MP4 through the system's `ffmpeg` program, or as numbered PNG files where
// that program is missing or PNGs are asked for. The window's Record video
// and `marovel-sim --movie` both write through a MovieWriter.
#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "sim/scenario.h"

constexpr int MOVIE_FPS = 20;  // frames a second: the window's fast rate, one tick a frame

// The `ffmpeg` program on the search path ($MAROVEL_FFMPEG first, when set), or
// empty text when there is none.
std::string find_ffmpeg();

// The numbered files that stand for `file` when frames go out as PNGs:
// "run.mp4" and "run.png" give "run_000001.png", "run_000002.png", ...
std::string numbered_png(const std::string& file, long frame);

// Why a movie cannot have this name (it must end in .mp4 or .png), or empty text.
std::string movie_name_problem(const std::string& file);

class MovieWriter {
  public:
    MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;
    ~MovieWriter();  // an unfinished MP4 is discarded

    // A movie of width x height frames (odd sizes lose their last column or
    // row: the MP4's colour format needs even ones). A name ending in ".mp4"
    // is an MP4 when `ffmpeg` is there, numbered PNGs beside it otherwise; a
    // name ending in ".png" is numbered PNGs. False, with the reason, when
    // nothing can be written.
    bool open(const std::string& file, int width, int height, int fps, std::string& error);

    // One frame, any format; its size must be the one opened with.
    bool add_frame(const QImage& frame, std::string& error);

    // Finishes the movie: the MP4 appears whole under its name, or not at all.
    bool close(std::string& error);

    bool is_open() const;
    bool writes_pngs() const;
    long frames() const;
    // Where the frames go: the MP4's name, or the first PNG's.
    std::string target() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Writes the tick and the six counts in the frame's top-left corner, white on
// a dark box, each count after a square of its car state's colour (the
// window's overlay colours), as the window's recordings show them.
void stamp_frame(QImage& frame, long long tick, const VehicleTally& tally);

// The headless movie: the scenario drawn offscreen with the window's initial
// view at tick 0 and every `every` ticks up to `ticks`, one frame each, without
// a stamp, so that each frame is the --snapshot picture of its tick. `folders`
// are where the pictures are read from. False with the reason on failure.
struct MovieRun {
    std::string file;
    long long ticks = 2000;
    long long every = 1;
};
// On `town` when given, else on the built-in town.
bool write_movie(const ScenarioSetup& scenario, const MovieRun& run,
                 const std::vector<std::string>& folders, std::string& error,
                 std::shared_ptr<const Town> town = nullptr);

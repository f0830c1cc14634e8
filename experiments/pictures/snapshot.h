// Snapshots: the town of a run at a chosen tick, drawn by the program's own
// renderer into an offscreen drawing context and saved as a PNG, exactly the
// frame the window shows with its initial camera. No window, no display.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "render/offscreen.h"
#include "sim/scenario.h"

constexpr int SNAPSHOT_W = 1024;  // pixels: the window's initial client size
constexpr int SNAPSHOT_H = 768;

struct SnapshotRequest {
    long long tick = 0;  // after this many ticks; 0 is the freshly built town
    std::string file;    // where the PNG goes
};

// Parses "TICK:FILE.png" (the file name must end in .png). Error text or empty.
std::string parse_snapshot(std::string_view text, long long maxTick, SnapshotRequest& request);

// The folders the pictures are looked for in, as the window program looks
// for them (running_picture_folders in install_folders.h): $MAROVEL_DATA, the
// "data" folder below the working directory, beside the program, under the
// install's prefix, then the installed one.
std::vector<std::string> snapshot_picture_folders();

// An offscreen context with the window's drawing state, projection and
// pictures. One per thread; the context is current on the thread that opened it.
class SnapshotRenderer {
  public:
    SnapshotRenderer() = default;
    SnapshotRenderer(const SnapshotRenderer&) = delete;
    SnapshotRenderer& operator=(const SnapshotRenderer&) = delete;
    ~SnapshotRenderer();

    // False, with the reason in `error`, when there is no context or a picture
    // cannot be read (a snapshot without its map would mislead).
    bool open(int width, int height, const std::vector<std::string>& folders, std::string& error);

    // Draws the simulation's town with the camera fitted to it (the built-in
    // town's is the window's initial camera) and writes it to `file` as PNG
    // (whatever the name ends in). A town other than the last one drawn has its
    // map made first.
    bool write_png(const Simulation& sim, const std::string& file, std::string& error);

    // Makes the map of `town` unless it is the one made last; false with the
    // reason when it cannot be made.
    bool use_town(const std::shared_ptr<const Town>& town, std::string& error);

  private:
    OffscreenContext context_;
    bool open_ = false;
    std::vector<std::string> folders_;
    std::shared_ptr<const Town> mapTown_;  // whose map the texture holds; null: the built-in town
};

// Builds the scenario, runs it up to the last requested tick and writes each
// snapshot to the file given beside it (requests in any order, several per
// tick allowed). `files[i]` is where request i is written. On `town` when
// given, else on the built-in town.
bool write_snapshots(SnapshotRenderer& renderer, const ScenarioSetup& scenario,
                     const std::vector<SnapshotRequest>& requests,
                     const std::vector<std::string>& files, std::string& error,
                     std::shared_ptr<const Town> town = nullptr);

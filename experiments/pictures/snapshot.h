// Snapshots: the town of a run at a chosen tick, drawn by the program's own
// renderer into an offscreen drawing context and saved as a PNG, exactly the
// frame the window shows with its initial camera. No window, no display.
#pragma once

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

// The folders the pictures are looked for in, as the window program does: the
// "data" folder below the working directory, then the installed one.
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

    // Draws the town with the initial camera and writes it to `file` as PNG
    // (whatever the name ends in).
    bool write_png(const Simulation& sim, const std::string& file, std::string& error);

  private:
    OffscreenContext context_;
    bool open_ = false;
};

// Builds the scenario, runs it up to the last requested tick and writes each
// snapshot to the file given beside it (requests in any order, several per
// tick allowed). `files[i]` is where request i is written.
bool write_snapshots(SnapshotRenderer& renderer, const ScenarioSetup& scenario,
                     const std::vector<SnapshotRequest>& requests,
                     const std::vector<std::string>& files, std::string& error);

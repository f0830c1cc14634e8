// The cost of one frame: draw_scene into a 1024 × 768 offscreen context, with
// pictures of the sizes the program ships (a 2048 × 1024 map, a 512 × 32 car
// sheet, a 256 × 256 storm). glFinish is inside the timed loop, so the time is
// the whole frame's, not only the time to queue its commands; and it is wall
// time, because a software GL rasterises on threads of its own.
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "render/bmp.h"
#include "render/offscreen.h"
#include "render/scene.h"
#include "sim/driver.h"

namespace {

constexpr int VIEW_W = 1024;
constexpr int VIEW_H = 768;

void write_picture(const std::filesystem::path& path, int w, int h, bool keyed) {
    Image image;
    alloc_image(w, h, 3, image);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
            const bool red = keyed && (x + y) % 3 == 0;  // a third of the sprite transparent
            p[0] = red ? 255 : static_cast<std::uint8_t>(x * 7);
            p[1] = red ? 0 : static_cast<std::uint8_t>(y * 5);
            p[2] = red ? 0 : static_cast<std::uint8_t>(x + y);
        }
    }
    write_bmp(path.string().c_str(), image);
    free_image(image);
}

void print_notice(const char* caption, const char* text) {
    std::fprintf(stderr, "%s %s\n", caption, text);
}

// The context and the pictures, made once for the whole run.
struct Stage {
    OffscreenContext context;
    bool ready = false;

    Stage() {
        std::string error;
        if (!open_offscreen(context, VIEW_W, VIEW_H, &error)) {
            std::fprintf(stderr, "no drawing context: %s\n", error.c_str());
            return;
        }
        const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                             ("marovel-render-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        write_picture(folder / "map.bmp", 2048, 1024, false);
        write_picture(folder / "car.bmp", 512, 32, true);
        write_picture(folder / "storm.bmp", 256, 256, true);
        const PictureSetup setup{{folder.string()}, print_notice};
        init_render_state();
        set_view_projection(VIEW_W, VIEW_H);
        init_map(setup);
        init_car(setup);
        init_storm(setup);
        std::filesystem::remove_all(folder);
        ready = true;
    }
};

Stage& stage() {
    static Stage s;
    return s;
}

void run_frames(benchmark::State& state, const Simulation& sim) {
    if (!stage().ready) {
        state.SkipWithError("no offscreen drawing context");
        return;
    }
    const Camera camera;
    for (auto _ : state) {
        draw_scene(sim, camera);
        glFinish();
    }
    state.SetItemsProcessed(state.iterations());
}

// The worst case: a sprite on every one of the 1200 cells (houses parked, every
// road cell with some set of headings), and the storm over the middle of town.
void BM_DrawSceneEveryCellOccupied(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    reset_scenario(*sim);
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            GridCell& c = cell_at(sim->grid, {x, y});
            c.traffic = c.layout == LAYOUT_HOUSE ? 2 : static_cast<std::uint8_t>((x + y) % 15 + 1);
        }
    }
    sim->storm.storm = {20.0f, 15.0f, 15.0f, 0.002f};
    sim->storm.stormSpin = 123.0f;
    run_frames(state, *sim);
}
BENCHMARK(BM_DrawSceneEveryCellOccupied)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The start of a scenario: 360 houses with their cars, empty roads, storm parked.
void BM_DrawSceneFreshTown(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    reset_scenario(*sim);
    run_frames(state, *sim);
}
BENCHMARK(BM_DrawSceneFreshTown)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

// Runs a scenario for a number of ticks and draws the frame the window would
// show at that moment, 1024 × 768 with the initial camera, into a PNG file.
//
//   render_screenshot <out.png> [ticks = 560] [seed = 1] [picture folder]
//
// The pictures are looked for in data/ below the working directory, then in the
// folder given.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "render/offscreen.h"
#include "render/scene.h"
#include "sim/driver.h"

namespace {

constexpr int WIDTH = 1024;
constexpr int HEIGHT = 768;

void print_notice(const char* caption, const char* text) {
    std::fprintf(stderr, "%s %s\n", caption, text);
}

// Writes RGBA rows given bottom-up as an RGB PNG, top row first.
bool write_png(const char* path, const std::vector<std::uint8_t>& rgba, int w, int h) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    std::vector<png_byte> row(static_cast<std::size_t>(w) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = h - 1; y >= 0; --y) {
        const std::uint8_t* src = &rgba[static_cast<std::size_t>(y) * w * 4];
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = src[x * 4 + c];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out.png> [ticks] [seed] [picture folder]\n", argv[0]);
        return 2;
    }
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 560;
    const auto seed = static_cast<std::int32_t>(argc > 3 ? std::atol(argv[3]) : 1);

    auto sim = std::make_unique<Simulation>();
    sim->scenarioSeed = seed;
    reset_scenario(*sim);
    for (int i = 0; i < ticks; ++i) sim_tick(*sim);

    OffscreenContext context;
    std::string error;
    if (!open_offscreen(context, WIDTH, HEIGHT, &error)) {
        std::fprintf(stderr, "no drawing context: %s\n", error.c_str());
        return 1;
    }
    PictureSetup setup{{LOCAL_PICTURE_FOLDER}, print_notice};
    if (argc > 4) setup.folders.emplace_back(argv[4]);
    init_render_state();
    set_view_projection(WIDTH, HEIGHT);
    init_map(setup);
    init_car(setup);
    init_storm(setup);

    const Camera camera;
    draw_scene(*sim, camera);
    std::vector<std::uint8_t> pixels;
    read_offscreen_pixels(context, pixels);
    free_map();
    free_car();
    free_storm();
    close_offscreen(context);

    const StormPoint& s = sim->storm.storm;
    std::printf("%s: storm at (%.2f, %.2f), size %.2f, spin %.1f\n", status_line(*sim).text,
                static_cast<double>(s.x), static_cast<double>(s.y), static_cast<double>(s.size),
                static_cast<double>(sim->storm.stormSpin));
    if (!write_png(argv[1], pixels, WIDTH, HEIGHT)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

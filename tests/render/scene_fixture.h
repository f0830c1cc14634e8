// Shared set-up for the scene tests: an offscreen context with the window's
// projection, pictures with exactly known pixels written into a fresh folder,
// a notice function that records what it was asked to show, and the arithmetic
// that says where a map point must land on the screen.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "render/offscreen.h"
#include "render/scene.h"

using Rgb = std::array<int, 3>;

// The clear colour as 8-bit channels: 0.6275 × 255 = 160.01.
constexpr Rgb GREY = {160, 160, 160};
constexpr Rgb PURE_RED = {255, 0, 0};

// A picture defined by a colour for every pixel (x from the left, y from the bottom).
using PixelFn = std::function<Rgb(int x, int y)>;

// The test map: 10 × 10 pixels per cell, every cell its own colour, none grey or
// red. Cell (x, y) is (40 + 5x, 20 + 7y, 200).
constexpr int MAP_CELL_PIXELS = 10;
Rgb map_cell_colour(int x, int y);
// The cell a test-map colour belongs to; false for any other colour (within 2 of a channel).
bool map_cell_of(const Rgb& colour, int& x, int& y);

// The test car sheet: 340 × 32, frame k (columns 20k..20k+19, bottom 20 rows) in
// its own colour, everything above the frames yellow, which must never show.
constexpr int CAR_SHEET_W = 340;
constexpr int CAR_SHEET_H = 32;
Rgb car_frame_colour(int k);
Rgb car_sheet_pixel(int x, int y);

// The test storm: 64 × 64, its four quadrants in four colours, with a pure red
// square in the middle (pixels 24..39 in both directions).
enum Quadrant { LOWER_LEFT, LOWER_RIGHT, UPPER_RIGHT, UPPER_LEFT };
Rgb storm_quadrant_colour(Quadrant q);
Rgb storm_pixel(int x, int y);

// What a notice function was asked to show.
struct Notice {
    std::string caption;
    std::string text;
};
// The notices recorded since the last clear_notices.
const std::vector<Notice>& notices();
void clear_notices();
void record_notice(const char* caption, const char* text);

// Where map point (mx, my) lands in window coordinates (pixels from the
// bottom-left corner) for a view of w × h: the camera moves the point to
// (mx - panX, my - panY, -distance), and the frustum with half-height 1 at the
// near plane 4 and half-width aspect divides by distance / 4.
struct WindowPoint {
    double x;
    double y;
};
WindowPoint to_window(const Camera& camera, int w, int h, double mx, double my);

// An offscreen context of VIEW_W × VIEW_H with the fixed drawing state and the
// window's projection, a temporary picture folder, and an empty town.
class SceneTest : public ::testing::Test {
  protected:
    static constexpr int VIEW_W = 320;
    static constexpr int VIEW_H = 240;

    void SetUp() override;
    void TearDown() override;

    // Writes a picture into the test's picture folder (or another folder).
    void write_picture(const char* name, int w, int h, const PixelFn& pixel);
    void write_picture_in(const std::filesystem::path& folder, const char* name, int w, int h,
                          const PixelFn& pixel);
    // Writes the standard test map, car sheet and storm.
    void write_standard_pictures();
    // Loads all three pictures from the test's folder, as the program does at start-up.
    void init_all();
    PictureSetup setup() const { return PictureSetup{{folder.string()}, record_notice}; }

    // Draws a frame of the test's town and reads it back.
    void draw();
    // The colour of window pixel (x, y), counted from the bottom-left.
    Rgb pixel(int x, int y) const;
    // The colour at the window pixel under map point (mx, my).
    Rgb at(double mx, double my) const;

    // Puts a road car (or cars) with these headings on a cell, or cars in a house.
    void set_cell(int x, int y, std::uint8_t layout, std::uint8_t traffic);
    // The storm at (x, y), size cells wide, turned by spin degrees.
    void place_storm(float x, float y, float size, float spin);

    OffscreenContext context;
    std::filesystem::path folder;
    RoadGrid grid = {};
    StormState storm;  // parked off the map, not turned
    Camera camera;     // the initial camera: the town exactly fills the 4:3 view
    std::vector<std::uint8_t> frame;
};

// Channels equal within `tolerance`.
::testing::AssertionResult same_colour(const Rgb& actual, const Rgb& expected, int tolerance = 2);

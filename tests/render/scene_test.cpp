// The scene drawn into a real Mesa context and read back: where each layer lands
// and which part of its picture it shows, what pure red lets through, what a
// failed picture load leaves out, and what a frame leaves alone (the GL state,
// the heap, and the GL's matrices when the storm's numbers have run away).
#include "render/scene.h"

#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "render/bmp.h"
#include "render/offscreen.h"

namespace {
// Allocations through the C++ heap while the flag is raised.
std::atomic<bool> countAllocations{false};
std::atomic<int> allocations{0};
void* counted(std::size_t n) noexcept {
    if (countAllocations) ++allocations;
    return std::malloc(n == 0 ? 1 : n);
}

// Transform calls that reach the GL from anywhere in the program, and those
// with a number that is not finite: a NaN in a matrix draws nothing on Mesa but
// garbage or a stall elsewhere, so the pixels alone cannot show that none got in.
int transformCalls = 0;
int nonFiniteCalls = 0;
template <typename... Args>
void pass_on(const char* name, Args... args) {
    ++transformCalls;
    if (!(std::isfinite(args) && ...)) ++nonFiniteCalls;
    reinterpret_cast<void (*)(Args...)>(dlsym(RTLD_NEXT, name))(args...);
}
}  // namespace

// The program's own definitions take precedence over the libraries' for every
// caller. Every plain form of new and delete is replaced, so that whatever one
// form allocates another may free.
// clang-format off
void* operator new(std::size_t n) { if (void* p = counted(n)) return p; throw std::bad_alloc(); }
void* operator new[](std::size_t n) { if (void* p = counted(n)) return p; throw std::bad_alloc(); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
extern "C" void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { pass_on("glTranslatef", x, y, z); }
extern "C" void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { pass_on("glRotatef", a, x, y, z); }
extern "C" void glScalef(GLfloat x, GLfloat y, GLfloat z) { pass_on("glScalef", x, y, z); }
// clang-format on

namespace {

using Rgb = std::array<int, 3>;
using Box = std::array<int, 4>;  // left, bottom, right, top: inclusive pixel columns and rows

constexpr Rgb GREY = {160, 160, 160};  // the clear colour: 0.6275 × 255
constexpr Rgb RED = {255, 0, 0};       // the sprites' transparent colour

// Test pictures in which every part that matters has a colour of its own.
// The map: 10 × 10 pixels a cell, 400 × 300 in all.
const auto map_colour = [](int x, int y) { return Rgb{40 + 5 * x, 20 + 7 * y, 200}; };
// The car sheet, 340 × 32: frame k in columns 20k..20k+19 of the bottom 20 rows,
// yellow above the frames, which must never show.
const auto frame_colour = [](int k) { return Rgb{10 + 15 * k, 250 - 12 * k, 60}; };
const auto car_pixel = [](int x, int y) {
    return y < 20 ? frame_colour(x / 20) : Rgb{255, 255, 0};
};
// The storm, 64 × 64: four quadrants around a pure red middle (24..39 both ways).
enum Quadrant { LL, LR, UR, UL };
constexpr Rgb QUADRANT[] = {{20, 200, 20}, {20, 20, 230}, {230, 230, 20}, {140, 20, 140}};
Rgb storm_pixel(int x, int y) {
    if (x >= 24 && x < 40 && y >= 24 && y < 40) return RED;
    return QUADRANT[y < 32 ? (x < 32 ? LL : LR) : (x < 32 ? UL : UR)];
}

namespace fs = std::filesystem;

std::vector<std::string> notices;  // caption and text of each notice shown
void record_notice(const char* caption, const char* text) {
    notices.push_back(std::string(caption) + " " + text);
}

// A 320 × 240 view (4:3, so the initial camera shows exactly the town, 8 pixels
// a cell), a picture folder holding the three test pictures, an empty town.
class Scene : public ::testing::Test {
  protected:
    static constexpr int W = 320;
    static constexpr int H = 240;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(open_offscreen(context, W, H, &error)) << error;
        init_render_state();
        set_view_projection(W, H);
        write_standard_pictures(folder);
    }
    void TearDown() override {
        free_all();
        close_offscreen(context);
        fs::remove_all(folder);
    }

    template <typename PixelFn>
    void write(const fs::path& file, int w, int h, PixelFn colour) {
        Image image;
        ASSERT_EQ(alloc_image(w, h, 3, image), 1);
        for (int i = 0; i < 3 * w * h; ++i)
            image.pixels[i] = static_cast<std::uint8_t>(colour(i / 3 % w, i / 3 / w)[i % 3]);
        fs::create_directories(file.parent_path());
        ASSERT_EQ(write_bmp(file.string().c_str(), image), 1);
    }
    void write_standard_pictures(const fs::path& dir) {
        write(dir / "map.bmp", 400, 300, [](int x, int y) { return map_colour(x / 10, y / 10); });
        write(dir / "car.bmp", 340, 32, car_pixel);
        write(dir / "storm.bmp", 64, 64, storm_pixel);
    }
    // Each picture comes from the first folder that holds a file of its name.
    PictureSetup setup() const {
        return {{(folder / "none").string(), folder.string(), installed.string()}, record_notice};
    }
    void init_all() { init_map(setup()), init_car(setup()), init_storm(setup()); }
    static void free_all() { free_map(), free_car(), free_storm(); }
    void draw() { draw_scene(grid, storm, camera), read_offscreen_pixels(context, frame); }

    Rgb pixel(int x, int y) const {
        const std::uint8_t* p = &frame.at((static_cast<std::size_t>(y) * W + x) * 4);
        return {p[0], p[1], p[2]};
    }
    // The pixel under map point (mx, my): the camera puts the point at
    // (mx - panX, my - panY), `distance` below the eye, and the frustum (half-height
    // 1 at the near plane 4) makes the view distance / 2 map units tall.
    Rgb at(double mx, double my) const {
        const double perUnit = 2.0 * H / camera.cameraDistance;
        return pixel(static_cast<int>(std::floor(W / 2.0 + (mx - camera.cameraPanX) * perUnit)),
                     static_cast<int>(std::floor(H / 2.0 + (my - camera.cameraPanY) * perUnit)));
    }
    // The pixels that are not the clear colour lie in this box.
    Box drawn_box() const {
        Box b{W, H, -1, -1};
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (pixel(x, y) == GREY) continue;
                b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
            }
        return b;
    }
    // Every pixel of the frame at the initial camera against the colour of its cell.
    template <typename CellColourFn>
    void expect_cells(CellColourFn expected) const {
        int wrong = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (pixel(x, y) == expected(x / 8, y / 8)) continue;
                if (wrong++ == 0) ADD_FAILURE() << "first wrong pixel " << x << "," << y;
            }
        EXPECT_EQ(wrong, 0);
    }

    void place_storm(float x, float y, float size, float spin) {
        storm.storm = {x, y, size, 0};
        storm.stormSpin = spin;
    }

    OffscreenContext context;
    fs::path folder = fs::temp_directory_path() / ("marovel-render-" + std::to_string(getpid()));
    // Searched after `folder`; empty unless a test fills it.
    fs::path installed = folder / "installed";
    RoadGrid grid = {};
    StormState storm;  // parked
    Camera camera;     // initial: distance 60 over the middle of the town
    std::vector<std::uint8_t> frame;
};

TEST_F(Scene, TheMapFillsTheViewUprightAndItsPureRedIsDrawnRed) {
    write(folder / "map.bmp", 400, 300, [](int x, int y) {
        return x / 10 == 5 && y / 10 == 7 ? RED : map_colour(x / 10, y / 10);
    });
    init_all();
    // Matrices a window toolkit or an earlier drawing might leave behind count for
    // nothing; at the initial camera (distance 60) the 30 rows fill the view's 240.
    glMatrixMode(GL_TEXTURE);
    glScalef(2, 3, 1);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(5, -3, 1);
    draw();  // the parked storm lies off the map
    expect_cells([](int x, int y) { return x == 5 && y == 7 ? RED : map_colour(x, y); });
    // Picture row 0 at the bottom of the screen, so the exit is mid-way along the top row.
    EXPECT_EQ(pixel(8 * ExitCell.x + 4, H - 4), map_colour(20, 29));
}

TEST_F(Scene, PictureRowsThatAreNotAMultipleOfFourBytesAreTakenUpWithoutShear) {
    // Two pixels a row: 6 bytes. Each pixel is one quadrant of the town.
    const Rgb quadrant[2][2] = {{{200, 40, 40}, {40, 200, 40}}, {{40, 40, 200}, {200, 200, 40}}};
    write(folder / "map.bmp", 2, 2, [&](int x, int y) { return quadrant[y][x]; });
    init_map(setup());
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4) << "loading a picture must not change how others upload";
    camera = {20.0625f, 15.0625f, 60};  // half a pixel over, so pixel centres meet texel centres
    draw();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(at(10 + 20 * x, 7.5 + 15 * y), quadrant[y][x]);
}

TEST_F(Scene, CameraValuesMoveTheViewAndTheClearColourLiesAround) {
    init_all();
    const std::pair<Camera, Box> cases[] = {
        {{20, 15, 120}, {80, 60, 239, 179}},    // 4 pixels a cell, the town in the middle
        {{30, 22.5, 120}, {40, 30, 199, 149}},  // 10 cells right, 7.5 up: 40 pixels left, 30 down
        {{40, 30, 20}, {0, 0, 159, 119}},  // upper-right corner at the centre, 24 pixels a cell
        // Over the parked storm, far from the town: 15 cells wide around (-100, -100).
        {{-100, -100, 60}, {100, 60, 219, 179}},
    };
    for (const auto& [view, drawn] : cases) {
        camera = view;
        draw();
        EXPECT_EQ(drawn_box(), drawn) << "camera " << camera.cameraPanX << ", " << camera.cameraPanY
                                      << ", " << camera.cameraDistance;
    }
}

TEST_F(Scene, EachOccupiedCellShowsOneFrameOfTheSheetOverItsOwnCellOnly) {
    init_all();
    // Row 4: a house shows the parked frame 1 whatever its count; an emptied house,
    // an empty road and traffic bytes beyond the fifteen frames (100 and 101 are
    // the numbers of the map and storm lists) show nothing.
    const GridCell row4[] = {{LAYOUT_HOUSE, 1},      {LAYOUT_HOUSE, 2},    {LAYOUT_HOUSE, 5},
                             {LAYOUT_HOUSE, 0},      {LAYOUT_ROAD_ANY, 0}, {LAYOUT_ROAD_X, 16},
                             {LAYOUT_ROAD_ANY, 100}, {LAYOUT_BLOCKED, 101}};
    const int row4Frame[] = {1, 1, 1, 0, 0, 0, 0, 0};
    int frameAt[GRID_H][GRID_W] = {};
    for (int i = 0; i < 8; ++i) {
        grid.cells[4][2 * i + 1] = row4[i];
        frameAt[4][2 * i + 1] = row4Frame[i];
    }
    // Row 10: road traffic k (the headings' bits) shows frame k, so 9 (north and
    // east) the sheet's columns 180..199.
    for (int k = 1; k <= 15; ++k) {
        grid.cells[10][2 * k] = {LAYOUT_ROAD_ANY, static_cast<std::uint8_t>(k)};
        frameAt[10][2 * k] = k;
    }
    draw();  // and any first-use work of the GL with it
    allocations = 0;
    countAllocations = true;
    draw_scene(grid, storm, camera);
    countAllocations = false;
    EXPECT_EQ(allocations, 0);
    read_offscreen_pixels(context, frame);
    expect_cells([&](int x, int y) {
        return frameAt[y][x] != 0 ? frame_colour(frameAt[y][x]) : map_colour(x, y);
    });
    // What the frame leaves for the window: blending and texturing off, the
    // modelview matrix selected, every sprite's push popped.
    GLint mode = 0, depth = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ((std::array<int, 4>{glIsEnabled(GL_BLEND), glIsEnabled(GL_TEXTURE_2D), mode, depth}),
              (std::array<int, 4>{GL_FALSE, GL_FALSE, GL_MODELVIEW, 1}));
}

TEST_F(Scene, TheStormIsSizeCellsWideTurnsCounterClockwiseAndIsLeftOutWhenNotFinite) {
    init_storm(setup());  // alone on the clear colour
    const Box nothing = {W, H, -1, -1};
    const struct {
        float x, y, size, spin;
        Box drawn;
        Quadrant shown[4];  // at the lower-left, lower-right, upper-right, upper-left
    } cases[] = {
        {20, 15, 10, 0, {120, 80, 199, 159}, {LL, LR, UR, UL}},  // 80 pixels: ten cells of 8
        {20, 15, 10, 90, {120, 80, 199, 159}, {UL, LL, LR, UR}},
        {20, 15, 10, 180, {120, 80, 199, 159}, {UR, UL, LL, LR}},
        {20, 15, 10, 450, {120, 80, 199, 159}, {UL, LL, LR, UR}},  // the spin is never wrapped
        // The track can run away late in a run: such a storm lies nowhere.
        {NAN, 15, 10, 0, nothing, {}},
        {20, 15, 4, 0, {144, 104, 175, 135}, {LL, LR, UR, UL}},
        {20, INFINITY, 10, 0, nothing, {}},
        {20, 15, -INFINITY, 0, nothing, {}},
        {20, 15, 10, NAN, nothing, {}},
    };
    for (const auto& c : cases) {
        place_storm(c.x, c.y, c.size, c.spin);
        transformCalls = nonFiniteCalls = 0;
        draw();
        SCOPED_TRACE(testing::Message() << c.x << ' ' << c.y << ' ' << c.size << ' ' << c.spin);
        EXPECT_EQ(drawn_box(), c.drawn);
        EXPECT_EQ(nonFiniteCalls, 0);
        EXPECT_GT(transformCalls, 0);  // the watch does see the frame's calls
        if (c.drawn == nothing) continue;
        const double q = c.size / 4;  // the middle of a quadrant, clear of the red middle
        EXPECT_EQ(at(20 - q, 15 - q), QUADRANT[c.shown[0]]);
        EXPECT_EQ(at(20 + q, 15 - q), QUADRANT[c.shown[1]]);
        EXPECT_EQ(at(20 + q, 15 + q), QUADRANT[c.shown[2]]);
        EXPECT_EQ(at(20 - q, 15 + q), QUADRANT[c.shown[3]]);
    }
}

TEST_F(Scene, PureRedOfTheSpritesShowsWhatLiesBeneath) {
    // Frame 1 with a pure red middle (columns 25..34, rows 5..14).
    write(folder / "car.bmp", 340, 32, [](int x, int y) {
        return x >= 25 && x < 35 && y >= 5 && y < 15 ? RED : car_pixel(x, y);
    });
    init_all();
    grid.cells[6][6] = {LAYOUT_HOUSE, 2};
    grid.cells[15][20] = {LAYOUT_ROAD_ANY, DIR_X_INC};  // under the storm's red middle
    grid.cells[12][17] = {LAYOUT_ROAD_ANY, DIR_Y_INC};  // under its lower-left quadrant
    place_storm(20, 15, 10, 0);                         // red middle: 18.75..21.25 both ways
    draw();
    EXPECT_EQ(at(6.5, 6.5), map_colour(6, 6));
    EXPECT_EQ(at(6.05, 6.5), frame_colour(1));
    EXPECT_EQ(at(20.5, 15.5), frame_colour(DIR_X_INC));
    EXPECT_EQ(at(19.5, 14.5), map_colour(19, 14));
    EXPECT_EQ(at(17.5, 12.5), QUADRANT[LL]);
}

TEST_F(Scene, APictureThatCannotBeUsedIsNoticedAndOnlyItsLayerIsLeftOut) {
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    const struct {
        std::string file;
        // Rows of the one-pixel-wide picture written in its place; -1: no file in
        // any folder, -2: a file that is no picture at all.
        int rows;
        const char* notice;
    } cases[] = {
        {"map.bmp", -1, "ERROR! init_map() - can't read map!"},
        {"car.bmp", -1, "ERROR! init_car() - can't read map!"},
        {"storm.bmp", -1, "ERROR! init_storm() - can't read map!"},
        {"car.bmp", 0, "ERROR! init_car() - can't read map!"},  // nothing to make a texture of
        {"storm.bmp", largest + 1, "ERROR! init_storm() - can't read map!"},  // beyond the GL
        {"map.bmp", -2, "ERROR! init_map() - can't read map!"},
    };
    grid.cells[3][3] = {LAYOUT_HOUSE, 2};
    place_storm(20, 15, 10, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " of " + std::to_string(c.rows) + " rows");
        write_standard_pictures(folder);
        write_standard_pictures(installed);
        fs::remove(folder / c.file);
        // A broken picture is reported, never silently replaced by a later folder's good one.
        if (c.rows == -1) fs::remove(installed / c.file);
        if (c.rows == -2) std::ofstream(folder / c.file) << "not a picture";
        if (c.rows >= 0) write(folder / c.file, 1, c.rows, storm_pixel);
        notices.clear();
        init_all();
        EXPECT_EQ(notices, std::vector<std::string>{c.notice});
        // The other layers are drawn as ever, though freed after each case and loaded again.
        draw();
        EXPECT_EQ(at(30.5, 20.5), c.file != "map.bmp" ? map_colour(30, 20) : GREY);
        EXPECT_EQ(at(3.5, 3.5), c.file != "car.bmp" ? frame_colour(1) : map_colour(3, 3));
        EXPECT_EQ(at(17.5, 12.5), c.file != "storm.bmp" ? QUADRANT[LL] : map_colour(17, 12));
        free_all();
    }
}

}  // namespace

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
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "render/bmp.h"
#include "render/offscreen.h"
#include "render/town_map.h"
#include "support/towns.h"

// Allocations through the C++ heap while the flag is raised; the memory itself
// comes from the operator new this one hides, so every delete still matches it.
static std::atomic<bool> countAllocations{false};
static std::atomic<int> allocations{0};
// Transform calls with a number that is not finite, from anywhere in the program:
// a NaN in a matrix draws nothing on Mesa but garbage or a stall elsewhere, so the
// pixels alone cannot show that none got in.
static int nonFiniteCalls = 0;
template <typename... Args>
static void pass_on(const char* name, Args... args) {
    if (!(std::isfinite(args) && ...)) ++nonFiniteCalls;
    reinterpret_cast<void (*)(Args...)>(dlsym(RTLD_NEXT, name))(args...);
}

// The program's own definitions take precedence over the libraries' for every
// caller. "_Znwm" is the linker's name of operator new(unsigned long).
void* operator new(std::size_t n) {
    static const auto next = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_NEXT, "_Znwm"));
    if (countAllocations) ++allocations;
    return next(n);
}
// clang-format off
extern "C" void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { pass_on("glTranslatef", x, y, z); }
extern "C" void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { pass_on("glRotatef", a, x, y, z); }
extern "C" void glScalef(GLfloat x, GLfloat y, GLfloat z) { pass_on("glScalef", x, y, z); }
// clang-format on

namespace {

using Rgb = std::array<int, 3>;
constexpr auto npos = std::string::npos;
using Box = std::array<int, 4>;  // left, bottom, right, top: inclusive pixel columns and rows

constexpr Rgb GREY = {160, 160, 160};  // the clear colour: 0.6275 × 255
constexpr Rgb RED = {255, 0, 0};       // the sprites' transparent colour

// Test pictures in which every part that matters has a colour of its own.
// The map: 10 × 10 pixels a cell, 400 × 300 in all; cell (5, 7) is pure red,
// which on the map is a colour like any other.
const auto map_colour = [](int x, int y) {
    return x == 5 && y == 7 ? RED : Rgb{40 + 5 * x, 20 + 7 * y, 200};
};
// The car sheet, 340 × 32: frame k in columns 20k..20k+19 of the bottom 20 rows,
// yellow above the frames, which must never show. Frame 1 has a pure red middle
// (columns 25..34, rows 5..14). At 8 pixels a cell, pixel p of a cell samples the
// frame at 2.5p + 1.25 texels, so pixels 2..5 both ways filter only red texels and
// the others none.
const auto frame_colour = [](int k) { return Rgb{10 + 15 * k, 250 - 12 * k, 60}; };
const auto car_pixel = [](int x, int y) {
    if (x >= 25 && x < 35 && y >= 5 && y < 15) return RED;
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
        close_offscreen(context);
        fs::remove_all(folder);
    }

    void write(const fs::path& file, int w, int h, auto colour) {
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
    void init_all() { init_map(setup), init_car(setup), init_storm(setup); }
    void draw() { draw_scene(grid, storm, camera), read_offscreen_pixels(context, frame); }

    Rgb pixel(int x, int y) const {
        return {frame.at(4 * (y * W + x)), frame[4 * (y * W + x) + 1], frame[4 * (y * W + x) + 2]};
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
        for (int x = 0, y = 0; y < H; y += ++x / W, x %= W)
            if (pixel(x, y) != GREY)
                b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
        return b;
    }

    OffscreenContext context;
    fs::path folder = fs::temp_directory_path() / ("marovel-render-" + std::to_string(getpid()));
    // Searched after `folder`; empty unless a test fills it.
    fs::path installed = folder / "installed";
    // Each picture comes from the first folder that holds a file of its name.
    const PictureSetup setup{
        {(folder / "none").string(), folder.string(), installed.string()},
        [](const char* caption, const char* text) {
            notices.push_back(std::string(caption).append(1, ' ').append(text));
        }};
    RoadGrid grid = blank_grid();
    StormState storm;  // parked
    Camera camera;     // initial: distance 60 over the middle of the town
    std::vector<std::uint8_t> frame;
};

TEST_F(Scene, TheMapFillsTheViewUprightAndEachOccupiedCellShowsOneFrameOverItsOwnCell) {
    init_all();
    // Row 4: a house shows the parked frame 1 whatever its count; an emptied house,
    // an empty road and traffic bytes beyond the fifteen frames (100 and 101 are
    // the numbers of the map and storm lists) show nothing.
    const std::pair<GridCell, int> row4[] = {{{LAYOUT_HOUSE, 2}, 1},    {{LAYOUT_HOUSE, 5}, 1},
                                             {{LAYOUT_HOUSE, 0}, 0},    {{LAYOUT_ROAD_ANY, 0}, 0},
                                             {{LAYOUT_ROAD_X, 16}, 0},  {{LAYOUT_ROAD_ANY, 100}, 0},
                                             {{LAYOUT_BLOCKED, 101}, 0}};
    int frameAt[GRID_H][GRID_W] = {};
    for (int i = 0; i < 7; ++i)
        std::tie(cell_at(grid, {2 * i + 1, 4}), frameAt[4][2 * i + 1]) = row4[i];
    // Row 10: road traffic k (the headings' bits) shows frame k, so 9 (north and
    // east) the sheet's columns 180..199.
    for (int k = 1; k <= 15; ++k) {
        cell_at(grid, {2 * k, 10}) = {LAYOUT_ROAD_ANY, static_cast<std::uint8_t>(k)};
        frameAt[10][2 * k] = k;
    }
    draw();  // and any first-use work of the GL with it
    // A texture matrix and matrix mode left behind by a window toolkit count for nothing.
    glMatrixMode(GL_TEXTURE);
    glScalef(2, 3, 1);
    allocations = 0;
    countAllocations = true;
    draw();  // the parked storm lies off the map
    countAllocations = false;
    EXPECT_EQ(allocations, 0);
    // What the frame leaves for the window: blending and texturing off, the
    // modelview matrix selected, every sprite's push popped, and the unpack
    // alignment of the pictures' upload put back for others.
    const GLenum names[] = {GL_BLEND, GL_TEXTURE_2D, GL_MATRIX_MODE, GL_MODELVIEW_STACK_DEPTH,
                            GL_UNPACK_ALIGNMENT};
    std::array<GLint, 5> state{};
    for (int i = 0; i < 5; ++i) glGetIntegerv(names[i], &state[i]);
    EXPECT_EQ(state, (std::array<GLint, 5>{GL_FALSE, GL_FALSE, GL_MODELVIEW, 1, 4}));
    // The exit is mid-way along the top row.
    EXPECT_EQ(pixel(8 * ExitCell.x + 4, H - 4), map_colour(20, 29));
    // At the initial camera (distance 60) the 30 rows fill the view's 240, row 0 at the bottom.
    for (int x = 0, y = 0; y < H; y += ++x / W, x %= W) {
        const int k = frameAt[y / 8][x / 8];
        const bool hole = k == 1 && x % 8 >= 2 && x % 8 < 6 && y % 8 >= 2 && y % 8 < 6;
        ASSERT_EQ(pixel(x, y), k != 0 && !hole ? frame_colour(k) : map_colour(x / 8, y / 8))
            << "pixel " << x << "," << y;
    }
}

TEST_F(Scene, TheCameraMovesTheViewAndTheStormIsSizeCellsWideTurnedCounterClockwiseIfFinite) {
    // A map of 6 × 6 pixels (18-byte rows, not a multiple of four), one colour a
    // quadrant of the town, must be taken up without shear.
    const Rgb quadrant[2][2] = {{{200, 40, 40}, {40, 200, 40}}, {{40, 40, 200}, {200, 200, 40}}};
    write(folder / "map.bmp", 6, 6, [&](int x, int y) { return quadrant[y / 3][x / 3]; });
    init_all();
    draw();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(at(10 + 20 * (i % 2), 7.5 + 15 * (i / 2)), quadrant[i / 2][i % 2]);
    // The clear colour lies around the map.
    const std::pair<Camera, Box> views[] = {
        {{20, 15, 120}, {80, 60, 239, 179}},    // 4 pixels a cell, the town in the middle
        {{30, 22.5, 120}, {40, 30, 199, 149}},  // 10 cells right, 7.5 up: 40 pixels left, 30 down
        {{40, 30, 20}, {0, 0, 159, 119}},  // upper-right corner at the centre, 24 pixels a cell
    };
    for (const auto& [view, drawn] : views) {
        camera = view;
        draw();
        EXPECT_EQ(drawn_box(), drawn) << "camera over x = " << view.cameraPanX;
    }
    // Far from the town, where the storm is parked, each storm alone on the clear
    // colour, 8 pixels a cell.
    camera = {-100, -100, 60};
    const Box nothing = {W, H, -1, -1};
    const struct {
        float x, y, size, spin;
        Box drawn;
        Quadrant shown[4];  // at the lower-left, lower-right, upper-right, upper-left
    } storms[] = {
        {-100, -100, 15, 0, {100, 60, 219, 179}, {LL, LR, UR, UL}},   // as parked
        {-100, -100, 10, 90, {120, 80, 199, 159}, {UL, LL, LR, UR}},  // ten cells
        // The track can run away late in a run: such a storm lies nowhere.
        {NAN, -100, 10, 0, nothing, {}},
        {-100, INFINITY, 10, 0, nothing, {}},
        {-100, -100, -INFINITY, 0, nothing, {}},
        {-100, -100, 10, NAN, nothing, {}},
    };
    for (const auto& c : storms) {
        storm.storm = {c.x, c.y, c.size, 0};
        storm.stormSpin = c.spin;
        draw();
        SCOPED_TRACE(testing::Message() << c.x << ' ' << c.y << ' ' << c.size << ' ' << c.spin);
        EXPECT_EQ(drawn_box(), c.drawn);
        EXPECT_EQ(nonFiniteCalls, 0);  // ever, in any test
        const double q = c.size / 4;   // the middle of a quadrant, clear of the red middle
        for (int i = 0; c.drawn != nothing && i < 4; ++i)  // counter-clockwise from lower-left
            EXPECT_EQ(at(c.x + (i == 1 || i == 2 ? q : -q), c.y + (i < 2 ? -q : q)),
                      QUADRANT[c.shown[i]]);
    }
}

TEST_F(Scene, LayersStackWithPureRedSeeThroughAndABadPictureLeavesOutOnlyItsLayer) {
    // Each picture in turn missing from every folder (-1), or refused where it is
    // first found: cut short to no picture at all (-2), or a one-pixel-wide picture
    // of no rows (nothing to make a texture of). Pictures larger than a texture
    // can hold are refused by the reader from their header (tests/image).
    const std::pair<std::string, int> cases[] = {{"map", -1}, {"car", -1}, {"storm", -1},
                                                 {"map", -2}, {"car", 0},  {"storm", -2}};
    cell_at(grid, {3, 3}) = {LAYOUT_HOUSE, 2};
    cell_at(grid, {20, 15}) = {LAYOUT_ROAD_ANY, DIR_X_INC};  // under the storm's red middle
    cell_at(grid, {17, 12}) = {LAYOUT_ROAD_ANY, DIR_Y_INC};  // under its lower-left quadrant
    storm.storm = {20, 15, 10, 0};                           // red middle: 18.75..21.25 both ways
    for (const auto& [name, rows] : cases) {
        SCOPED_TRACE(name + " of " + std::to_string(rows) + " rows");
        const fs::path file = name + ".bmp";
        write_standard_pictures(folder);
        write_standard_pictures(installed);
        // A refused picture is reported, never silently replaced by a later folder's good one.
        if (rows == -1) fs::remove(folder / file), fs::remove(installed / file);
        if (rows == -2) fs::resize_file(folder / file, 10);
        if (rows >= 0) write(folder / file, 1, rows, storm_pixel);
        notices.clear();
        init_all();
        // One notice, naming the picture, why it was refused and every folder searched.
        const std::string why = rows == -1   ? "no folder holds it"
                                : rows == -2 ? (folder / file).string() + " is not a picture"
                                             : "its size does not fit a texture";
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find(name + " picture " + file.string() + ": " + why), npos)
            << notices[0];
        EXPECT_TRUE(notices[0].ends_with(" (looked in " + setup.folders[0] + ", " +
                                         setup.folders[1] + ", " + setup.folders[2] + ")"))
            << notices[0];
        // The other layers are drawn as ever, though freed after each case and loaded again.
        draw();
        const bool cars = name != "car";
        const auto ground = [&](int x, int y) { return name == "map" ? GREY : map_colour(x, y); };
        EXPECT_EQ(at(3.5, 3.5), ground(3, 3));  // the car's red middle
        EXPECT_EQ(at(3.05, 3.5), cars ? frame_colour(1) : ground(3, 3));
        EXPECT_EQ(at(19.5, 14.5), ground(19, 14));  // the storm's red middle
        EXPECT_EQ(at(20.5, 15.5), cars ? frame_colour(DIR_X_INC) : ground(20, 15));
        EXPECT_EQ(at(17.5, 12.5), name != "storm" ? QUADRANT[LL]
                                  : cars          ? frame_colour(DIR_Y_INC)
                                                  : ground(17, 12));
        free_map(), free_car(), free_storm();
    }
}

// The overlays, each on an otherwise empty town over the test map: where each
// lands and in which colour, and that with all of them off the frame is the
// scene's alone.
class Overlays : public Scene {
  protected:
    void SetUp() override {
        Scene::SetUp();
        init_all();
        sim->grid = grid;
    }
    void TearDown() override {
        free_map(), free_car(), free_storm();
        Scene::TearDown();
    }
    void draw_with(const SceneOverlays& o) {
        draw_scene(*sim, camera);
        draw_overlays(*sim, o);
        read_offscreen_pixels(context, frame);
    }
    // A car of the given state standing on a cell: its home, or (away) a cell
    // of another home, marked as an exit when it stands on one.
    Vehicle& park(int x, int y, VehicleState state, bool away = false, bool onExit = false) {
        const std::size_t count = static_cast<std::size_t>(++sim->vehicles.vehicleCount);
        if (sim->vehicles.vehicles.size() < count) sim->vehicles.vehicles.resize(count);
        size_threat_flags(sim->storm, sim->vehicles.vehicleCount);
        Vehicle& v = sim->vehicles.vehicles[count - 1];
        v = {};
        v.state = state;
        v.home = v.pos = {x, y};
        if (away) v.home = {x + 1, y + 1};
        v.onExit = onExit ? 1 : 0;
        return v;
    }
    // `colour` laid over `under` with the tint's alpha, as the blending does it.
    static Rgb tinted(Rgb under, const float (&colour)[3]) {
        Rgb out{};
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<int>(std::lround(under[c] * (1.0 - OVERLAY_TINT_ALPHA) +
                                                  colour[c] * 255.0 * OVERLAY_TINT_ALPHA));
        return out;
    }
    static bool near(Rgb a, Rgb b) {
        for (int c = 0; c < 3; ++c)
            if (std::abs(a[c] - b[c]) > 2) return false;
        return true;
    }
    static Rgb rgb(const float (&colour)[3]) {
        return {static_cast<int>(colour[0] * 255), static_cast<int>(colour[1] * 255),
                static_cast<int>(colour[2] * 255)};
    }
    // Pixels of exactly this colour within a box of pixels (inclusive).
    int count(Rgb colour, Box box) const {
        int n = 0;
        for (int y = box[1]; y <= box[3]; ++y)
            for (int x = box[0]; x <= box[2]; ++x) n += pixel(x, y) == colour;
        return n;
    }
    std::unique_ptr<Simulation> sim = std::make_unique<Simulation>();
};

// The tints follow the Info box's six counts: a car is tinted in the colour
// of the count it is in, each count has a colour of its own, and none is the
// colour of a line overlay.
TEST_F(Overlays, AllOffLeaveTheScenesFrameAsItWasAndEachCarStateHasItsTint) {
    // The six counts as the Info box defines them, each on a cell of its own.
    const struct {
        VehicleState state;
        bool away, onExit;
        const char* count;
    } cars[] = {
        {VS_WAITING, false, false, "not evacuated"}, {VS_EVACUATING, true, true, "evacuated"},
        {VS_GAVE_UP, false, false, "gave up"},       {VS_EVACUATING, true, false, "en route"},
        {VS_OUT_OF_GAS, false, false, "towed"},      {VS_OUT_OF_GAS, true, false, "out of gas"},
    };
    for (int i = 0; i < 6; ++i) park(4 + 2 * i, 6, cars[i].state, cars[i].away, cars[i].onExit);
    // Several states on one cell: the rarer trouble shows.
    park(20, 10, VS_WAITING), park(20, 10, VS_OUT_OF_GAS, true), park(20, 10, VS_EVACUATING, true);
    park(24, 10, VS_WAITING), park(24, 10, VS_GAVE_UP), park(24, 10, VS_EVACUATING);
    sim->storm.threatFlags[0] = 1;
    sim->storm.stormTrack[0] = sim->storm.stormTrack[1] = sim->storm.stormTrack[2] = {10, 10, 6, 0};
    draw_scene(*sim, camera);
    read_offscreen_pixels(context, frame);
    const std::vector<std::uint8_t> scene = frame;
    draw_with(SceneOverlays{});
    EXPECT_TRUE(frame == scene) << "every overlay off: the scene's frame, pixel for pixel";

    draw_with(SceneOverlays{.carStates = true});
    std::set<Rgb> colours{rgb(TRACK_COLOUR), rgb(ZONE_COLOUR), rgb(THREATENED_COLOUR)};
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(CAR_STATE_NAMES[i], cars[i].count) << "the tally's order";
        EXPECT_TRUE(
            near(at(4.5 + 2 * i, 6.5), tinted(map_colour(4 + 2 * i, 6), CAR_STATE_COLOURS[i])))
            << cars[i].count;
        EXPECT_TRUE(colours.insert(rgb(CAR_STATE_COLOURS[i])).second) << cars[i].count;
    }
    EXPECT_TRUE(near(at(20.5, 10.5), tinted(map_colour(20, 10), CAR_STATE_COLOURS[5])))
        << "out of gas over en route and not evacuated";
    EXPECT_TRUE(near(at(24.5, 10.5), tinted(map_colour(24, 10), CAR_STATE_COLOURS[2])))
        << "gave up over en route and not evacuated";
    EXPECT_EQ(at(5.5, 6.5), map_colour(5, 6)) << "a cell without cars keeps its colour";
    GLint blend = 1, texture = 1;
    glGetIntegerv(GL_BLEND, &blend);
    glGetIntegerv(GL_TEXTURE_2D, &texture);
    EXPECT_EQ(std::pair(blend, texture), std::pair(0, 0));
}

TEST_F(Overlays, TrackZoneAndThreatenedHousesAreDrawnWhereTheModelHasThem) {
    // A straight track from (5, 0) through (20, 14.5) to (35, 29), the zone one
    // track length ahead of the parked storm: at the start, 6 cells wide.
    sim->storm.stormTrack[0] = {5, 0, 6, 0};
    sim->storm.stormTrack[1] = {20, 14.5f, 6, 0};
    sim->storm.stormTrack[2] = {35, 29, 6, 0};
    park(30, 20, VS_WAITING);
    park(30, 22, VS_WAITING);
    sim->storm.threatFlags[1] = 1;
    const Rgb white = rgb(TRACK_COLOUR), red = rgb(ZONE_COLOUR), yellow = rgb(THREATENED_COLOUR);

    draw_with(SceneOverlays{.stormTrack = true});
    EXPECT_EQ(at(20.0, 14.5), white) << "the track's middle";
    EXPECT_EQ(at(27.5, 21.75), white) << "three quarters along";
    EXPECT_EQ(at(5.0, 3.0), map_colour(5, 3)) << "off the track";
    // Parked, the storm's place is an outline at the start; on the track a filled mark.
    EXPECT_GT(count(white, {40 - 6, 0, 40 + 6, 6}), 6);
    EXPECT_EQ(at(5.0 - 0.45, 0.3), map_colour(4, 0)) << "inside the outline";
    sim->storm.stormPhase = 0.25f;
    sim->storm.storm = eval_track(sim->storm.stormTrack, 0.25f);
    draw_with(SceneOverlays{.stormTrack = true});
    EXPECT_EQ(at(12.5 + 0.45, 7.25 + 0.45), white) << "the storm's filled mark";

    // The zone: a circle of radius 3 around the middle of the centre cell (5, 0).
    sim->storm.stormPhase = -1.0f;
    draw_with(SceneOverlays{.threatZone = true});
    EXPECT_EQ(at(5.5 + 3.0, 0.5), red);
    EXPECT_EQ(at(5.5, 0.5 + 3.0), red);
    EXPECT_EQ(at(5.5, 0.5), map_colour(5, 0)) << "its inside is left alone";

    draw_with(SceneOverlays{.threatenedHouses = true});
    EXPECT_GT(count(yellow, {8 * 30, 8 * 22, 8 * 30 + 7, 8 * 22 + 7}), 12) << "the flagged house";
    EXPECT_EQ(count(yellow, {8 * 30, 8 * 20, 8 * 30 + 7, 8 * 20 + 7}), 0) << "the other";
    EXPECT_EQ(at(30.5, 22.5), map_colour(30, 22)) << "an outline only";
}

Rgb rgb_of(TownColour c) {
    return {c.r, c.g, c.b};
}

// Any town but the built-in one has its map drawn from its cells: with the
// camera fitted to it, each cell in its own colour where the town has it, the
// grey around, and the car tints placed by the town's size.
TEST_F(Overlays, AnotherTownsMapShowsItsExitsWaterHousesAndDoorsInTheirCellsAndItsCarsTinted) {
    // +++~+++   row 1: the exit at (0, 1), water at x = 3
    // NNN~NNN   row 0: houses with their doors above them
    notices.clear();
    const auto town = catalogue_town("river_no_bridge");
    ASSERT_TRUE(town);
    const Town& river = *town;
    ASSERT_EQ(std::pair(river.width, river.height), std::pair(7, 2));
    load_town_map(river, setup);
    camera = fitted_camera(river.width, river.height, static_cast<float>(W) / H);
    EXPECT_EQ(camera.cameraDistance, 10.5f) << "seven cells across fill the 4:3 view";
    sim->grid = blank_grid(river.width, river.height);
    draw_with(SceneOverlays{});
    EXPECT_EQ(at(0.5, 1.5), rgb_of(TOWN_EXIT)) << "the exit";
    EXPECT_EQ(at(6.5, 1.5), rgb_of(TOWN_ROAD)) << "the far end of the road is no exit";
    EXPECT_EQ(at(3.5, 1.5), rgb_of(TOWN_WATER));
    EXPECT_EQ(at(3.5, 0.5), rgb_of(TOWN_WATER));
    for (const double x : {1.5, 5.5}) {
        EXPECT_EQ(at(x, 0.3), rgb_of(TOWN_HOUSE)) << x;
        EXPECT_EQ(at(x, 0.92), rgb_of(TOWN_DOOR)) << "the door faces the road above: " << x;
    }
    EXPECT_EQ(at(2.01, 0.3), rgb_of(TOWN_LAND)) << "neighbouring houses apart";
    // Seven cells fill the 320 pixels across; the two rows lie in the middle.
    const double perCell = W / 7.0;
    EXPECT_EQ(drawn_box(), (Box{0, static_cast<int>(std::ceil(H / 2.0 - perCell - 0.5)), W - 1,
                                static_cast<int>(std::ceil(H / 2.0 + perCell - 0.5)) - 1}));

    // A town twice the built-in one's width: a car at (70, 20) is tinted there.
    const Town wide = generate_repeated_town(2, 1, 1);
    load_town_map(wide, setup);
    camera = fitted_camera(wide.width, wide.height, static_cast<float>(W) / H);
    sim->grid = blank_grid(wide.width, wide.height);
    park(70, 20, VS_GAVE_UP);
    draw_with(SceneOverlays{});
    const Rgb under = at(70.5, 20.5);
    draw_with(SceneOverlays{.carStates = true});
    EXPECT_TRUE(near(at(70.5, 20.5), tinted(under, CAR_STATE_COLOURS[VS_GAVE_UP])));

    // The built-in town gets its painted map back.
    load_town_map(builtin_town(), setup);
    camera = fitted_camera(GRID_W, GRID_H, static_cast<float>(W) / H);
    EXPECT_EQ(std::tuple(camera.cameraPanX, camera.cameraPanY, camera.cameraDistance),
              std::tuple(20.0f, 15.0f, 60.0f))
        << "the built-in town's fitted camera is the initial one";
    sim->grid = grid;
    draw_with(SceneOverlays{});
    EXPECT_EQ(at(12.5, 7.5), map_colour(12, 7));
    EXPECT_TRUE(notices.empty());
}

}  // namespace

#include "scene_fixture.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "render/bmp.h"

Rgb map_cell_colour(int x, int y) {
    return {40 + 5 * x, 20 + 7 * y, 200};
}

bool map_cell_of(const Rgb& colour, int& x, int& y) {
    if (std::abs(colour[2] - 200) > 2) return false;
    const int cx = static_cast<int>(std::lround((colour[0] - 40) / 5.0));
    const int cy = static_cast<int>(std::lround((colour[1] - 20) / 7.0));
    if (cx < 0 || cx >= GRID_W || cy < 0 || cy >= GRID_H) return false;
    const Rgb expected = map_cell_colour(cx, cy);
    if (std::abs(colour[0] - expected[0]) > 2 || std::abs(colour[1] - expected[1]) > 2) {
        return false;
    }
    x = cx;
    y = cy;
    return true;
}

Rgb car_frame_colour(int k) {
    return {10 + 15 * k, 250 - 12 * k, 60};
}

Rgb car_sheet_pixel(int x, int y) {
    if (y >= CAR_FRAME_PIXELS) return {255, 255, 0};
    return car_frame_colour(x / CAR_FRAME_PIXELS);
}

Rgb storm_quadrant_colour(Quadrant q) {
    switch (q) {
        case LOWER_LEFT:
            return {20, 200, 20};
        case LOWER_RIGHT:
            return {20, 20, 230};
        case UPPER_RIGHT:
            return {230, 230, 20};
        case UPPER_LEFT:
            return {140, 20, 140};
    }
    return {0, 0, 0};
}

Rgb storm_pixel(int x, int y) {
    if (x >= 24 && x <= 39 && y >= 24 && y <= 39) return PURE_RED;
    const bool right = x >= 32;
    const bool upper = y >= 32;
    if (upper) return storm_quadrant_colour(right ? UPPER_RIGHT : UPPER_LEFT);
    return storm_quadrant_colour(right ? LOWER_RIGHT : LOWER_LEFT);
}

namespace {
std::vector<Notice> recorded;
}

const std::vector<Notice>& notices() {
    return recorded;
}
void clear_notices() {
    recorded.clear();
}
void record_notice(const char* caption, const char* text) {
    recorded.push_back({caption, text});
}

WindowPoint to_window(const Camera& camera, int w, int h, double mx, double my) {
    const double aspect = static_cast<double>(w) / h;
    const double d = camera.cameraDistance;
    const double ndcX = 4.0 * (mx - camera.cameraPanX) / (aspect * d);
    const double ndcY = 4.0 * (my - camera.cameraPanY) / d;
    return {(ndcX + 1.0) * w / 2.0, (ndcY + 1.0) * h / 2.0};
}

::testing::AssertionResult same_colour(const Rgb& actual, const Rgb& expected, int tolerance) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(actual[c] - expected[c]) > tolerance) {
            return ::testing::AssertionFailure()
                   << "colour (" << actual[0] << ", " << actual[1] << ", " << actual[2]
                   << ") where (" << expected[0] << ", " << expected[1] << ", " << expected[2]
                   << ") was expected";
        }
    }
    return ::testing::AssertionSuccess();
}

void SceneTest::SetUp() {
    std::string error;
    ASSERT_TRUE(open_offscreen(context, VIEW_W, VIEW_H, &error)) << error;
    init_render_state();
    set_view_projection(VIEW_W, VIEW_H);

    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = std::filesystem::temp_directory_path() /
             ("marovel-render-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" +
              info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    clear_notices();
}

void SceneTest::TearDown() {
    free_map();
    free_car();
    free_storm();
    close_offscreen(context);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void SceneTest::write_picture(const char* name, int w, int h, const PixelFn& pixel) {
    write_picture_in(folder, name, w, h, pixel);
}

void SceneTest::write_picture_in(const std::filesystem::path& where, const char* name, int w, int h,
                                 const PixelFn& pixel) {
    Image image;
    ASSERT_EQ(alloc_image(w, h, 3, image), 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb c = pixel(x, y);
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
            for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>(c[i]);
        }
    }
    std::filesystem::create_directories(where);
    ASSERT_EQ(write_bmp((where / name).string().c_str(), image), 1);
    free_image(image);
}

void SceneTest::write_standard_pictures() {
    write_picture("map.bmp", GRID_W * MAP_CELL_PIXELS, GRID_H * MAP_CELL_PIXELS, [](int x, int y) {
        return map_cell_colour(x / MAP_CELL_PIXELS, y / MAP_CELL_PIXELS);
    });
    write_picture("car.bmp", CAR_SHEET_W, CAR_SHEET_H, car_sheet_pixel);
    write_picture("storm.bmp", 64, 64, storm_pixel);
}

void SceneTest::init_all() {
    const PictureSetup s = setup();
    init_map(s);
    init_car(s);
    init_storm(s);
}

void SceneTest::draw() {
    draw_scene(grid, storm, camera);
    read_offscreen_pixels(context, frame);
}

Rgb SceneTest::pixel(int x, int y) const {
    if (x < 0 || x >= VIEW_W || y < 0 || y >= VIEW_H) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") lies outside the view";
        return {-1, -1, -1};
    }
    const std::uint8_t* p = &frame[(static_cast<std::size_t>(y) * VIEW_W + x) * 4];
    return {p[0], p[1], p[2]};
}

Rgb SceneTest::at(double mx, double my) const {
    const WindowPoint w = to_window(camera, VIEW_W, VIEW_H, mx, my);
    return pixel(static_cast<int>(std::floor(w.x)), static_cast<int>(std::floor(w.y)));
}

void SceneTest::set_cell(int x, int y, std::uint8_t layout, std::uint8_t traffic) {
    grid.cells[y][x].layout = layout;
    grid.cells[y][x].traffic = traffic;
}

void SceneTest::place_storm(float x, float y, float size, float spin) {
    storm.storm.x = x;
    storm.storm.y = y;
    storm.storm.size = size;
    storm.stormSpin = spin;
}

// Start-up and quit of the scene: where the pictures are found, what a failed
// load shows and leaves out of every frame, what freeing removes, and the state
// a frame leaves behind for the window.
#include <GL/gl.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>

#include "scene_fixture.h"

// Counts the allocations made through the C++ heap while a flag is raised, so
// that a frame can be shown to allocate nothing. Every plain form of new and
// delete is replaced, so that whatever one form allocates another may free.
namespace {
std::atomic<bool> countAllocations{false};
std::atomic<int> allocations{0};

void* counted_allocation(std::size_t size) noexcept {
    if (countAllocations) ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* p = counted_allocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = counted_allocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using PictureLoad = SceneTest;
using SceneLifecycle = SceneTest;

const Rgb MAP_A = {30, 120, 90};
const Rgb MAP_B = {200, 120, 30};

TEST_F(PictureLoad, EachMissingPictureShowsItsOwnNotice) {
    init_all();  // an empty folder
    ASSERT_EQ(notices().size(), 3u);
    const char* texts[] = {"init_map() - can't read map!", "init_car() - can't read map!",
                           "init_storm() - can't read map!"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(notices()[i].caption, "ERROR!");
        EXPECT_EQ(notices()[i].text, texts[i]);
    }
}

TEST_F(PictureLoad, WithoutTheStormPictureFramesShowMapAndCarsButNoStorm) {
    write_standard_pictures();
    std::filesystem::remove(folder / "storm.bmp");
    init_all();
    ASSERT_EQ(notices().size(), 1u);
    EXPECT_EQ(notices()[0].caption, "ERROR!");
    EXPECT_EQ(notices()[0].text, "init_storm() - can't read map!");

    set_cell(17, 12, LAYOUT_ROAD_ANY, DIR_Y_INC);
    for (float spin : {0.0f, 45.0f}) {
        place_storm(20.0f, 15.0f, 10.0f, spin);
        draw();
        EXPECT_TRUE(same_colour(at(17.5, 12.5), car_frame_colour(DIR_Y_INC)));
        EXPECT_TRUE(same_colour(at(22.5, 17.5), map_cell_colour(22, 17)));
        EXPECT_TRUE(same_colour(at(20.5, 15.5), map_cell_colour(20, 15)));
    }
}

TEST_F(PictureLoad, WithoutTheMapFramesAreGreyUnderCarsAndStorm) {
    write_standard_pictures();
    std::filesystem::remove(folder / "map.bmp");
    init_all();
    ASSERT_EQ(notices().size(), 1u);
    EXPECT_EQ(notices()[0].text, "init_map() - can't read map!");

    set_cell(3, 3, LAYOUT_HOUSE, 2);
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);
    draw();
    EXPECT_TRUE(same_colour(at(3.5, 3.5), car_frame_colour(1)));
    EXPECT_TRUE(same_colour(at(17.5, 12.5), storm_quadrant_colour(LOWER_LEFT)));
    EXPECT_TRUE(same_colour(at(20.0, 15.0), GREY));  // through the storm's red middle
    EXPECT_TRUE(same_colour(at(35.5, 25.5), GREY));
    EXPECT_TRUE(same_colour(pixel(0, 0), GREY));
}

TEST_F(PictureLoad, WithoutTheCarSheetOccupiedCellsShowTheMap) {
    write_standard_pictures();
    std::filesystem::remove(folder / "car.bmp");
    init_all();
    ASSERT_EQ(notices().size(), 1u);
    EXPECT_EQ(notices()[0].text, "init_car() - can't read map!");
    set_cell(3, 3, LAYOUT_HOUSE, 2);
    set_cell(5, 3, LAYOUT_ROAD_ANY, 9);
    draw();
    EXPECT_TRUE(same_colour(at(3.5, 3.5), map_cell_colour(3, 3)));
    EXPECT_TRUE(same_colour(at(5.5, 3.5), map_cell_colour(5, 3)));
}

TEST_F(PictureLoad, FilesThatAreNotUsablePicturesCountAsUnreadable) {
    {
        std::ofstream text(folder / "map.bmp");
        text << "not a picture at all\n";
    }
    // No rows: readable, but nothing to make a texture of.
    write_picture("car.bmp", 320, 0, [](int, int) { return Rgb{1, 2, 3}; });
    // Taller than the drawing interface's largest texture.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    ASSERT_GT(largest, 0);
    write_picture("storm.bmp", 1, largest + 1, [](int, int) { return Rgb{1, 2, 3}; });
    init_all();
    ASSERT_EQ(notices().size(), 3u);
    EXPECT_EQ(notices()[0].text, "init_map() - can't read map!");
    EXPECT_EQ(notices()[1].text, "init_car() - can't read map!");
    EXPECT_EQ(notices()[2].text, "init_storm() - can't read map!");

    set_cell(3, 3, LAYOUT_HOUSE, 2);
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);
    draw();
    for (std::size_t i = 0; i < frame.size(); i += 4) {
        ASSERT_TRUE(same_colour({frame[i], frame[i + 1], frame[i + 2]}, GREY)) << "pixel " << i / 4;
    }
}

TEST_F(PictureLoad, FoldersAreSearchedInOrderAndTheFirstFileFoundDecides) {
    const std::filesystem::path local = folder / "local";
    const std::filesystem::path installed = folder / "installed";
    const std::filesystem::path nowhere = folder / "nowhere";
    write_picture_in(installed, "map.bmp", 4, 3, [](int, int) { return MAP_B; });

    // Only the installed folder has it.
    init_map(PictureSetup{{nowhere.string(), local.string(), installed.string()}, record_notice});
    EXPECT_TRUE(notices().empty());
    draw();
    EXPECT_TRUE(same_colour(at(20, 15), MAP_B));

    // A local picture comes first.
    write_picture_in(local, "map.bmp", 4, 3, [](int, int) { return MAP_A; });
    free_map();
    init_map(PictureSetup{{local.string(), installed.string()}, record_notice});
    EXPECT_TRUE(notices().empty());
    draw();
    EXPECT_TRUE(same_colour(at(20, 15), MAP_A));

    // A broken local picture is reported, not replaced by the installed one.
    {
        std::ofstream broken(local / "map.bmp", std::ios::trunc);
        broken << "PNG? no.";
    }
    free_map();
    init_map(PictureSetup{{local.string(), installed.string()}, record_notice});
    ASSERT_EQ(notices().size(), 1u);
    EXPECT_EQ(notices()[0].text, "init_map() - can't read map!");
    draw();
    EXPECT_TRUE(same_colour(at(20, 15), GREY));

    // No folders at all, and no one to tell: nothing is drawn and nothing breaks.
    clear_notices();
    init_map(PictureSetup{});
    draw();
    EXPECT_TRUE(same_colour(at(20, 15), GREY));
}

TEST_F(SceneLifecycle, FreeingRemovesEachLayerAndLoadingAgainRestoresIt) {
    write_standard_pictures();
    init_all();
    set_cell(3, 3, LAYOUT_HOUSE, 2);
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);

    free_storm();
    draw();
    EXPECT_TRUE(same_colour(at(17.5, 12.5), map_cell_colour(17, 12)));
    EXPECT_TRUE(same_colour(at(3.5, 3.5), car_frame_colour(1)));
    free_car();
    draw();
    EXPECT_TRUE(same_colour(at(3.5, 3.5), map_cell_colour(3, 3)));
    free_map();
    draw();
    EXPECT_TRUE(same_colour(at(3.5, 3.5), GREY));
    EXPECT_TRUE(same_colour(at(30.5, 20.5), GREY));

    // Freeing again, or what was never made, is harmless.
    free_map();
    free_car();
    free_storm();

    init_all();
    draw();
    EXPECT_TRUE(notices().empty());
    EXPECT_TRUE(same_colour(at(17.5, 12.5), storm_quadrant_colour(LOWER_LEFT)));
    EXPECT_TRUE(same_colour(at(3.5, 3.5), car_frame_colour(1)));
    EXPECT_TRUE(same_colour(at(30.5, 20.5), map_cell_colour(30, 20)));
}

TEST_F(SceneLifecycle, AFrameLeavesBlendingAndTexturingOffAndTheProjectionAlone) {
    write_standard_pictures();
    init_all();
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 4) << "loading the pictures must not change how others upload";

    GLfloat before[16];
    glMatrixMode(GL_PROJECTION);
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    set_cell(3, 3, LAYOUT_HOUSE, 2);
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);
    draw();

    EXPECT_EQ(glIsEnabled(GL_BLEND), GL_FALSE);
    EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_FALSE);
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), GL_FALSE);
    EXPECT_EQ(glIsEnabled(GL_CULL_FACE), GL_FALSE);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1) << "every sprite's push has its pop";
    GLfloat after[16];
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]);

    // A second frame of the same state is the same picture: nothing carries over.
    const std::vector<std::uint8_t> first = frame;
    draw();
    EXPECT_EQ(frame, first);
}

TEST_F(SceneLifecycle, AFrameDoesNotDependOnMatricesOthersLeftBehind) {
    write_standard_pictures();
    init_all();
    set_cell(3, 3, LAYOUT_HOUSE, 2);
    place_storm(20.0f, 15.0f, 10.0f, 20.0f);
    draw();
    const std::vector<std::uint8_t> clean = frame;
    // A stretched texture matrix and a moved modelview matrix, as a window
    // toolkit or an earlier drawing might leave them, and another matrix selected.
    glMatrixMode(GL_TEXTURE);
    glScalef(2.0f, 3.0f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(5.0f, -3.0f, 1.0f);
    glMatrixMode(GL_TEXTURE);
    draw();
    EXPECT_EQ(frame, clean);
}

TEST_F(SceneLifecycle, AFrameOfAFullTownAllocatesNothing) {
    write_standard_pictures();
    init_all();
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x)
            set_cell(x, y, LAYOUT_ROAD_ANY, static_cast<std::uint8_t>((x + y) % 15 + 1));
    place_storm(20.0f, 15.0f, 10.0f, 33.0f);
    draw_scene(grid, storm, camera);  // any first-use work of the implementation
    glFinish();
    allocations = 0;
    countAllocations = true;
    draw_scene(grid, storm, camera);
    countAllocations = false;
    glFinish();
    EXPECT_EQ(allocations, 0);
}

}  // namespace

// The camera values move the view as the projection says: the eye stands over
// (panX, panY) at `distance`, and the frustum's half-height of 1 at the near
// plane 4 makes the view distance / 2 map units tall. On the 320 × 240 test view
// that is 480 / distance pixels a cell.
#include "scene_fixture.h"

namespace {

using CameraView = SceneTest;

struct Box {
    int left, bottom, right, top;  // inclusive pixel columns and rows
};

// Where the map lies on the screen: the pixels that are not the clear colour.
Box map_box(const std::vector<std::uint8_t>& frame, int w, int h) {
    Box b{w, h, -1, -1};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = &frame[(static_cast<std::size_t>(y) * w + x) * 4];
            if (p[0] == GREY[0] && p[1] == GREY[1] && p[2] == GREY[2]) continue;
            b.left = std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.bottom = std::min(b.bottom, y);
            b.top = std::max(b.top, y);
        }
    }
    return b;
}

TEST_F(CameraView, TheMapLandsWhereTheCameraValuesPutIt) {
    write_standard_pictures();
    init_all();
    const struct {
        Camera camera;
        Box expected;
    } cases[] = {
        // 8 pixels a cell: the 30 rows fill the 240 rows of the view exactly,
        // and on a 4:3 view the 40 columns fill its width (that no cell is cut
        // off is shown cell by cell in the map's own tests).
        {{20.0f, 15.0f, 60.0f}, {0, 0, 319, 239}},
        // 4 pixels a cell: the town is 160 × 120 pixels in the middle.
        {{20.0f, 15.0f, 120.0f}, {80, 60, 239, 179}},
        // Ten cells further right under the centre: the picture moves 40 pixels left.
        {{30.0f, 15.0f, 120.0f}, {40, 60, 199, 179}},
        // 7.5 cells further up: the picture moves 30 pixels down.
        {{20.0f, 22.5f, 120.0f}, {80, 30, 239, 149}},
        // The town's lower-left corner under the centre, 8 pixels a cell.
        {{0.0f, 0.0f, 60.0f}, {160, 120, 319, 239}},
        // Its upper-right corner under the centre from the nearest allowed eye,
        // 24 pixels a cell: the town fills the lower-left quarter.
        {{40.0f, 30.0f, 20.0f}, {0, 0, 159, 119}},
    };
    for (const auto& c : cases) {
        camera = c.camera;
        draw();
        const Box b = map_box(frame, VIEW_W, VIEW_H);
        SCOPED_TRACE(testing::Message() << "camera " << camera.cameraPanX << ", "
                                        << camera.cameraPanY << ", " << camera.cameraDistance);
        EXPECT_EQ(b.left, c.expected.left);
        EXPECT_EQ(b.bottom, c.expected.bottom);
        EXPECT_EQ(b.right, c.expected.right);
        EXPECT_EQ(b.top, c.expected.top);
    }
}

TEST_F(CameraView, PanningMovesEveryCellByTheSameNumberOfPixels) {
    write_standard_pictures();
    init_all();
    const Camera start = camera;
    // Two cells right and three up, 8 pixels a cell: the picture moves 16
    // pixels left and 24 down, so a pixel now shows the cell two right and three
    // above the one it showed.
    camera.cameraPanX = start.cameraPanX + 2.0f;
    camera.cameraPanY = start.cameraPanY + 3.0f;
    draw();
    for (int y = 4; y < VIEW_H - 24; y += 8) {
        for (int x = 4; x < VIEW_W - 16; x += 8) {
            int cx = 0;
            int cy = 0;
            ASSERT_TRUE(map_cell_of(pixel(x, y), cx, cy)) << x << "," << y;
            EXPECT_EQ(cx, x / 8 + 2);
            EXPECT_EQ(cy, y / 8 + 3);
        }
    }
    // Beyond the town's right and top edges lies the clear colour.
    EXPECT_TRUE(same_colour(pixel(VIEW_W - 1, 100), GREY));
    EXPECT_TRUE(same_colour(pixel(100, VIEW_H - 1), GREY));
    EXPECT_TRUE(same_colour(pixel(VIEW_W - 17, 100), map_cell_colour(39, 100 / 8 + 3)));
}

}  // namespace

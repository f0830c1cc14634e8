// The car sprite sheet. Frame k shows one car for each heading bit in k, so a
// road cell with any mix of headings shows every car on it. The four cars sit
// in a pinwheel, each in its own lane as if driving on the right: the car going
// right (+x) along the bottom, up (+y) along the right, left (-x) along the top,
// down (-y) along the left. No two overlap, and every frame keeps a one-pixel
// border of the key colour so that linear filtering never pulls a neighbouring
// frame's pixels into view. The cars are drawn pixel by pixel with no blending
// into the background, because anything but exact red would show.
#include <cstdint>

#include "paint.h"
#include "pictures.h"
#include "sim/grid.h"

namespace {

// A car pointing up, front row first: '.' key colour, 'o' outline, 'b' body,
// 'r' roof, 'w' glass, 'h' headlight, 't' tail light.
constexpr int CAR_W = 7;
constexpr int CAR_L = 10;
// Long hood and wide windshield at the front, a small rear window at the back,
// so the way a car points reads even at a few screen pixels.
// Headlights and a wide windshield at the front, tail lights and a narrow rear
// window at the back, so the way a car points reads even at a few screen pixels.
constexpr const char* CAR[CAR_L] = {
    ".ooooo.",  //
    "ohbbbho",  // headlights
    "obbbbbo",  // hood
    "owwwwwo",  // windshield
    "owwwwwo",  //
    "obrrrbo",  // roof
    "obrrrbo",  //
    "obwwwbo",  // rear window
    "otbbbto",  // tail lights
    ".ooooo.",
};

struct Texel {
    std::uint8_t r, g, b;
};

Texel texel(char c) {
    switch (c) {
        case 'o':
            return {30, 30, 36};
        case 'b':
            return {242, 194, 38};
        case 'r':
            return {255, 224, 120};
        case 'w':
            return {46, 68, 104};
        case 'h':
            return {255, 252, 214};
        case 't':
            return {178, 48, 40};
        default:
            return {255, 0, 0};
    }
}

// Where each heading's car goes inside a frame: the lower-left pixel of its box
// (10 x 7 for x headings, 7 x 10 for y headings).
struct Slot {
    std::uint8_t heading;
    int x0, y0;
};
constexpr Slot SLOTS[4] = {
    {DIR_X_INC, 1, 1},   // right, bottom lane
    {DIR_Y_INC, 12, 1},  // up, right lane
    {DIR_X_DEC, 9, 12},  // left, top lane
    {DIR_Y_DEC, 1, 9},   // down, left lane
};

// Pattern cell (row, col) of the up-pointing car, turned to `heading`, lands at
// offset (dx, dy) inside the car's box, y up.
void place(std::uint8_t heading, int row, int col, int& dx, int& dy) {
    switch (heading) {
        case DIR_Y_INC:
            dx = col, dy = CAR_L - 1 - row;
            break;
        case DIR_Y_DEC:
            dx = CAR_W - 1 - col, dy = row;
            break;
        case DIR_X_INC:
            dx = CAR_L - 1 - row, dy = CAR_W - 1 - col;
            break;
        default:
            dx = row, dy = col;
            break;  // DIR_X_DEC
    }
}

}  // namespace

int draw_car_sheet(Image& image) {
    if (!alloc_image(CAR_SHEET_W, CAR_SHEET_H, 3, image)) return 0;
    for (int y = 0; y < CAR_SHEET_H; ++y)
        for (int x = 0; x < CAR_SHEET_W; ++x) paint::put(image, x, y, 255, 0, 0);

    for (int frame = 1; frame < 16; ++frame) {
        for (const Slot& slot : SLOTS) {
            if ((frame & slot.heading) == 0) continue;
            for (int row = 0; row < CAR_L; ++row) {
                for (int col = 0; col < CAR_W; ++col) {
                    if (CAR[row][col] == '.') continue;
                    int dx = 0, dy = 0;
                    place(slot.heading, row, col, dx, dy);
                    const Texel t = texel(CAR[row][col]);
                    paint::put(image, frame * CAR_FRAME + slot.x0 + dx, slot.y0 + dy, t.r, t.g,
                               t.b);
                }
            }
        }
    }
    return 1;
}

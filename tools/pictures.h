// The program's three pictures, drawn from code so that they can be rebuilt and
// checked: the town map, the car sprite sheet and the storm sprite.
#pragma once

#include "render/bmp.h"

// Map picture: 2048 x 1024, the built-in road table with row 0 at the bottom.
// Cell (x, y) covers pixel columns x * 2048 / 40 .. (x + 1) * 2048 / 40 and rows
// y * 1024 / 30 .. (y + 1) * 1024 / 30, where the renderer puts that cell.
constexpr int MAP_PICTURE_W = 2048;
constexpr int MAP_PICTURE_H = 1024;

// Car sheet: 512 x 32; frame k (k = 0..15) is the 20 x 20 square at columns
// 20k..20k+19 of the bottom 20 rows. Everything but the cars is pure red.
constexpr int CAR_SHEET_W = 512;
constexpr int CAR_SHEET_H = 32;
constexpr int CAR_FRAME = 20;  // pixels per side of one frame

// Storm sprite: 256 x 256, a spiral storm on pure red.
constexpr int STORM_PICTURE_SIZE = 256;

// Each fills a fresh record with its picture (three channels). 0 when the
// buffer cannot be allocated.
int draw_map_picture(Image& image);
int draw_car_sheet(Image& image);
int draw_storm_picture(Image& image);

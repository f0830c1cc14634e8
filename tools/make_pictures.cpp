// Draws the program's three pictures and writes them as BMP files:
//   make_pictures [DIR]   writes DIR/map.bmp, DIR/car.bmp, DIR/storm.bmp (DIR defaults to "data")
// The committed pictures in data/ are this program's output; a test checks that
// it still reproduces them byte for byte.
#include <cstdio>
#include <string>

#include "pictures.h"
#include "render/bmp.h"

namespace {

struct Picture {
    const char* file;
    int (*draw)(Image&);
};

constexpr Picture PICTURES[] = {
    {"map.bmp", draw_map_picture},
    {"car.bmp", draw_car_sheet},
    {"storm.bmp", draw_storm_picture},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [output directory]\n", argv[0]);
        return 2;
    }
    const std::string dir = argc == 2 ? argv[1] : "data";
    for (const Picture& picture : PICTURES) {
        const std::string path = dir + "/" + picture.file;
        Image image;
        if (!picture.draw(image)) {
            std::fprintf(stderr, "make_pictures: out of memory drawing %s\n", picture.file);
            return 1;
        }
        if (!write_bmp(path.c_str(), image)) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

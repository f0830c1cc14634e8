// The storm sprite: a spiral storm seen from above on the key colour. A dense
// disc of cloud around a clear eye, and two bands winding outwards that trail
// clockwise, as the bands of a storm turning counter-clockwise do (the renderer
// turns the sprite counter-clockwise as the storm spins).
//
// Cloud is either fully there or not (the key colour gives no partial
// transparency), and its colours are whites, greys and blues only: the renderer
// filters linearly between cloud and key texels, and a cloud colour close to red
// would make the seam look like a red fringe. The eye is the key colour too, so
// the town shows through it.
#include <cmath>

#include "paint.h"
#include "pictures.h"

namespace {

using paint::Colour;
using paint::rgb;

constexpr Colour CLOUD_BRIGHT = rgb(250, 251, 253);
constexpr Colour CLOUD_GREY = rgb(176, 184, 198);
constexpr Colour CLOUD_BLUE = rgb(118, 136, 170);

constexpr double EYE = 0.075;  // eye radius, as a share of the half-width
constexpr double EDGE = 0.96;  // nothing beyond: the sprite's square never shows
constexpr double WIND = 8.5;   // radians the bands turn from centre to edge
constexpr double BAND_COUNT = 2.0;

// How much cloud lies at (dx, dy), the centre at (0, 0) and the edge at radius 1.
double density(double dx, double dy, double r) {
    const double warp = paint::fractal_noise(dx * 3.0 + 8.0, dy * 3.0 + 8.0, 3, 81) - 0.5;
    const double phase = paint::det_atan2(dy, dx) + WIND * r + 1.4 * warp;
    const double band = 0.5 + 0.5 * paint::det_cos(BAND_COUNT * phase);
    const double core = 1.0 - paint::smoothstep(0.14, 0.46, r);
    const double reach = 1.0 - paint::smoothstep(0.45, EDGE, r);
    const double bands = band * band * reach;
    const double texture = paint::fractal_noise(dx * 9.0 + 20.0, dy * 9.0 + 20.0, 4, 82) - 0.5;
    return std::fmax(core, bands) + 0.45 * texture;
}

}  // namespace

int draw_storm_picture(Image& image) {
    constexpr int N = STORM_PICTURE_SIZE;
    if (!alloc_image(N, N, 3, image)) return 0;
    const double half = N / 2.0;
    for (int y = 0; y < N; ++y) {
        for (int x = 0; x < N; ++x) {
            const double dx = (x + 0.5 - half) / half, dy = (y + 0.5 - half) / half;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double eye = EYE + 0.02 * paint::value_noise(dx * 30.0, dy * 30.0, 83);
            const double d = r < EDGE ? density(dx, dy, r) : 0.0;
            if (r < eye || d < 0.38) {
                paint::put(image, x, y, 255, 0, 0);
                continue;
            }
            // Thick cloud is bright; thin cloud greyer and, far out, bluer.
            const double thick = paint::smoothstep(0.38, 0.95, d);
            Colour c = paint::mix(CLOUD_GREY, CLOUD_BRIGHT, thick);
            c = paint::mix(CLOUD_BLUE, c, 0.35 + 0.65 * (1.0 - paint::smoothstep(0.3, 0.9, r)));
            // Billows: fine light and shade over the whole cover.
            const double billow = paint::fractal_noise(dx * 22.0 + 40.0, dy * 22.0 + 40.0, 3, 84);
            c = paint::scale(c, 0.84 + 0.22 * billow);
            // The eyewall: the brightest ring, with a soft shadow on its inner side.
            const double wall = 1.0 - paint::smoothstep(0.0, 0.07, std::fabs(r - eye - 0.05));
            c = paint::mix(c, CLOUD_BRIGHT, 0.7 * wall);
            if (r < eye + 0.025) c = paint::scale(c, 0.8);
            paint::put(image, x, y, c);
        }
    }
    return 1;
}

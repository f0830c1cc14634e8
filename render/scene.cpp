#include "render/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "render/bmp.h"
#include "render/town_map.h"

// Only the OpenGL 1.1 interface is used here, so no extension header is wanted.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

namespace {

constexpr const char* ERROR_CAPTION = "ERROR!";

void show_notice(const PictureSetup& setup, const char* text) {
    if (setup.notice != nullptr) setup.notice(ERROR_CAPTION, text);
}

// Reads `name` from the first folder that holds a file of that name. False,
// with the reason in `why`, when no folder holds one or the one found is refused.
bool read_picture(const PictureSetup& setup, const char* name, Image& image, std::string& why) {
    for (const std::string& folder : setup.folders) {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        std::error_code ignored;
        if (!std::filesystem::exists(path, ignored)) continue;
        if (read_bmp(path.string().c_str(), image) == 1) return true;
        why = path.string() + " is not a picture this program can read";
        return false;
    }
    why = "no folder holds it";
    return false;
}

// Whether the drawing interface can hold a texture of this size and format.
// Asked through the proxy target, so nothing is allocated. A picture with no
// pixels or beyond the implementation's limits is refused here, instead of
// leaving an incomplete texture that would draw its layer in plain white.
bool texture_fits(const Image& image, GLint components, GLenum format) {
    if (image.width <= 0 || image.height <= 0) return false;
    // A size the interface rejects outright leaves the proxy as it was, so it
    // is first set to "nothing fits" by a valid empty query.
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, components, 0, 0, 0, format, GL_UNSIGNED_BYTE, nullptr);
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, components, image.width, image.height, 0, format,
                 GL_UNSIGNED_BYTE, nullptr);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    return width != 0;
}

// Defines texture `number` from the picture's level 0, then sets the four
// texture settings shared by all pictures. The rows are handed over tightly
// packed, so the unpack row alignment is 1 for the upload: a three-channel
// picture whose width × 3 is not a multiple of 4 is then taken up correctly.
// The previous alignment is put back so that no one else sees the change.
void upload_texture(GLuint number, const Image& image, GLint components, GLenum format) {
    glBindTexture(GL_TEXTURE_2D, number);
    GLint previousAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, components, image.width, image.height, 0, format,
                 GL_UNSIGNED_BYTE, image.pixels.get());
    glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

// Reads a picture and, for the sprites, makes pure red transparent. False
// (with the record empty) when any step fails.
bool load_picture(const PictureSetup& setup, const char* name, bool keyed, Image& image,
                  std::string& why) {
    const GLint components = keyed ? 4 : 3;
    const GLenum format = keyed ? GL_RGBA : GL_RGB;
    bool ok = read_picture(setup, name, image, why);
    if (ok && keyed && rgb_to_rgba(image) != 1) {
        ok = false;
        why = "its colours could not be keyed";
    }
    if (ok && !texture_fits(image, components, format)) {
        ok = false;
        why = "its size does not fit a texture";
    }
    if (!ok) free_image(image);
    return ok;
}

// "init_car() - can't read the car picture car.bmp: no folder holds it (looked
// in data, /usr/share/marovel)": which picture, why, and every folder searched.
bool load_or_report(const PictureSetup& setup, const char* function, const char* what,
                    const char* name, bool keyed, Image& image) {
    std::string why;
    if (load_picture(setup, name, keyed, image, why)) return true;
    std::string text = std::string(function) + " - can't read the " + what + " picture " + name +
                       ": " + why + " (looked in ";
    for (std::size_t i = 0; i < setup.folders.size(); ++i)
        text += (i == 0 ? "" : ", ") + setup.folders[i];
    text += setup.folders.empty() ? "no folder)" : ")";
    show_notice(setup, text.c_str());
    return false;
}

// Both switched on at the start of every layer and off at its end, so that
// between layers and outside a frame neither is on.
void begin_layer(GLuint texture) {
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
}

void end_layer() {
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}

}  // namespace

void init_render_state() {
    glDisable(GL_CULL_FACE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glReadBuffer(GL_FRONT);
    glClearColor(CLEAR_GREY, CLEAR_GREY, CLEAR_GREY, 1.0f);
}

void init_map(const PictureSetup& setup) {
    Image image;
    if (!load_or_report(setup, "init_map()", "map", "map.bmp", false, image)) return;
    upload_texture(MAP_TEXTURE, image, 3, GL_RGB);
    free_image(image);

    // The picture's bottom row (t = 0) along grid row 0, its left edge along column 0.
    glNewList(MAP_LIST, GL_COMPILE);
    glBegin(GL_QUADS);
    glColor3f(1.0f, 1.0f, 1.0f);
    glTexCoord2i(0, 0);
    glVertex3i(0, 0, 0);
    glTexCoord2i(1, 0);
    glVertex3i(GRID_W, 0, 0);
    glTexCoord2i(1, 1);
    glVertex3i(GRID_W, GRID_H, 0);
    glTexCoord2i(0, 1);
    glVertex3i(0, GRID_H, 0);
    glEnd();
    glEndList();
}

Camera fitted_camera(std::int32_t width, std::int32_t height, float aspect) {
    // At distance d the view is d / 2 cells tall and aspect * d / 2 wide.
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    return {w / 2.0f, h / 2.0f, std::max(2.0f * h, 2.0f * w / aspect)};
}

namespace {

int power_of_two_above(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

// The map quad over width x height cells, showing the texture's (0, 0)-(s, t).
void compile_map_list(std::int32_t width, std::int32_t height, float s, float t) {
    glNewList(MAP_LIST, GL_COMPILE);
    glBegin(GL_QUADS);
    glColor3f(1.0f, 1.0f, 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3i(0, 0, 0);
    glTexCoord2f(s, 0.0f);
    glVertex3i(width, 0, 0);
    glTexCoord2f(s, t);
    glVertex3i(width, height, 0);
    glTexCoord2f(0.0f, t);
    glVertex3i(0, height, 0);
    glEnd();
    glEndList();
}

}  // namespace

// Up to 16 pixels a cell, fewer for a large town, in a texture of power-of-two
// sides (all that OpenGL 1.1 promises) with the town in its lower-left corner.
// Sampled nearest, so every cell keeps its own colour up to its edges.
void init_town_map(const Town& town, const PictureSetup& setup) {
    free_map();
    for (int k = 16; k >= 1; k /= 2) {
        const int w = power_of_two_above(town.width * k);
        const int h = power_of_two_above(town.height * k);
        Image probe;
        probe.width = w;
        probe.height = h;
        if (!texture_fits(probe, 3, GL_RGB)) continue;
        Image image;
        if (!draw_town_map(town, k, w, h, image)) break;
        upload_texture(MAP_TEXTURE, image, 3, GL_RGB);
        free_image(image);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        compile_map_list(town.width, town.height,
                         static_cast<float>(town.width * k) / static_cast<float>(w),
                         static_cast<float>(town.height * k) / static_cast<float>(h));
        return;
    }
    const std::string text = "init_town_map() - can't draw the map of the town " + town.name +
                             " (" + std::to_string(town.width) + " x " +
                             std::to_string(town.height) + " cells): it does not fit a texture";
    show_notice(setup, text.c_str());
}

void load_town_map(const Town& town, const PictureSetup& setup) {
    if (&town == &builtin_town() || same_town(town, builtin_town())) {
        free_map();
        init_map(setup);
    } else {
        init_town_map(town, setup);
    }
}

void init_car(const PictureSetup& setup) {
    Image image;
    if (!load_or_report(setup, "init_car()", "car", "car.bmp", true, image)) return;
    upload_texture(CAR_TEXTURE, image, 4, GL_RGBA);
    // One frame's share of the sheet, in texture units, single precision.
    const float w = static_cast<float>(image.width);
    const float du = static_cast<float>(CAR_FRAME_PIXELS) / w;
    const float dv = static_cast<float>(CAR_FRAME_PIXELS) / static_cast<float>(image.height);
    free_image(image);

    // A unit square with its lower-left corner at the origin: a translation by
    // (x, y) puts it exactly on cell (x, y).
    for (int k = 1; k <= CAR_FRAMES; ++k) {
        const float s0 = static_cast<float>(k) * static_cast<float>(CAR_FRAME_PIXELS) / w;
        glNewList(CAR_FIRST_LIST + static_cast<unsigned>(k - 1), GL_COMPILE);
        glBegin(GL_QUADS);
        glColor3f(1.0f, 1.0f, 1.0f);
        glTexCoord2f(s0, 0.0f);
        glVertex3f(0.0f, 0.0f, 0.0f);
        glTexCoord2f(s0 + du, 0.0f);
        glVertex3f(1.0f, 0.0f, 0.0f);
        glTexCoord2f(s0 + du, dv);
        glVertex3f(1.0f, 1.0f, 0.0f);
        glTexCoord2f(s0, dv);
        glVertex3f(0.0f, 1.0f, 0.0f);
        glEnd();
        glEndList();
    }
}

void init_storm(const PictureSetup& setup) {
    Image image;
    if (!load_or_report(setup, "init_storm()", "storm", "storm.bmp", true, image)) return;
    upload_texture(STORM_TEXTURE, image, 4, GL_RGBA);
    free_image(image);

    // The whole picture on a unit square centred on the origin, so that the
    // storm turns about its centre and scales to its size in cells.
    glNewList(STORM_LIST, GL_COMPILE);
    glBegin(GL_QUADS);
    glColor3f(1.0f, 1.0f, 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(0.5f, 0.5f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-0.5f, 0.5f, 0.0f);
    glEnd();
    glEndList();
}

void free_map() {
    const GLuint texture = MAP_TEXTURE;
    glDeleteTextures(1, &texture);
    glDeleteLists(MAP_LIST, 1);
}

void free_car() {
    const GLuint texture = CAR_TEXTURE;
    glDeleteTextures(1, &texture);
    glDeleteLists(CAR_FIRST_LIST, CAR_FRAMES);
}

void free_storm() {
    const GLuint texture = STORM_TEXTURE;
    glDeleteTextures(1, &texture);
    glDeleteLists(STORM_LIST, 1);
}

void draw_scene(const RoadGrid& grid, const StormState& storm, const Camera& camera) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // The eye at (panX, panY, distance) looking down: move the world the other way.
    glTranslatef(0.0f, 0.0f, -camera.cameraDistance);
    glTranslatef(-camera.cameraPanX, 0.0f, 0.0f);
    glTranslatef(0.0f, -camera.cameraPanY, 0.0f);
    draw_map();
    draw_cars(grid);
    draw_storm(storm);
}

void draw_map() {
    begin_layer(MAP_TEXTURE);
    glCallList(MAP_LIST);
    end_layer();
}

// One sprite per occupied cell, whatever the number of cars on it: a house
// shows the parked-car frame 1, a road cell the frame numbered by the OR of the
// headings standing on it. A traffic byte beyond the fifteen frames can only
// come from a corrupted grid; it is skipped rather than replaying whichever
// list happens to carry that number (100 is the whole map).
void draw_cars(const RoadGrid& grid) {
    begin_layer(CAR_TEXTURE);
    for (int y = 0; y < grid.height; ++y) {
        for (int x = 0; x < grid.width; ++x) {
            const GridCell& cell = cell_at(grid, {x, y});
            const unsigned traffic = cell.traffic;
            if (traffic == 0) continue;
            unsigned frame = traffic;
            if (cell.layout == LAYOUT_HOUSE) {
                frame = 1;
            } else if (traffic > static_cast<unsigned>(CAR_FRAMES)) {
                continue;
            }
            glPushMatrix();
            glTranslatef(static_cast<float>(x), static_cast<float>(y), 0.0f);
            glCallList(CAR_FIRST_LIST + frame - 1);
            glPopMatrix();
        }
    }
    end_layer();
}

// A square of size x size cells centred on the storm, turned counter-clockwise
// by the spin in degrees. Late in a run the track's extrapolation can run away
// to infinities or NaN; such a storm lies nowhere and is not drawn, so no
// undefined value reaches the transform.
void draw_storm(const StormState& storm) {
    const StormPoint& s = storm.storm;
    if (!std::isfinite(s.x) || !std::isfinite(s.y) || !std::isfinite(s.size) ||
        !std::isfinite(storm.stormSpin)) {
        return;
    }
    begin_layer(STORM_TEXTURE);
    glPushMatrix();
    glTranslatef(s.x, s.y, 0.0f);
    glRotatef(storm.stormSpin, 0.0f, 0.0f, 1.0f);
    glScalef(s.size, s.size, 1.0f);
    glCallList(STORM_LIST);
    glPopMatrix();
    end_layer();
}

namespace {

bool finite_point(const StormPoint& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.size);
}

void colour(const float (&rgb)[3], float alpha = 1.0f) {
    glColor4f(rgb[0], rgb[1], rgb[2], alpha);
}

// A square of half-side r around (x, y), filled or as an outline.
void square(float x, float y, float r, GLenum mode) {
    glBegin(mode);
    glVertex2f(x - r, y - r);
    glVertex2f(x + r, y - r);
    glVertex2f(x + r, y + r);
    glVertex2f(x - r, y + r);
    glEnd();
}

// The whole track, phase 0 to 1, and a mark where the storm is now: filled on
// the track, an outline at the start while it still waits off the map.
void draw_track(const StormState& storm) {
    colour(TRACK_COLOUR);
    glLineWidth(2.0f);
    glBegin(GL_LINE_STRIP);
    for (int i = 0; i <= TRACK_SEGMENTS; ++i) {
        const StormPoint p = eval_track(storm.stormTrack,
                                        static_cast<float>(i) / static_cast<float>(TRACK_SEGMENTS));
        if (finite_point(p)) glVertex2f(p.x, p.y);
    }
    glEnd();
    const bool onTrack = storm.stormPhase > 0.0f && finite_point(storm.storm);
    const StormPoint& here = onTrack ? storm.storm : storm.stormTrack[0];
    square(here.x, here.y, 0.6f, onTrack ? GL_QUADS : GL_LINE_LOOP);
}

// The circle the households are tested against: around the zone's centre cell
// (the middle of that cell, as every house is measured from its own cell) with
// half the zone's size as radius.
void draw_zone(const StormState& storm) {
    const StormPoint zone = eval_track(storm.stormTrack, storm.stormPhase + storm.lookAheadOffset);
    CellPos centre{};
    if (!std::isfinite(zone.size) || !zone_centre_cell(zone, centre)) return;
    // Far off the town a circle would only be a precision hazard.
    const std::int32_t far = 1000 + TOWN_MAX_SIDE;
    if (centre.x < -far || centre.x > far || centre.y < -far || centre.y > far) return;
    const float cx = static_cast<float>(centre.x) + 0.5f;
    const float cy = static_cast<float>(centre.y) + 0.5f;
    const float r = zone.size * 0.5f;
    colour(ZONE_COLOUR);
    glLineWidth(2.0f);
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < TRACK_SEGMENTS; ++i) {
        const double a = 2.0 * 3.14159265358979 * i / TRACK_SEGMENTS;
        glVertex2f(cx + r * static_cast<float>(std::cos(a)),
                   cy + r * static_cast<float>(std::sin(a)));
    }
    glEnd();
}

void draw_threatened(const Simulation& sim) {
    colour(THREATENED_COLOUR);
    glLineWidth(2.0f);
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        if (sim.storm.threatFlags[i] == 0) continue;
        const CellPos h = sim.vehicles.vehicles[i].home;
        square(static_cast<float>(h.x) + 0.5f, static_cast<float>(h.y) + 0.5f, 0.4f, GL_LINE_LOOP);
    }
}

// Per cell the state of highest rank among the cars standing on it (rank + 1;
// 0 for none), then one tinted square per occupied cell in that state's colour.
void draw_car_states(const Simulation& sim) {
    // Kept between frames: it grows only when a larger town is shown.
    static std::vector<std::uint8_t> shown;
    const int w = sim.grid.width, h = sim.grid.height;
    if (w <= 0 || h <= 0) return;
    const std::size_t cells = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (shown.size() < cells) shown.resize(cells);
    std::fill_n(shown.begin(), cells, std::uint8_t{0});
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const Vehicle& v = sim.vehicles.vehicles[i];
        const int slot = tally_slot(v);
        if (v.pos.x < 0 || v.pos.x >= w || v.pos.y < 0 || v.pos.y >= h || slot < 0) continue;
        std::uint8_t& s = shown[static_cast<std::size_t>(v.pos.y) * w + v.pos.x];
        const int rank = CAR_STATE_RANK[slot] + 1;
        if (rank > s) s = static_cast<std::uint8_t>(rank);
    }
    int slotOfRank[TALLY_SLOTS] = {};
    for (int slot = 0; slot < TALLY_SLOTS; ++slot) slotOfRank[CAR_STATE_RANK[slot]] = slot;
    glEnable(GL_BLEND);
    glBegin(GL_QUADS);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t s = shown[static_cast<std::size_t>(y) * w + x];
            if (s == 0) continue;
            colour(CAR_STATE_COLOURS[slotOfRank[s - 1]], OVERLAY_TINT_ALPHA);
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            glVertex2f(fx, fy);
            glVertex2f(fx + 1.0f, fy);
            glVertex2f(fx + 1.0f, fy + 1.0f);
            glVertex2f(fx, fy + 1.0f);
        }
    glEnd();
    glDisable(GL_BLEND);
}

}  // namespace

// Under the lines the tints, so that an outline stays visible over a tinted house.
void draw_overlays(const Simulation& sim, const SceneOverlays& overlays) {
    if (!overlays.any()) return;
    glDisable(GL_TEXTURE_2D);
    if (overlays.carStates) draw_car_states(sim);
    if (overlays.threatenedHouses) draw_threatened(sim);
    if (overlays.threatZone) draw_zone(sim.storm);
    if (overlays.stormTrack) draw_track(sim.storm);
    glLineWidth(1.0f);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

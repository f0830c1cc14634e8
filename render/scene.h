// The town drawn from above with the fixed-function OpenGL 1.1 interface: the
// map, one car sprite on every occupied cell and the turning storm, three
// textured layers in the plane z = 0, drawn in that order every frame.
//
// World coordinates: one unit per grid cell; cell (x, y) covers the square
// (x, y)-(x + 1, y + 1), so a town spans (0, 0)-(width, height), the built-in
// one (0, 0)-(40, 30). With the window's
// projection (a frustum of half-height 1 at the near plane 4) +x points right,
// +y up, and the camera looks down the -z axis.
//
// Every function here needs a current drawing context on the calling thread.
#pragma once

#include <string>
#include <vector>

#include "hazard/storm.h"
#include "sim/driver.h"
#include "sim/grid.h"

// Texture and display-list numbers are fixed, never generated, so that every
// part of the program (and a frame drawn before a picture is loaded) refers to
// the same names. Calling a list that was never compiled draws nothing, and a
// texture number that never received a picture samples as no texture at all.
constexpr unsigned MAP_TEXTURE = 100;    // map picture, R G B
constexpr unsigned STORM_TEXTURE = 101;  // storm picture, R G B A
constexpr unsigned CAR_TEXTURE = 102;    // car sprite sheet, R G B A
constexpr unsigned MAP_LIST = 100;       // the map quad over the whole grid
constexpr unsigned STORM_LIST = 101;     // the storm quad, a unit square centred on the origin
constexpr unsigned CAR_FIRST_LIST = 1;   // list k (1..15) shows car frame k on a unit square
constexpr int CAR_FRAMES = 15;           // one frame per non-empty set of headings

// The car sheet: square frames of CAR_FRAME_PIXELS side by side along its
// bottom edge; frame k covers columns 20k..20k+19. Frame 0 is never drawn, so a
// sheet needs 320 x 20 pixels for all fifteen drawn frames.
constexpr int CAR_FRAME_PIXELS = 20;

// The light grey around the map, where the view shows more than the town.
constexpr float CLEAR_GREY = 0.6275f;

// Where the eye is. The mouse gestures of the window move it and keep it in
// range; the drawing only reads it. A scenario reset leaves it alone.
struct Camera {
    float cameraPanX = 20.0f;  // map x under the centre of the view, 0..40; starts mid-town
    float cameraPanY = 15.0f;  // map y under the centre of the view, 0..30; starts mid-town
    float cameraDistance =
        60.0f;  // eye height above the map, 20..65; at 60 the 30 rows fill the view
};

// The view's shape the window opens with and the snapshots are drawn at.
constexpr float INITIAL_ASPECT = 1024.0f / 768.0f;

// The camera over the middle of a town of width x height cells, just far
// enough for the whole town to fill a view of this aspect (width / height) one
// way and fit it the other. The built-in town's is the default Camera.
Camera fitted_camera(std::int32_t width, std::int32_t height, float aspect = INITIAL_ASPECT);

// Shows a blocking notice (a message box in the window program) and returns
// when the user has dismissed it.
using NoticeFn = void (*)(const char* caption, const char* text);

// Where the three pictures are looked for and how a failed load is reported.
// Each picture is taken from the first folder in the list that holds a file of
// its name; if that file is refused, the load fails even when a later folder
// holds a good one, so that a broken picture is never silently replaced.
struct PictureSetup {
    std::vector<std::string> folders;  // searched in order; the window program passes
                                       // LOCAL_PICTURE_FOLDER and then the installed folder
    NoticeFn notice = nullptr;         // null: failures are not shown to anyone
};

// The folder below the working directory that is searched first.
inline constexpr const char* LOCAL_PICTURE_FOLDER = "data";

// The fixed drawing state, set once after the context is made current and
// before any picture is loaded: no face culling, alpha blending by source
// alpha, textures modulated by the (white) vertex colour, the grey clear colour.
void init_render_state();

// Each reads one picture ("map.bmp", "car.bmp", "storm.bmp") and makes its
// texture and display lists. A picture that cannot be read is reported through
// setup.notice with the caption "ERROR!" and a text naming the picture, why it
// failed and every folder searched; nothing is made, and that layer is
// then absent from every frame while the rest of the program goes on.
void init_map(const PictureSetup& setup);
void init_car(const PictureSetup& setup);
void init_storm(const PictureSetup& setup);

// The map of any town drawn from its cells (render/town_map.h) instead of
// map.bmp, on a quad over its width x height cells; the same texture and list
// as init_map, so free_map deletes it and a new call replaces the old map. A
// town whose map does not fit a texture even at one pixel a cell is reported
// through setup.notice as init_map's failures are, and has no map.
void init_town_map(const Town& town, const PictureSetup& setup);

// init_map for the built-in town (the painted picture), init_town_map for any
// other, the map there was first deleted.
void load_town_map(const Town& town, const PictureSetup& setup);

// Delete what the matching init_ made; harmless for what was never made.
void free_map();
void free_car();
void free_storm();

// One complete frame into the current draw buffer: clear, camera, then map,
// cars and storm. Reads the grid and the storm, writes nothing of them and
// allocates nothing. Leaves the modelview matrix selected and both blending and
// texturing off. The projection matrix is the window's and is not touched.
void draw_scene(const RoadGrid& grid, const StormState& storm, const Camera& camera);
inline void draw_scene(const Simulation& sim, const Camera& camera) {
    draw_scene(sim.grid, sim.storm, camera);
}

// What the View menu can lay over the town, each off by default: with all off
// nothing is drawn and the frame is exactly draw_scene's.
struct SceneOverlays {
    bool stormTrack = false;        // the track from start to end and the storm's place on it
    bool threatZone = false;        // the circle inside which waiting households are threatened
    bool threatenedHouses = false;  // an outline on every house whose cars are threatened
    bool carStates = false;         // every car's cell tinted by the state of its cars
    bool any() const { return stormTrack || threatZone || threatenedHouses || carStates; }
};

// The colours of the six car states, indexed by the tally's slot (tally_slot:
// not evacuated, evacuated, gave up, en route, towed, out of gas), R G B in
// 0..1. The same colour stands for the same state everywhere: the overlay's
// tints (laid over the cell with OVERLAY_TINT_ALPHA), its legend, the panel's
// counts and plot, the inspector and the recorded videos' stamp. None is the
// white, red or yellow of the lines drawn over them.
inline constexpr float CAR_STATE_COLOURS[TALLY_SLOTS][3] = {
    {0.20f, 0.43f, 1.00f},  // not evacuated: blue
    {0.08f, 0.67f, 0.20f},  // evacuated: green
    {1.00f, 0.59f, 0.00f},  // gave up: orange
    {0.00f, 0.80f, 0.85f},  // en route: cyan
    {0.55f, 0.24f, 0.80f},  // towed: violet
    {0.90f, 0.08f, 0.59f},  // out of gas: magenta
};
inline constexpr const char* CAR_STATE_NAMES[TALLY_SLOTS] = {
    "not evacuated", "evacuated", "gave up", "en route", "towed", "out of gas"};
// A cell holding cars of several states shows the one of highest rank, so
// that the rare troubles are never hidden under the common ones: waiting, then
// evacuated, en route, gave up, towed and out of gas above all.
inline constexpr int CAR_STATE_RANK[TALLY_SLOTS] = {0, 1, 3, 2, 4, 5};
constexpr float OVERLAY_TINT_ALPHA = 0.6f;
inline constexpr float TRACK_COLOUR[3] = {1.0f, 1.0f, 1.0f};       // the track and the storm's mark
inline constexpr float ZONE_COLOUR[3] = {1.0f, 0.0f, 0.0f};        // the zone's circle
inline constexpr float THREATENED_COLOUR[3] = {1.0f, 1.0f, 0.0f};  // the threatened houses' outline
// What each line overlay's marks mean, as the window's legend names them.
inline constexpr const char* TRACK_MARK_TEXT =
    "storm's track (white line); the storm's place on it (white square), an outline at the "
    "start while the storm waits off the map";
inline constexpr const char* ZONE_MARK_TEXT =
    "threat zone (red circle): waiting households inside it are threatened";
inline constexpr const char* THREATENED_MARK_TEXT = "threatened house (yellow outline)";
constexpr int TRACK_SEGMENTS = 64;  // straight pieces of the drawn track and circle

// The chosen overlays over a frame that draw_scene has just drawn, on the
// modelview matrix it left. Reads the simulation, writes nothing of it and
// allocates nothing (but once for each larger town shown: the car tints' table);
// leaves blending and texturing off and the line width 1.
void draw_overlays(const Simulation& sim, const SceneOverlays& overlays);

// The three layers, in the order draw_scene calls them, each on the modelview
// matrix it finds.
void draw_map();
void draw_cars(const RoadGrid& grid);
void draw_storm(const StormState& storm);

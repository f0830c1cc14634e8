// The desktop program's handlers: start-up, the frame and the title, the
// projection, the mouse gestures that move the camera, the menu commands and
// keys, and the run state of the clock. All of the program's state is one App
// record; every handler takes it and runs to completion on the one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/window_layer.h"
#include "render/scene.h"
#include "sim/driver.h"

inline constexpr const char* WINDOW_TITLE = "Marovel 1.0:";  // until the first frame
constexpr int WINDOW_WIDTH = 1024;
constexpr int WINDOW_HEIGHT = 768;

constexpr unsigned TIMER_ID = 1;  // the only timer; a notification of any other does nothing
constexpr std::int32_t RATE_SLOW_MS = 333;
constexpr std::int32_t RATE_FAST_MS = 50;
// The panel's speed slider reaches any period between these: 1 tick a second,
// and 1 ms, where a tick waits only for the frame before it.
constexpr std::int32_t RATE_SLOWEST_MS = 1000;
constexpr std::int32_t RATE_FASTEST_MS = 1;
// "Run to tick" goes at most this far in one go; the clock counts exactly to 2^24.
constexpr long RUN_TO_MAX_TICK = 16777216;

// Mouse gestures: map units and distance units per pixel of drag.
constexpr float PAN_SCALE = 0.025f;  // 400 pixels move the view 10 cells
constexpr float ZOOM_SCALE = 0.1f;   // 100 pixels move the eye 10 units
// The camera's range over the built-in town: the pan stays over the map, the
// distance between a close look (20: 10 rows fill the view) and a little more
// than the whole town (65).
constexpr float PAN_X_MAX = static_cast<float>(GRID_W);
constexpr float PAN_Y_MAX = static_cast<float>(GRID_H);
constexpr float DISTANCE_MIN = 20.0f;
constexpr float DISTANCE_MAX = 65.0f;

// The same for any town: the pan over its width and height, the distance from
// the close look (or the fitted view of a town smaller than that) to 65/60 of
// its fitted view (the built-in town's range exactly).
struct CameraRange {
    float panXMax = PAN_X_MAX;
    float panYMax = PAN_Y_MAX;
    float distanceMin = DISTANCE_MIN;
    float distanceMax = DISTANCE_MAX;
};
CameraRange camera_range(const Town& town);

// The projection: a frustum of half-height 1 at the near plane, so at distance
// d the view spans d / 2 map units from top to bottom.
constexpr double FRUSTUM_NEAR = 4.0;
constexpr double FRUSTUM_FAR = 256000.0;

// The current context's viewport and projection for a view of width x height
// device pixels (see on_size); a height of 0 keeps the projection it had.
void set_client_projection(int width, int height);

enum CommandId : unsigned {
    CMD_INFO = 1,
    CMD_OPEN_TOWN = 4,
    CMD_SAVE_PICTURE = 2,
    CMD_RECORD = 3,
    CMD_QUIT = 10,
    CMD_START = 20,
    CMD_STOP = 21,
    CMD_RESET = 22,
    CMD_STEP = 23,
    CMD_NEXT = 30,
    CMD_PREVIOUS = 31,
    CMD_SLOW = 41,
    CMD_FAST = 42,
    CMD_ERROR_LOW = 51,
    CMD_ERROR_MODERATE = 52,
    CMD_ERROR_HIGH = 53,
    CMD_ERROR_CUSTOM = 54,
    CMD_PANEL = 60,
    CMD_SHOW_TRACK = 61,
    CMD_SHOW_ZONE = 62,
    CMD_SHOW_THREATENED = 63,
    CMD_SHOW_CAR_STATES = 64,
    CMD_COMPARE = 65,
    CMD_HELP_GUIDE = 70,
    CMD_HELP_WHY = 71,
};

// The menu bar, left to right and top to bottom: a new popup starts where the
// popup's title changes. "&" marks the letter that opens a popup with Alt, and
// the text after a tab is the key that does what the item does (keys act when
// released; see on_key_up).
struct MenuItem {
    const char* popup;
    const char* text;
    CommandId commandId;
};
inline constexpr MenuItem MENU_ITEMS[] = {
    {"&File", "Open town..\tO", CMD_OPEN_TOWN},
    {"&File", "Info..\tEnter", CMD_INFO},
    {"&File", "Save picture..\tP", CMD_SAVE_PICTURE},
    {"&File", "Record video\tV", CMD_RECORD},
    {"&File", "Quit\tQ", CMD_QUIT},
    {"&Simulation", "Start\tSpace", CMD_START},
    {"&Simulation", "Stop\tSpace", CMD_STOP},
    {"&Simulation", "Step\tS", CMD_STEP},
    {"&Simulation", "Reset\tR", CMD_RESET},
    {"&Rate", "Slow\tDown", CMD_SLOW},
    {"&Rate", "Fast\tUp", CMD_FAST},
    {"S&cenario", "Next\tRight", CMD_NEXT},
    {"S&cenario", "Previous\tLeft", CMD_PREVIOUS},
    {"&Miscommunication", "Low error (.0001)\t1", CMD_ERROR_LOW},
    {"&Miscommunication", "Moderate error (360)\t2", CMD_ERROR_MODERATE},
    {"&Miscommunication", "High error (inf)\t3", CMD_ERROR_HIGH},
    {"&Miscommunication", "Custom..\t4", CMD_ERROR_CUSTOM},
    {"&View", "Panel\tF2", CMD_PANEL},
    {"&View", "Storm track\tT", CMD_SHOW_TRACK},
    {"&View", "Threat zone\tZ", CMD_SHOW_ZONE},
    {"&View", "Threatened houses\tH", CMD_SHOW_THREATENED},
    {"&View", "Car states\tC", CMD_SHOW_CAR_STATES},
    {"&View", "Compare\tF3", CMD_COMPARE},
    {"&Help", "Guide..\tF1", CMD_HELP_GUIDE},
    {"&Help", "Why do so many leave at once?..", CMD_HELP_WHY},
};
constexpr int MENU_POPUPS = 7;

struct App;

// What the window's own widgets (the panel, the inspector, the recorder) hear
// of the program. Each is told after the handlers have changed the App; none
// may change the simulation from inside these calls.
struct AppObserver {
    virtual ~AppObserver() = default;
    virtual void ticked(App&) {}                 // after every tick of the simulation
    virtual void rebuilt(App&) {}                // after every reset, scenario step or error level
    virtual void compare_toggled(App&) {}        // after Compare opened or closed its second run
    virtual void presented(App&) {}              // at the end of every handler
    virtual void frame_drawn(App&) {}            // inside the paint, the frame drawn, not yet shown
    virtual void cell_clicked(App&, CellPos) {}  // a left click without a drag on a town cell
    virtual void quitting(App&) {}               // before the window goes, its context current
    // A menu command or key the shell leaves to the widgets; true when taken.
    virtual bool command(App&, unsigned /*commandId*/) { return false; }
};

// Everything the program holds, from start-up to exit.
struct App {
    Simulation sim;
    // Compare's second run: the same town and scenario as `sim` under its own
    // parameters, ticked and rebuilt with it. Null while Compare is off.
    std::unique_ptr<Simulation> second;
    Camera camera;
    // The run state: |tickInterval| is the timer period in ms, the sign says
    // running (+) or stopped (-). Only ever +-50 or +-333; starts stopped, fast.
    std::int32_t tickInterval = -RATE_FAST_MS;
    std::int16_t lastMouseX = 0;  // client pixels at the last press, release or button-held move
    std::int16_t lastMouseY = 0;
    std::int16_t clientWidth = 0;  // client pixels, from the last size notification
    std::int16_t clientHeight = 0;
    WindowHandle mainWindow = nullptr;  // null once the window is destroyed
    MenuHandle menuBar = nullptr;
    // A left press, until its release: where it was and whether the cursor
    // has since moved off it (then the release is a drag's end, not a click).
    std::int16_t pressX = 0;
    std::int16_t pressY = 0;
    bool leftMoved = false;
    SceneOverlays overlays;   // what the View menu lays over the town; all off at first
    bool panelShown = false;  // the View menu's mark; the panel itself is a widget beside the view
    bool recording = false;   // File > Record video's mark
    std::vector<AppObserver*> observers;  // not owned; each removes itself before it goes
    PictureSetup pictures;  // where start-up found the pictures; the maps use it again
};

// Shows a failed picture load in an owner-less box ("ERROR!") and returns when
// it is dismissed; start-up then goes on without that picture.
void show_notice_box(const char* caption, const char* text);

// Start-up: the window with its drawing context, the fixed drawing state, the
// pictures interleaved with the first town (under the seed and parameters the
// App's simulation holds) (map, cars, town, storm picture,
// storm, decisions), then the menu bar. Comes up stopped; the first frame is
// drawn by the first paint of the event loop.
void start_app(App& app, const PictureSetup& pictures);

// Another town from now on: the current scenario (seed, parameters) rebuilt on
// it as Reset builds it, its map made, the camera fitted to it. The run state
// is left alone.
void open_town(App& app, std::shared_ptr<const Town> town);

// The window title: the status line, then " - " and the town's name for a town
// other than the built-in one that has a name.
std::string window_title_text(const Simulation& sim);

// Routes one message of the main window to its handler.
void main_window_proc(App& app, unsigned message, WParam wParam, LParam lParam);

// Shows the frame, then sets the title from the status line. Every handler ends
// here after the scene is drawn. Outside a paint the scene is drawn by the
// paint that the swap asks for (the widget's frame buffer exists only while Qt
// paints), so a handler that changed something ends with present_frame alone.
void present_frame(App& app);
void on_paint(App& app);
void on_size(App& app, LParam size);
void on_timer(App& app, WParam timerId);

// The mouse: either button press or release redraws; a right-button drag pans,
// with Shift it zooms. The lower bound of a camera value is applied before a
// step is added and the upper bound after, so a value may dip below its lower
// bound for one drawn step and is put back on the next step of its kind.
void on_button_down(App& app, WParam flags, LParam position);
void on_button_up(App& app, LParam position);
// The release of a left press that did not move: the cell under the cursor,
// if any, goes to the observers.
void on_left_click(App& app, LParam position);
void on_mouse_move(App& app, WParam flags, LParam position);

void create_menus(App& app);
void on_command(App& app, WParam command);
void on_key_up(App& app, WParam virtualKey);

// The frustum's half-height at the near plane for a client of width x height
// pixels: 1 while the client is at least as wide as the initial view's aspect,
// more for a narrower one, so that the initial view's width still fits and a
// narrow window scales the town instead of cropping it.
double view_half_height(int width, int height);

// The cell under a client pixel in the view of `camera`, for a client area of
// width x height pixels (rows counted from the top): false off the town.
// The town is townWidth x townHeight cells.
bool cell_under_pixel(const Camera& camera, int width, int height, int px, int py, CellPos& cell,
                      int townWidth = GRID_W, int townHeight = GRID_H);
// The other way: the client pixel (rows from the top, fractional) where the
// map point (x, y) lies; false for a client of no size or a point at no place.
bool pixel_of_point(const Camera& camera, int width, int height, double x, double y, double& px,
                    double& py);

// The commands beside the clock: one tick; ticks up to `tick` (at most
// RUN_TO_MAX_TICK) without a frame between them; a rebuild under other
// parameters (checked by the caller), the second run's too when it is given
// and Compare is on; another error spread, which rebuilds.
void step_tick(App& app);
void run_to_tick(App& app, long tick);
void apply_parameters(App& app, const ModelParameters& parameters,
                      const ModelParameters* second = nullptr);
void set_error_level(App& app, double spread);

// Compare opens a second run as an exact copy of the first (the same town,
// scenario, tick and parameters); from then on every tick and every rebuild
// acts on both, the second always rebuilt on the first's town and seed under
// its own parameters, so the two stay on the same clock. Closing it leaves the
// first run as it is. Both tell the observers.
void start_compare(App& app);
void stop_compare(App& app);

// The View menu's and the rate's marks from the App, after anything changed them.
void update_menu_marks(App& app);

// Run control over the sign of tickInterval.
void start_run(App& app);
void stop_run(App& app);
void toggle_run(App& app);
void set_rate(App& app, std::int32_t periodMs);
bool is_running(const App& app);

// The tally as the Info box shows it.
struct InfoText {
    char text[256];
};
InfoText info_text(const VehicleTable& vehicles);
void show_info(App& app);

void quit_app(App& app);
void on_destroy(App& app);

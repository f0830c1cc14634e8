// The desktop program's handlers: start-up, the frame and the title, the
// projection, the mouse gestures that move the camera, the menu commands and
// keys, and the run state of the clock. All of the program's state is one App
// record; every handler takes it and runs to completion on the one thread.
#pragma once

#include <cstdint>

#include "app/window_layer.h"
#include "render/scene.h"
#include "sim/driver.h"

inline constexpr const char* WINDOW_TITLE = "Marovel 1.0:";  // until the first frame
constexpr int WINDOW_WIDTH = 1024;
constexpr int WINDOW_HEIGHT = 768;

constexpr unsigned TIMER_ID = 1;  // the only timer; a notification of any other does nothing
constexpr std::int32_t RATE_SLOW_MS = 333;
constexpr std::int32_t RATE_FAST_MS = 50;

// Mouse gestures: map units and distance units per pixel of drag.
constexpr float PAN_SCALE = 0.025f;  // 400 pixels move the view 10 cells
constexpr float ZOOM_SCALE = 0.1f;   // 100 pixels move the eye 10 units
// The camera's range: the pan stays over the map, the distance between a close
// look (20: 10 rows fill the view) and a little more than the whole town (65).
constexpr float PAN_X_MAX = static_cast<float>(GRID_W);
constexpr float PAN_Y_MAX = static_cast<float>(GRID_H);
constexpr float DISTANCE_MIN = 20.0f;
constexpr float DISTANCE_MAX = 65.0f;

// The projection: a frustum of half-height 1 at the near plane, so at distance
// d the view spans d / 2 map units from top to bottom.
constexpr double FRUSTUM_NEAR = 4.0;
constexpr double FRUSTUM_FAR = 256000.0;

enum CommandId : unsigned {
    CMD_INFO = 1,
    CMD_QUIT = 10,
    CMD_START = 20,
    CMD_STOP = 21,
    CMD_RESET = 22,
    CMD_NEXT = 30,
    CMD_PREVIOUS = 31,
    CMD_SLOW = 41,
    CMD_FAST = 42,
    CMD_ERROR_LOW = 51,
    CMD_ERROR_MODERATE = 52,
    CMD_ERROR_HIGH = 53,
};

// The menu bar, left to right and top to bottom: a new popup starts where the
// popup's title changes.
struct MenuItem {
    const char* popup;
    const char* text;
    CommandId commandId;
};
inline constexpr MenuItem MENU_ITEMS[] = {
    {"File", "Info..", CMD_INFO},
    {"File", "Quit", CMD_QUIT},
    {"Simulation", "Start", CMD_START},
    {"Simulation", "Stop", CMD_STOP},
    {"Simulation", "Reset", CMD_RESET},
    {"Rate", "Slow", CMD_SLOW},
    {"Rate", "Fast", CMD_FAST},
    {"Scenario", "Next", CMD_NEXT},
    {"Scenario", "Previous", CMD_PREVIOUS},
    {"Miscommunication", "Low error (.0001)", CMD_ERROR_LOW},
    {"Miscommunication", "Moderate error (360)", CMD_ERROR_MODERATE},
    {"Miscommunication", "High error (inf)", CMD_ERROR_HIGH},
};
constexpr int MENU_POPUPS = 5;

// Everything the program holds, from start-up to exit.
struct App {
    Simulation sim;
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
};

// Shows a failed picture load in an owner-less box ("ERROR!") and returns when
// it is dismissed; start-up then goes on without that picture.
void show_notice_box(const char* caption, const char* text);

// Start-up: the window with its drawing context, the fixed drawing state, the
// pictures interleaved with the first town (map, cars, town, storm picture,
// storm, decisions), then the menu bar. Comes up stopped; the first frame is
// drawn by the first paint of the event loop.
void start_app(App& app, const PictureSetup& pictures);

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
void on_mouse_move(App& app, WParam flags, LParam position);

void create_menus(App& app);
void on_command(App& app, WParam command);
void on_key_up(App& app, WParam virtualKey);

// Run control over the sign of tickInterval.
void start_run(App& app);
void stop_run(App& app);
void toggle_run(App& app);
void set_rate(App& app, std::int32_t periodMs);

// The tally as the Info box shows it.
struct InfoText {
    char text[256];
};
InfoText info_text(const VehicleTable& vehicles);
void show_info(App& app);

void quit_app(App& app);
void on_destroy(App& app);

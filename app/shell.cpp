#include "app/shell.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// Only the OpenGL 1.1 interface is used here, so no extension header is wanted.
#define GL_GLEXT_LEGACY
#include <GL/gl.h>

void show_notice_box(const char* caption, const char* text) {
    message_box(text, caption);
}

void start_app(App& app, const PictureSetup& pictures) {
    app.mainWindow = create_main_window(WINDOW_TITLE, WINDOW_WIDTH, WINDOW_HEIGHT,
                                        [&app](unsigned message, WParam wParam, LParam lParam) {
                                            main_window_proc(app, message, wParam, lParam);
                                        });
    init_render_state();
    app.pictures = pictures;
    Simulation& sim = app.sim;
    // The picture loads touch neither the town nor the generator; the cars draw
    // from the generator's unseeded state before the storm seeds it.
    load_town_map(*sim.town, pictures);
    app.camera = fitted_camera(sim.town->width, sim.town->height);
    init_car(pictures);
    populate_town(*sim.town, sim.grid, sim.vehicles, sim.rng, sim.parameters);
    init_storm(pictures);
    reset_storm(sim.storm, sim.rng, sim.scenarioSeed, sim.parameters, sim.town->width,
                sim.town->height);
    finish_build(sim);
    create_menus(app);
}

void main_window_proc(App& app, unsigned message, WParam wParam, LParam lParam) {
    switch (message) {
        case WM_DESTROY:
            on_destroy(app);
            break;
        case WM_SIZE:
            on_size(app, lParam);
            break;
        case WM_PAINT:
            on_paint(app);
            break;
        case WM_KEYUP:
            on_key_up(app, wParam);
            break;
        case WM_COMMAND:
            on_command(app, wParam);
            break;
        case WM_TIMER:
            on_timer(app, wParam);
            break;
        case WM_MOUSEMOVE:
            on_mouse_move(app, wParam, lParam);
            break;
        case WM_LBUTTONDOWN:
            app.pressX = signed_low_word(lParam);
            app.pressY = signed_high_word(lParam);
            app.leftMoved = false;
            on_button_down(app, wParam, lParam);
            break;
        case WM_RBUTTONDOWN:
            on_button_down(app, wParam, lParam);
            break;
        case WM_LBUTTONUP:
            on_button_up(app, lParam);
            if (!app.leftMoved) on_left_click(app, lParam);
            break;
        case WM_RBUTTONUP:
            on_button_up(app, lParam);
            break;
        default:
            break;  // the window layer's own handling is all there is
    }
}

namespace {

// Observers may remove themselves while being told; a copy is walked.
template <typename Fn>
void tell(App& app, Fn fn) {
    if (app.observers.empty()) return;
    const std::vector<AppObserver*> observers = app.observers;
    for (AppObserver* o : observers) fn(*o);
}

void tick_once(App& app) {
    sim_tick(app.sim);
    if (app.second) sim_tick(*app.second);
    tell(app, [&app](AppObserver& o) { o.ticked(app); });
}

// The second run follows the first's town and seed, whatever the rebuild did
// to them, and is built as Reset builds it.
void rebuild(App& app, void (*build)(Simulation&)) {
    build(app.sim);
    if (Simulation* second = app.second.get()) {
        second->town = app.sim.town;
        second->scenarioSeed = app.sim.scenarioSeed;
        reset_scenario(*second);
    }
    tell(app, [&app](AppObserver& o) { o.rebuilt(app); });
}

}  // namespace

std::string window_title_text(const Simulation& sim) {
    std::string title = status_line(sim).text;
    const Town& town = *sim.town;
    if (!town.name.empty() && &town != &builtin_town()) title += " - " + town.name;
    return title;
}

// The map is a texture of the window's context, made current for it outside a paint.
void open_town(App& app, std::shared_ptr<const Town> town) {
    if (!town) return;
    // The built-in town's own text brings back the built-in town, painted map and all.
    app.sim.town = same_town(*town, builtin_town()) ? shared_builtin_town() : std::move(town);
    rebuild(app, reset_scenario);
    make_current(app.mainWindow);
    load_town_map(*app.sim.town, app.pictures);
    app.camera = fitted_camera(app.sim.town->width, app.sim.town->height);
}

CameraRange camera_range(const Town& town) {
    const Camera fitted = fitted_camera(town.width, town.height);
    CameraRange r;
    r.panXMax = static_cast<float>(town.width);
    r.panYMax = static_cast<float>(town.height);
    r.distanceMin = std::min(DISTANCE_MIN, fitted.cameraDistance);
    r.distanceMax = std::max(DISTANCE_MAX, fitted.cameraDistance * (DISTANCE_MAX / 60.0f));
    return r;
}

void present_frame(App& app) {
    swap_buffers(app.mainWindow);
    set_window_title(app.mainWindow, window_title_text(app.sim).c_str());
    update_menu_marks(app);
    tell(app, [&app](AppObserver& o) { o.presented(app); });
}

// The overlays come after the scene, so with all of them off the frame is the scene's alone.
void on_paint(App& app) {
    draw_scene(app.sim, app.camera);
    draw_overlays(app.sim, app.overlays);
    tell(app, [&app](AppObserver& o) { o.frame_drawn(app); });
    present_frame(app);
}

double view_half_height(int width, int height) {
    if (width <= 0 || height <= 0) return 1.0;
    return std::max(1.0, static_cast<double>(INITIAL_ASPECT) * height / width);
}

// The viewport covers the whole client area and the frustum keeps the client's
// aspect, so a map cell stays square whatever the window's shape. A client
// height of 0 (a minimised window) keeps the projection it had.
void on_size(App& app, LParam size) {
    app.clientWidth = signed_low_word(size);
    app.clientHeight = signed_high_word(size);
    set_client_projection(app.clientWidth, app.clientHeight);
}

void set_client_projection(int width, int height) {
    glViewport(0, 0, width, height);
    if (height == 0) return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double half = view_half_height(width, height);
    const double aspect = static_cast<double>(width) / static_cast<double>(height);
    glFrustum(-aspect * half, aspect * half, -half, half, FRUSTUM_NEAR, FRUSTUM_FAR);
}

// Only timer 1 drives the clock.
void on_timer(App& app, WParam timerId) {
    if (timerId != TIMER_ID) return;
    tick_once(app);
    present_frame(app);
}

void on_button_down(App& app, WParam /*flags: no modifier changes a press*/, LParam position) {
    set_focus(app.mainWindow);
    set_capture(app.mainWindow);
    app.lastMouseX = signed_low_word(position);
    app.lastMouseY = signed_high_word(position);
    present_frame(app);
}

// Releasing either button ends the capture, even with the other still held.
void on_button_up(App& app, LParam position) {
    release_capture();
    app.lastMouseX = signed_low_word(position);
    app.lastMouseY = signed_high_word(position);
    present_frame(app);
}

// One drag step. Dragging right or down moves the map the same way on the
// screen (pan x falls as the cursor goes right, pan y grows as it goes down);
// dragging down with Shift takes the eye away. A left-button drag only follows
// the cursor: it moves nothing and draws nothing.
void on_mouse_move(App& app, WParam flags, LParam position) {
    if ((flags & (MK_LBUTTON | MK_RBUTTON)) == 0) return;
    const std::int16_t x = signed_low_word(position);
    const std::int16_t y = signed_high_word(position);
    const auto dx = static_cast<std::int16_t>(x - app.lastMouseX);
    const auto dy = static_cast<std::int16_t>(y - app.lastMouseY);
    app.lastMouseX = x;
    app.lastMouseY = y;
    if (x != app.pressX || y != app.pressY) app.leftMoved = true;
    if ((flags & MK_RBUTTON) == 0) return;

    Camera& camera = app.camera;
    const CameraRange range = camera_range(*app.sim.town);
    if ((flags & MK_SHIFT) != 0) {
        if (camera.cameraDistance < range.distanceMin)
            camera.cameraDistance = range.distanceMin;  // this step's dy is dropped
        else
            camera.cameraDistance += static_cast<float>(dy) * ZOOM_SCALE;
        if (camera.cameraDistance > range.distanceMax) camera.cameraDistance = range.distanceMax;
    } else {
        if (camera.cameraPanY < 0.0f)
            camera.cameraPanY = 0.0f;
        else
            camera.cameraPanY += static_cast<float>(dy) * PAN_SCALE;
        if (camera.cameraPanY > range.panYMax) camera.cameraPanY = range.panYMax;
        if (camera.cameraPanX < 0.0f)
            camera.cameraPanX = 0.0f;
        else
            camera.cameraPanX -= static_cast<float>(dx) * PAN_SCALE;
        if (camera.cameraPanX > range.panXMax) camera.cameraPanX = range.panXMax;
    }
    present_frame(app);
}

void on_left_click(App& app, LParam position) {
    CellPos cell{};
    if (!cell_under_pixel(app.camera, app.clientWidth, app.clientHeight, signed_low_word(position),
                          signed_high_word(position), cell, app.sim.town->width,
                          app.sim.town->height))
        return;
    tell(app, [&](AppObserver& o) { o.cell_clicked(app, cell); });
}

// The inverse of the view: the frustum's half-height at the near plane is h
// (view_half_height), so at the camera's distance d a pixel row spans d h / 4
// map units per half the client's height, and columns the same (the cells are square).
namespace {
double units_per_pixel(const Camera& camera, int width, int height) {
    return camera.cameraDistance / FRUSTUM_NEAR * view_half_height(width, height) / (height / 2.0);
}
}  // namespace

bool cell_under_pixel(const Camera& camera, int width, int height, int px, int py, CellPos& cell,
                      int townWidth, int townHeight) {
    if (width <= 0 || height <= 0) return false;
    const double unitsPerPixel = units_per_pixel(camera, width, height);
    const double x = camera.cameraPanX + (px + 0.5 - width / 2.0) * unitsPerPixel;
    const double y = camera.cameraPanY - (py + 0.5 - height / 2.0) * unitsPerPixel;
    if (!(x >= 0.0 && x < townWidth && y >= 0.0 && y < townHeight)) return false;
    cell = {static_cast<std::int32_t>(std::floor(x)), static_cast<std::int32_t>(std::floor(y))};
    return true;
}

bool pixel_of_point(const Camera& camera, int width, int height, double x, double y, double& px,
                    double& py) {
    if (width <= 0 || height <= 0 || !std::isfinite(x) || !std::isfinite(y)) return false;
    const double unitsPerPixel = units_per_pixel(camera, width, height);
    px = (x - camera.cameraPanX) / unitsPerPixel + width / 2.0;
    py = height / 2.0 - (y - camera.cameraPanY) / unitsPerPixel;
    return true;
}

// Each popup is made and filled in turn, then the bar takes them in order.
void create_menus(App& app) {
    MenuHandle popups[MENU_POPUPS] = {};
    const char* titles[MENU_POPUPS] = {};
    int count = 0;
    for (const MenuItem& item : MENU_ITEMS) {
        if (count == 0 || std::strcmp(titles[count - 1], item.popup) != 0) {
            popups[count] = create_menu();
            titles[count] = item.popup;
            ++count;
        }
        append_menu_item(popups[count - 1], item.commandId, item.text);
    }
    app.menuBar = create_menu();
    for (int i = 0; i < count; ++i) append_menu_popup(app.menuBar, popups[i], titles[i]);
    set_menu(app.mainWindow, app.menuBar);
    update_menu_marks(app);
    draw_menu_bar(app.mainWindow);
}

// Rate and error level are checked when they are one of the menu's own; any
// other spread checks Custom, any other period neither rate.
void update_menu_marks(App& app) {
    const MenuHandle m = app.menuBar;
    if (m == nullptr) return;
    const std::int32_t period = std::abs(app.tickInterval);
    check_menu_item(m, CMD_SLOW, period == RATE_SLOW_MS);
    check_menu_item(m, CMD_FAST, period == RATE_FAST_MS);
    check_menu_item(m, CMD_START, is_running(app));
    check_menu_item(m, CMD_STOP, !is_running(app));
    const double spread = app.sim.parameters.errorSpread;
    const bool low = spread == static_cast<double>(ERROR_LOW);
    const bool moderate = spread == static_cast<double>(ERROR_MODERATE);
    const bool high = spread == static_cast<double>(ERROR_HIGH);
    check_menu_item(m, CMD_ERROR_LOW, low);
    check_menu_item(m, CMD_ERROR_MODERATE, moderate);
    check_menu_item(m, CMD_ERROR_HIGH, high);
    check_menu_item(m, CMD_ERROR_CUSTOM, !low && !moderate && !high);
    check_menu_item(m, CMD_PANEL, app.panelShown);
    check_menu_item(m, CMD_RECORD, app.recording);
    check_menu_item(m, CMD_SHOW_TRACK, app.overlays.stormTrack);
    check_menu_item(m, CMD_SHOW_ZONE, app.overlays.threatZone);
    check_menu_item(m, CMD_SHOW_THREATENED, app.overlays.threatenedHouses);
    check_menu_item(m, CMD_SHOW_CAR_STATES, app.overlays.carStates);
    check_menu_item(m, CMD_COMPARE, app.second != nullptr);
}

// Error levels rebuild the current scenario (same seed) under the new level,
// which then holds through later resets.
void set_error_level(App& app, double spread) {
    app.sim.parameters.errorSpread = spread;
    rebuild(app, reset_scenario);
}

void apply_parameters(App& app, const ModelParameters& parameters,
                      const ModelParameters* second) {
    app.sim.parameters = parameters;
    if (second != nullptr && app.second) app.second->parameters = *second;
    rebuild(app, reset_scenario);
}

void start_compare(App& app) {
    if (app.second) return;
    app.second = std::make_unique<Simulation>(app.sim);
    tell(app, [&app](AppObserver& o) { o.compare_toggled(app); });
}

void stop_compare(App& app) {
    if (!app.second) return;
    app.second.reset();
    tell(app, [&app](AppObserver& o) { o.compare_toggled(app); });
}

void step_tick(App& app) {
    tick_once(app);
}

// Ticks until the clock shows `tick`; a clock already there or past it stays.
void run_to_tick(App& app, long tick) {
    if (tick > RUN_TO_MAX_TICK) tick = RUN_TO_MAX_TICK;
    while (static_cast<double>(app.sim.storm.simTime) < static_cast<double>(tick)) tick_once(app);
}

namespace {

// The View menu's overlays switch on and off; the widgets hear of it through
// the frame that follows.
void toggle(bool& flag) {
    flag = !flag;
}

// The commands the shell does not know itself go to the widgets beside the view.
void pass_on(App& app, unsigned command) {
    const std::vector<AppObserver*> observers = app.observers;
    for (AppObserver* o : observers)
        if (o->command(app, command)) return;
}

}  // namespace

// Scenario commands leave the run state alone: a running clock goes on ticking
// in the rebuilt town. Every identifier, known or not, ends with a fresh frame
// and title; after Quit there is no window left and that does nothing.
void on_command(App& app, WParam command) {
    switch (low_word(command)) {
        case CMD_INFO:
            show_info(app);
            break;
        case CMD_QUIT:
            quit_app(app);
            break;
        case CMD_START:
            start_run(app);
            break;
        case CMD_STOP:
            stop_run(app);
            break;
        case CMD_RESET:
            rebuild(app, reset_scenario);
            break;
        case CMD_STEP:
            step_tick(app);
            break;
        case CMD_NEXT:
            rebuild(app, next_scenario);
            break;
        case CMD_PREVIOUS:
            rebuild(app, previous_scenario);
            break;
        case CMD_SLOW:
            set_rate(app, RATE_SLOW_MS);
            break;
        case CMD_FAST:
            set_rate(app, RATE_FAST_MS);
            break;
        case CMD_ERROR_LOW:
            set_error_level(app, ERROR_LOW);
            break;
        case CMD_ERROR_MODERATE:
            set_error_level(app, ERROR_MODERATE);
            break;
        case CMD_ERROR_HIGH:
            set_error_level(app, ERROR_HIGH);
            break;
        case CMD_SHOW_TRACK:
            toggle(app.overlays.stormTrack);
            break;
        case CMD_SHOW_ZONE:
            toggle(app.overlays.threatZone);
            break;
        case CMD_SHOW_THREATENED:
            toggle(app.overlays.threatenedHouses);
            break;
        case CMD_SHOW_CAR_STATES:
            toggle(app.overlays.carStates);
            break;
        default:
            pass_on(app, low_word(command));
            break;
    }
    present_frame(app);
}

namespace {

// The keys of the menu items the shell leaves to the widgets, and of the View menu.
struct KeyCommand {
    WParam key;
    CommandId command;
};
constexpr KeyCommand KEY_COMMANDS[] = {
    {'O', CMD_OPEN_TOWN},
    {'S', CMD_STEP},
    {'P', CMD_SAVE_PICTURE},
    {'V', CMD_RECORD},
    {'Q', CMD_QUIT},
    {'1', CMD_ERROR_LOW},
    {'2', CMD_ERROR_MODERATE},
    {'3', CMD_ERROR_HIGH},
    {'4', CMD_ERROR_CUSTOM},
    {VK_F1, CMD_HELP_GUIDE},
    {VK_F1 + 1, CMD_PANEL},
    {VK_F1 + 2, CMD_COMPARE},
    {'T', CMD_SHOW_TRACK},
    {'Z', CMD_SHOW_ZONE},
    {'H', CMD_SHOW_THREATENED},
    {'C', CMD_SHOW_CAR_STATES},
};

}  // namespace

// Keys act when released; the code names the key, so R works with Shift or Ctrl.
void on_key_up(App& app, WParam virtualKey) {
    switch (virtualKey) {
        case VK_RETURN:
            show_info(app);
            break;
        case VK_SPACE:
            toggle_run(app);
            break;
        case VK_LEFT:
            rebuild(app, previous_scenario);
            break;
        case VK_UP:
            set_rate(app, RATE_FAST_MS);
            break;
        case VK_RIGHT:
            rebuild(app, next_scenario);
            break;
        case VK_DOWN:
            set_rate(app, RATE_SLOW_MS);
            break;
        case 'R':
            rebuild(app, reset_scenario);
            break;
        default:
            for (const KeyCommand& k : KEY_COMMANDS)
                if (k.key == virtualKey) return on_command(app, k.command);
            break;
    }
    present_frame(app);
}

// Setting the timer again restarts its period, also when it runs already.
void start_run(App& app) {
    if (app.tickInterval < 0) app.tickInterval = -app.tickInterval;
    set_timer(app.mainWindow, TIMER_ID, app.tickInterval);
}

void stop_run(App& app) {
    kill_timer(app.mainWindow, TIMER_ID);
    if (app.tickInterval > 0) app.tickInterval = -app.tickInterval;
}

void toggle_run(App& app) {
    if (app.tickInterval < 0) {
        app.tickInterval = -app.tickInterval;
        set_timer(app.mainWindow, TIMER_ID, app.tickInterval);
    } else {
        kill_timer(app.mainWindow, TIMER_ID);
        app.tickInterval = -app.tickInterval;
    }
}

// Stopped, the new period is only remembered for the next start; running, the
// timer is restarted with it at once.
void set_rate(App& app, std::int32_t periodMs) {
    if (app.tickInterval < 0) {
        app.tickInterval = -periodMs;
    } else {
        app.tickInterval = periodMs;
        kill_timer(app.mainWindow, TIMER_ID);
        set_timer(app.mainWindow, TIMER_ID, periodMs);
    }
}

bool is_running(const App& app) {
    return app.tickInterval > 0;
}

InfoText info_text(const VehicleTable& vehicles) {
    const VehicleTally t = tally_vehicles(vehicles);
    InfoText info;
    std::snprintf(info.text, sizeof info.text,
                  "Not evacuated: %d\nEvacuated: %d\nGave up: %d\nEn route: %d\nTowed: %d\n"
                  "Out of gas: %d\nTotal: %d",
                  t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas,
                  tally_total(t));
    return info;
}

// The counts of the moment the box opens; while it is open the window stays
// usable and a running clock keeps ticking.
void show_info(App& app) {
    message_box(info_text(app.sim.vehicles).text, "Current Info");
}

// The textures and display lists belong to the window's drawing context, so
// they go while it is current, before the window and its context are destroyed.
void quit_app(App& app) {
    if (app.mainWindow == nullptr) return;
    kill_timer(app.mainWindow, TIMER_ID);
    make_current(app.mainWindow);
    tell(app, [&app](AppObserver& o) { o.quitting(app); });
    free_map();
    free_car();
    free_storm();
    destroy_window(app.mainWindow);
}

// The last message of the window, after Quit or the close box alike. The
// drawing context goes with the window's widgets.
void on_destroy(App& app) {
    done_current(app.mainWindow);
    app.mainWindow = nullptr;
    app.menuBar = nullptr;
    post_quit_message(0);
}

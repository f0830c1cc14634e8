// The window system as the shell sees it: one top-level window with a menu bar
// and a double-buffered OpenGL client area, numbered messages with packed
// parameters delivered to one window procedure, periodic timers, menus built
// from handles, and owner-less message boxes that run their own loop.
//
// Built on Qt 6 Widgets. It turns Qt's events into messages and does nothing
// else: no simulation, no drawing, no policy. Everything runs on the thread
// that created the QApplication.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QMenuBar;
class QWidget;

using WParam = std::uintptr_t;
using LParam = std::intptr_t;

// Message numbers. The values are the classic ones, so a message trace reads
// the same as on any other desktop.
constexpr unsigned WM_DESTROY = 2;        // the window is going away; nothing follows
constexpr unsigned WM_SIZE = 5;           // lParam: client width (low word), height (high word)
constexpr unsigned WM_PAINT = 15;         // draw now; the frame is shown when the handler returns
constexpr unsigned WM_KEYUP = 257;        // wParam: virtual-key code of the released key, sent
                                          // a moment after the release (see key_release_pending)
constexpr unsigned WM_COMMAND = 273;      // wParam: command identifier (low word)
constexpr unsigned WM_TIMER = 275;        // wParam: timer identifier
constexpr unsigned WM_MOUSEMOVE = 512;    // wParam: MK_ flags; lParam: cursor x, y
constexpr unsigned WM_LBUTTONDOWN = 513;  // as WM_MOUSEMOVE
constexpr unsigned WM_LBUTTONUP = 514;
constexpr unsigned WM_RBUTTONDOWN = 516;
constexpr unsigned WM_RBUTTONUP = 517;

// Button and modifier flags of the mouse messages, as held at the moment of the
// message (a press includes its own button, a release no longer does).
constexpr WParam MK_LBUTTON = 1;
constexpr WParam MK_RBUTTON = 2;
constexpr WParam MK_SHIFT = 4;
constexpr WParam MK_CONTROL = 8;
constexpr WParam MK_MBUTTON = 16;

// Virtual-key codes: they name the key, not the character, so R is 82 with or
// without Shift. Letters and digits are their upper-case ASCII codes.
constexpr WParam VK_BACK = 8;
constexpr WParam VK_TAB = 9;
constexpr WParam VK_RETURN = 13;  // both Return and the keypad's Enter
constexpr WParam VK_SHIFT = 16;
constexpr WParam VK_CONTROL = 17;
constexpr WParam VK_ESCAPE = 27;
constexpr WParam VK_SPACE = 32;
constexpr WParam VK_LEFT = 37;
constexpr WParam VK_UP = 38;
constexpr WParam VK_RIGHT = 39;
constexpr WParam VK_DOWN = 40;
constexpr WParam VK_DELETE = 46;
constexpr WParam VK_F1 = 112;     // F1..F24 are 112..135
constexpr WParam VK_NONE = 0xFF;  // a key that has no code of its own

// A client position or size packed into one parameter: x (or width) in the low
// 16 bits, y (or height) in the high 16 bits, each cut to 16 bits.
constexpr LParam make_lparam(int low, int high) {
    return static_cast<LParam>(
        static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}
constexpr std::uint16_t low_word(std::uintptr_t v) {
    return static_cast<std::uint16_t>(v);
}
constexpr std::uint16_t high_word(std::uintptr_t v) {
    return static_cast<std::uint16_t>(v >> 16);
}
// Client coordinates are signed: a captured drag reports positions left of and
// above the client area as negative numbers.
constexpr std::int16_t signed_low_word(LParam v) {
    return static_cast<std::int16_t>(low_word(static_cast<std::uintptr_t>(v)));
}
constexpr std::int16_t signed_high_word(LParam v) {
    return static_cast<std::int16_t>(high_word(static_cast<std::uintptr_t>(v)));
}

// Receives every message of a window, one at a time, each run to completion.
using WindowProc = std::function<void(unsigned message, WParam wParam, LParam lParam)>;

struct MainFrame;
struct MenuObject;
using WindowHandle =
    MainFrame*;  // null after the window is destroyed: every call then does nothing
using MenuHandle = MenuObject*;

// Call once before the QApplication is made: asks every OpenGL surface for a
// double-buffered RGB format with no depth, stencil or alpha.
void prepare_window_system();

// Creates the top-level window with the given title and size (the window's own
// area, menu bar included; the frame a window manager adds comes on top), shows
// it and returns with its drawing context current. Size notifications arrive
// while it is shown; paints only from an event loop, as on any message-driven
// desktop. `proc` receives every message until WM_DESTROY, which is the last.
WindowHandle create_main_window(const char* title, int width, int height, WindowProc proc);
// Sends WM_DESTROY, stops the window's timers, releases its capture and takes
// it off the screen; the Qt objects go at the next turn of the event loop.
void destroy_window(WindowHandle window);
// Delivers a message to the window's procedure at once, as if the system had.
void send_message(WindowHandle window, unsigned message, WParam wParam, LParam lParam);

void set_window_title(WindowHandle window, const char* text);
std::string window_title(WindowHandle window);

// The drawing context. Inside WM_PAINT and WM_SIZE it is always current; any
// other code that draws or deletes GL objects makes it current first.
void make_current(WindowHandle window);
void done_current(WindowHandle window);
// Shows the frame just drawn. Inside WM_PAINT the frame is shown when the
// handler returns; anywhere else this asks for a paint, which draws the frame.
void swap_buffers(WindowHandle window);

// What became of the frames: swaps outside a paint (each asks for a frame),
// paints delivered, and frames that reached the screen.
struct FrameCounts {
    long requested = 0;
    long painted = 0;
    long shown = 0;
};
FrameCounts frame_counts(WindowHandle window);

// True while a key's release waits to be sent as WM_KEYUP: it is held back a
// few ms in case a press of the same key follows at once, which shows it to be
// an auto-repeat (those are dropped).
bool key_release_pending(WindowHandle window);
// Sends a held-back release at once (tests that need the key to have acted).
void send_pending_key(WindowHandle window);

// Periodic timer `id` of the window: one WM_TIMER per period, never more than
// one waiting (periods missed while a handler runs are not made up). Setting a
// timer that runs already restarts its period.
void set_timer(WindowHandle window, unsigned id, int periodMs);
void kill_timer(WindowHandle window, unsigned id);
int timer_period(WindowHandle window, unsigned id);  // 0 when the timer is not running

// Keyboard focus and mouse capture: while captured, moves and the release reach
// the window wherever the cursor is.
void set_focus(WindowHandle window);
void set_capture(WindowHandle window);
void release_capture();
bool has_capture(WindowHandle window);

// Menus. A new menu is empty; items deliver WM_COMMAND with their identifier.
// A menu given to set_menu becomes the window's menu bar, its popups the bar's
// titles, and all of it belongs to the window from then on. In a text "&"
// marks the next letter as the one that opens the popup with Alt ("&&" shows
// an ampersand), and an item's text after a tab is shown as its key, to the
// right. Closing a popup (Escape, a choice, a click away) gives the keyboard
// back to the client area.
MenuHandle create_menu();
void append_menu_item(MenuHandle menu, unsigned commandId, const char* text);
void append_menu_popup(MenuHandle menu, MenuHandle popup, const char* text);
void set_menu(WindowHandle window, MenuHandle bar);
void draw_menu_bar(WindowHandle window);
// Puts a check mark by (or takes it from) every item of the menu with this identifier.
void check_menu_item(MenuHandle menu, unsigned commandId, bool checked);
bool menu_item_checked(MenuHandle menu, unsigned commandId);

// A message box with one OK button and no owner window; one opened while
// another is still open comes a little below and right of it. It runs its own
// event loop until dismissed, so every window keeps receiving its messages (timers,
// paints, keys, mouse) meanwhile. Afterwards the drawing context that was
// current before is current again.
void message_box(const char* text, const char* caption);

// Ends every running event loop; run_message_loop returns `code`, also when the
// quit was posted before the loop started.
void post_quit_message(int code);
int run_message_loop();

// The Qt widgets behind a window, for tests that drive them with real events.
QWidget* frame_widget(WindowHandle window);
QWidget* client_widget(WindowHandle window);
QMenuBar* menu_bar_widget(WindowHandle window);

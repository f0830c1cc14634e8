#include "app/window_layer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLWidget>
#include <QPointer>
#include <QSurfaceFormat>
#include <QTimer>
#include <map>
#include <set>
#include <utility>

namespace {

// Keys with a code of their own. Shifted punctuation and digits on a US layout
// have the code of the key they are on.
struct KeyCode {
    int key;
    WParam code;
};
// clang-format off
constexpr KeyCode KEY_CODES[] = {
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB}, {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN}, {Qt::Key_Enter, VK_RETURN}, {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Pause, 19}, {Qt::Key_CapsLock, 20},
    {Qt::Key_Escape, VK_ESCAPE}, {Qt::Key_Space, VK_SPACE}, {Qt::Key_PageUp, 33},
    {Qt::Key_PageDown, 34}, {Qt::Key_End, 35}, {Qt::Key_Home, 36}, {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP}, {Qt::Key_Right, VK_RIGHT}, {Qt::Key_Down, VK_DOWN}, {Qt::Key_Print, 44},
    {Qt::Key_Insert, 45}, {Qt::Key_Delete, VK_DELETE}, {Qt::Key_Meta, 91}, {Qt::Key_Menu, 93},
    {Qt::Key_NumLock, 144}, {Qt::Key_ScrollLock, 145}, {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'},
    {Qt::Key_NumberSign, '3'}, {Qt::Key_Dollar, '4'}, {Qt::Key_Percent, '5'},
    {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'}, {Qt::Key_Asterisk, '8'},
    {Qt::Key_ParenLeft, '9'}, {Qt::Key_ParenRight, '0'}, {Qt::Key_Semicolon, 186},
    {Qt::Key_Colon, 186}, {Qt::Key_Equal, 187}, {Qt::Key_Plus, 187}, {Qt::Key_Comma, 188},
    {Qt::Key_Less, 188}, {Qt::Key_Minus, 189}, {Qt::Key_Underscore, 189}, {Qt::Key_Period, 190},
    {Qt::Key_Greater, 190}, {Qt::Key_Slash, 191}, {Qt::Key_Question, 191}, {Qt::Key_QuoteLeft, 192},
    {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219}, {Qt::Key_BraceLeft, 219},
    {Qt::Key_Backslash, 220}, {Qt::Key_Bar, 220}, {Qt::Key_BracketRight, 221},
    {Qt::Key_BraceRight, 221}, {Qt::Key_Apostrophe, 222}, {Qt::Key_QuoteDbl, 222},
};
// The keypad's own keys (its digits 0..9 are 96..105).
constexpr KeyCode KEYPAD_CODES[] = {
    {Qt::Key_Asterisk, 106}, {Qt::Key_Plus, 107}, {Qt::Key_Minus, 109},
    {Qt::Key_Period, 110}, {Qt::Key_Slash, 111}, {Qt::Key_Enter, VK_RETURN},
};
// clang-format on

// The virtual-key code of a Qt key: letters and digits are their upper-case
// ASCII codes, whatever Shift does to the character.
WParam virtual_key(int key, Qt::KeyboardModifiers modifiers) {
    const bool keypad = (modifiers & Qt::KeypadModifier) != 0;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<WParam>(key);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<WParam>(keypad ? 96 + (key - Qt::Key_0) : key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + static_cast<WParam>(key - Qt::Key_F1);
    if (keypad)
        for (const KeyCode& k : KEYPAD_CODES)
            if (k.key == key) return k.code;
    for (const KeyCode& k : KEY_CODES)
        if (k.key == key) return k.code;
    return VK_NONE;
}

WParam mouse_flags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    WParam flags = 0;
    if (buttons & Qt::LeftButton) flags |= MK_LBUTTON;
    if (buttons & Qt::RightButton) flags |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) flags |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier) flags |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) flags |= MK_CONTROL;
    return flags;
}

// How long a key's release waits for a press of the same key that would show
// it to be an auto-repeat's; well below what a hand can do, and the key still
// acts well within a frame or two.
constexpr int KEY_SETTLE_MS = 25;
// An auto-repeat's release and press carry the same time; a hand's are far apart.
constexpr quint64 AUTO_REPEAT_GAP_MS = 1;

// The window whose drawing context the program last made current; a message
// box makes it current again when its loop ends (painting any window switches
// contexts behind the program's back).
WindowHandle currentWindow = nullptr;

// A quit posted when no loop was running yet still ends the next one.
bool quitPosted = false;
int quitCode = 0;

}  // namespace

// The client area: a GL widget whose events become messages.
class ClientView : public QOpenGLWidget {
  public:
    explicit ClientView(MainFrame* frame) : frame_(frame) {
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);  // moves with no button held are messages too
        connect(this, &QOpenGLWidget::frameSwapped, this, [this] { ++counts.shown; });
        releaseTimer_.setSingleShot(true);
        releaseTimer_.setInterval(KEY_SETTLE_MS);
        connect(&releaseTimer_, &QTimer::timeout, this, [this] { deliver_release(); });
    }

    bool release_pending() const { return releaseTimer_.isActive(); }
    void send_pending() {
        if (releaseTimer_.isActive()) deliver_release();
    }

    bool deliverPaints = false;  // off while the window is being created
    bool inPaint = false;
    FrameCounts counts;

    // Device pixels: on a high-density screen the client area is larger in
    // pixels than in Qt's logical units, and the viewport must cover all of it.
    int device_pixels(double logical) const { return qRound(logical * devicePixelRatioF()); }

  protected:
    void resizeGL(int w, int h) override {
        send(WM_SIZE, 0, make_lparam(device_pixels(w), device_pixels(h)));
    }

    void paintGL() override {
        if (!deliverPaints) return;
        inPaint = true;
        send(WM_PAINT, 0, 0);
        inPaint = false;
        ++counts.painted;
    }

    // A press of the key whose release waits, stamped with the release's own
    // time, shows that release to have been half of an auto-repeat that the
    // display did not mark as one: it is dropped. A later press (the two may
    // arrive together when the program was busy) lets the release act first.
    //
    // Every press the view receives is noted: a release acts only for a key
    // whose press came here too. The Enter that closes a message box or
    // confirms a dialog is pressed there and released here, and must not
    // open the Info box again.
    void keyPressEvent(QKeyEvent* event) override {
        event->accept();
        pressed_.insert(event->key());
        if (!releaseTimer_.isActive() || event->key() != pendingKey_) return;
        if (event->timestamp() - pendingTime_ <= AUTO_REPEAT_GAP_MS)
            releaseTimer_.stop();
        else
            deliver_release();
    }

    // A held key acts once, when it is let go. Auto-repeat on X11 sends a
    // release and a press together for every repeat; Qt marks most of them, and
    // the rest are caught by holding each release back until no press of its key
    // has followed within KEY_SETTLE_MS.
    void keyReleaseEvent(QKeyEvent* event) override {
        event->accept();
        if (event->isAutoRepeat()) return;
        // Alt, F10 and keys released with Alt held belong to the system (the
        // menu bar), not to the window.
        const int key = event->key();
        if (key == Qt::Key_Alt || key == Qt::Key_F10 || (event->modifiers() & Qt::AltModifier))
            return;
        if (pressed_.erase(key) == 0) return;  // pressed elsewhere: not this window's key
        if (releaseTimer_.isActive()) deliver_release();  // another key's, first
        pendingKey_ = key;
        pendingModifiers_ = event->modifiers();
        pendingTime_ = event->timestamp();
        releaseTimer_.start();
    }

    // A key held while the keys go elsewhere is released there: its press no
    // longer counts here.
    void focusOutEvent(QFocusEvent* event) override {
        pressed_.clear();
        QOpenGLWidget::focusOutEvent(event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            send(WM_LBUTTONDOWN, flags(event), position(event));
        else if (event->button() == Qt::RightButton)
            send(WM_RBUTTONDOWN, flags(event), position(event));
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            send(WM_LBUTTONUP, flags(event), position(event));
        else if (event->button() == Qt::RightButton)
            send(WM_RBUTTONUP, flags(event), position(event));
    }

    // No double-click message: the second press of a double click is a press.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

    void mouseMoveEvent(QMouseEvent* event) override {
        send(WM_MOUSEMOVE, flags(event), position(event));
    }

  private:
    void deliver_release() {
        releaseTimer_.stop();
        send(WM_KEYUP, virtual_key(pendingKey_, pendingModifiers_), 0);
    }
    void send(unsigned message, WParam wParam, LParam lParam);
    static WParam flags(const QMouseEvent* event) {
        return mouse_flags(event->buttons(), event->modifiers());
    }
    LParam position(const QMouseEvent* event) const {
        return make_lparam(device_pixels(event->position().x()),
                           device_pixels(event->position().y()));
    }

    MainFrame* frame_;
    QTimer releaseTimer_;
    int pendingKey_ = 0;
    quint64 pendingTime_ = 0;  // ms, the display's clock
    Qt::KeyboardModifiers pendingModifiers_;
    std::set<int> pressed_;  // keys pressed on the view and not yet released
};

struct MainFrame : QMainWindow {
    MainFrame(const char* title, WindowProc windowProc) : proc(std::move(windowProc)) {
        setWindowTitle(QString::fromLatin1(title));
        setWindowIcon(QIcon::fromTheme(QStringLiteral("marovel")));
        view = new ClientView(this);
        setCentralWidget(view);
        setFocusProxy(view);
        menuBar()->setNativeMenuBar(false);  // in the window, where the program put it
    }

    void send(unsigned message, WParam wParam, LParam lParam) {
        if (proc) proc(message, wParam, lParam);
    }

    QTimer* timer(unsigned id) {
        QTimer*& t = timers[id];
        if (t == nullptr) {
            t = new QTimer(this);
            t->setTimerType(Qt::PreciseTimer);
            connect(t, &QTimer::timeout, this, [this, id] { send(WM_TIMER, id, 0); });
        }
        return t;
    }

    // The close box: the default handling destroys the window.
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        destroy_window(this);
    }

    WindowProc proc;
    ClientView* view = nullptr;
    std::map<unsigned, QTimer*> timers;
    bool destroyed = false;
};

void ClientView::send(unsigned message, WParam wParam, LParam lParam) {
    frame_->send(message, wParam, lParam);
}

// A menu is a QMenu whose actions are its items (with their identifier as
// data) and its popups. Attached to a window, it and its popups belong to the
// window's widgets; a menu never attached is never freed.
struct MenuObject : QMenu {};

void prepare_window_system() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);  // fixed-function OpenGL 1.1 calls
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    format.setAlphaBufferSize(0);
    QSurfaceFormat::setDefaultFormat(format);
}

WindowHandle create_main_window(const char* title, int width, int height, WindowProc proc) {
    QApplication::setQuitOnLastWindowClosed(false);  // only the window procedure ends the program
    auto* frame = new MainFrame(title, std::move(proc));
    frame->resize(width, height);
    // Showing makes the drawing context and sends the first size. Qt would also
    // paint at once; that paint is held back and asked for again, so that it
    // comes from the event loop, after the program's start-up.
    frame->show();
    frame->view->deliverPaints = true;
    frame->view->update();
    make_current(frame);
    return frame;
}

void destroy_window(WindowHandle window) {
    if (window == nullptr || window->destroyed) return;
    window->destroyed = true;
    window->send(WM_DESTROY, 0, 0);
    window->proc = nullptr;  // nothing reaches the procedure after WM_DESTROY
    for (auto& entry : window->timers) entry.second->stop();
    if (QWidget::mouseGrabber() == window->view) window->view->releaseMouse();
    if (currentWindow == window) currentWindow = nullptr;
    window->hide();
    window->deleteLater();  // not now: the menu item or event being handled belongs to it
}

void send_message(WindowHandle window, unsigned message, WParam wParam, LParam lParam) {
    if (window != nullptr) window->send(message, wParam, lParam);
}

void set_window_title(WindowHandle window, const char* text) {
    if (window != nullptr) window->setWindowTitle(QString::fromLatin1(text));
}

std::string window_title(WindowHandle window) {
    return window != nullptr ? window->windowTitle().toStdString() : std::string();
}

void make_current(WindowHandle window) {
    if (window == nullptr) return;
    window->view->makeCurrent();
    currentWindow = window;
}

void done_current(WindowHandle window) {
    if (window == nullptr) return;
    window->view->doneCurrent();
    if (currentWindow == window) currentWindow = nullptr;
}

void swap_buffers(WindowHandle window) {
    if (window == nullptr || window->view->inPaint) return;
    ++window->view->counts.requested;
    window->view->update();
}

bool key_release_pending(WindowHandle window) {
    return window != nullptr && window->view->release_pending();
}

void send_pending_key(WindowHandle window) {
    if (window != nullptr) window->view->send_pending();
}

FrameCounts frame_counts(WindowHandle window) {
    return window != nullptr ? window->view->counts : FrameCounts{};
}

void set_timer(WindowHandle window, unsigned id, int periodMs) {
    if (window != nullptr) window->timer(id)->start(periodMs);
}

void kill_timer(WindowHandle window, unsigned id) {
    if (window == nullptr) return;
    const auto found = window->timers.find(id);
    if (found != window->timers.end()) found->second->stop();
}

int timer_period(WindowHandle window, unsigned id) {
    if (window == nullptr) return 0;
    const auto found = window->timers.find(id);
    if (found == window->timers.end() || !found->second->isActive()) return 0;
    return found->second->interval();
}

void set_focus(WindowHandle window) {
    if (window != nullptr) window->view->setFocus(Qt::MouseFocusReason);
}

void set_capture(WindowHandle window) {
    if (window != nullptr) window->view->grabMouse();
}

void release_capture() {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

bool has_capture(WindowHandle window) {
    return window != nullptr && QWidget::mouseGrabber() == window->view;
}

MenuHandle create_menu() {
    return new MenuObject;
}

void append_menu_item(MenuHandle menu, unsigned commandId, const char* text) {
    if (menu == nullptr) return;
    QAction* item = menu->addAction(QString::fromLatin1(text));
    item->setData(commandId);
    item->setMenuRole(QAction::NoRole);  // no platform may move "Quit" elsewhere
}

void append_menu_popup(MenuHandle menu, MenuHandle popup, const char* text) {
    if (menu == nullptr || popup == nullptr) return;
    popup->setTitle(QString::fromLatin1(text));
    menu->addMenu(popup);
}

void set_menu(WindowHandle window, MenuHandle bar) {
    if (window == nullptr || bar == nullptr) return;
    QMenuBar* menuBar = window->menuBar();
    for (QAction* title : bar->actions()) {
        QMenu* popup = title->menu();
        if (popup == nullptr) continue;
        popup->setParent(menuBar, popup->windowFlags());
        menuBar->addAction(title);
        // After the popup has gone (a queued call: Qt hands focus around while
        // it closes), the bar leaves its keyboard mode and the keys go to the view.
        QObject::connect(popup, &QMenu::aboutToHide, window, [window] {
            QTimer::singleShot(0, window, [window] {
                if (QApplication::activePopupWidget() != nullptr) return;
                window->menuBar()->setActiveAction(nullptr);
                if (window->isActiveWindow()) window->view->setFocus(Qt::PopupFocusReason);
            });
        });
        for (QAction* item : popup->actions()) {
            const unsigned id = item->data().toUInt();
            QObject::connect(item, &QAction::triggered, window,
                             [window, id] { window->send(WM_COMMAND, id, 0); });
        }
    }
    bar->setParent(window, bar->windowFlags());
}

void draw_menu_bar(WindowHandle window) {
    if (window != nullptr) window->menuBar()->update();
}

namespace {

// Walks the items of a menu and its popups.
template <typename Fn>
void for_each_item(QMenu* menu, unsigned commandId, Fn fn) {
    for (QAction* a : menu->actions()) {
        if (a->menu() != nullptr)
            for_each_item(a->menu(), commandId, fn);
        else if (!a->isSeparator() && a->data().toUInt() == commandId)
            fn(a);
    }
}

// The box opened last and still open, which the next one is placed beside.
QPointer<QMessageBox> lastBox;
constexpr int BOX_CASCADE = 24;  // pixels right and down from the box before

}  // namespace

void check_menu_item(MenuHandle menu, unsigned commandId, bool checked) {
    if (menu == nullptr) return;
    for_each_item(menu, commandId, [checked](QAction* a) {
        a->setCheckable(true);
        a->setChecked(checked);
    });
}

bool menu_item_checked(MenuHandle menu, unsigned commandId) {
    bool checked = false;
    if (menu != nullptr)
        for_each_item(menu, commandId,
                      [&checked](QAction* a) { checked = checked || a->isChecked(); });
    return checked;
}

void message_box(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(caption), QString::fromLatin1(text),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    // Not exec(): that would make the box application-modal and block input to
    // the main window. A loop of its own keeps everything else running.
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    const QPointer<MainFrame> before = currentWindow;
    const QPointer<QMessageBox> previous = lastBox;
    box.show();
    if (previous != nullptr && previous->isVisible())
        box.move(previous->pos() + QPoint(BOX_CASCADE, BOX_CASCADE));
    lastBox = &box;
    loop.exec();
    if (before != nullptr && currentWindow == before) before->view->makeCurrent();
}

void post_quit_message(int code) {
    quitPosted = true;
    quitCode = code;
    QCoreApplication::exit(code);
}

int run_message_loop() {
    // A quit posted before the loop started still ends it, after what was
    // already waiting, as a quit message would at the end of a queue.
    if (quitPosted) {
        const int code = quitCode;
        QMetaObject::invokeMethod(
            qApp, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
    }
    const int code = QApplication::exec();
    quitPosted = false;
    return code;
}

QWidget* frame_widget(WindowHandle window) {
    return window;
}
QWidget* client_widget(WindowHandle window) {
    return window != nullptr ? window->view : nullptr;
}
QMenuBar* menu_bar_widget(WindowHandle window) {
    return window != nullptr ? window->menuBar() : nullptr;
}

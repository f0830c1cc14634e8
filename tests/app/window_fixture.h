// Shared set-up for the window tests: one QApplication per test process, the
// program's own start-up in a real window on the virtual display, and the ways
// a user reaches it (menu items, keys, mouse drags).
// The build defines MAROVEL_SOURCE_DATA (the source tree's picture folder) and
// MAROVEL_TEST_SCALE_FACTOR (device pixels to each of Qt's logical pixels).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/shell.h"

// tickInterval (ms, negative while stopped) and the running timer's period (0: none).
using RunState = std::pair<std::int32_t, int>;

class QtEnvironment : public testing::Environment {
    void SetUp() override {
        qputenv("QT_SCALE_FACTOR", QByteArray::number(MAROVEL_TEST_SCALE_FACTOR));
        // Settings and anything else a widget keeps go to a scratch folder of
        // this process, never to the user's home.
        ASSERT_TRUE(scratch_.isValid());
        qputenv("XDG_CONFIG_HOME", scratch_.filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", scratch_.filePath("cache").toUtf8());
        prepare_window_system();
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("marovel-tests"), nullptr};
        qt_ = std::make_unique<QApplication>(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("marovel-tests"));
        QCoreApplication::setApplicationName(QStringLiteral("window-tests"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           scratch_.filePath("settings"));
        // The OpenGL driver is unloaded whenever its last context goes, and what
        // it keeps in its globals then looks leaked at exit, with stacks into a
        // module that is gone. Loaded once here and kept, its data stays owned.
        QOffscreenSurface surface;
        surface.create();
        QOpenGLContext context;
        if (context.create()) context.makeCurrent(&surface);
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void*) {
                if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "/dri/") != nullptr)
                    dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
                return 0;
            },
            nullptr);
        context.doneCurrent();
    }
    void TearDown() override { qt_.reset(); }
    QTemporaryDir scratch_;
    std::unique_ptr<QApplication> qt_;
};
// Made before the first test runs, not while the tests are only being listed.
inline testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

// The program started with the source tree's pictures, up to its first frame.
class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        start_app(*app, PictureSetup{{MAROVEL_SOURCE_DATA}, show_notice_box});
        EXPECT_EQ(title(), "Marovel 1.0:") << "until the first frame";
        ASSERT_TRUE(QTest::qWaitFor([this] { return frame_counts(window()).shown > 0; }));
    }
    // Every test ends as the user's Quit from the menu does, with exit status 0.
    void TearDown() override {
        QTimer::singleShot(0, [this] { act("Quit"); });
        EXPECT_EQ(run_message_loop(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    WindowHandle window() const { return app->mainWindow; }
    QWidget* view() const { return client_widget(window()); }
    std::string title() const { return window_title(window()); }
    long requested() const { return frame_counts(window()).requested; }
    // The run state as the user meets it: tickInterval, and the period of the
    // timer that actually runs (0 when none does).
    RunState state() const { return {app->tickInterval, timer_period(window(), TIMER_ID)}; }

    // "key " and a key sequence ("key Shift+R") presses and releases the key on
    // the window, and the release acts at once instead of a moment later (the
    // hold-back for auto-repeats has tests of its own); any other text
    // triggers the menu item of that text (all are different; the "&" of a
    // mnemonic and the key after the tab are not part of it).
    void act(const std::string& what) {
        if (what.starts_with("key ")) {
            QTest::keySequence(view(), QString::fromStdString(what.substr(4)));
            send_pending_key(window());
            return;
        }
        if (QAction* action = menu_item(window(), what)) return action->trigger();
        ADD_FAILURE() << "no menu item " << what;
    }
    void wait_for_keys() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !key_release_pending(window()); }, 1000));
    }

    // The menu item whose text, without its mnemonic mark and key, is `what`.
    static QAction* menu_item(WindowHandle w, const std::string& what) {
        for (QAction* popup : menu_bar_widget(w)->actions())
            for (QAction* action : popup->menu()->actions())
                if (item_text(action) == what) return action;
        return nullptr;
    }
    static std::string item_text(const QAction* action) {
        QString text = action->text().section(QLatin1Char('\t'), 0, 0);
        return text.remove(QLatin1Char('&')).toStdString();
    }

    // `count` drag steps of (dx, dy) from `cursor` with the given keys held (the
    // button is pressed and released by the test); returns the chosen camera
    // value after each step.
    std::vector<float> drag(int count, int dx, int dy, float Camera::*value,
                            Qt::KeyboardModifiers mods = Qt::NoModifier) {
        std::vector<float> values;
        for (int i = 0; i < count; ++i) {
            QTest::mouseEvent(QTest::MouseMove, view(), Qt::NoButton, mods, cursor += {dx, dy});
            values.push_back(app->camera.*value);
        }
        return values;
    }

    std::unique_ptr<App> app = std::make_unique<App>();
    QPoint cursor;
};

// The next top-level widget of type T that shows is handed to `act` from its
// own loop, however long it takes to open.
template <typename T>
void when_shown(std::function<void(T&)> act) {
    QTimer::singleShot(10, [act] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* w = qobject_cast<T*>(top); w != nullptr && w->isVisible()) return act(*w);
        when_shown<T>(act);
    });
}

// The next message box that opens is handed to `look` while its own loop runs;
// afterwards it is dismissed with Return (which presses OK) unless `look` ended it.
inline void on_next_box(std::function<void(QMessageBox& box)> look) {
    when_shown<QMessageBox>([look](QMessageBox& box) {
        const QPointer<QMessageBox> open = &box;
        look(box);
        if (open != nullptr && open->isVisible()) QTest::keyClick(&box, Qt::Key_Return);
    });
}

// Every message box that shows while this lives is counted and closed (no key
// reaches the window), looked for every `ms` milliseconds.
class BoxDismisser {
  public:
    explicit BoxDismisser(int ms) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top);
                    box != nullptr && box->isVisible()) {
                    ++boxes;
                    box->done(0);
                }
        });
        timer_.start(ms);
    }
    int boxes = 0;

  private:
    QTimer timer_;
};

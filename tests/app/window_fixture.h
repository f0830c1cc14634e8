// Shared set-up for the window tests: one QApplication per test process, the
// program's own start-up in a real window on the virtual display, and the ways
// a user reaches it (menu items, key releases, boxes to read and dismiss).
// The build defines MAROVEL_SOURCE_DATA (the source tree's picture folder) and
// MAROVEL_TEST_SCALE_FACTOR (device pixels to each of Qt's logical pixels).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "app/shell.h"

class QtEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        qputenv("QT_SCALE_FACTOR", QByteArray::number(MAROVEL_TEST_SCALE_FACTOR));
        prepare_window_system();
        static int argc = 1;
        static char name[] = "marovel-tests";
        static char* argv[] = {name, nullptr};
        qt_ = std::make_unique<QApplication>(argc, argv);
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

  private:
    std::unique_ptr<QApplication> qt_;
};
// Made before the first test runs, not while the tests are only being listed.
inline testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

// The next owner-less message box that opens is handed to `look` while it is
// open (its own loop running), then dismissed with its OK button.
inline void when_box_opens(std::function<void(QMessageBox& box)> look) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, look] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box == nullptr || !box->isVisible()) continue;
            poll->stop();
            look(*box);
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            poll->deleteLater();
            return;
        }
    });
    poll->start(10);
}

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
        if (window() == nullptr) return;
        QTimer::singleShot(0, [this] { choose("Quit"); });
        EXPECT_EQ(run_message_loop(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    WindowHandle window() const { return app->mainWindow; }
    std::string title() const { return window_title(window()); }
    float simTime() const { return app->sim.storm.simTime; }
    long requested() const { return frame_counts(window()).requested; }

    // Triggers the menu item of that text (the texts are all different).
    void choose(const std::string& item) {
        for (QAction* popup : menu_bar_widget(window())->actions())
            for (QAction* action : popup->menu()->actions())
                if (action->text().toStdString() == item) return action->trigger();
        ADD_FAILURE() << "no menu item " << item;
    }
    void release(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyRelease(client_widget(window()), key, modifiers);
    }
    std::unique_ptr<App> app = std::make_unique<App>();
};

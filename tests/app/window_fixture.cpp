#include "window_fixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

PictureSetup source_pictures() {
    return PictureSetup{{MAROVEL_SOURCE_DATA}, show_notice_box};
}

bool wait_until(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

void when_box_opens(std::function<void(QMessageBox& box)> look) {
    auto* poll = new QTimer;
    poll->setInterval(10);
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
    poll->start();
}

void WindowTest::SetUp() {
    app = std::make_unique<App>();
    start_app(*app, source_pictures());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_widget(window())));
    ASSERT_TRUE(wait_until([this] { return frame_counts(window()).shown > 0; }));
}

void WindowTest::TearDown() {
    if (app->mainWindow != nullptr) quit_by_menu();
}

void WindowTest::choose(const char* popup, const char* item) {
    for (QAction* title : menu_bar_widget(window())->actions()) {
        if (title->text() != QLatin1String(popup)) continue;
        for (QAction* action : title->menu()->actions()) {
            if (action->text() != QLatin1String(item)) continue;
            action->trigger();
            return;
        }
    }
    ADD_FAILURE() << "no menu item " << popup << " / " << item;
}

void WindowTest::release(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyRelease(client_widget(window()), key, modifiers);
}

int WindowTest::quit_by_menu() {
    QTimer::singleShot(0, [this] { choose("File", "Quit"); });
    const int code = run_message_loop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}

// The window layer alone: a real window whose procedure records every message,
// driven with Qt's simulated input. What the handlers rely on is checked here:
// key codes on release only, button flags, signed client positions, the timer,
// the owner-less box, the menus and the end of the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QThread>
#include <vector>

#include "app/shell.h"
#include "window_fixture.h"

namespace {

struct Message {
    unsigned message;
    WParam wParam;
    LParam lParam;
};

class LayerTest : public testing::Test {
  protected:
    void SetUp() override {
        window = create_main_window("layer test", 640, 480, [this](unsigned m, WParam w, LParam l) {
            if (m == WM_PAINT || m == WM_SIZE) return;
            log.push_back({m, w, l});
            if (onMessage) onMessage(m, w, l);
        });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_widget(window)));
        view = client_widget(window);
    }
    void TearDown() override {
        destroy_window(window);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::vector<Message> take(unsigned message) {
        std::vector<Message> found;
        for (const Message& m : log)
            if (m.message == message) found.push_back(m);
        log.clear();
        return found;
    }
    std::vector<WParam> key_codes() {
        std::vector<WParam> codes;
        for (const Message& m : take(WM_KEYUP)) codes.push_back(m.wParam);
        return codes;
    }

    WindowHandle window = nullptr;
    QWidget* view = nullptr;
    std::vector<Message> log;
    std::function<void(unsigned, WParam, LParam)> onMessage;
};

TEST_F(LayerTest, KeysActOnReleaseOnlyWithCodesThatNameTheKey) {
    QTest::keyPress(view, Qt::Key_Space);
    EXPECT_TRUE(key_codes().empty()) << "a press alone is no message";

    QTest::keyRelease(view, Qt::Key_Space);
    QTest::keyRelease(view, Qt::Key_Return);
    QTest::keyRelease(view, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyRelease(view, Qt::Key_Left);
    QTest::keyRelease(view, Qt::Key_Up);
    QTest::keyRelease(view, Qt::Key_Right);
    QTest::keyRelease(view, Qt::Key_Down);
    EXPECT_EQ(key_codes(), (std::vector<WParam>{32, 13, 13, 37, 38, 39, 40}));

    // The letter key, not the character: the same code with Shift or Ctrl.
    QTest::keyRelease(view, Qt::Key_R);
    QTest::keyRelease(view, Qt::Key_R, Qt::ShiftModifier);
    QTest::keyRelease(view, Qt::Key_R, Qt::ControlModifier);
    // Shift and Ctrl are keys of their own and report their own releases.
    EXPECT_EQ(key_codes(), (std::vector<WParam>{82, 82, VK_SHIFT, 82, VK_CONTROL}));

    // Keys the program does not use still arrive, each with a code.
    QTest::keyRelease(view, Qt::Key_F5);
    QTest::keyRelease(view, Qt::Key_LaunchMail);
    EXPECT_EQ(key_codes(), (std::vector<WParam>{116, VK_NONE}));
}

TEST_F(LayerTest, AHeldKeyGivesOneReleaseAndSystemKeysNone) {
    QTest::keyPress(view, Qt::Key_Right);
    for (int i = 0; i < 3; ++i) {  // what the keyboard's auto-repeat sends while the key is held
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(view, &up);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(view, &down);
    }
    QTest::keyRelease(view, Qt::Key_Right);
    EXPECT_EQ(key_codes(), (std::vector<WParam>{VK_RIGHT}));

    // Alt and what is pressed with it belong to the menu bar.
    QTest::keyRelease(view, Qt::Key_R, Qt::AltModifier);
    QTest::keyRelease(view, Qt::Key_Alt);
    EXPECT_TRUE(key_codes().empty());
}

TEST_F(LayerTest, MouseMessagesCarryButtonFlagsAndSignedClientPositions) {
    QTest::mousePress(view, Qt::RightButton, Qt::ShiftModifier, QPoint(10, 20));
    std::vector<Message> m = take(WM_RBUTTONDOWN);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].wParam, MK_RBUTTON | MK_SHIFT);
    EXPECT_EQ(signed_low_word(m[0].lParam), 10);
    EXPECT_EQ(signed_high_word(m[0].lParam), 20);

    // Dragged out past the top-left corner: the window still hears of it, in
    // negative client coordinates.
    QTest::mouseEvent(QTest::MouseMove, view, Qt::NoButton, Qt::NoModifier, QPoint(-30, -5));
    m = take(WM_MOUSEMOVE);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].wParam, MK_RBUTTON);
    EXPECT_EQ(signed_low_word(m[0].lParam), -30);
    EXPECT_EQ(signed_high_word(m[0].lParam), -5);

    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(-40, 7));
    m = take(WM_RBUTTONUP);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].wParam, 0u) << "the released button is no longer held";
    EXPECT_EQ(signed_low_word(m[0].lParam), -40);

    QTest::mousePress(view, Qt::LeftButton, Qt::ControlModifier, QPoint(3, 4));
    m = take(WM_LBUTTONDOWN);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].wParam, MK_LBUTTON | MK_CONTROL);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(3, 4));
    EXPECT_EQ(take(WM_LBUTTONUP).size(), 1u);

    // A move with no button held is a message with no flags; the middle button
    // has no messages of its own.
    log.clear();
    QTest::mouseMove(view, QPoint(50, 60));  // moves the real pointer
    wait_until([&] { return !log.empty(); }, 2000);
    m = take(WM_MOUSEMOVE);
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.back().wParam, 0u);
    QTest::mousePress(view, Qt::MiddleButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(view, Qt::MiddleButton, Qt::NoModifier, QPoint(5, 5));
    for (const Message& msg : log) EXPECT_EQ(msg.message, WM_MOUSEMOVE);

    set_capture(window);
    EXPECT_TRUE(has_capture(window));
    release_capture();
    EXPECT_FALSE(has_capture(window));
}

TEST_F(LayerTest, ATimerBlockedByAHandlerDoesNotMakeUpMissedPeriods) {
    int ticks = 0;
    onMessage = [&](unsigned message, WParam id, LParam) {
        if (message != WM_TIMER || id != 7) return;
        if (++ticks == 1) QThread::msleep(300);  // about fifteen periods pass in here
    };
    set_timer(window, 7, 20);
    EXPECT_EQ(timer_period(window, 7), 20);
    ASSERT_TRUE(wait_until([&] { return ticks >= 1; }));
    // Right after the long handler: at most the one pending notification and
    // the next period's, never the fifteen that were missed.
    QTest::qWait(30);
    EXPECT_LE(ticks, 3);
    EXPECT_GE(ticks, 2);

    kill_timer(window, 7);
    EXPECT_EQ(timer_period(window, 7), 0);
    const int stoppedAt = ticks;
    QTest::qWait(60);
    EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(LayerTest, AMessageBoxHasNoOwnerAndTheWindowKeepsGettingItsMessages) {
    set_timer(window, 1, 20);
    bool looked = false;
    std::size_t timersWhileOpen = 0;
    std::vector<WParam> keysWhileOpen;
    when_box_opens([&](QMessageBox& box) {
        looked = true;
        EXPECT_EQ(box.parent(), nullptr);
        EXPECT_EQ(box.windowModality(), Qt::NonModal);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(box.windowTitle().toStdString(), "Caption");
        EXPECT_EQ(box.text().toStdString(), "first line\nsecond & last");
        log.clear();
        QTest::qWait(120);
        for (const Message& m : log) timersWhileOpen += m.message == WM_TIMER ? 1u : 0u;
        QTest::keyRelease(view, Qt::Key_Space);
        keysWhileOpen = key_codes();  // (this takes the log)
    });
    message_box("first line\nsecond & last", "Caption");
    EXPECT_TRUE(looked);
    EXPECT_GE(timersWhileOpen, 2u);
    EXPECT_EQ(keysWhileOpen, (std::vector<WParam>{VK_SPACE}));
}

TEST_F(LayerTest, MenusDeliverTheirIdentifiersAndShowNoMnemonicsOrShortcuts) {
    App app;
    app.mainWindow = window;
    create_menus(app);

    struct Expected {
        const char* popup;
        std::vector<std::pair<const char*, WParam>> items;
    };
    const std::vector<Expected> expected = {
        {"File", {{"Info..", 1}, {"Quit", 10}}},
        {"Simulation", {{"Start", 20}, {"Stop", 21}, {"Reset", 22}}},
        {"Rate", {{"Slow", 41}, {"Fast", 42}}},
        {"Scenario", {{"Next", 30}, {"Previous", 31}}},
        {"Miscommunication",
         {{"Low error (.0001)", 51}, {"Moderate error (360)", 52}, {"High error (inf)", 53}}},
    };
    const QList<QAction*> titles = menu_bar_widget(window)->actions();
    ASSERT_EQ(titles.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t p = 0; p < expected.size(); ++p) {
        QAction* title = titles[static_cast<qsizetype>(p)];
        EXPECT_EQ(title->text().toStdString(), expected[p].popup);
        EXPECT_TRUE(QKeySequence::mnemonic(title->text()).isEmpty());
        ASSERT_NE(title->menu(), nullptr);
        const QList<QAction*> items = title->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[p].items.size()));
        for (std::size_t i = 0; i < expected[p].items.size(); ++i) {
            QAction* item = items[static_cast<qsizetype>(i)];
            SCOPED_TRACE(expected[p].items[i].first);
            EXPECT_EQ(item->text().toStdString(), expected[p].items[i].first);
            EXPECT_FALSE(item->isSeparator());
            EXPECT_FALSE(item->isCheckable());
            EXPECT_TRUE(item->isEnabled());
            EXPECT_TRUE(item->shortcut().isEmpty());
            EXPECT_TRUE(QKeySequence::mnemonic(item->text()).isEmpty());
            item->trigger();
            const std::vector<Message> commands = take(WM_COMMAND);
            ASSERT_EQ(commands.size(), 1u);
            EXPECT_EQ(commands[0].wParam, expected[p].items[i].second);
        }
    }
}

TEST_F(LayerTest, DestroyIsTheLastMessageWhicheverWayTheWindowEnds) {
    set_timer(window, 1, 10);
    frame_widget(window)->close();  // what the close box asks for
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, WM_DESTROY);
    const std::size_t atDestroy = log.size();
    QTest::qWait(50);
    EXPECT_EQ(log.size(), atDestroy) << "no timer after the window is gone";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window = nullptr;
}

TEST(MessageLoopTest, AQuitPostedBeforeTheLoopEndsItWithItsCodeAndLeavesNothingBehind) {
    post_quit_message(3);
    EXPECT_EQ(run_message_loop(), 3);

    // Later loops run normally: a box still waits for its OK.
    bool looked = false;
    when_box_opens([&](QMessageBox&) { looked = true; });
    message_box("still here", "Loop");
    EXPECT_TRUE(looked);
}

}  // namespace

// Shared set-up for the window tests: the program's own start-up in a real
// window on the virtual display, and the ways a user reaches it (menu items,
// key releases, boxes to read and dismiss).
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <functional>
#include <memory>
#include <string>

#include "app/shell.h"

// The pictures of the source tree; no notice is expected with them.
PictureSetup source_pictures();

// Runs the event loop until `done` holds or `ms` have passed; true if it held.
bool wait_until(const std::function<bool()>& done, int ms = 5000);

// The next owner-less message box that opens is handed to `look` while it is
// open (its own loop running), then dismissed with its OK button.
void when_box_opens(std::function<void(QMessageBox& box)> look);

class WindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    WindowHandle window() const { return app->mainWindow; }
    std::string title() const { return window_title(app->mainWindow); }
    float simTime() const { return app->sim.storm.simTime; }
    long requested() const { return frame_counts(app->mainWindow).requested; }

    // Triggers the menu item as a click on it would.
    void choose(const char* popup, const char* item);
    // Releases a key on the window (the press alone does nothing).
    void release(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Quits through the menu and runs the loop to its end; returns its exit code.
    int quit_by_menu();

    std::unique_ptr<App> app;
};

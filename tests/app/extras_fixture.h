// The program as main() starts it, with the window's extras, its View choices
// taken from settings that each test begins empty.
#pragma once

#include <QSettings>
#include <memory>

#include "app/extras.h"
#include "app/panel.h"
#include "window_fixture.h"

class ExtrasWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        QSettings().clear();
        extras = std::make_unique<WindowExtras>(*app);
    }
    void TearDown() override {
        WindowTest::TearDown();
        extras.reset();
    }
    SidePanel& panel() const { return *extras->panel(); }

    std::unique_ptr<WindowExtras> extras;
};

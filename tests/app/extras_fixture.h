// The program as main() starts it, with the window's extras, its View choices
// taken from settings that each test begins empty.
#pragma once

#include <QSettings>
#include <memory>

#include "app/extras.h"
#include "app/panel.h"
#include "window_fixture.h"

// The tally as the panel's "counts" monitor reads it out.
inline QString counts_text(const VehicleTally& t) {
    return QString("not evacuated %1, evacuated %2, gave up %3, en route %4, towed %5, "
                   "out of gas %6, total %7")
        .arg(t.notEvacuated)
        .arg(t.evacuated)
        .arg(t.gaveUp)
        .arg(t.enRoute)
        .arg(t.towed)
        .arg(t.outOfGas)
        .arg(tally_total(t));
}

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

// The program as main() starts it, with the window's extras, its View choices
// taken from settings that each test begins empty.
#pragma once

#include <QFile>
#include <QSettings>
#include <memory>
#include <string>

#include "app/extras.h"
#include "app/panel.h"
#include "sim/fingerprint.h"
#include "sim/scenario.h"
#include "window_fixture.h"

// The driver's own run of the scenario of `seed` (as Reset builds it, or as
// the program starts up), `ticks` ticks on; and a run's fingerprint.
inline std::unique_ptr<Simulation> driver_run(int ticks, const ModelParameters& p = {},
                                              std::int32_t seed = 1, bool startup = false) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, ScenarioSetup{seed, p, startup});
    for (int i = 0; i < ticks; ++i) sim_tick(*sim);
    return sim;
}
inline std::string print(const Simulation& sim) {
    return fingerprint_line(sim, 0).text;
}

inline QString write_file(const QString& path, const std::string& text) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(text.c_str());
    return path;
}

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
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) send_message(window(), WM_TIMER, TIMER_ID, 0);
    }
    // The view as Save picture saves it.
    QImage saved_picture() {
        QString error;
        const QString file = folder_.filePath("saved.png");
        EXPECT_TRUE(extras->save_picture(file, error)) << error.toStdString();
        return QImage(file);
    }

    std::unique_ptr<WindowExtras> extras;
    QTemporaryDir folder_;
};

// marovel: the storm evacuation of a small town, watched from above in one window.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/extras.h"
#include "app/options.h"
#include "app/shell.h"

int main(int argc, char** argv) {
    StartOptions options;
    if (const int status = parse_start_options(argc, argv, options, std::cout, std::cerr);
        status >= 0)
        return status;
    if (const std::string problem = display_problem(); !problem.empty()) {
        std::cerr << "marovel: " << problem << "\n";
        return 1;
    }

    prepare_window_system();
    QApplication qt(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("marovel"));
    QCoreApplication::setApplicationName(QStringLiteral("marovel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("marovel"));

    const PictureSetup pictures{picture_folders(options.dataFolder, std::getenv("MAROVEL_DATA"),
                                                executable_folder(), MAROVEL_INSTALLED_DATA),
                                show_notice_box};

    auto app = std::make_unique<App>();  // large fixed tables: not on the stack
    app->sim.scenarioSeed = options.seed;
    app->sim.parameters = options.parameters;
    if (options.town) app->sim.town = options.town;
    start_app(*app, pictures);
    WindowExtras extras(*app);
    return run_message_loop();
}

// marovel: the storm evacuation of a small town, watched from above in one window.
#include <QApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/extras.h"
#include "app/options.h"
#include "app/shell.h"

namespace {

// The window draws with OpenGL into a framebuffer of its widget. A platform that
// gives no context, or no framebuffer in it, cannot show the town: Qt's
// offscreen and minimal platforms, for one. Asked before any window is made.
std::string drawing_problem() {
    const QString platform = QGuiApplication::platformName();
    const std::string name = platform.toStdString();
    const std::string cannot = "cannot draw the town on the \"" + name + "\" platform: ";
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return cannot + "it offers the window no OpenGL drawing surface";
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        return cannot + "it gives no OpenGL context";
    const bool framebuffer = QOpenGLFramebufferObject(16, 16).isValid();
    context.doneCurrent();
    if (!framebuffer) return cannot + "its OpenGL context makes no framebuffer";
    return {};
}

}  // namespace

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
    if (const std::string problem = drawing_problem(); !problem.empty()) {
        std::cerr << "marovel: " << problem << "\n";
        return 1;
    }

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

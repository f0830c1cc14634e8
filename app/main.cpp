// marovel: the storm evacuation of a small town, watched from above in one window.
#include <QApplication>
#include <memory>

#include "app/shell.h"

int main(int argc, char** argv) {
    prepare_window_system();
    QApplication qt(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("marovel"));

    // The pictures come from data/ below the working directory, as in a source
    // tree, and otherwise from the installed data folder, so that the program
    // started from a desktop menu finds them too.
    const PictureSetup pictures{{LOCAL_PICTURE_FOLDER, MAROVEL_INSTALLED_DATA}, show_notice_box};

    auto app = std::make_unique<App>();  // large fixed tables: not on the stack
    start_app(*app, pictures);
    return run_message_loop();
}

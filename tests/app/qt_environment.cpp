// One QApplication for each test process, made before the first test runs (and
// not while the tests are only being listed, which needs no display).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <QApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <cstring>
#include <memory>

#include "app/window_layer.h"

namespace {

// The OpenGL driver is unloaded whenever its last context goes, and what it
// keeps in its globals then looks leaked at exit, with stacks into a module that
// is gone, which no suppression can name. Loaded once here by a context of its
// own and then kept, its data stays owned, and every leak left has a stack.
void keep_gl_drivers_loaded() {
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

class QtEnvironment : public testing::Environment {
  public:
    void SetUp() override {
#ifdef MAROVEL_TEST_SCALE_FACTOR
        qputenv("QT_SCALE_FACTOR", MAROVEL_TEST_SCALE_FACTOR);
#endif
        prepare_window_system();
        qt_ = std::make_unique<QApplication>(argc_, argv_);
        keep_gl_drivers_loaded();
    }
    void TearDown() override {
        qt_.reset();
    }

  private:
    int argc_ = 1;
    char name_[16] = "marovel-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> qt_;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

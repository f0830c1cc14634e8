#include "render/offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

namespace {

// The framebuffer-object entry points are not part of OpenGL 1.1, so they are
// looked up at run time; only this scaffolding uses them, never the scene.
struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
};

template <typename Fn>
bool look_up(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(eglGetProcAddress(name));
    return fn != nullptr;
}

bool look_up_all(FramebufferCalls& gl) {
    return look_up(gl.genFramebuffers, "glGenFramebuffers") &&
           look_up(gl.deleteFramebuffers, "glDeleteFramebuffers") &&
           look_up(gl.bindFramebuffer, "glBindFramebuffer") &&
           look_up(gl.genRenderbuffers, "glGenRenderbuffers") &&
           look_up(gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
           look_up(gl.bindRenderbuffer, "glBindRenderbuffer") &&
           look_up(gl.renderbufferStorage, "glRenderbufferStorage") &&
           look_up(gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           look_up(gl.checkFramebufferStatus, "glCheckFramebufferStatus");
}

bool fail(OffscreenContext& ctx, std::string* error, const char* why) {
    if (error != nullptr) *error = why;
    close_offscreen(ctx);
    return false;
}

}  // namespace

bool open_offscreen(OffscreenContext& ctx, int width, int height, std::string* error) {
    close_offscreen(ctx);
    if (width <= 0 || height <= 0) return fail(ctx, error, "the size must be positive");

    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return fail(ctx, error, "no eglGetPlatformDisplayEXT");
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) return fail(ctx, error, "no surfaceless EGL display");
    EGLint major = 0;
    EGLint minor = 0;
    if (eglInitialize(display, &major, &minor) != EGL_TRUE) {
        return fail(ctx, error, "eglInitialize failed");
    }
    ctx.display = display;
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) return fail(ctx, error, "no desktop OpenGL API");

    // No config: the context draws only into the framebuffer object below.
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) return fail(ctx, error, "no compatibility context");
    ctx.context = context;
    if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) {
        return fail(ctx, error, "eglMakeCurrent failed");
    }

    FramebufferCalls gl;
    if (!look_up_all(gl)) return fail(ctx, error, "no framebuffer-object entry points");
    gl.genFramebuffers(1, &ctx.framebuffer);
    gl.bindFramebuffer(GL_FRAMEBUFFER, ctx.framebuffer);
    gl.genRenderbuffers(1, &ctx.colourBuffer);
    gl.bindRenderbuffer(GL_RENDERBUFFER, ctx.colourBuffer);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                               ctx.colourBuffer);
    gl.genRenderbuffers(1, &ctx.depthBuffer);
    gl.bindRenderbuffer(GL_RENDERBUFFER, ctx.depthBuffer);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                               ctx.depthBuffer);
    if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return fail(ctx, error, "framebuffer incomplete");
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    ctx.width = width;
    ctx.height = height;
    return true;
}

void close_offscreen(OffscreenContext& ctx) {
    auto display = static_cast<EGLDisplay>(ctx.display);
    auto context = static_cast<EGLContext>(ctx.context);
    if (display != nullptr && context != nullptr && eglGetCurrentContext() == context) {
        FramebufferCalls gl;
        if (look_up_all(gl)) {
            gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
            if (ctx.framebuffer != 0) gl.deleteFramebuffers(1, &ctx.framebuffer);
            if (ctx.colourBuffer != 0) gl.deleteRenderbuffers(1, &ctx.colourBuffer);
            if (ctx.depthBuffer != 0) gl.deleteRenderbuffers(1, &ctx.depthBuffer);
        }
    }
    // The display stays initialised. EGL hands out the same display for the
    // whole process, so the next context reuses it; and terminating it unloads
    // the Mesa driver, whose teardown (22.3) leaves two small blocks behind that
    // the leak checker of the sanitizer builds reports and cannot attribute.
    if (display != nullptr) {
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != nullptr) eglDestroyContext(display, context);
        eglReleaseThread();
    }
    ctx = OffscreenContext{};
}

void read_offscreen_pixels(const OffscreenContext& ctx, std::vector<std::uint8_t>& rgba) {
    rgba.assign(static_cast<std::size_t>(ctx.width) * static_cast<std::size_t>(ctx.height) * 4u, 0);
    if (ctx.context == nullptr) return;
    // The scene selects the front buffer for reading, which a framebuffer
    // object does not have; read its colour attachment instead.
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, ctx.width, ctx.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
}

void set_view_projection(int width, int height) {
    if (width <= 0 || height <= 0) return;  // a minimised window keeps its last view
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    glFrustum(-aspect, aspect, -1.0, 1.0, 4.0, 256000.0);
}

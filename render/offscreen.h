// A drawing context without a window, for tests, benchmarks and headless
// snapshots: a Mesa surfaceless EGL display, a compatibility-profile OpenGL
// context (so the fixed-function calls of the scene work) and a framebuffer
// object of the requested size that takes every frame. The same system GL
// library serves the window program, so a frame drawn here is the frame the
// window would show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OffscreenContext {
    void* display = nullptr;  // EGLDisplay
    void* context = nullptr;  // EGLContext
    unsigned framebuffer = 0;
    unsigned colourBuffer = 0;  // RGBA, 8 bits a channel
    unsigned depthBuffer = 0;   // unused by the scene, but cleared every frame like a window's
    int width = 0;              // pixels
    int height = 0;             // pixels
};

// Creates the context, makes it current on this thread and binds a framebuffer
// of width x height pixels as the target of all drawing and reading. On failure
// returns false, leaves `ctx` closed and says why in `error` (when given).
bool open_offscreen(OffscreenContext& ctx, int width, int height, std::string* error = nullptr);

// Releases the framebuffer and the context; harmless on a closed one. The EGL
// display itself stays initialised for the next context of the process.
void close_offscreen(OffscreenContext& ctx);

// The framebuffer's pixels after all drawing so far has finished: width x height
// RGBA quadruples, rows bottom-up (row 0 is the bottom of the view, as in the
// interface's window coordinates).
void read_offscreen_pixels(const OffscreenContext& ctx, std::vector<std::uint8_t>& rgba);

// The window's view of a width x height client area: the viewport over all of
// it and the perspective frustum left -aspect, right +aspect, bottom -1, top +1,
// near 4, far 256000, with aspect = width / height. At a camera distance d the
// view then spans d / 2 map units from bottom to top. Leaves the projection
// matrix selected, as the window's resize handling does. A size without area
// leaves everything as it was.
void set_view_projection(int width, int height);

// The program's own definitions of three GL entry points take precedence over
// the GL library's for every caller in the program; each notes its arguments and
// passes the call on to the library's definition.
#include "gl_watch.h"

#include <GL/gl.h>
#include <dlfcn.h>

#include <cmath>
#include <initializer_list>

namespace {

int nonFinite = 0;
int calls = 0;

void note(std::initializer_list<GLfloat> args) {
    ++calls;
    for (GLfloat a : args) {
        if (!std::isfinite(a)) {
            ++nonFinite;
            return;
        }
    }
}

template <typename Fn>
Fn next_definition(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

int nonfinite_transform_calls() {
    return nonFinite;
}
int transform_calls() {
    return calls;
}
void reset_transform_watch() {
    nonFinite = 0;
    calls = 0;
}

extern "C" {

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    using Fn = void (*)(GLfloat, GLfloat, GLfloat);
    static const Fn real = next_definition<Fn>("glTranslatef");
    note({x, y, z});
    real(x, y, z);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    using Fn = void (*)(GLfloat, GLfloat, GLfloat, GLfloat);
    static const Fn real = next_definition<Fn>("glRotatef");
    note({angle, x, y, z});
    real(angle, x, y, z);
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
    using Fn = void (*)(GLfloat, GLfloat, GLfloat);
    static const Fn real = next_definition<Fn>("glScalef");
    note({x, y, z});
    real(x, y, z);
}

}  // extern "C"

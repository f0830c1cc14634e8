// Watches the transform calls that reach the GL library from anywhere in the
// test program, to show that no undefined number is ever handed to it: a NaN or
// an infinity in a matrix often draws nothing on one implementation and
// garbage, or a stall, on another, so the pixels alone cannot prove its absence.
#pragma once

// Calls of glTranslatef, glRotatef or glScalef with an argument that is not a
// finite number, since the last reset.
int nonfinite_transform_calls();
// All calls of those three since the last reset.
int transform_calls();
void reset_transform_watch();

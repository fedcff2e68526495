// Box blurs: the plain box blur (blur, also used by glow) and the silhouette blur
// (sblur), which smooths colours only along the edge of the alpha silhouette.
#pragma once

struct ImageBuffer;

// Blurs the planes of `in` selected by mask (bit p = plane p) into `out`: each
// output pixel is the floor of the mean of the input over the (2s+1) × (2t+1) box
// around it, cut to the window. Planes outside the mask are copied unchanged.
// REQUIRES: both buffers exist, have the same origin and size, and `out` has no more
// planes than `in`; a plane needs width >= 2s+2 and (for t > 0) height >= 2t+2.
// Otherwise prints a warning and returns 0; planes before a refused one are already
// written. Returns 1 on success.
int box_blur(const char* in, const char* out, int s, int t, int mask);

// Silhouette blur of two 4-plane buffers of the same geometry: the alpha of `in` is
// box-blurred, and each colour plane selected by mask (bits 0-2) becomes a blend of
// its box mean and its own value, weighted by how close the blurred alpha is to 128.
// The output's alpha is the input's alpha. Returns 1, or 0 after a warning.
int silhouette_blur(const char* in, const char* out, int s, int t, int mask);

// True when both buffers have the same origin and size; otherwise prints the
// "window size missing" warning naming both windows and returns false.
bool same_window(const ImageBuffer& in, const ImageBuffer& out);

enum class BlurKind { box, silhouette };

// Runs the blur n times from `in` to `out` (n >= 1). For n > 1 the passes alternate
// between `out` and a temporary ("sys:blurTmp" or "sys:silhoetteBlurTmp") that
// starts as a copy of `in`; the temporary is disposed on every path. `in` is never
// written. Returns 1, or 0 after a warning.
int repeat_blur(BlurKind kind, const char* in, const char* out, int s, int t, int mask, int n);

// The blur loops use AVX2 when the processor has it, with the same results; tests
// turn that off to check the baseline loops as well.
void blur_allow_wide_vectors(bool allow);

// The detail lines naming both buffers' component counts (after a component warning).
void component_lines(const ImageBuffer& in, const ImageBuffer& out);

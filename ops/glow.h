// Glow: a wide, soft blur made cheaply by shrinking, box-blurring the small image
// and zooming it back over the output.
#pragma once

// Shrinks `in` by levels lx, ly (planes of the mask; "sys:GlowTmp"), box-blurs the
// reduced image with half-sizes zx, zy ("sys:GlowBlurTmp") and zooms it bilinearly
// over out's whole window. The output is the zoomed blur alone; planes outside the
// mask come out 0 where both buffers have them. Both buffers need the same origin
// and size, fewer than 65535 rows, and levels 1 ... 17. Returns 1, or 0 after the
// messages of the step that failed; the temporaries are disposed on every path.
int glow_buffer(const char* in, const char* out, int zx, int zy, int lx, int ly, int mask);

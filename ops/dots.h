// dotfile, diff and tomo: single dots from a text file, a sample-by-sample
// difference report, and the tarvel pixel layout.
#pragma once

#include <cstdint>

// A colour fraction as a dot byte: negative (or NaN) 0, 1 or more 255, otherwise
// truncate(f × 255.0).
uint8_t dot_byte(float f);

// Sets the dots listed in the text file `path` in buffer `name`. Lines are read in
// pieces of at most 1023 characters, a "#" starts a comment. A line holding the
// letter c is "x y c r g b a" (the dot's colour, which becomes the current one),
// any other is "x y" (the current colour, at first `colour`). Reading stops
// silently at the first line that does not parse. Colour byte p goes to plane p;
// dots outside the window go to the outside cell.
// Returns 0 after "Can't find buff" or "Can't find dotfile" warnings, else 1; the
// line is noted as incomplete for -e and -k when the file cannot be read or the
// stop leaves lines other than blank and comment lines unread.
int dotfile(const char* path, const char* name, const float colour[4]);

// Lists every differing sample of two buffers of the same component count, origin
// and size on standard output, bottom row first, then the count of differing
// pixels ("# same" when there is none). Returns 0 after a warning, else 1; a
// report that cannot be written notes the line as incomplete for -e and -k.
int diff(const char* a, const char* b);

// Writes in's rows bottom first into out's storage order with every pixel's four
// samples reversed (out.r = in.a, ..., out.a = in.r): the picture flipped top to
// bottom. Both need four planes and one origin and size; in may be out.
int tomo(const char* in, const char* out);

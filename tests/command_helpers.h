// In-process helpers for tests: run one script line through the dispatcher's
// split and table lookup, and read or set pixels.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"

// Splits the line and runs the matching command; returns the handler's result
// (-1 when no command matches).
int run_line(std::string line);

// Sample of plane p at picture coordinates (x, y) of the named buffer.
int sample(const char* name, int p, int x, int y);

// make_buffer(name, x, y, w, h, comps) with every plane filled from rng,
// plane by plane.
ImageBuffer* make_random_buffer(const char* name, int x, int y, int w, int h, int comps,
                                std::mt19937& rng);

// The samples of plane p of b.
std::vector<uint8_t> plane_copy(const ImageBuffer& b, int p);

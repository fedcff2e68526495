// In-process helpers for tests: run one script line through the dispatcher's
// split and table lookup, and read or set pixels.
#pragma once

#include <string>

#include "buffer/image_buffer.h"

// Splits the line and runs the matching command; returns the handler's result
// (-1 when no command matches).
int run_line(std::string line);

// Sample of plane p at picture coordinates (x, y) of the named buffer.
int sample(const char* name, int p, int x, int y);

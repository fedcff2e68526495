// The checker-pattern plug-in command.
#pragma once

// Fills every plane of the named buffer with a checker pattern of tile_w × tile_h
// tiles: tile (tx, ty) = (x / tile_w, y / tile_h), rounded toward zero, takes
// colour0 when tx and ty have the same remainder mod 2 (signs included), else
// colour1. Colours are fractions 0.0 ~ 1.0. REQUIRES: tile_w, tile_h > 0.
// "WARNING : Can't find buff (name=%s)" and 0 when the buffer is missing.
int checker_fill(const char* name, const float colour0[4], const float colour1[4], int tile_w,
                 int tile_h);

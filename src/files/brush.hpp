// The brush exports' bodies: loading and saving brush files, freeing brushes and stamping them.
#pragma once

#include <cstdint>

#include "store/state.hpp"

namespace ombrix::files {

// Takes a brush ID first, so a failed load uses one up. Returns the ID; -1 (last-error text
// untouched) when the file cannot be opened; Failure(-1, "Invalid brush file…") for a negative
// size in the header.
double load_brush(State& st, const char* path);
// Writes "%i\n%i\n" and the mask. Returns 0, whether or not the file could be created.
double save_brush(const Brush& brush, const char* path);
// Frees brush `id`, which the caller has looked up. Returns 0.
double free_brush(State& st, std::int32_t id);

}  // namespace ombrix::files

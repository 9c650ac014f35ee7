// Library set-up and the information exports: init, the processor code, versions.
#pragma once

#include <string_view>

#include "store/state.hpp"

namespace ombrix {

// Sets the initialised flag, initialises DevIL and ILU and fixes their conversions for every
// later load: lower-left origin, unsigned bytes, BGR.
void init_library(State& st);

// The architecture code of the machine, as the host platform's processor table numbers them:
// 0 "intel", 5 "arm" (12 for 64-bit ARM), 6 "ia64", 9 "amd64", 10 "ia32_on_win64" (a 32-bit library on a 64-bit
// kernel), and 0xFFFF for an architecture the table has no name for.
int processor_code(std::string_view machine, bool library_is_64_bit) noexcept;
// The name for a code of 0 to 10, or null.
const char* processor_name(int code) noexcept;
// Code of the machine this runs on.
int this_processor_code() noexcept;

}  // namespace ombrix

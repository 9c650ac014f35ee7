// init and the processor query. The machine's architecture comes from uname, mapped onto the
// architecture codes the host platform's processor table uses.
#include "store/library.hpp"

#include "helper/core.hpp"
#include "store/devil.hpp"

#include <IL/il.h>
#include <IL/ilu.h>
#include <sys/utsname.h>

#include <array>

namespace ombrix {

void init_library(State& st) {
    st.initialised = true;
    // DevIL's large blocks come from the store's allocator too, so its pixel buffers are huge-page
    // backed like the library's own.
    helper::install_devil_memory();
    ilInit();
    iluInit();
    ilEnable(IL_ORIGIN_SET);
    ilEnable(IL_TYPE_SET);
    ilEnable(IL_FORMAT_SET);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    ilTypeFunc(IL_UNSIGNED_BYTE);
    ilFormatFunc(IL_BGR);
}

int processor_code(std::string_view machine, bool library_is_64_bit) noexcept {
    const auto is = [&](std::string_view m) { return machine == m; };
    const auto starts = [&](std::string_view p) { return machine.substr(0, p.size()) == p; };
    const bool x86_32 = is("i386") || is("i486") || is("i586") || is("i686");
    if (is("x86_64") || is("amd64")) return library_is_64_bit ? 9 : 10;
    if (x86_32) return 0;
    if (starts("mips")) return 1;
    if (is("alpha")) return library_is_64_bit ? 7 : 2;
    if (starts("ppc") || starts("powerpc")) return 3;
    if (starts("sh")) return 4;
    // 64-bit ARM has code 12 on the host platform, beyond the name table.
    if (is("aarch64") || is("arm64")) return 12;
    if (starts("arm")) return 5;
    if (is("ia64")) return 6;
    return 0xFFFF;
}

const char* processor_name(int code) noexcept {
    static constexpr std::array<const char*, 11> names = {"intel", "mips",    "alpha", "ppc",   "shx",          "arm",
                                                          "ia64",  "alpha64", "msil",  "amd64", "ia32_on_win64"};
    if (code < 0 || code >= static_cast<int>(names.size())) return nullptr;
    return names[static_cast<std::size_t>(code)];
}

int this_processor_code() noexcept {
    utsname u{};
    if (uname(&u) != 0) return 0xFFFF;
    return processor_code(u.machine, sizeof(void*) == 8);
}

}  // namespace ombrix

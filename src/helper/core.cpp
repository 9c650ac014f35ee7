// The helper's DevIL work for saves and detections, and the memory hooks both processes share.
#include "helper/core.hpp"

#include <strings.h>

#include <cstring>

#include "store/memory.hpp"

// DevIL's C-header writer, which ilSave does not reach by type (only ilSaveImage, by extension).
extern "C" ILboolean ilSaveCHeader(ILconst_string FileName, char* InternalName);

namespace ombrix::helper {
namespace {

void* devil_allocate(const ILsizei size) { return memory::devil_allocate(static_cast<std::size_t>(size)); }
void devil_release(const void* block) { memory::devil_release(block); }

// An image whose pixels cannot be described (no bytes, or sizes DevIL would read past) is never
// handed to it.
bool describable(const std::uint8_t* rgb, std::int32_t width, std::int32_t height) noexcept {
    return rgb && width > 0 && height > 0 && pixels_fit(width, height);
}

}  // namespace

void install_devil_memory() noexcept { ilSetMemory(devil_allocate, devil_release); }

ILenum save_type_of_name(const char* name) noexcept {
    if (!name) return IL_TYPE_UNKNOWN;
    // ilTypeFromExt knows every extension DevIL saves by but the C header's and RAW's.
    const char* dot = std::strrchr(name, '.');
    if (dot && !std::strchr(dot, '/')) {
        if (strcasecmp(dot, ".h") == 0) return IL_CHEAD;
        if (strcasecmp(dot, ".raw") == 0) return IL_RAW;
        // ilTypeFromExt knows ".pnm", which ilSaveImage refuses.
        if (strcasecmp(dot, ".pnm") == 0) return IL_TYPE_UNKNOWN;
    }
    return ilTypeFromExt(name);
}

ILenum encode_with_devil(const std::uint8_t* rgb, std::int32_t width, std::int32_t height, ILenum type,
                         const char* path) noexcept {
    // An empty image becomes DevIL's 1 × 1 image with no pixels of ours in it: refused instead.
    if (!describable(rgb, width, height)) return IL_INVALID_PARAM;
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ILenum error = IL_NO_ERROR;
    if (!ilTexImage(static_cast<ILuint>(width), static_cast<ILuint>(height), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
                    const_cast<std::uint8_t*>(rgb))) {
        error = IL_OUT_OF_MEMORY;
    } else {
        const ILboolean overwrite = ilIsEnabled(IL_FILE_OVERWRITE);
        ilEnable(IL_FILE_OVERWRITE);
        // The name ilSaveImage gives a header's array when IL_CHEAD_HEADER_STRING is not set.
        char internal_name[] = "IL_IMAGE";
        const bool saved = type == IL_CHEAD ? ilSaveCHeader(path, internal_name) : ilSave(type, path);
        if (!saved) {
            error = ilGetError();
            if (error == IL_NO_ERROR) error = type == IL_TYPE_UNKNOWN ? IL_INVALID_ENUM : IL_COULD_NOT_OPEN_FILE;
        }
        if (!overwrite) ilDisable(IL_FILE_OVERWRITE);
    }
    ilDeleteImages(1, &image);
    return error;
}

ILenum detect_with_devil(const std::uint8_t* bytes, std::size_t size) noexcept {
    if (!bytes || size == 0 || size > 0xFFFFFFFFu) return IL_TYPE_UNKNOWN;
    return ilDetermineTypeL(bytes, static_cast<ILuint>(size));
}

}  // namespace ombrix::helper

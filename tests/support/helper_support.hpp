// Test and benchmark support for the helper process: the same DevIL work done in the calling
// process, to compare what comes back through the helper against. DevIL can crash or hang on
// hostile input, so only valid files and images are given to these.
#pragma once

#include <IL/il.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "helper/client.hpp"
#include "helper/core.hpp"
#include "store/devil.hpp"
#include "store/state.hpp"

namespace ombrix::testing {

// A load through the helper, as the library makes it.
inline helper::Outcome decode_isolated(const char* path, helper::Loaded& out) {
    helper::Unavailable unavailable;
    return helper::load(path, out, unavailable);
}

// The same load in this process, on its own DevIL.
inline bool decode_in_process(State& st, const char* path, helper::Loaded& out) {
    if (!path) return false;
    ScratchImage scratch(st);
    helper::Properties p;
    memory::Buffer rgb;
    const helper::Outcome outcome = helper::decode_with_devil(path, p, [&](std::size_t bytes) {
        rgb = memory::Buffer(bytes);
        return rgb.data();
    });
    if (outcome != helper::Outcome::done) return false;
    static_cast<helper::Properties&>(out) = p;
    out.rgb = std::move(rgb);
    return true;
}

// The bytes DevIL's own writer produces in this process for `type` (or, with IL_TYPE_UNKNOWN, by
// the extension of `name`), written to a real file with that name in `dir`. Empty when DevIL
// refuses.
inline std::string save_in_process(const ImageRecord& image, ILenum type, const std::string& dir,
                                   const std::string& name) {
    const std::string path = dir + "/" + name;
    std::remove(path.c_str());
    ILuint id = 0;
    ilGenImages(1, &id);
    ilBindImage(id);
    ilTexImage(static_cast<ILuint>(image.width), static_cast<ILuint>(image.height), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
               const_cast<std::uint8_t*>(image.rgb.data()));
    const bool saved = type == IL_TYPE_UNKNOWN ? ilSaveImage(path.c_str()) : ilSave(type, path.c_str());
    ilDeleteImages(1, &id);
    std::string bytes;
    if (!saved) return bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    std::remove(path.c_str());
    return bytes;
}

}  // namespace ombrix::testing

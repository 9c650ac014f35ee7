// Helpers shared by the round-trip tests: images registered straight into the library's State, and
// a reference round trip written with DevIL calls alone.
#pragma once

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstdint>
#include <vector>

#include "exports/boundary.hpp"
#include "store/round_trip.hpp"
#include "store/state.hpp"

namespace ombrix::testing {

// A width × height image with a byte pattern that differs in every channel, row and column.
inline std::int32_t add_image(std::int32_t width, std::int32_t height, std::uint32_t seed = 7) {
    State& st = state();
    const std::int32_t id = st.take_image_id();
    auto record = make_record(width, height);
    for (std::size_t i = 0; i < record->rgb.size(); ++i)
        record->rgb[i] = static_cast<std::uint8_t>((i * 2654435761u + seed) >> 7);
    record->bits_per_pixel = 24;
    record->rgba = memory::Buffer(record->pixel_count() * 4, true);
    st.images.put(id, std::move(record));
    return id;
}

inline std::vector<std::uint8_t> pixels_of(std::int32_t id) {
    const ImageRecord& r = state().images.get(id);
    return {r.rgb.data(), r.rgb.data() + r.rgb.size()};
}

// The same steps as the library's round trip, made by hand: ilTexImage, the call, and ilCopyPixels
// of `out_width` × `out_height` pixels (the input size unless given).
template <class Call>
std::vector<std::uint8_t> devil_reference(const std::vector<std::uint8_t>& rgb, std::int32_t width, std::int32_t height,
                                          Call&& call, std::int32_t* out_width = nullptr,
                                          std::int32_t* out_height = nullptr, bool resize = false) {
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilTexImage(static_cast<ILuint>(width), static_cast<ILuint>(height), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
               const_cast<std::uint8_t*>(rgb.data()));
    call();
    std::int32_t w = width, h = height;
    if (resize) {
        w = ilGetInteger(IL_IMAGE_WIDTH);
        h = ilGetInteger(IL_IMAGE_HEIGHT);
    }
    std::vector<std::uint8_t> out =
        resize ? std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3) : rgb;
    ilCopyPixels(0, 0, 0, static_cast<ILuint>(w), static_cast<ILuint>(h), 1, IL_RGB, IL_UNSIGNED_BYTE, out.data());
    ilDeleteImages(1, &name);
    if (out_width) *out_width = w;
    if (out_height) *out_height = h;
    return out;
}

// image_FlipImageh made the slow way, through iluFlipImage on a round trip: what the library's
// direct row reversal must equal.
inline void flip_image_through_devil(State& st, ImageRecord& image) {
    round_trip(st, image, [] { iluFlipImage(); });
}

}  // namespace ombrix::testing

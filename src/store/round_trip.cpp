// The round trip between image records and DevIL images.
#include "store/round_trip.hpp"

#include <IL/ilu.h>

namespace ombrix {

void copy_in(const ImageRecord& image) {
    ilTexImage(static_cast<ILuint>(image.width), static_cast<ILuint>(image.height), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
               const_cast<std::uint8_t*>(image.rgb.data()));
}

void copy_back(ImageRecord& image) {
    if (image.rgb.empty()) return;
    ilCopyPixels(0, 0, 0, static_cast<ILuint>(image.width), static_cast<ILuint>(image.height), 1, IL_RGB,
                 IL_UNSIGNED_BYTE, image.rgb.data());
}

void flip_image(State& st, ImageRecord& image) {
    round_trip(st, image, [] { iluFlipImage(); });
}

}  // namespace ombrix

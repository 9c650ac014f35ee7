// The State instance and the table and counter rules every export shares.
#include "store/state.hpp"

#include <IL/ilu.h>

#include <limits>

namespace ombrix {

const char* devil_error_text(ILenum code) noexcept {
    const char* t = iluErrorString(code);
    return t ? t : text::internal_error;
}

void check_image_size(std::int64_t width, std::int64_t height) {
    if (!pixels_fit(width, height)) fail(-1, text::too_large);
}

std::unique_ptr<ImageRecord> make_record(std::int32_t width, std::int32_t height) {
    check_image_size(width, height);
    auto record = std::make_unique<ImageRecord>();
    record->width = width;
    record->height = height;
    record->rgb = memory::Buffer(record->pixel_count() * 3);
    return record;
}

ImageRecord& ImageTable::get(std::int32_t id) {
    ImageRecord* r = find(id);
    if (!r) fail(-1, text::invalid_image_id);
    return *r;
}

Brush& BrushTable::get(std::int32_t id) {
    Brush* b = find(id);
    if (!b) fail(-1, text::invalid_brush_id);
    return *b;
}

namespace {
std::int32_t take(std::int32_t& counter) {
    if (counter == std::numeric_limits<std::int32_t>::max()) fail(-1, text::ids_exhausted);
    return counter++;
}
}  // namespace

std::int32_t State::take_image_id() { return take(next_image_id); }
std::int32_t State::take_brush_id() { return take(next_brush_id); }

void State::require_initialised() {
    if (!initialised) fail(-1, text::not_initialised);
}

State& state() noexcept {
    static State instance;
    return instance;
}

}  // namespace ombrix

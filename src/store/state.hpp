// Library state: the image record, the ID-indexed tables, and the one State instance that holds
// every process-global flag, counter and setting from library load to unload.
#pragma once

#include <IL/il.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/errors.hpp"
#include "store/memory.hpp"
#include "store/pixel_limit.hpp"

namespace ombrix {

// One image. `width` × `height` × 3 bytes of `rgb` always describe the image; `rgba` is either
// empty or `width` × `height` × 4 bytes.
struct ImageRecord {
    memory::Buffer rgb;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t palette_size = 0;
    std::int32_t bits_per_pixel = 0;
    std::int32_t offset_x = 0;
    std::int32_t offset_y = 0;
    std::int32_t depth = 1;
    memory::Buffer rgba;

    std::size_t pixel_count() const noexcept {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
    // The pixels that both the size and the rgb buffer hold: what an in-place pass visits.
    std::size_t rgb_pixel_count() const noexcept { return std::min(pixel_count(), rgb.size() / 3); }
    // Byte `index` of `rgba`, or 0 where the record has none.
    std::uint8_t rgba_byte(std::size_t index) const noexcept { return index < rgba.size() ? rgba[index] : 0; }
};

// Throws Failure(-1, "Image too large…") unless a width × height image is allowed.
void check_image_size(std::int64_t width, std::int64_t height);

// A fresh record of the given size with an rgb buffer (contents unspecified) and the fields of a
// flat RGB image; `rgba` is left empty. Checks the size limit.
std::unique_ptr<ImageRecord> make_record(std::int32_t width, std::int32_t height);

struct Brush {
    std::vector<std::uint8_t> mask;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// IDs are dense and never reused, so the table is a vector indexed by ID: O(1) lookup, ordered
// by ID, and a freed slot simply holds nothing.
template <class Record>
class IdTable {
public:
    Record* find(std::int32_t id) noexcept {
        if (id < 0 || static_cast<std::size_t>(id) >= slots_.size()) return nullptr;
        return slots_[static_cast<std::size_t>(id)].get();
    }
    void put(std::int32_t id, std::unique_ptr<Record> record) {
        const auto index = static_cast<std::size_t>(id);
        if (index >= slots_.size()) slots_.resize(index + 1);
        slots_[index] = std::move(record);
    }
    bool erase(std::int32_t id) noexcept {
        Record* r = find(id);
        if (!r) return false;
        slots_[static_cast<std::size_t>(id)].reset();
        return true;
    }

private:
    std::vector<std::unique_ptr<Record>> slots_;
};

class ImageTable : public IdTable<ImageRecord> {
public:
    // Throws Failure(-1, "Invalid image ID") for an ID that names no image.
    ImageRecord& get(std::int32_t id);
};

class BrushTable : public IdTable<Brush> {
public:
    Brush& get(std::int32_t id);
};

struct HtmlSettings {
    double border = 2;
    double cell_padding = 4;
    double cell_spacing = 0;
    std::string cell_text = "&nbsp";
};

struct State {
    // Declared in this order so that unloading destroys the brush table first, then the images.
    ImageTable images;
    BrushTable brushes;

    bool initialised = false;
    bool loaded = false;
    std::int32_t next_image_id = 0;
    std::int32_t next_brush_id = 0;
    ILuint scratch = 0;
    const char* last_error = text::no_errors;

    std::int32_t pullout = 100;
    HtmlSettings html;
    std::string header_array_name = "Image_Data";

    // Takes the next image ID and advances the counter; throws once the counter is spent.
    std::int32_t take_image_id();
    std::int32_t take_brush_id();
    // Throws Failure(-1, "Ruvo wrapper no init") when init has not run.
    void require_initialised();
};

// The process's one State, constructed when the library is loaded.
State& state() noexcept;

}  // namespace ombrix

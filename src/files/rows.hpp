// The order the writers emit an image's rows in. The files they make list the rows as
// image_FlipImageh would leave them: last stored row first, unless the origin settings make that
// flip a no-op. The writers read the rows in that order and leave the image itself untouched.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "store/round_trip.hpp"
#include "store/state.hpp"

namespace ombrix::files {

class RowOrder {
public:
    explicit RowOrder(const ImageRecord& image)
        : rgb_(image.rgb.data()),
          row_bytes_(static_cast<std::size_t>(std::max(image.width, 0)) * 3),
          last_(image.height > 0 ? static_cast<std::size_t>(image.height) - 1 : 0),
          reversed_(flip_reverses_rows(image)) {}

    // The stored row that is written `n`-th, and its RGB bytes.
    std::size_t source_row(std::size_t n) const noexcept { return reversed_ ? last_ - n : n; }
    const std::uint8_t* row(std::size_t n) const noexcept { return rgb_ + source_row(n) * row_bytes_; }
    bool reversed() const noexcept { return reversed_; }

private:
    const std::uint8_t* rgb_;
    std::size_t row_bytes_;
    std::size_t last_;
    bool reversed_;
};

}  // namespace ombrix::files

// Writing OX files from images, and reading them from disk into the image table.
#include "files/ox.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "colour/grey.hpp"
#include "files/output.hpp"
#include "files/ox_format.hpp"
#include "files/rows.hpp"
#include "store/errors.hpp"
#include "store/images.hpp"

namespace ombrix::files {

namespace {

class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : file_(file) {
        struct stat info {};
        if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode))
            remaining_ = static_cast<std::uint64_t>(info.st_size);
    }
    std::size_t read(std::uint8_t* destination, std::size_t n) override {
        const std::size_t got = std::fread(destination, 1, n, file_);
        if (remaining_) *remaining_ -= std::min<std::uint64_t>(*remaining_, got);
        return got;
    }
    std::optional<std::uint64_t> remaining() const override { return remaining_; }

private:
    std::FILE* file_;
    std::optional<std::uint64_t> remaining_;
};

bool is_directory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

double write_ox(const ImageRecord& image, const char* path, std::int32_t mode) {
    File file(path, "wb");
    if (!file) fail(-1, text::ox_create_failed);
    OutputBuffer out(file.get());
    out.put("OX ");
    out.put_int(image.width);
    out.put(" ");
    out.put_int(image.height);
    out.put(" ");
    out.put_int(mode);
    out.put(" 1 ");

    if (image.pixel_count() == 0) return 0;
    const RowOrder rows(image);
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    switch (mode) {
        case 0:
            for (std::size_t y = 0; y < height; ++y) {
                const std::uint8_t* rgb = rows.row(y);
                for (std::size_t x = 0; x < width;) {
                    const std::size_t n = std::min(width - x, OutputBuffer::block_size);
                    char* p = out.reserve(n);
                    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<char>(colour::grey_level(rgb + 3 * (x + i)));
                    out.commit(p + n);
                    x += n;
                }
            }
            break;
        case 1:
            if (!rows.reversed()) {
                out.put_bytes(image.rgb.data(), width * height * 3);
                break;
            }
            for (std::size_t y = 0; y < height; ++y) out.put_bytes(rows.row(y), width * 3);
            break;
        case 2: {
            // The fourth byte of pixel k of the file is rgba byte 3 × k of the record, whatever
            // row order the pixels are written in.
            for (std::size_t y = 0, k = 0; y < height; ++y) {
                const std::uint8_t* rgb = rows.row(y);
                for (std::size_t x = 0; x < width;) {
                    const std::size_t n = std::min(width - x, OutputBuffer::block_size / 4);
                    char* p = out.reserve(n * 4);
                    for (std::size_t i = 0; i < n; ++i, ++k) {
                        const std::uint8_t* px = rgb + 3 * (x + i);
                        p[4 * i] = static_cast<char>(px[0]);
                        p[4 * i + 1] = static_cast<char>(px[1]);
                        p[4 * i + 2] = static_cast<char>(px[2]);
                        p[4 * i + 3] = static_cast<char>(image.rgba_byte(3 * k));  // 0 where there is no rgba
                    }
                    out.commit(p + n * 4);
                    x += n;
                }
            }
            break;
        }
        default:
            // The header stays in the file; the file handle closes it.
            fail_devil(0, il_invalid_param);
    }
    return 0;
}

double load_ox(State& st, const char* path) {
    const std::int32_t id = st.take_image_id();
    File file(path, "rb");
    if (!file || is_directory(file.get())) fail(-1, text::ox_load_failed);
    FileSource source(file.get());
    OxImage image = read_ox(source);
    file.close();
    switch (image.status) {
        case OxStatus::ok:
            return register_image(st, id, std::move(image.record));
        case OxStatus::unknown_mode:
            fail_devil(0, il_invalid_param);
        case OxStatus::malformed:
            break;
    }
    fail(-1, text::ox_load_failed);
}

}  // namespace ombrix::files

// write_png_file over libpng. libpng reports errors by longjmp to the recovery point; the two
// functions that set one hold nothing with a destructor, so the jump skips no cleanup. The file,
// the libpng structures and the row buffer belong to the caller and are released on every path.
#include "files/png_writer.hpp"

#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "files/output.hpp"

namespace ombrix::files {

namespace {

// libpng's own handlers print to standard error; the writer reports through its result alone.
[[noreturn]] void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

// libpng's output goes through the whole-or-nothing file; a failed write ends the file at once.
void on_png_write(png_structp png, png_bytep data, png_size_t length) {
    if (!static_cast<AtomicFile*>(png_get_io_ptr(png))->write(data, length)) png_longjmp(png, 1);
}
void on_png_flush(png_structp) {}

class PngWriteStruct {
public:
    PngWriteStruct() : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning)) {}
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;
    ~PngWriteStruct() {
        if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    png_structp png() const noexcept { return png_; }
    png_infop info() const noexcept { return info_; }
    bool create_info() noexcept { return (info_ = png_create_info_struct(png_)) != nullptr; }

private:
    png_structp png_;
    png_infop info_ = nullptr;
};

// Compression settings, output, header, sBIT and the info chunks.
bool write_png_start(png_structp png, png_infop info, AtomicFile& file, const PngSettings& s) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_compression_level(png, s.compression_level);
    png_set_compression_mem_level(png, s.compression_memory_level);
    png_set_compression_strategy(png, s.compression_strategy);
    // Level 9 spends nearly all its time in zlib's match search, which the row filters feed. The
    // Up filter alone left zlib about 30 % less to do than libpng's adaptive choice among all five,
    // and gave files no larger, on the photographs and photo-like pictures measured.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_write_fn(png, &file, on_png_write, on_png_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_color_8 significant{};
    significant.red = significant.green = significant.blue = significant.alpha = 8;
    png_set_sBIT(png, info, &significant);
    png_write_info(png, info);
    png_set_shift(png, &significant);
    png_set_packing(png);
    return true;
}

// The rows, keyed to RGBA one at a time, and the end of the file.
bool write_png_rows(png_structp png, png_infop info, const PngSettings& s, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    const std::size_t width = static_cast<std::size_t>(s.width);
    const std::uint8_t* in = s.pixels;
    for (std::int32_t y = 0; y < s.height; ++y) {
        for (std::size_t x = 0; x < width; ++x, in += 3) {
            const bool key = in[0] == s.key_red && in[1] == s.key_green && in[2] == s.key_blue;
            row[4 * x] = in[0];
            row[4 * x + 1] = in[1];
            row[4 * x + 2] = in[2];
            row[4 * x + 3] = key ? 0 : 255;
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

// The image data as two deflate pieces joined into one zlib stream, the way parallel gzip tools
// split their input: the second piece starts from the last 32 KiB of the first as its dictionary,
// so it finds the same matches across the join, and the first ends on a byte boundary
// (Z_SYNC_FLUSH) without the final bit. The rows are filtered here with Up, as libpng would.
class TwoPieceImageData {
public:
    explicit TwoPieceImageData(const PngSettings& s)
        : s_(s), width_(static_cast<std::size_t>(s.width)), row_bytes_(1 + 4 * width_) {}

    // Deflates both pieces; false when zlib refuses the settings or memory runs out.
    bool compress() {
        const std::int32_t height = s_.height;
        const std::int32_t split = height / 2;
        pieces_[0].first = 0, pieces_[0].end = split;
        pieces_[1].first = split, pieces_[1].end = height;
        std::thread worker;
        if (s_.use_thread && split > 0) {
            try {
                worker = std::thread([this] { run(pieces_[1]); });
            } catch (const std::system_error&) {
                // No thread: the calling thread deflates the second piece after the first.
            }
        }
        run(pieces_[0]);
        if (worker.joinable())
            worker.join();
        else
            run(pieces_[1]);
        for (const Piece& p : pieces_)
            if (p.error) return false;
        return true;
    }

    // The zlib header, the pieces and the Adler-32 of all the filtered data, as IDAT chunks.
    bool write(png_structp png) const {
        if (setjmp(png_jmpbuf(png))) return false;
        const int level = s_.compression_level < 0 ? 6 : s_.compression_level;
        const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
        unsigned header = (Z_DEFLATED + ((15 - 8) << 4)) << 8 | flags << 6;
        header += 31 - header % 31;
        const png_byte head[2] = {static_cast<png_byte>(header >> 8), static_cast<png_byte>(header)};
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), head, 2);
        uLong adler = adler32(0, nullptr, 0);
        for (const Piece& p : pieces_) {
            for (std::size_t at = 0; at < p.out.size(); at += chunk_bytes)
                png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), p.out.data() + at,
                                std::min(chunk_bytes, p.out.size() - at));
            adler = adler32_combine(adler, p.adler, static_cast<z_off_t>(p.length));
        }
        const png_byte tail[4] = {static_cast<png_byte>(adler >> 24), static_cast<png_byte>(adler >> 16),
                                  static_cast<png_byte>(adler >> 8), static_cast<png_byte>(adler)};
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), tail, 4);
        // libpng's png_write_end insists on IDATs written through its own rows; nothing follows
        // the image data in these files but IEND.
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
        return true;
    }

private:
    static constexpr std::size_t dictionary_bytes = 32768;
    static constexpr std::size_t chunk_bytes = 1 << 20;
    static constexpr std::size_t batch_bytes = 256 * 1024;

    struct Piece {
        std::int32_t first = 0, end = 0;
        std::vector<std::uint8_t> out;
        uLong adler = 0;
        std::size_t length = 0;
        bool error = false;
    };

    // Row y as RGBA with the key colour transparent; a row above the image is all zero.
    void rgba(std::int32_t y, std::uint8_t* row) const {
        if (y < 0) {
            std::memset(row, 0, 4 * width_);
            return;
        }
        const std::uint8_t* in = s_.pixels + static_cast<std::size_t>(y) * width_ * 3;
        for (std::size_t x = 0; x < width_; ++x, in += 3) {
            const bool key = in[0] == s_.key_red && in[1] == s_.key_green && in[2] == s_.key_blue;
            row[4 * x] = in[0];
            row[4 * x + 1] = in[1];
            row[4 * x + 2] = in[2];
            row[4 * x + 3] = key ? 0 : 255;
        }
    }

    // Rows first..end-1 filtered with Up into out, row_bytes_ each.
    void filter(std::int32_t first, std::int32_t end, std::uint8_t* out, std::vector<std::uint8_t>& above,
                std::vector<std::uint8_t>& row) const {
        rgba(first - 1, above.data());
        for (std::int32_t y = first; y < end; ++y, out += row_bytes_) {
            rgba(y, row.data());
            out[0] = PNG_FILTER_VALUE_UP;
            for (std::size_t i = 0; i < 4 * width_; ++i) out[1 + i] = static_cast<std::uint8_t>(row[i] - above[i]);
            std::swap(above, row);
        }
    }

    void run(Piece& p) noexcept {
        try {
            p.error = !deflate_piece(p);
        } catch (...) {
            p.error = true;
        }
    }

    bool deflate_piece(Piece& p) const {
        std::vector<std::uint8_t> above(4 * width_), row(4 * width_);
        z_stream z{};
        if (deflateInit2(&z, s_.compression_level, Z_DEFLATED, -15, s_.compression_memory_level,
                         s_.compression_strategy) != Z_OK)
            return false;
        struct End {
            z_stream* z;
            ~End() { deflateEnd(z); }
        } end{&z};
        std::vector<std::uint8_t> in;
        if (p.first > 0) {
            // The last 32 KiB of filtered data before this piece.
            const auto rows = std::min<std::int32_t>(
                p.first, static_cast<std::int32_t>((dictionary_bytes + row_bytes_ - 1) / row_bytes_));
            in.resize(static_cast<std::size_t>(rows) * row_bytes_);
            filter(p.first - rows, p.first, in.data(), above, row);
            const std::size_t n = std::min(dictionary_bytes, in.size());
            if (deflateSetDictionary(&z, in.data() + in.size() - n, static_cast<uInt>(n)) != Z_OK) return false;
        }
        const std::int32_t batch = static_cast<std::int32_t>(std::max<std::size_t>(1, batch_bytes / row_bytes_));
        in.resize(static_cast<std::size_t>(batch) * row_bytes_);
        // A quarter of the raw size to start with; doubled whenever zlib fills it.
        p.out.resize(static_cast<std::size_t>(p.end - p.first) * row_bytes_ / 4 + 65536);
        p.adler = adler32(0, nullptr, 0);
        p.length = 0;
        std::size_t produced = 0;
        for (std::int32_t y = p.first;; y += batch) {
            const std::int32_t stop = std::min(p.end, y + batch);
            const std::size_t n = static_cast<std::size_t>(std::max(0, stop - y)) * row_bytes_;
            filter(y, stop, in.data(), above, row);
            p.adler = adler32(p.adler, in.data(), static_cast<uInt>(n));
            p.length += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
            const bool last = stop >= p.end;
            const int flush = !last ? Z_NO_FLUSH : p.end == s_.height ? Z_FINISH : Z_SYNC_FLUSH;
            for (;;) {
                if (produced == p.out.size()) p.out.resize(p.out.size() * 2);
                z.next_out = p.out.data() + produced;
                z.avail_out = static_cast<uInt>(std::min<std::size_t>(p.out.size() - produced, batch_bytes * 4));
                const int r = deflate(&z, flush);
                produced = static_cast<std::size_t>(z.next_out - p.out.data());
                if (r == Z_STREAM_ERROR) return false;
                if (flush == Z_FINISH ? r == Z_STREAM_END : z.avail_in == 0 && z.avail_out != 0) break;
            }
            if (last) break;
        }
        p.out.resize(produced);
        return true;
    }

    const PngSettings& s_;
    const std::size_t width_;
    const std::size_t row_bytes_;
    Piece pieces_[2];
};

}  // namespace

bool write_png_file(const PngSettings& settings, const char* path) {
    AtomicFile file(path);
    if (!file) return false;
    PngWriteStruct png;
    if (!png.png() || !png.create_info()) return false;
    // Negative sizes cannot describe pixel data; libpng refuses a zero size itself.
    if (settings.width < 0 || settings.height < 0 || (!settings.pixels && settings.width && settings.height))
        return false;
    if (!write_png_start(png.png(), png.info(), file, settings)) return false;
    if (settings.width > 1073741823) return false;
    const std::size_t data_bytes =
        static_cast<std::size_t>(settings.height) * (1 + 4 * static_cast<std::size_t>(settings.width));
    // Rows up to 64 MiB keep every count zlib sees within its 32 bits.
    if (data_bytes >= settings.two_pieces_from_bytes && settings.width <= (1 << 24)) {
        try {
            TwoPieceImageData data(settings);
            if (!data.compress() || !data.write(png.png())) return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
        return file.commit();
    }
    memory::Buffer row;
    try {
        row = memory::Buffer(static_cast<std::size_t>(settings.width) * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!write_png_rows(png.png(), png.info(), settings, row.data())) return false;
    return file.commit();
}

bool write_test_png(const ImageRecord& image) {
    PngSettings settings;
    settings.width = image.width;
    settings.height = image.height;
    settings.pixels = image.rgb.data();
    return write_png_file(settings, "test_out.png");
}

}  // namespace ombrix::files

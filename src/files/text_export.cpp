// The HTML, GML and C-header writers. All three format into a block buffer with table lookups
// and integer formatting and write it out in large pieces: a large image is tens of megabytes.
#include "files/text_export.hpp"

#include <array>
#include <cstring>
#include <string_view>

#include "colour/grey.hpp"
#include "files/output.hpp"
#include "files/rows.hpp"
#include "store/convert.hpp"
#include "store/errors.hpp"

namespace ombrix::files {

namespace {

// Two uppercase hexadecimal digits per byte: the pad "0" for 0..15 followed by "%X".
constexpr std::array<std::array<char, 2>, 256> hex_table = [] {
    std::array<std::array<char, 2>, 256> t{};
    constexpr const char* digits = "0123456789ABCDEF";
    for (std::size_t i = 0; i < 256; ++i) t[i] = {digits[i >> 4], digits[i & 15]};
    return t;
}();

// "%4d," for every byte value.
constexpr std::array<std::array<char, 5>, 256> value_table = [] {
    std::array<std::array<char, 5>, 256> t{};
    for (std::size_t i = 0; i < 256; ++i) {
        t[i] = {' ', ' ', ' ', ' ', ','};
        std::size_t v = i, at = 3;
        do {
            t[i][at--] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
    }
    return t;
}();

}  // namespace

std::string escape_html(const char* text) {
    std::string out;
    for (const char* p = text; p && *p; ++p) {
        switch (*p) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += *p;
        }
    }
    return out;
}

double write_html(const State& st, const ImageRecord& image, const char* path) {
    File file(path, "wb");
    if (!file) fail(-1, text::html_create_failed);
    OutputBuffer out(file.get());
    out.put("<HTML>\n<BODY>\n<HEAD><TITLE>");
    out.put(escape_html(path));
    out.put("</TITLE></HEAD><TABLE BORDER=");
    out.put_int(to_int32(st.html.border));
    out.put(" CELLPADDING=");
    out.put_int(to_int32(st.html.cell_padding));
    out.put(" CELLSPACING=");
    out.put_int(to_int32(st.html.cell_spacing));
    out.put(">\n   <TR>\n");

    const RowOrder rows(image);
    constexpr std::string_view head = "      <TD  BGCOLOR=#";
    const std::string tail = "> " + st.html.cell_text + "; </TD>\n";
    constexpr std::string_view row_break = "   </TR><TR>\n";
    const std::size_t cell_size = head.size() + 6 + tail.size();
    const bool cell_fits = cell_size + row_break.size() <= OutputBuffer::block_size;
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t height = width ? static_cast<std::size_t>(image.height) : 0;
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* rgb = rows.row(y);
        for (std::size_t x = 0; x < width; ++x, rgb += 3) {
            if (cell_fits) {
                char* p = out.reserve(cell_size);
                std::memcpy(p, head.data(), head.size());
                p += head.size();
                std::memcpy(p, hex_table[rgb[0]].data(), 2);
                std::memcpy(p + 2, hex_table[rgb[1]].data(), 2);
                std::memcpy(p + 4, hex_table[rgb[2]].data(), 2);
                std::memcpy(p + 6, tail.data(), tail.size());
                out.commit(p + 6 + tail.size());
            } else {
                out.put(head);
                for (int c = 0; c < 3; ++c) out.put({hex_table[rgb[c]].data(), 2});
                out.put(tail);
            }
        }
        // Written after the last row too: the page ends with one empty row.
        out.put(row_break);
    }
    out.put("   </TR>\n</TABLE></BODY></HTML>");
    return 1;
}

namespace {

// "draw_point_color(x, y, " of the current pixel. The text is rebuilt only when x's last digit
// carries; in between, the writer copies it and puts the current last digit in place. (Bumping
// the digit inside the text itself would make every copy wait for that one-byte store.)
class GmlLineStart {
public:
    static constexpr std::size_t capacity = 48;  // 17 + 2 × (10 digits + ", ") fits

    void start_row(std::int32_t y) {
        y_ = y;
        x_ = 0;
        build();
    }
    void next_x() {
        ++x_;
        if (digit_ != '9') {
            ++digit_;
        } else {
            build();
        }
    }
    // Writes the text at `out` (which has room for `capacity` bytes) and returns its end.
    char* write(char* out) const noexcept {
        std::memcpy(out, text_, capacity);
        out[digit_at_] = digit_;
        return out + size_;
    }

private:
    void build() {
        std::memcpy(text_, "draw_point_color(", 17);
        char* p = std::to_chars(text_ + 17, text_ + capacity, x_).ptr;
        digit_at_ = static_cast<std::size_t>(p - text_) - 1;
        digit_ = text_[digit_at_];
        *p++ = ',';
        *p++ = ' ';
        p = std::to_chars(p, text_ + capacity, y_).ptr;
        *p++ = ',';
        *p++ = ' ';
        size_ = static_cast<std::size_t>(p - text_);
    }

    char text_[capacity] = {};
    std::size_t size_ = 0;
    std::size_t digit_at_ = 0;
    char digit_ = '0';
    std::int32_t x_ = 0;
    std::int32_t y_ = 0;
};

}  // namespace

double write_gml(const ImageRecord& image, const char* path) {
    File file(path, "wb");
    if (!file) fail(-1, text::gml_create_failed);
    OutputBuffer out(file.get());
    out.put("//Converted by Ombrix Plug-In\n\n");

    const RowOrder rows(image);
    const std::int32_t width = image.width, height = image.height;
    GmlLineStart line;
    for (std::int32_t y = 0; y < height && width > 0; ++y) {
        line.start_row(y);
        const std::uint8_t* rgb = rows.row(static_cast<std::size_t>(y));
        for (std::int32_t x = 0; x < width; ++x, rgb += 3) {
            if (x) line.next_x();
            char* p = out.reserve(GmlLineStart::capacity + 16);
            // The line start is copied at its full capacity; the bytes past its end are overwritten.
            p = line.write(p);
            p = std::to_chars(p, p + 16, rgb[0] + 256 * rgb[1] + 65536 * rgb[2]).ptr;
            std::memcpy(p, ");\n", 3);
            out.commit(p + 3);
        }
    }
    return 1;
}

double write_header(const State& st, const ImageRecord& image, const char* path, HeaderMode mode) {
    File file(path, "wb");
    if (!file) fail(-1, text::header_create_failed);
    OutputBuffer out(file.get());
    static constexpr int bytes_per_pixel[] = {1, 3, 4};
    static constexpr std::size_t pixels_per_line[] = {15, 5, 4};
    const auto m = static_cast<std::size_t>(mode);
    out.put("//Converted by Ombrix Plug-In");
    out.put("\n\n// C Image Header:\n#define ImageBpp ");
    out.put_int(bytes_per_pixel[m]);
    out.put("\n#define  ImageWidth ");
    out.put_int(image.width);
    out.put(";\n#define  ImageHeight ");
    out.put_int(image.height);
    out.put(";\n\nunsigned char ");
    out.put(st.header_array_name);
    out.put("[] = \n{\n    ");

    const RowOrder rows(image);
    const std::size_t width = image.pixel_count() ? static_cast<std::size_t>(image.width) : 0;
    const std::size_t height = width ? static_cast<std::size_t>(image.height) : 0;
    const std::size_t per_line = pixels_per_line[m];
    std::size_t on_line = 0;
    // k counts pixels in the order they are written: the rgba byte goes with that position.
    for (std::size_t y = 0, k = 0; y < height; ++y) {
        const std::uint8_t* px = rows.row(y);
        for (std::size_t x = 0; x < width; ++x, ++k, px += 3) {
            char* p = out.reserve(32);
            if (mode == HeaderMode::grey) {
                std::memcpy(p, value_table[colour::grey_level(px)].data(), 5);
                p += 5;
            } else {
                std::memcpy(p, value_table[px[0]].data(), 5);
                std::memcpy(p + 5, value_table[px[1]].data(), 5);
                std::memcpy(p + 10, value_table[px[2]].data(), 5);
                p += 15;
                if (mode == HeaderMode::rgba) {
                    // 0 where the record has no rgba buffer.
                    std::memcpy(p, value_table[image.rgba_byte(3 * k)].data(), 5);
                    p += 5;
                }
            }
            if (++on_line == per_line) {
                *p++ = '\n';
                *p++ = '\t';
                on_line = 0;
            }
            out.commit(p);
        }
    }
    out.put("\t");
    out.put("};");
    return 0;
}

}  // namespace ombrix::files

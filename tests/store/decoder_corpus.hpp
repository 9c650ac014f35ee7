// Small valid files in every format DevIL reads here, made in a test's scratch directory: most
// through DevIL's own writers (with their RLE, interlace and palette variants), the formats DevIL
// cannot write (GIF, XPM, ICO, plain PNM) by hand.
#pragma once

#include <IL/il.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace ombrix::testing {

struct CorpusFile {
    std::string name;  // also the file name; the extension tells DevIL the format
    std::filesystem::path path;
    // DevIL's XPM reader reads memory it never set and crashes on about every other valid file,
    // so such a file cannot serve as a reference.
    bool unreliable = false;
};

inline std::vector<std::uint8_t> read_bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_bytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace corpus_detail {

constexpr int width = 13;
constexpr int height = 9;

inline std::vector<std::uint8_t> pattern(int channels) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(width * height * channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                px[static_cast<std::size_t>((y * width + x) * channels + c)] =
                    static_cast<std::uint8_t>(x * 19 + y * 31 + c * 70 + (x * y) % 7);
    return px;
}

// Saves the pattern through DevIL; `prepare` runs on the bound image before the save.
template <class Prepare>
bool save_with_devil(const std::filesystem::path& p, ILenum type, int channels, ILenum format, Prepare&& prepare) {
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    const auto px = pattern(channels);
    ilTexImage(width, height, 1, static_cast<ILubyte>(channels), format, IL_UNSIGNED_BYTE,
               const_cast<std::uint8_t*>(px.data()));
    prepare();
    const bool ok = ilSave(type, p.c_str()) == IL_TRUE;
    ilDeleteImages(1, &image);
    return ok;
}

inline void put16le(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x & 0xFF));
    v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}
inline void put32le(std::vector<std::uint8_t>& v, unsigned x) {
    put16le(v, x & 0xFFFF);
    put16le(v, x >> 16);
}

// A 4-colour GIF, compressed with a plain LZW coder (the table never fills for so few pixels).
inline std::vector<std::uint8_t> gif() {
    std::vector<std::uint8_t> v = {'G', 'I', 'F', '8', '9', 'a'};
    put16le(v, width);
    put16le(v, height);
    v.insert(v.end(), {0xF1, 0, 0});  // global table of 4 colours
    v.insert(v.end(), {255, 0, 0, 0, 255, 0, 0, 0, 255, 240, 240, 16});
    v.push_back(0x2C);
    put16le(v, 0);
    put16le(v, 0);
    put16le(v, width);
    put16le(v, height);
    v.push_back(0);
    v.push_back(2);  // minimum code size: codes start at 3 bits, clear is 4, end is 5
    std::vector<std::uint8_t> data;
    unsigned bits = 0, nbits = 0, size = 3, next = 6;
    const auto emit = [&](unsigned code) {
        bits |= code << nbits;
        nbits += size;
        while (nbits >= 8) {
            data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            nbits -= 8;
        }
    };
    std::map<std::pair<unsigned, unsigned>, unsigned> table;
    emit(4);
    unsigned prefix = 0;
    for (int i = 0; i < width * height; ++i) {
        const auto pixel = static_cast<unsigned>((i % width + i / width + (i / 5) % 3) % 4);
        if (i == 0) {
            prefix = pixel;
            continue;
        }
        const auto found = table.find({prefix, pixel});
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        emit(prefix);
        table[{prefix, pixel}] = next++;
        if (next == (1u << size) + 1 && size < 12) ++size;
        prefix = pixel;
    }
    emit(prefix);
    emit(5);
    if (nbits) data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        v.push_back(static_cast<std::uint8_t>(n));
        v.insert(v.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    v.push_back(0);
    v.push_back(0x3B);
    return v;
}

inline std::string xpm() {
    std::string s =
        "/* XPM */\nstatic char *image[] = {\n\"13 9 3 1\",\n\". c #FF0000\",\n\"o c #00FF00\",\n\"x c #0000FF\",\n";
    for (int y = 0; y < height; ++y) {
        s += '"';
        for (int x = 0; x < width; ++x) s += ".ox"[(x + 2 * y) % 3];
        s += y + 1 < height ? "\",\n" : "\"\n";
    }
    return s + "};\n";
}

// An icon holding one 24-bit bitmap with its AND mask.
inline std::vector<std::uint8_t> ico() {
    const unsigned row = (width * 3 + 3) / 4 * 4;
    const unsigned mask_row = (width + 31) / 32 * 4;
    const unsigned image_size = 40 + row * height + mask_row * height;
    std::vector<std::uint8_t> v;
    put16le(v, 0);
    put16le(v, 1);
    put16le(v, 1);
    v.insert(v.end(), {static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(height), 0, 0});
    put16le(v, 1);
    put16le(v, 24);
    put32le(v, image_size);
    put32le(v, 22);
    put32le(v, 40);
    put32le(v, width);
    put32le(v, height * 2);
    put16le(v, 1);
    put16le(v, 24);
    for (int i = 0; i < 6; ++i) put32le(v, 0);
    const auto px = pattern(3);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            for (int c = 2; c >= 0; --c) v.push_back(px[static_cast<std::size_t>((y * width + x) * 3 + c)]);
        for (unsigned pad = width * 3; pad < row; ++pad) v.push_back(0);
    }
    v.insert(v.end(), mask_row * height, 0);
    return v;
}

inline std::string plain_ppm() {
    std::string s = "P3\n# plain\n13 9\n255\n";
    const auto px = pattern(3);
    for (std::size_t i = 0; i < px.size(); ++i) s += std::to_string(px[i]) + ((i + 1) % 12 ? " " : "\n");
    return s + "\n";
}

inline std::vector<std::uint8_t> binary_pbm() {
    std::string head = "P4\n13 9\n";
    std::vector<std::uint8_t> v(head.begin(), head.end());
    for (int y = 0; y < height; ++y) {
        v.push_back(static_cast<std::uint8_t>(0xA5 ^ (y * 17)));
        v.push_back(static_cast<std::uint8_t>(0x3C ^ (y * 5)));
    }
    return v;
}

}  // namespace corpus_detail

// Writes the corpus into `dir` (DevIL must be initialised) and returns the files that exist.
inline std::vector<CorpusFile> make_valid_corpus(const std::filesystem::path& dir) {
    namespace d = corpus_detail;
    std::vector<CorpusFile> files;
    const auto add = [&](const std::string& name, bool ok, bool unreliable = false) {
        if (ok) files.push_back({name, dir / name, unreliable});
    };
    const auto nothing = [] {};
    const auto palette = [] { ilConvertImage(IL_COLOUR_INDEX, IL_UNSIGNED_BYTE); };
    const auto setting = [](ILenum mode, ILint value) { return [mode, value] { ilSetInteger(mode, value); }; };
    add("rgb.bmp", d::save_with_devil(dir / "rgb.bmp", IL_BMP, 3, IL_RGB, nothing));
    add("palette.bmp", d::save_with_devil(dir / "palette.bmp", IL_BMP, 3, IL_RGB, palette));
    add("rgb.png", d::save_with_devil(dir / "rgb.png", IL_PNG, 3, IL_RGB, nothing));
    add("rgba.png", d::save_with_devil(dir / "rgba.png", IL_PNG, 4, IL_RGBA, nothing));
    add("grey.png", d::save_with_devil(dir / "grey.png", IL_PNG, 1, IL_LUMINANCE, nothing));
    add("palette.png", d::save_with_devil(dir / "palette.png", IL_PNG, 3, IL_RGB, palette));
    add("interlaced.png", d::save_with_devil(dir / "interlaced.png", IL_PNG, 3, IL_RGB, setting(IL_PNG_INTERLACE, 1)));
    ilSetInteger(IL_PNG_INTERLACE, 0);
    add("rgb.jpg", d::save_with_devil(dir / "rgb.jpg", IL_JPG, 3, IL_RGB, nothing));
    add("rgb.tga", d::save_with_devil(dir / "rgb.tga", IL_TGA, 3, IL_RGB, nothing));
    add("rle.tga", d::save_with_devil(dir / "rle.tga", IL_TGA, 4, IL_RGBA, setting(IL_TGA_RLE, 1)));
    ilSetInteger(IL_TGA_RLE, 0);
    add("rgb.pcx", d::save_with_devil(dir / "rgb.pcx", IL_PCX, 3, IL_RGB, nothing));
    add("palette.pcx", d::save_with_devil(dir / "palette.pcx", IL_PCX, 3, IL_RGB, palette));
    add("rgb.ppm", d::save_with_devil(dir / "rgb.ppm", IL_PNM, 3, IL_RGB, nothing));
    add("grey.pgm", d::save_with_devil(dir / "grey.pgm", IL_PNM, 1, IL_LUMINANCE, nothing));
    add("rgb.sgi", d::save_with_devil(dir / "rgb.sgi", IL_SGI, 3, IL_RGB, nothing));
    add("rle.sgi", d::save_with_devil(dir / "rle.sgi", IL_SGI, 3, IL_RGB, setting(IL_SGI_RLE, 1)));
    ilSetInteger(IL_SGI_RLE, 0);
    add("rgb.psd", d::save_with_devil(dir / "rgb.psd", IL_PSD, 3, IL_RGB, nothing));
    add("dxt1.dds", d::save_with_devil(dir / "dxt1.dds", IL_DDS, 3, IL_RGB, nothing));
    add("rgb.hdr", d::save_with_devil(dir / "rgb.hdr", IL_HDR, 3, IL_RGB, nothing));
    add("rgb.tif", d::save_with_devil(dir / "rgb.tif", IL_TIF, 3, IL_RGB, nothing));
    write_bytes(dir / "palette.gif", d::gif());
    add("palette.gif", true);
    {
        std::ofstream(dir / "palette.xpm") << d::xpm();
        add("palette.xpm", true, true);
        std::ofstream(dir / "plain.ppm") << d::plain_ppm();
        add("plain.ppm", true);
    }
    write_bytes(dir / "icon.ico", d::ico());
    add("icon.ico", true);
    write_bytes(dir / "mono.pbm", d::binary_pbm());
    add("mono.pbm", true);
    return files;
}

}  // namespace ombrix::testing

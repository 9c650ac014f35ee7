// Writes the sample images the demo and the script tests use: a 64 × 48 picture with colour
// ramps, primaries, greys and a diagonal, saved as PNG and as 24-bit BMP through DevIL.
// Build and run: g++ -std=c++20 tools/make_sample.cpp -lIL -o /tmp/make_sample && /tmp/make_sample examples
#include <IL/il.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    constexpr int w = 64, h = 48;
    std::vector<std::uint8_t> rgb(w * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgb[static_cast<std::size_t>((y * w + x) * 3)];
            if (y < 16) {  // red, green and blue ramps
                p[0] = static_cast<std::uint8_t>(x * 4);
                p[1] = static_cast<std::uint8_t>(y * 16);
                p[2] = static_cast<std::uint8_t>(255 - x * 4);
            } else if (y < 32) {  // primaries, secondaries, white and black in eight bands
                static const std::uint8_t bands[8][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},     {255, 255, 0},
                                                         {0, 255, 255}, {255, 0, 255}, {255, 255, 255}, {0, 0, 0}};
                const auto* c = bands[x / 8];
                p[0] = c[0];
                p[1] = c[1];
                p[2] = c[2];
            } else {  // grey ramp with a diagonal line
                const auto g = static_cast<std::uint8_t>(x * 4 + 2);
                p[0] = p[1] = p[2] = g;
                if (x == (y - 32) * 4) p[0] = 255, p[1] = 128, p[2] = 0;
            }
        }
    }
    ilInit();
    ilEnable(IL_FILE_OVERWRITE);
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilTexImage(w, h, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, rgb.data());
    const bool ok = ilSave(IL_PNG, (dir + "/sample.png").c_str()) && ilSave(IL_BMP, (dir + "/sample.bmp").c_str());
    ilDeleteImages(1, &name);
    if (!ok) std::fprintf(stderr, "make_sample: could not write the samples to %s\n", dir.c_str());
    return ok ? 0 : 1;
}

// Shared by the files tests: a temporary directory, whole-file reads and writes, small images,
// and a State with DevIL initialised (the writers turn images over through DevIL).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "store/library.hpp"
#include "store/state.hpp"

namespace ombrix::testing {

class TempDir {
public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "ombrix-files-XXXXXX").string();
        if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
        path_ = name;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A width × height image whose pixels are the given RGB triples in buffer order.
inline std::unique_ptr<ImageRecord> image_of(std::int32_t width, std::int32_t height, std::initializer_list<int> rgb) {
    auto record = make_record(width, height);
    std::size_t i = 0;
    for (int v : rgb) record->rgb[i++] = static_cast<std::uint8_t>(v);
    return record;
}

// Pixel (x, y) of a width × height test image: distinct in every channel for small images.
inline void fill_pattern(ImageRecord& image) {
    for (std::size_t k = 0; k < image.pixel_count(); ++k) {
        image.rgb[3 * k] = static_cast<std::uint8_t>(k * 7 + 1);
        image.rgb[3 * k + 1] = static_cast<std::uint8_t>(k * 13 + 50);
        image.rgb[3 * k + 2] = static_cast<std::uint8_t>(255 - k * 3);
    }
}

inline std::vector<std::uint8_t> pixels(const ImageRecord& image) {
    return {image.rgb.data(), image.rgb.data() + image.rgb.size()};
}

// The bytes of stored row `row`.
inline std::vector<std::uint8_t> stored_row(const ImageRecord& image, std::int32_t row) {
    const std::size_t w = static_cast<std::size_t>(image.width) * 3;
    const std::uint8_t* p = image.rgb.data() + static_cast<std::size_t>(row) * w;
    return {p, p + w};
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        init_library(st);
        // Images read from files get IDs clear of the ones the tests place by hand.
        st.next_image_id = 100;
    }
    ImageRecord& add(std::int32_t id, std::unique_ptr<ImageRecord> record) {
        st.images.put(id, std::move(record));
        return st.images.get(id);
    }
    State st;
    TempDir dir;
};

// Runs a shell command, returning its standard output; `status` gets the exit status.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        const int rc = pclose(pipe);
        if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    } else if (status) {
        *status = -1;
    }
    return out;
}

inline bool have_program(const std::string& name) {
    int status = 0;
    run("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

}  // namespace ombrix::testing

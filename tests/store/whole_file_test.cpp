// Every writer of the library on a disk that fills up half way: the old file must survive byte for
// byte, no temporary file may be left beside it, and the failure must be reported. The full disk is
// made for real: a file-size limit (with SIGXFSZ ignored, so the write fails with EFBIG) and, where
// this process may mount, a 64 KiB tmpfs in a private mount namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "exports/boundary.hpp"
#include "store/devil_support.hpp"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

const std::string old_contents = "old contents, which a failed write must keep\n";

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    return names;
}

struct Writer {
    const char* name;
    std::function<double(const std::string& path)> write;
    // The documented result of a failed write, and the last-error text it leaves: null for one
    // that names the file, "" for one that must stay as it was.
    double failed;
    const char* error_text;
};

class WholeFile : public ::testing::Test {
protected:
    void SetUp() override {
        ::init();
        dir = fs::temp_directory_path() / ("ombrix-whole-" + std::to_string(getpid()));
        fs::create_directories(dir);
        image = noise_image(300, 300);
        // Over 1 MiB of PNG image data, so that test() deflates it in two pieces on two threads.
        two_piece_image = noise_image(640, 600);
        const fs::path brush_file = dir / "brush.src";
        std::ofstream(brush_file, std::ios::binary) << "300\n300\n" << std::string(300 * 300, '1');
        brush = image_BrushLoad(brush_file.c_str());
        fs::remove(brush_file);
        ASSERT_GE(brush, 0);
        saved_cwd = fs::current_path();
        state().loaded = true;
    }
    void TearDown() override {
        fs::current_path(saved_cwd);
        if (mounted) umount2(target_dir.c_str(), MNT_DETACH);
        fs::remove_all(dir);
    }

    // Noise, so that no format compresses the image below the small disk's size.
    static std::int32_t noise_image(std::int32_t width, std::int32_t height) {
        const std::int32_t id = testing::add_image(width, height);
        std::uint32_t x = 2463534242u;
        ImageRecord& record = state().images.get(id);
        for (std::size_t i = 0; i < record.rgb.size(); ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            record.rgb[i] = static_cast<std::uint8_t>(x >> 24);
        }
        return id;
    }

    std::vector<Writer> writers() {
        const double id = image;
        const double b = brush;
        return {
            {"image_save BMP", [=](const std::string& p) { return image_save(id, p.c_str(), 0); }, -1, nullptr},
            {"image_save PNG", [=](const std::string& p) { return image_save(id, p.c_str(), 5); }, -1, nullptr},
            {"image_asave", [=](const std::string& p) { return image_asave(id, (p + ".tga").c_str()); }, -1, nullptr},
            {"image_to_OX", [=](const std::string& p) { return image_to_OX(id, p.c_str(), 1); }, -1,
             "Error create Ombrix file"},
            {"image_to_html", [=](const std::string& p) { return image_to_html(id, p.c_str()); }, -1,
             "Error create HTML file"},
            {"image_to_gml", [=](const std::string& p) { return image_to_gml(id, p.c_str()); }, -1,
             "Error create GML file"},
            {"image_to_h", [=](const std::string& p) { return image_to_h(id, p.c_str(), 1); }, -1,
             "Error create C-source file"},
            {"image_BrushSave", [=](const std::string& p) { return image_BrushSave(b, p.c_str()); }, -1, ""},
        };
    }

    // Runs every writer over an old file in `where` while `fault` holds, and checks what is left.
    void expect_every_writer_fails_cleanly(const fs::path& where, const std::function<void(bool)>& fault) {
        for (const Writer& w : writers()) {
            SCOPED_TRACE(w.name);
            const fs::path target = where / (std::string("target-") + w.name[6]);
            // image_asave writes the path with the extension it chooses the format by.
            const fs::path written = std::string(w.name) == "image_asave" ? fs::path(target.string() + ".tga") : target;
            std::ofstream(written, std::ios::binary) << old_contents;
            const char* before = "unchanged";
            state().last_error = before;
            fault(true);
            const double result = w.write(target.string());
            fault(false);
            EXPECT_EQ(result, w.failed);
            EXPECT_TRUE(read_file(written) == old_contents) << "the old file was replaced";
            EXPECT_EQ(names_in(where), std::vector<std::string>{written.filename().string()});
            const std::string error = state().last_error;
            if (!w.error_text) {
                EXPECT_NE(error.find("Could not write"), std::string::npos) << error;
                EXPECT_NE(error.find(written.string()), std::string::npos) << error;
            } else if (!*w.error_text) {
                EXPECT_EQ(state().last_error, before);
            } else {
                EXPECT_EQ(error, w.error_text);
            }
            fs::remove(written);
        }
        // test() keeps its NaN, but never destroys the old test_out.png, on either of its paths.
        fs::current_path(where);
        for (const std::int32_t id : {image, two_piece_image}) {
            SCOPED_TRACE(id == image ? "test() in one stream" : "test() in two pieces");
            std::ofstream(where / "test_out.png", std::ios::binary) << old_contents;
            fault(true);
            const double result = ::test(id);
            fault(false);
            EXPECT_TRUE(std::isnan(result));
            EXPECT_TRUE(read_file(where / "test_out.png") == old_contents) << "the old file was replaced";
            EXPECT_EQ(names_in(where), std::vector<std::string>{"test_out.png"});
        }
        fs::current_path(saved_cwd);
    }

    std::int32_t image = 0;
    std::int32_t two_piece_image = 0;
    double brush = -1;
    fs::path dir;
    fs::path target_dir;
    fs::path saved_cwd;
    bool mounted = false;
};

TEST_F(WholeFile, EveryWriterKeepsTheOldFileWhenTheFileSizeLimitIsReached) {
    const fs::path where = dir / "limited";
    fs::create_directories(where);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    expect_every_writer_fails_cleanly(where, [&](bool on) {
        rlimit limit = saved;
        if (on) limit.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    sigaction(SIGXFSZ, &previous, nullptr);
}

TEST_F(WholeFile, EveryWriterKeepsTheOldFileOnAFullDisk) {
    // A private mount namespace, so that the small disk is this process's alone and goes with it.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
    target_dir = dir / "small-disk";
    fs::create_directories(target_dir);
    if (mount("tmpfs", target_dir.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    mounted = true;
    expect_every_writer_fails_cleanly(target_dir, [](bool) {});
}

TEST_F(WholeFile, ADiskFilledToTheLastByteKeepsTheOldFile) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
    target_dir = dir / "full-disk";
    fs::create_directories(target_dir);
    if (mount("tmpfs", target_dir.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    mounted = true;
    const fs::path target = target_dir / "a.html";
    std::ofstream(target, std::ios::binary) << old_contents;
    {
        // Fill every byte that is left.
        std::ofstream filler(target_dir / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
    }
    EXPECT_EQ(image_to_html(image, target.c_str()), -1);
    EXPECT_EQ(read_file(target), old_contents);
    EXPECT_EQ(image_to_OX(image, target.c_str(), 0), -1);
    EXPECT_EQ(read_file(target), old_contents);
}

}  // namespace
}  // namespace ombrix

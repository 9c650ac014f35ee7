// The command line: exit statuses, error reports, help, and the canvas PNG read back by libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "runner.hpp"
#include "script_harness.hpp"

using namespace ombrix::host;
using ombrix::host::testing::CapturedStream;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrix-runner-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write_script(const std::string& name, const std::string& text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    Outcome run(std::vector<std::string> args, const std::string& library = OMBRIX_BINARY_DIR "/libombrix.so") {
        CapturedStream out, err;
        int status = run_command_line(args, library, {out.get(), err.get()});
        return {status, out.text(), err.text()};
    }

    std::string dir_;
};

// Decodes an 8-bit RGB PNG into packed colours with libpng's reader.
std::vector<std::uint32_t> read_png(const std::string& path, std::uint32_t& width, std::uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    width = image.width;
    height = image.height;
    bool is_rgb = image.format == PNG_FORMAT_RGB;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!is_rgb || !png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return {};
    std::vector<std::uint32_t> colours;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
        colours.push_back(bytes[i] | (std::uint32_t{bytes[i + 1]} << 8) | (std::uint32_t{bytes[i + 2]} << 16));
    return colours;
}

}  // namespace

TEST_F(RunnerTest, UsageErrorsExitWithTwo) {
    std::string script = write_script("ok.gml", "x = 1");
    std::vector<std::vector<std::string>> bad = {
        {},
        {"--frobnicate", script},
        {"--timeout", "0", script},
        {"--timeout", "soon", script},
        {"--library"},
        {"--canvas", "4", "4"},
        {"--canvas", "0", "4", "out.png", script},
        {"--canvas", "4", "16385", "out.png", script},
        {"--canvas", "4x", "4", "out.png", script},
        {"--canvas", "16384", "16384", "out.png", script},
        {dir_ + "/missing.gml"},
    };
    for (const auto& args : bad) {
        Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, exit_usage_error) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(outcome.err.find("ombrix: "), std::string::npos) << outcome.err;
    }
    Outcome no_library = run({script}, dir_ + "/libnothing.so");
    EXPECT_EQ(no_library.status, exit_usage_error);
    EXPECT_NE(no_library.err.find("cannot load the library " + dir_ + "/libnothing.so"), std::string::npos);
}

TEST_F(RunnerTest, HelpDocumentsOptionsAndLanguage) {
    Outcome outcome = run({"--help"});
    EXPECT_EQ(outcome.status, exit_success);
    for (const char* topic : {"Usage: ombrix", "--library PATH", "--canvas WIDTH HEIGHT FILE", "Exit status",
                              "draw_point_color", "div truncates"})
        EXPECT_NE(outcome.out.find(topic), std::string::npos) << topic;
}

TEST_F(RunnerTest, ScriptErrorsExitWithOneAndNameFileLineAndColumn) {
    std::string syntax = write_script("syntax.gml", "show_debug_message(1)\nx = (2");
    Outcome outcome = run({syntax});
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_EQ(outcome.out, "");  // a syntax error stops the script before it starts
    EXPECT_EQ(outcome.err, syntax + ":2:7: error: expected ')' but found end of file\n");

    std::string runtime =
        write_script("runtime.gml", "show_debug_message(\"before\")\n\n   y = 1 div 0\nshow_debug_message(2)");
    outcome = run({runtime});
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_EQ(outcome.out, "before\n");
    EXPECT_EQ(outcome.err, runtime + ":3:10: error: division by zero in div\n");

    outcome = run({write_script("unknown.gml", "image_no_such_thing(1)")});
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_NE(outcome.err.find(":1:1: error: unknown function 'image_no_such_thing'"), std::string::npos);
}

TEST_F(RunnerTest, ExitStatementEndsSuccessfully) {
    Outcome outcome = run({write_script("exit.gml", "show_debug_message(\"a\"); exit; show_debug_message(\"b\")")});
    EXPECT_EQ(outcome.status, exit_success);
    EXPECT_EQ(outcome.out, "a\n");
    EXPECT_EQ(outcome.err, "");
}

TEST_F(RunnerTest, CanvasIsWrittenAsRgbPngOnlyWhenTheScriptSucceeds) {
    std::string png = dir_ + "/out.png";
    std::string script = write_script("draw.gml",
                                      "draw_point_color(0, 0, 255)\ndraw_point_color(2, 1, $00FF00)\n"
                                      "draw_point_color(1, 0, 16711680)\ndraw_point_color(9, 9, 255)");
    Outcome outcome = run({"--canvas", "3", "2", png, script});
    ASSERT_EQ(outcome.status, exit_success) << outcome.err;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels = read_png(png, width, height);
    EXPECT_EQ(width, 3u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0x0000FF, 0xFF0000, 0, 0, 0, 0x00FF00}));

    std::string failed_png = dir_ + "/failed.png";
    outcome = run({"--canvas", "3", "2", failed_png, write_script("fail.gml", "draw_point_color(0, 0, 1)\nx = y")});
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_FALSE(std::filesystem::exists(failed_png));

    outcome = run({"--canvas", "3", "2", dir_ + "/no/such/dir/out.png", script});
    EXPECT_EQ(outcome.status, exit_usage_error);
    EXPECT_NE(outcome.err.find("cannot write"), std::string::npos);
}

TEST_F(RunnerTest, ConvertedImageScriptsPaintEveryPixel) {
    // The shape of a converted 256 x 256 image: a banner and one call per pixel.
    std::string text = "//Converted by Ombrix Plug-In\n\n";
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            text += "draw_point_color(" + std::to_string(x) + ", " + std::to_string(y) + ", " +
                    std::to_string(x + 256 * y) + ");\n";
    std::string png = dir_ + "/big.png";
    Outcome outcome = run({"--canvas", "256", "256", png, write_script("big.gml", text)});
    ASSERT_EQ(outcome.status, exit_success) << outcome.err;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels = read_png(png, width, height);
    ASSERT_EQ(pixels.size(), 65536u);
    for (std::uint32_t i = 0; i < pixels.size(); i += 257) EXPECT_EQ(pixels[i], i) << i;
}

// The runner binary itself, in fresh processes: main's exit statuses, and the whole road from an
// image through the library's GML writer back to the same picture on the canvas.
class RunnerBinaryTest : public RunnerTest {
protected:
    int run_binary(const std::string& arguments) {
        std::string command =
            "cd '" + dir_ + "' && '" OMBRIX_BINARY_DIR "/ombrix' " + arguments + " >out.txt 2>err.txt";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string file_text(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(RunnerBinaryTest, ExitStatusesOfTheExecutable) {
    write_script("ok.gml", "show_debug_message(image_OmbrixVersion())");
    write_script("bad.gml", "x = ");
    EXPECT_EQ(run_binary("ok.gml"), 0);
    EXPECT_EQ(file_text("out.txt"), "1.0.0\n");
    EXPECT_EQ(run_binary("bad.gml"), 1);
    EXPECT_EQ(file_text("err.txt"), "bad.gml:1:5: error: expected an expression but found end of file\n");
    EXPECT_EQ(run_binary("--no-such-option ok.gml"), 2);
    EXPECT_EQ(run_binary("--library /nonexistent.so ok.gml"), 2);
}

TEST_F(RunnerBinaryTest, AConvertedImageRedrawsAsTheOriginalPicture) {
    std::filesystem::copy_file(OMBRIX_SOURCE_DIR "/examples/sample.png", dir_ + "/sample.png");
    write_script("convert.gml", "init()\nshow_debug_message(image_to_gml(image_load(\"sample.png\"), \"sample.gml\"))");
    ASSERT_EQ(run_binary("convert.gml"), 0) << file_text("err.txt");
    ASSERT_EQ(file_text("out.txt"), "1\n");
    ASSERT_EQ(run_binary("--canvas 64 48 redrawn.png sample.gml"), 0) << file_text("err.txt");

    std::uint32_t width = 0, height = 0, original_width = 0, original_height = 0;
    std::vector<std::uint32_t> redrawn = read_png(dir_ + "/redrawn.png", width, height);
    std::vector<std::uint32_t> original = read_png(dir_ + "/sample.png", original_width, original_height);
    ASSERT_EQ(original.size(), 64u * 48u) << "sample.png is expected to be 8-bit RGB";
    EXPECT_EQ(width, original_width);
    EXPECT_EQ(height, original_height);
    EXPECT_EQ(redrawn, original);
}

TEST_F(RunnerTest, ArgumentsAfterTheScriptAreTheScripts) {
    std::string script = write_script("args.gml",
                                      "show_debug_message(parameter_count())\n"
                                      "for (var i = 0; i <= parameter_count() + 1; i++) show_debug_message(\"[\" + "
                                      "parameter_string(i) + \"]\")");
    // Options after the script belong to the script too.
    Outcome outcome = run({script, "in.png", "--list", "two words"});
    EXPECT_EQ(outcome.status, exit_success) << outcome.err;
    EXPECT_EQ(outcome.out, "3\n[" + script + "]\n[in.png]\n[--list]\n[two words]\n[]\n");
    EXPECT_EQ(run({"--", script}).out, "0\n[" + script + "]\n[]\n");
}

TEST_F(RunnerTest, ExitStatusFollowsGameEndAndErrors) {
    EXPECT_EQ(run({write_script("end.gml", "show_debug_message(1); game_end(3); show_debug_message(2)")}).status, 3);
    Outcome ended = run({write_script("end0.gml", "show_debug_message(\"a\")\nexit\nshow_debug_message(\"b\")")});
    EXPECT_EQ(ended.status, exit_success);
    EXPECT_EQ(ended.out, "a\n");
    EXPECT_EQ(run({write_script("big.gml", "game_end(1000)")}).status, 255);
    Outcome failed = run({write_script("fail.gml", "x = 1\nx = x div 0")});
    EXPECT_EQ(failed.status, exit_script_error);
    EXPECT_NE(failed.err.find("fail.gml:2:7: error: division by zero in div"), std::string::npos) << failed.err;
}

TEST_F(RunnerTest, TimeoutEndsAnEndlessScript) {
    std::string script = write_script("loop.gml", "n = 0\nwhile (true) { n++ }");
    auto start = std::chrono::steady_clock::now();
    Outcome outcome = run({"--timeout", "0.3", script});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_NE(outcome.err.find("loop.gml:2:1: error: the script ran longer than --timeout 0.3 seconds"),
              std::string::npos)
        << outcome.err;
    EXPECT_LT(seconds, 5.0);
    // A script that ends in time is not affected, and does not wait for the limit.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(run({"--timeout", "60", write_script("quick.gml", "show_debug_message(1)")}).out, "1\n");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

TEST_F(RunnerTest, ListAndHelpAnswerFromTheManifest) {
    Outcome list = run({"--list"});
    EXPECT_EQ(list.status, exit_success);
    EXPECT_NE(list.out.find("  image_save(id, path: string, type)\n"), std::string::npos);
    EXPECT_NE(list.out.find("  image_RGBChannalToImage(red, green, blue)\n"), std::string::npos);
    // One line per export, under section headings.
    std::size_t listed = 0;
    for (std::size_t at = list.out.find("\n  image_"); at != std::string::npos;
         at = list.out.find("\n  image_", at + 1))
        ++listed;
    EXPECT_GT(listed, 80u);

    Outcome entry = run({"--help", "image_Scale"});
    EXPECT_EQ(entry.status, exit_success);
    EXPECT_EQ(entry.out.rfind("image_Scale(id, width, height)    [library export; Resizing]\n", 0), 0u) << entry.out;
    EXPECT_NE(entry.out.find("iluScale"), std::string::npos);
    EXPECT_NE(run({"--help", "string_copy"}).out.find("string_copy(s, index, count)"), std::string::npos);
    EXPECT_EQ(run({"--help", "c_red"}).out, "c_red = 255\n  [built-in constant]\n");

    Outcome unknown = run({"--help", "image_RGBChannelToImage"});
    EXPECT_EQ(unknown.status, exit_usage_error);
    EXPECT_NE(unknown.err.find("did you mean image_RGBChannalToImage?"), std::string::npos) << unknown.err;

    Outcome help = run({"--help"});
    for (const char* topic : {"switch", "function", "global.name", "#macro", "enum", "by reference", "--timeout",
                              "not supported by this runner", "ds_map_find_first", "c_white"})
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
}

TEST_F(RunnerTest, UnknownNamesGetSuggestions) {
    Outcome outcome = run({write_script("typo.gml", "init()\nimage_RGBChannelToImage(0, 0, 0)")});
    EXPECT_EQ(outcome.status, exit_script_error);
    EXPECT_NE(outcome.err.find("typo.gml:2:1: error: unknown function 'image_RGBChannelToImage' (did you mean "
                               "'image_RGBChannalToImage'?)"),
              std::string::npos)
        << outcome.err;
    EXPECT_NE(run({"--lsit"}).err.find("unknown option --lsit (did you mean --list?)"), std::string::npos);
}

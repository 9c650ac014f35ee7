// The decoder process: the same records as an in-process DevIL load under every DevIL setting the
// library can change, failure with a plain text when the decoder is missing or broken, limits that
// bind, and no process, descriptor or signal left behind in the host.
#include <IL/il.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "helper/client.hpp"
#include "store/decoder_corpus.hpp"
#include "store/images.hpp"
#include "store/library.hpp"
#include "support/helper_support.hpp"

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using helper::Outcome;
using Clock = std::chrono::steady_clock;

const std::string sample_png = OMBRIX_SOURCE_DIR "/examples/sample.png";

std::set<std::string> open_descriptors(const std::string& process = "self") {
    std::set<std::string> fds;
    for (const auto& e : fs::directory_iterator("/proc/" + process + "/fd")) fds.insert(e.path().filename().string());
    return fds;
}

bool no_children_left() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

class Decoder : public ::testing::Test {
protected:
    void SetUp() override {
        init_library(st);
        st.take_image_id();  // so that a successful load never returns 0
        dir = fs::temp_directory_path() / ("ombrix-decoder-" + std::to_string(getpid()));
        fs::create_directories(dir);
        saved_limits = helper::limits();
        saved_helper = helper::helper_path();
    }
    void TearDown() override {
        helper::set_limits(saved_limits);
        helper::set_helper_path(saved_helper);
        fs::remove_all(dir);
    }

    double load(const std::string& path) {
        try {
            return load_image(st, path.c_str());
        } catch (const Failure& failure) {
            if (failure.text) st.last_error = failure.text;
            return failure.result;
        }
    }
    void expect_sample_loads() {
        const double id = load(sample_png);
        ASSERT_GT(id, 0);
        EXPECT_EQ(st.images.get(static_cast<std::int32_t>(id)).width, 64);
        st.images.erase(static_cast<std::int32_t>(id));
    }
    fs::path script(const std::string& name, const std::string& body) {
        const fs::path p = dir / name;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
    void quick_limits(int wall_ms) {
        helper::Limits l;
        l.wall = std::chrono::milliseconds(wall_ms);
        l.cpu_seconds = 1;
        helper::set_limits(l);
    }

    State st;
    fs::path dir;
    helper::Limits saved_limits;
    std::string saved_helper;
};

bool same(const helper::Loaded& a, const helper::Loaded& b) {
    return a.width == b.width && a.height == b.height && a.palette_size == b.palette_size &&
           a.bits_per_pixel == b.bits_per_pixel && a.offset_x == b.offset_x && a.offset_y == b.offset_y &&
           a.depth == b.depth && a.rgb.size() == b.rgb.size() &&
           (a.rgb.empty() || std::memcmp(a.rgb.data(), b.rgb.data(), a.rgb.size()) == 0);
}

TEST_F(Decoder, IsolatedLoadsGiveTheInProcessRecordUnderEveryLoadSetting) {
    const auto files = testing::make_valid_corpus(dir);
    struct Variant {
        const char* name;
        std::function<void()> apply;
        std::size_t differs_from;  // a variant whose loads this one must change somewhere
    };
    // What image_FlipImagev and image_SetFunction can change, and the switches behind them.
    const std::vector<Variant> variants = {
        {"as init leaves it", [] {}, 0},
        {"upper-left origin", [] { ilOriginFunc(IL_ORIGIN_UPPER_LEFT); }, 0},
        {"RGBA format", [] { ilSetInteger(IL_FORMAT_MODE, IL_RGBA); }, 0},
        {"16-bit type", [] { ilSetInteger(IL_TYPE_MODE, IL_UNSIGNED_SHORT); }, 0},
        {"origin not forced", [] { ilDisable(IL_ORIGIN_SET); }, 0},
        {"format not forced", [] { ilDisable(IL_FORMAT_SET); }, 0},
        {"format not forced, palettes converted",
         [] {
             ilDisable(IL_FORMAT_SET);
             ilEnable(IL_CONV_PAL);
         },
         5},
    };
    std::vector<std::vector<helper::Loaded>> results(variants.size());
    for (std::size_t v = 0; v < variants.size(); ++v) {
        init_library(st);
        ilDisable(IL_CONV_PAL);
        variants[v].apply();
        results[v].resize(files.size());
        bool differs = false;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].unreliable) continue;
            helper::Loaded in_process;
            helper::Loaded isolated;
            const bool loaded_here = testing::decode_in_process(st, files[i].path.c_str(), in_process);
            const Outcome outcome = testing::decode_isolated(files[i].path.c_str(), isolated);
            ASSERT_EQ(loaded_here, outcome == Outcome::done) << files[i].name << ", " << variants[v].name;
            // Every file loads as init leaves DevIL; some settings make DevIL refuse some of them.
            if (v == 0) {
                EXPECT_TRUE(loaded_here) << files[i].name;
            }
            EXPECT_TRUE(same(in_process, isolated)) << files[i].name << ", " << variants[v].name;
            if (v != 0) differs = differs || !same(isolated, results[variants[v].differs_from][i]);
            results[v][i] = std::move(isolated);
        }
        // Otherwise the comparison could not tell whether the setting reached the decoder.
        if (v != 0) {
            EXPECT_TRUE(differs) << variants[v].name << " changed no load";
        }
    }
    init_library(st);
    ilDisable(IL_CONV_PAL);
}

TEST_F(Decoder, ReadingTheSettingsLeavesDevilsErrorsAlone) {
    while (ilGetError() != IL_NO_ERROR) {
    }
    ilSetInteger(IL_PCD_PICNUM, 1);
    const auto settings = helper::capture_settings({});
    // A stale error here would be reported by the next failing save as its reason.
    EXPECT_EQ(ilGetError(), static_cast<ILenum>(IL_NO_ERROR));
    bool found = false;
    for (std::size_t i = 0; i < helper::devil_integers.size(); ++i)
        if (helper::devil_integers[i] == IL_PCD_PICNUM) found = settings.integers[i] == 1;
    EXPECT_TRUE(found);
    ilSetInteger(IL_PCD_PICNUM, 2);
}

TEST_F(Decoder, AMissingOrBrokenDecoderFailsTheLoadAndSaysSo) {
    helper::set_helper_path((dir / helper::helper_name).string());
    std::int32_t id = st.next_image_id;
    EXPECT_EQ(load(sample_png), 0);
    EXPECT_STREQ(st.last_error, text::decoder_missing);
    EXPECT_EQ(st.images.find(id), nullptr);
    EXPECT_EQ(st.next_image_id, id + 1);
    EXPECT_EQ(helper::service_pid(), -1);
    // A save fails as every failed save does: -1, the path and the reason, the old file kept.
    st.loaded = true;
    st.images.put(id, make_record(2, 2));
    const fs::path kept = dir / "kept.png";
    std::ofstream(kept) << "old";
    try {
        save_image(st, st.images.get(id), kept.c_str(), IL_PNG);
        ADD_FAILURE() << "a save without the helper succeeded";
    } catch (const Failure& f) {
        EXPECT_EQ(f.result, -1);
        EXPECT_EQ(std::string(f.text), "Could not write " + kept.string() + ": " + text::decoder_missing);
    }
    std::ifstream old_file(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old_file), {}), "old");
    st.images.erase(id);

    // Present but not executable.
    std::ofstream(dir / helper::helper_name) << "not a program";
    EXPECT_EQ(load(sample_png), 0);
    EXPECT_STREQ(st.last_error, text::decoder_missing);

    // Programs that are not the decoder: one that ends at once, one that never answers.
    quick_limits(400);
    for (const char* body : {"exit 0", "exec sleep 30"}) {
        helper::set_helper_path(script("not-a-decoder", body).string());
        id = st.next_image_id;
        const auto t0 = Clock::now();
        EXPECT_EQ(load(sample_png), 0) << body;
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3)) << body;
        EXPECT_STREQ(st.last_error, text::decoder_not_started) << body;
        EXPECT_EQ(st.images.find(id), nullptr) << body;
        EXPECT_EQ(helper::service_pid(), -1) << body;
        EXPECT_TRUE(no_children_left()) << body;
    }

    helper::set_helper_path(saved_helper);
    expect_sample_loads();
}

TEST_F(Decoder, HostilePathsFailWithinTheLimit) {
    quick_limits(500);
    const fs::path fifo = dir / "blocks.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string overlong = "/" + std::string(helper::max_path_length + 10, 'a');
    struct Case {
        std::string path;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {fifo.string(), Outcome::timed_out},  // opening it waits for a writer forever
        {dir.string(), Outcome::refused},    {(dir / "missing.bmp").string(), Outcome::refused}, {"", Outcome::refused},
        {overlong, Outcome::refused},
    };
    for (const auto& c : cases) {
        const auto t0 = Clock::now();
        EXPECT_EQ(load(c.path), 0) << c.path.substr(0, 80);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3)) << c.path.substr(0, 80);
        EXPECT_STREQ(st.last_error, devil_error_text(il_could_not_open_file));
        EXPECT_EQ(helper::last_outcome(), c.outcome) << c.path.substr(0, 80);
    }
    // An endless stream of zeros: whatever DevIL makes of it, the limits end it.
    const auto t0 = Clock::now();
    const double id = load("/dev/zero");
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    if (id > 0) st.images.erase(static_cast<std::int32_t>(id));
    expect_sample_loads();
}

TEST_F(Decoder, LoadsLeaveNoProcessDescriptorOrSignalBehind) {
    helper::stop_service();
    quick_limits(400);
    // A descriptor the host opened without close-on-exec must not reach the decoder.
    const int null = open("/dev/null", O_RDONLY);
    const int leaky = dup2(null, 200);
    close(null);
    ASSERT_EQ(leaky, 200);
    const auto before = open_descriptors();
    const fs::path data = OMBRIX_SOURCE_DIR "/tests/data/decoder";
    const fs::path fifo = dir / "blocks.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& p : {fs::path(sample_png), data / "dxt1-size0.dds", data / "rgb-cut78.png", fifo,
                              dir / "missing.png", fs::path(sample_png)}) {
        const double id = load(p.string());
        if (id > 0) st.images.erase(static_cast<std::int32_t>(id));
    }
    EXPECT_EQ(helper::last_outcome(), Outcome::done);
    const pid_t service = helper::service_pid();
    ASSERT_GT(service, 0);
    // The host holds two descriptors more (its end of the channel and the pixel block kept mapped
    // for the decoder to write into). Once the last child has been
    // reaped (the host has its reply a moment before), the decoder holds its standard streams and
    // the channel, and has no child left.
    EXPECT_EQ(open_descriptors().size(), before.size() + 2);
    const std::string proc = "/proc/" + std::to_string(service);
    const auto children = [&] {
        std::ifstream list(proc + "/task/" + std::to_string(service) + "/children");
        std::string pids;
        std::getline(list, pids);
        return pids;
    };
    for (int i = 0; i < 500 && (!children().empty() || open_descriptors(std::to_string(service)).size() > 5); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(children(), "");
    // Its standard streams, the channel, and the descriptor that tells it when the host has ended.
    EXPECT_EQ(open_descriptors(std::to_string(service)), (std::set<std::string>{"0", "1", "2", "3", "4"}));

    helper::stop_service();
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_TRUE(no_children_left());
    close(leaky);
}

TEST_F(Decoder, AKilledDecoderIsReplacedWithoutSignallingTheHost) {
    // SIGPIPE as a host gets it by default: not ignored, not blocked.
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_signal, nullptr);
    expect_sample_loads();
    const pid_t first = helper::service_pid();
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGKILL), 0);
    // Wait until it is a zombie: its end of the channel is closed, and the next request's send
    // meets a closed socket.
    for (int i = 0; i < 1000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(first) + "/stat");
        std::string pid, name, state;
        stat >> pid >> name >> state;
        if (state == "Z") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    expect_sample_loads();
    EXPECT_NE(helper::service_pid(), first);
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(first)));

    // A fork of the host uses a decoder (and a pixel block) of its own, not its parent's.
    const pid_t parent_service = helper::service_pid();
    const pid_t forked = fork();
    if (forked == 0) {
        const double id = load(sample_png);
        const bool own = helper::service_pid() != parent_service && helper::service_pid() > 0;
        helper::stop_service();
        _exit(id > 0 && own ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(forked, &status, 0), forked);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(helper::service_pid(), parent_service);
    expect_sample_loads();
}

TEST_F(Decoder, MemoryAndCpuLimitsBindTheDecoder) {
    // A 2048 × 2048 BMP: 12 MiB of pixels, which DevIL holds once and the decoder hands back once.
    const fs::path big = dir / "big.bmp";
    {
        std::vector<std::uint8_t> px(2048u * 2048u * 3u, 0x5A);
        ILuint image = 0;
        ilGenImages(1, &image);
        ilBindImage(image);
        ilTexImage(2048, 2048, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, px.data());
        ASSERT_TRUE(ilSave(IL_BMP, big.c_str()));
        ilDeleteImages(1, &image);
    }
    helper::Loaded out;
    ASSERT_EQ(testing::decode_isolated(big.c_str(), out), Outcome::done);
    EXPECT_EQ(out.width, 2048);

    // Room for the decoder as it stands and 8 MiB more: not enough for this image.
    std::ifstream status("/proc/" + std::to_string(helper::service_pid()) + "/status");
    std::uint64_t vm_kib = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) vm_kib = std::stoull(line.substr(7));
    ASSERT_GT(vm_kib, 0u);
    helper::Limits tight = helper::limits();
    tight.address_space = (vm_kib << 10) + (8u << 20);
    helper::set_limits(tight);
    helper::Loaded refused;
    EXPECT_NE(testing::decode_isolated(big.c_str(), refused), Outcome::done);
    EXPECT_TRUE(refused.rgb.empty());

    // An endless loop is ended by the CPU limit long before a generous wall-clock limit.
    helper::Limits cpu_bound;
    cpu_bound.wall = std::chrono::seconds(20);
    cpu_bound.cpu_seconds = 1;
    helper::set_limits(cpu_bound);
    const auto t0 = Clock::now();
    EXPECT_EQ(testing::decode_isolated(OMBRIX_SOURCE_DIR "/tests/data/decoder/rgb-cut78.png", refused),
              Outcome::timed_out);
    // SIGXCPU, not the wall clock, ended it; the bound only catches a decoder left running.
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(15));
    EXPECT_EQ(helper::last_signal(), SIGXCPU);
}

}  // namespace
}  // namespace ombrix

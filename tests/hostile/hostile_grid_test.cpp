// Every export of the round-trip manifest (src/exports/devil.def), one test each, over a grid of
// image sizes and hostile arguments: an operation added to the manifest is swept with no test of
// its own. Each export and size runs in a forked child, under a per-call alarm, with DevIL's blocks placed
// against inaccessible pages (right after the allocator's slack, or right before the block), so
// that a crash, a sanitizer report, a hang or an access outside a DevIL buffer fails the test. After
// every call the image must still be consistent: its buffers match its size, a refusal left its
// pixels as they were, and the result is one the reference promises.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/devil_support.hpp"
#include "store/guards.hpp"
#include "store/memory.hpp"

namespace ombrix::testing {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr unsigned call_seconds = 20;

// DevIL's allocator for the children: every block on pages of its own, the caller's bytes followed
// by the library allocator's zeroed slack and then an inaccessible page, or (underflow mode)
// starting right after an inaccessible page.
struct Mapping {
    void* base;
    std::size_t length;
};
std::unordered_map<const void*, Mapping>* guarded_blocks = nullptr;
bool guard_before = false;

void* guarded_allocate(const ILsizei size) {
    const std::size_t page = 4096;
    const std::size_t used = size + memory::tail_slack;
    const std::size_t pages = (used + page - 1) / page + 1;
    auto* base = static_cast<std::uint8_t*>(
        mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    if (base == MAP_FAILED) return nullptr;
    std::uint8_t* data;
    if (guard_before) {
        mprotect(base, page, PROT_NONE);
        data = base + page;
    } else {
        mprotect(base + (pages - 1) * page, page, PROT_NONE);
        data = base + (pages - 1) * page - used;
    }
    (*guarded_blocks)[data] = {base, pages * page};
    return data;
}

void guarded_release(const void* block) {
    if (!block) return;
    const auto it = guarded_blocks->find(block);
    if (it == guarded_blocks->end()) {
        memory::devil_release(block);  // allocated before the switch, or not by the hook at all
        return;
    }
    munmap(it->second.base, it->second.length);
    guarded_blocks->erase(it);
}

// What the parent learns about a child that died: the call it was making.
struct Shared {
    char call[512];
    char problem[512];
};

enum class Result { zero_or_one, count, settings };

// One export of the round-trip manifest, called with the image's ID (where it takes one) and the
// argument list: a real for each argument, which for a string argument picks one of texts().
struct Export {
    std::string name;
    bool takes_id;
    std::string types;  // of the arguments after the ID
    double (*call)(const double*, const char* const*);
    std::size_t arity() const { return types.size(); }
    Result result() const {
        // Counts and settings have results of their own; every other operation returns 0 or 1.
        if (name == "image_ColoursUsed" || name == "image_DetermineType") return Result::count;
        if (name == "image_SetFunction" || name == "image_SetString") return Result::settings;
        return Result::zero_or_one;
    }
    double operator()(double id, const std::vector<double>& args) const;
};

// GoogleTest names a failing case by its parameter: the export's name, not its bytes.
void PrintTo(const Export& e, std::ostream* os) { *os << e.name; }

const std::vector<const char*>& texts() {
    static const std::vector<const char*> t = {"", "Title", "\xff\xfe odd bytes", nullptr};
    return t;
}

double Export::operator()(double id, const std::vector<double>& args) const {
    std::vector<double> reals;
    std::vector<const char*> strings;
    if (takes_id) {
        reals.push_back(id);
        strings.push_back(nullptr);
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const double a = args[i];
        reals.push_back(a);
        strings.push_back(types[i] == 's'
                              ? texts()[static_cast<std::size_t>(std::fabs(std::isfinite(a) ? a : 0)) % texts().size()]
                              : nullptr);
    }
    return call(reals.data(), strings.data());
}

// Every export of the DevIL round-trip manifest, as the manifest lists it.
std::vector<Export> round_trip_exports() {
    std::vector<Export> out;
    const auto add = [&](const char* name, const char* manifest, const char* names, const char* types,
                         double (*call)(const double*, const char* const*)) {
        if (std::string(manifest) != "devil") return;
        const bool takes_id = std::string(names) == "id" || std::string(names).rfind("id ", 0) == 0;
        out.push_back({name, takes_id, std::string(types).substr(takes_id ? 1 : 0), call});
    };
#define OMBRIX_REAL_EXPORT(name, manifest, names, types, call) add(name, manifest, names, types, call);
#include "real_exports.inc"
#undef OMBRIX_REAL_EXPORT
    return out;
}

// The hostile argument lists for an export on a width × height image.
std::vector<std::vector<double>> arguments(const Export& e, double w, double h) {
    const std::vector<double> values = {0,     -1,  0.5,  1,     2,      3,   90,  180,  270,          -90,
                                        450,   1e9, 1e30, 1e300, -1e300, nan, inf, -inf, 4294967295.0, 4294967296.0,
                                        65536, 21,  w,    h,     w + 1};
    std::vector<std::vector<double>> out;
    if (e.arity() == 0) return {{}};
    for (double v : values) out.push_back(std::vector<double>(e.arity(), v));
    if (e.arity() >= 2) {
        const std::vector<double> few = {0, 1, 2, -1, 0.5, 1e9, nan, inf, w, h, w / 2, 16385};
        for (double a : few)
            for (double b : few) {
                std::vector<double> t(e.arity(), 1);
                t[0] = a;
                t[1] = b;
                out.push_back(t);
            }
    }
    if (e.name == "image_Crop") {
        const std::vector<std::vector<double>> rects = {
            {0, 0, w, h},  {1, 1, w - 1, h - 1}, {0, 0, w + 1, h},    {0, 0, w, h + 1}, {w - 1, h - 1, 1, 1},
            {w, 0, 1, 1},  {0, h, 1, 1},         {-1, 0, 2, 2},       {0, 0, 0, 0},     {4294967295.0, 0, 2, 1},
            {1, 0, -1, 1}, {0, 0, w / 2, h / 2}, {w / 2, h / 2, w, h}};
        out.insert(out.end(), rects.begin(), rects.end());
    }
    if (e.name == "image_SetFunction" || e.name == "image_SetString")
        for (int mode = -1; mode <= 21; ++mode)
            for (double v : {0.0, 1.0, -1.0, 1e9, nan, 2.0, 3.0}) out.push_back({static_cast<double>(mode), v});
    if (e.name == "image_Parameter")
        for (double name : {0x2600, 0x0700, 0x0710, 0})
            for (double v :
                 {0.0, 1.0, -1.0, 0x2601 * 1.0, 0x2609 * 1.0, 0x260A * 1.0, 0x0701 * 1.0, 0x0705 * 1.0, 0x0706 * 1.0})
                out.push_back({name, v});
    if (e.name == "image_Rotate3D")
        for (double a : {0.0, 1.0, 90.0, nan, inf})
            for (double b : {0.0, 1.0, -1.0, 1e30})
                for (double c : {0.0, 45.0, 90.0, 270.0, nan, inf, 1e30}) out.push_back({a, b, c});
    // Sizes that are allowed but large are ordinary work, not hostile input: they are left out to keep
    // the test fast (sizes beyond the pixel limit stay, as they must be refused at once).
    std::vector<std::vector<double>> kept;
    const std::string name = e.name;
    for (auto& t : out) {
        double pixels = 0;
        if (name == "image_EnlargeImage") pixels = w * t[0] * h * t[1];
        if (name == "image_Scale" || name == "image_EnlargeCanvas") pixels = std::trunc(t[0]) * std::trunc(t[1]);
        if (std::isfinite(pixels) && pixels > (1 << 20) && pixels <= static_cast<double>(max_pixels)) continue;
        // Each blur iteration does the same as the first; counts that are allowed only cost time.
        const bool blur = name == "image_BlurAvg" || name == "image_BlurGaussian";
        if (blur && t[0] > 3 && t[0] <= static_cast<double>(guard::max_filter_iterations)) continue;
        kept.push_back(std::move(t));
    }
    return kept;
}

std::string describe(const Export& e, std::int32_t w, std::int32_t h, const std::vector<double>& args) {
    std::string s = e.name + " on " + std::to_string(w) + "x" + std::to_string(h) + " (";
    for (std::size_t i = 0; i < args.size(); ++i) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s%.17g", i ? ", " : "", args[i]);
        s += buf;
    }
    return s + ")";
}

void copy_text(char* to, const std::string& from) { std::snprintf(to, 512, "%s", from.c_str()); }

// Runs every call of `e` on fresh w × h images, in this (child) process; returns a problem or "".
std::string run_calls(const Export& e, std::int32_t w, std::int32_t h, Shared& shared) {
    State& st = state();
    for (const auto& args : arguments(e, w, h)) {
        const std::string what = describe(e, w, h, args);
        copy_text(shared.call, what);
        const std::int32_t id = add_image(w, h);
        const std::vector<std::uint8_t> before = pixels_of(id);
        st.last_error = text::no_errors;
        alarm(call_seconds);
        const double r = e(id, args);
        alarm(0);
        const ImageRecord* rec = st.images.find(id);
        if (!rec) return what + ": the image is gone";
        if (rec->width < 1 || rec->height < 1) return what + ": left an image without pixels";
        if (rec->rgb.size() != rec->pixel_count() * 3) return what + ": rgb does not match the image's size";
        if (rec->rgba.size() != rec->pixel_count() * 4) return what + ": rgba does not match the image's size";
        const bool refused = r == 0 && e.result() != Result::count && e.result() != Result::settings;
        if (refused) {
            if (rec->width != w || rec->height != h || pixels_of(id) != before)
                return what + ": refused but changed the image";
            if (st.last_error == text::no_errors) return what + ": refused without a last-error text";
        }
        bool allowed = false;
        switch (e.result()) {
            case Result::zero_or_one:
                allowed = r == 0 || r == 1;
                break;
            case Result::count:
                allowed = r >= 0 && r == std::floor(r);
                break;
            case Result::settings:
                allowed = r == 0;
                break;
        }
        if (!allowed) return what + ": unexpected result " + std::to_string(r) + " (" + st.last_error + ")";
        image_free(id);
    }
    return "";
}

struct Size {
    std::int32_t w, h;
};

class HostileGrid : public ::testing::TestWithParam<Export> {};

// Every size runs twice, in a child of its own: once with DevIL's blocks ending at an inaccessible
// page (overflows), once starting right after one (underflows).
TEST_P(HostileGrid, NoCallCrashesHangsOrLeavesTheImageInconsistent) {
    const Export& e = GetParam();
    const std::vector<Size> sizes = {{1, 1}, {1, 2}, {2, 1},  {2, 2},    {3, 1},    {1, 3},   {5, 3},
                                     {3, 7}, {7, 1}, {47, 2}, {50, 100}, {17, 301}, {301, 17}};
    auto* shared =
        static_cast<Shared*>(mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    std::vector<std::string> problems;
    for (const Size& s : sizes) {
        for (const bool before : {false, true}) {
            std::memset(shared, 0, sizeof(Shared));
            std::fflush(nullptr);
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                init();
                guard_before = before;
                guarded_blocks = new std::unordered_map<const void*, Mapping>();
                ilSetMemory(guarded_allocate, guarded_release);
                const std::string problem = run_calls(e, s.w, s.h, *shared);
                copy_text(shared->problem, problem);
                _exit(problem.empty() ? 0 : 3);
            }
            int status = 0;
            waitpid(pid, &status, 0);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;
            std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                  : "exit status " + std::to_string(WEXITSTATUS(status));
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) how = "hung (no answer within the alarm)";
            problems.push_back(std::string(shared->problem[0] ? shared->problem : shared->call) + " [" + how +
                               (before ? ", underflow guard]" : ", overflow guard]"));
        }
    }
    munmap(shared, sizeof(Shared));
    std::string report;
    for (const auto& p : problems) report += "  " + p + "\n";
    EXPECT_TRUE(problems.empty()) << problems.size() << " failing calls:\n" << report;
}

INSTANTIATE_TEST_SUITE_P(RoundTrip, HostileGrid, ::testing::ValuesIn(round_trip_exports()),
                         [](const ::testing::TestParamInfo<Export>& param) { return param.param.name; });

// The grid is only as wide as the manifest it reads: an empty or truncated table would pass
// every test it runs.
TEST(HostileGridTable, HoldsEveryRoundTripExportWithItsArguments) {
    const auto all = round_trip_exports();
    ASSERT_GE(all.size(), 40u);
    const auto find = [&](const std::string& name) -> const Export* {
        for (const auto& e : all)
            if (e.name == name) return &e;
        return nullptr;
    };
    ASSERT_NE(find("image_Crop"), nullptr);
    EXPECT_TRUE(find("image_Crop")->takes_id);
    EXPECT_EQ(find("image_Crop")->types, "rrrr");
    ASSERT_NE(find("image_SetString"), nullptr);
    EXPECT_EQ(find("image_SetString")->types, "rs");
    ASSERT_NE(find("image_SetLanguage"), nullptr);
    EXPECT_FALSE(find("image_SetLanguage")->takes_id);
    EXPECT_EQ(find("image_get_hue"), nullptr);  // not a round-trip export
}

}  // namespace
}  // namespace ombrix::testing

// Allocation failure as a tested path: for every export that allocates outside DevIL's round trip,
// and for round trips whose ILU call survives a failed allocation (iluCrop2D does not: it hands a
// block of ours to free()), the walk fails the first
// allocation, then the second, and so on until the call gets through without a failure. Each time
// the export must answer with a documented result (success, or a failure reported through the
// last-error text), leave no record half-built in the table, and leak nothing (AddressSanitizer's
// leak check covers that in the sanitizer build).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "exports/boundary.hpp"
#include "store/devil_support.hpp"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* name;
    std::function<double()> call;
    bool creates;  // a success is a new image ID
};

class AllocationFailure : public ::testing::Test {
protected:
    void SetUp() override {
        ::init();
        dir = fs::temp_directory_path() / ("ombrix-oom-" + std::to_string(getpid()));
        fs::create_directories(dir);
        a = testing::add_image(300, 200, 1);
        b = testing::add_image(300, 200, 2);
        c = testing::add_image(300, 200, 3);
        ASSERT_EQ(image_to_OX(a, (dir / "a.ox").c_str(), 1), 0);
        const double loaded = image_load(OMBRIX_SOURCE_DIR "/examples/sample.png");
        ASSERT_GT(loaded, 0);
        image_free(loaded);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Every image in the table is whole: its buffers hold what its size says.
    static bool table_is_whole() {
        State& st = state();
        for (std::int32_t id = 0; id < st.next_image_id; ++id) {
            const ImageRecord* r = st.images.find(id);
            if (!r) continue;
            if (r->width < 0 || r->height < 0 || r->rgb.size() < r->pixel_count() * 3) return false;
            if (!r->rgba.empty() && r->rgba.size() < r->pixel_count() * 4) return false;
        }
        return true;
    }

    void walk(const Case& one) {
        SCOPED_TRACE(one.name);
        for (std::uint64_t n = 1; n < 10'000; ++n) {
            State& st = state();
            const std::int32_t next_id = st.next_image_id;
            st.last_error = "unchanged";
            const std::uint64_t before = memory::allocation_count();
            memory::fail_allocations_from(n);
            const double result = one.call();
            memory::fail_allocations_from(0);
            const bool failed_one = memory::allocation_count() - before >= n;
            ASSERT_TRUE(table_is_whole()) << "after failing allocation " << n;
            if (one.creates && result > 0) {
                ASSERT_NE(st.images.find(static_cast<std::int32_t>(result)), nullptr) << n;
                image_free(result);
            } else if (one.creates) {
                // A creating call that failed left no record under any new ID.
                for (std::int32_t id = next_id; id < st.next_image_id; ++id)
                    ASSERT_EQ(st.images.find(id), nullptr) << "half-built record " << id << " after failure " << n;
            }
            if (!failed_one) return;  // got through: every allocation it makes has been failed once
            // A call whose allocation failed either coped (the allocator's retry, a smaller path) or
            // said so: a failure result and a last-error text.
            if (result <= 0 && !one.creates) {
                EXPECT_STRNE(st.last_error, "unchanged") << "silent failure at allocation " << n;
            }
        }
        FAIL() << "the walk did not end";
    }

    fs::path dir;
    double a = -1, b = -1, c = -1;
};

TEST_F(AllocationFailure, EveryAllocatingExportHasADocumentedResult) {
    const std::string ox = (dir / "a.ox").string();
    const std::string out = (dir / "out").string();
    const std::vector<Case> cases = {
        {"image_load", [] { return image_load(OMBRIX_SOURCE_DIR "/examples/sample.png"); }, true},
        {"image_Clone", [&] { return image_Clone(a); }, true},
        {"image_RGBChannalToImage", [&] { return image_RGBChannalToImage(a, b, c); }, true},
        {"image_LABChannalToImage", [&] { return image_LABChannalToImage(a, b, c); }, true},
        {"image_2to1", [&] { return image_2to1(a, b); }, true},
        {"image_from_OX", [&] { return image_from_OX(ox.c_str()); }, true},
        {"image_save", [&] { return image_save(a, (out + ".png").c_str(), 5); }, false},
        {"image_to_html", [&] { return image_to_html(a, (out + ".html").c_str()); }, false},
        {"image_to_gml", [&] { return image_to_gml(a, (out + ".gml").c_str()); }, false},
        {"image_to_h", [&] { return image_to_h(a, (out + ".h").c_str(), 1) + 1; }, false},
        {"image_to_OX", [&] { return image_to_OX(a, (out + ".ox").c_str(), 2) + 1; }, false},
        {"image_median", [&] { return image_median(b, 1) + 1; }, false},
        {"image_Scale", [&] { return image_Scale(c, 150, 100); }, false},
        {"image_BlurGaussian", [&] { return image_BlurGaussian(c, 1); }, false},
        {"image_Negative", [&] { return image_Negative(c); }, false},
    };
    state().loaded = true;
    for (const Case& one : cases) walk(one);
}

}  // namespace
}  // namespace ombrix

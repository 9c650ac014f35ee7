// The writers list rows in the order image_FlipImageh would leave them, but read them in place:
// under every origin state that init and image_FlipImagev leave, each writer's bytes equal those
// it writes for a copy turned over beforehand, and the image itself is never changed.
#include <IL/il.h>

#include <cstring>
#include <functional>
#include <string>

#include "files/ox.hpp"
#include "files/text_export.hpp"
#include "helpers.hpp"
#include "store/round_trip.hpp"

namespace ombrix::testing {
namespace {

class RowOrderTest : public FilesTest {};

std::unique_ptr<ImageRecord> copy_of(const ImageRecord& image) {
    auto copy = make_record(image.width, image.height);
    if (!image.rgb.empty()) std::memcpy(copy->rgb.data(), image.rgb.data(), image.rgb.size());
    copy->rgba = memory::Buffer(image.rgba.size());
    if (!image.rgba.empty()) std::memcpy(copy->rgba.data(), image.rgba.data(), image.rgba.size());
    return copy;
}

std::vector<std::uint8_t> rgba_of(const ImageRecord& image) {
    return {image.rgba.data(), image.rgba.data() + image.rgba.size()};
}

// A state in which image_FlipImageh changes nothing, so a writer lists the stored rows as they are.
void keep_stored_row_order() {
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
}

TEST_F(RowOrderTest, WritersMatchAnImageTurnedBeforehandAndLeaveTheImageAlone) {
    const std::pair<const char*, std::function<void()>> origin_states[] = {
        {"after init", [] { ilEnable(IL_ORIGIN_SET), ilOriginFunc(IL_ORIGIN_LOWER_LEFT); }},
        {"after image_FlipImagev", [] { ilEnable(IL_ORIGIN_SET), ilOriginFunc(IL_ORIGIN_UPPER_LEFT); }},
        {"origin not enforced", [] { ilDisable(IL_ORIGIN_SET); }},
    };
    using Writer = std::function<void(const ImageRecord&, const std::string&)>;
    const std::pair<const char*, Writer> writers[] = {
        {"html", [&](const ImageRecord& i, const std::string& p) { files::write_html(st, i, p.c_str()); }},
        {"gml", [&](const ImageRecord& i, const std::string& p) { files::write_gml(i, p.c_str()); }},
        {"header grey", [&](const ImageRecord& i,
                            const std::string& p) { files::write_header(st, i, p.c_str(), files::HeaderMode::grey); }},
        {"header rgb", [&](const ImageRecord& i,
                           const std::string& p) { files::write_header(st, i, p.c_str(), files::HeaderMode::rgb); }},
        {"header rgba", [&](const ImageRecord& i,
                            const std::string& p) { files::write_header(st, i, p.c_str(), files::HeaderMode::rgba); }},
        {"ox grey", [&](const ImageRecord& i, const std::string& p) { files::write_ox(i, p.c_str(), 0); }},
        {"ox rgb", [&](const ImageRecord& i, const std::string& p) { files::write_ox(i, p.c_str(), 1); }},
        {"ox rgba", [&](const ImageRecord& i, const std::string& p) { files::write_ox(i, p.c_str(), 2); }},
    };
    for (auto [width, height] : {std::pair{5, 4}, {1, 3}, {3, 1}, {0, 2}}) {
        auto& image = add(0, make_record(width, height));
        fill_pattern(image);
        image.rgba = memory::Buffer(image.pixel_count() * 4);
        for (std::size_t i = 0; i < image.rgba.size(); ++i) image.rgba[i] = static_cast<std::uint8_t>(i * 5 + 3);
        const auto rgb_before = pixels(image);
        const auto rgba_before = rgba_of(image);
        for (const auto& [state_name, enter_state] : origin_states) {
            for (const auto& [writer_name, write] : writers) {
                SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " " + state_name + " " +
                             writer_name);
                enter_state();
                // One path for both: the HTML page carries it in its title.
                const std::string path = dir.file("out");
                write(image, path);
                const std::string in_place = read_file(path);
                EXPECT_EQ(pixels(image), rgb_before);
                EXPECT_EQ(rgba_of(image), rgba_before);

                auto turned = copy_of(image);
                flip_image(st, *turned);
                keep_stored_row_order();
                write(*turned, path);
                EXPECT_EQ(in_place, read_file(path));
            }
        }
    }
}

}  // namespace
}  // namespace ombrix::testing

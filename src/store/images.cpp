// Loading, saving, freeing and cloning. DevIL reads and writes files only in the helper process
// (helper/client.hpp); the host hands it pixels and settings and writes what comes back itself.
#include "store/images.hpp"

#include <string>

#include "files/atomic_file.hpp"
#include "helper/client.hpp"

namespace ombrix {

namespace {

// The text a failed save leaves, kept here because the last-error text is a pointer.
const char* save_failure(const std::string& text) {
    static std::string kept;
    kept = text;
    return kept.c_str();
}

}  // namespace

const char* unavailable_text(helper::Unavailable unavailable) noexcept {
    if (unavailable == helper::Unavailable::missing) return text::decoder_missing;
    if (unavailable == helper::Unavailable::not_started) return text::decoder_not_started;
    return nullptr;
}

void require_helper(helper::Unavailable unavailable) {
    if (const char* why = unavailable_text(unavailable)) fail(0, why);
}

double register_image(State& st, std::int32_t id, std::unique_ptr<ImageRecord> record) {
    st.images.put(id, std::move(record));
    return id;
}

double load_image(State& st, const char* path) {
    const std::int32_t id = st.take_image_id();
    st.require_initialised();
    st.loaded = true;
    helper::Loaded loaded;
    helper::Unavailable unavailable = helper::Unavailable::none;
    const helper::Outcome outcome = path ? helper::load(path, loaded, unavailable) : helper::Outcome::refused;
    require_helper(unavailable);
    if (outcome != helper::Outcome::done) fail_devil(0, il_could_not_open_file);
    auto record = std::make_unique<ImageRecord>();
    static_cast<helper::Properties&>(*record) = loaded;
    record->rgb = std::move(loaded.rgb);
    // Allocated as a loaded image's is, zero-filled so that nothing uninitialised is ever written out.
    record->rgba = memory::Buffer(record->pixel_count() * 4, true);
    return register_image(st, id, std::move(record));
}

double save_image(State& st, const ImageRecord& image, const char* path, ILenum type) {
    if (!st.loaded) fail_devil(-1, il_could_not_open_file);
    const std::string target = path ? path : "";
    if (target.empty()) fail(-1, save_failure("Could not write an image to an empty path"));
    helper::Encoded encoded;
    helper::Unavailable unavailable = helper::Unavailable::none;
    const std::size_t bytes = image.pixel_count() * 3;
    const helper::Outcome outcome =
        image.rgb.size() >= bytes
            ? helper::save(image.rgb.data(), image.width, image.height, type, path, st.key_colour, encoded, unavailable)
            : helper::Outcome::refused;
    // A save that fails for any reason, a missing helper too, says so as every failed save does.
    if (const char* why = unavailable_text(unavailable))
        fail(-1, save_failure("Could not write " + target + ": " + why));
    if (outcome != helper::Outcome::done) {
        const ILenum reason = encoded.devil_error != IL_NO_ERROR ? encoded.devil_error : il_could_not_open_file;
        const char* why = outcome == helper::Outcome::refused         ? devil_error_text(reason)
                          : outcome == helper::Outcome::out_of_memory ? "out of memory"
                          : outcome == helper::Outcome::timed_out     ? "the encoder ran out of time"
                                                                      : "the encoder failed";
        fail(-1, save_failure("Could not write " + target + ": " + (why ? why : "refused")));
    }
    files::AtomicFile file(path);
    if (!file.write(encoded.file.data(), encoded.file.size()) || !file.commit())
        fail(-1, save_failure(files::write_failure_text(target, file.error())));
    return 1;
}

double free_image(State& st, std::int32_t id) {
    st.images.erase(id);
    return 1;
}

}  // namespace ombrix

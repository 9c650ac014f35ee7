// Loading, saving, freeing and cloning. Every DevIL image lives inside one call, under the
// scratch name.
#include "store/images.hpp"

#include <IL/il.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "store/decoder.hpp"
#include "store/devil.hpp"

namespace ombrix {

bool decode_file(State&, const char* path, DecodedImage& out) {
    // DevIL runs in a decoder process, never here: see store/decoder.hpp.
    return decoder::decode_isolated(path, out) == decoder::Outcome::loaded;
}

double register_image(State& st, std::int32_t id, std::unique_ptr<ImageRecord> record) {
    st.images.put(id, std::move(record));
    return id;
}

double load_image(State& st, const char* path) {
    const std::int32_t id = st.take_image_id();
    st.require_initialised();
    st.loaded = true;
    DecodedImage decoded;
    if (!path || !decode_file(st, path, decoded)) fail_devil(0, il_could_not_open_file);
    auto record = std::make_unique<ImageRecord>();
    record->width = decoded.width;
    record->height = decoded.height;
    record->palette_size = decoded.palette_size;
    record->bits_per_pixel = decoded.bits_per_pixel;
    record->offset_x = decoded.offset_x;
    record->offset_y = decoded.offset_y;
    record->depth = decoded.depth;
    record->rgb = std::move(decoded.rgb);
    // Allocated as a loaded image's is, zero-filled so that nothing uninitialised is ever written out.
    record->rgba = memory::Buffer(record->pixel_count() * 4, true);
    return register_image(st, id, std::move(record));
}

namespace {

// A temporary file in the target's directory whose name ends in the target's own name, so that a
// save by extension sees the same extension. Removed on destruction unless committed.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) {
        const auto slash = target.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string name = dir + ".ombrix-XXXXXX-" + base;
        const int fd = mkstemps(name.data(), static_cast<int>(base.size() + 1));
        if (fd < 0) return;
        // mkstemps creates the file private to its owner; give it the mode the saved file should have.
        struct stat existing {};
        if (stat(target.c_str(), &existing) == 0) {
            fchmod(fd, existing.st_mode & 07777);
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            fchmod(fd, 0666 & ~mask);
        }
        close(fd);
        path_ = std::move(name);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    bool ok() const { return !path_.empty(); }
    const char* path() const { return path_.c_str(); }
    bool commit_to(const std::string& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
};

// DevIL refuses to write over an existing file unless told to; the temporary file exists (it was
// reserved by mkstemps), so overwriting is enabled for the one call and then restored.
class OverwriteAllowed {
public:
    OverwriteAllowed() : was_enabled_(ilIsEnabled(IL_FILE_OVERWRITE) == IL_TRUE) { ilEnable(IL_FILE_OVERWRITE); }
    OverwriteAllowed(const OverwriteAllowed&) = delete;
    OverwriteAllowed& operator=(const OverwriteAllowed&) = delete;
    ~OverwriteAllowed() {
        if (!was_enabled_) ilDisable(IL_FILE_OVERWRITE);
    }

private:
    bool was_enabled_;
};

}  // namespace

double save_image(State& st, std::int32_t id, const char* path, ILenum type, bool by_extension) {
    ImageRecord& image = st.images.get(id);
    st.require_initialised();
    if (!st.loaded) fail_devil(-1, il_could_not_open_file);
    if (!path || !*path) fail_devil(1, il_could_not_open_file);
    if (by_extension) ilDeleteImages(1, &st.scratch);
    const std::string target = path;
    TemporaryFile temporary(target);
    if (!temporary.ok()) fail_devil(1, il_could_not_open_file);
    bool written = false;
    {
        ScratchImage scratch(st);
        // One layer: the record's buffer holds no more, whatever its DevIL depth.
        ilTexImage(static_cast<ILuint>(image.width), static_cast<ILuint>(image.height), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
                   image.rgb.data());
        OverwriteAllowed overwrite;
        written = by_extension ? ilSaveImage(temporary.path()) == IL_TRUE : ilSave(type, temporary.path()) == IL_TRUE;
    }
    if (!written) {
        const ILenum reason = ilGetError();
        fail(1, devil_error_text(reason != IL_NO_ERROR ? reason : il_could_not_open_file));
    }
    if (!temporary.commit_to(target)) fail_devil(1, il_could_not_open_file);
    return 1;
}

double free_image(State& st, std::int32_t id) {
    st.require_initialised();
    if (!st.images.erase(id)) fail(-1, text::invalid_image_id);
    return 1;
}

double clone_image(State& st, std::int32_t id) {
    st.require_initialised();
    const std::int32_t new_id = st.take_image_id();
    const ImageRecord& source = st.images.get(id);
    auto copy = std::make_unique<ImageRecord>();
    copy->rgb = source.rgb.copy();
    copy->width = source.width;
    copy->height = source.height;
    copy->palette_size = source.palette_size;
    copy->bits_per_pixel = source.bits_per_pixel;
    copy->offset_x = source.offset_x;
    copy->offset_y = source.offset_y;
    copy->depth = source.depth;
    copy->rgba = source.rgba.copy();
    return register_image(st, new_id, std::move(copy));
}

}  // namespace ombrix

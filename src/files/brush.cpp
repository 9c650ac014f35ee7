// Brush files on disk.
#include "files/brush.hpp"

#include <sys/stat.h>

#include "files/brush_format.hpp"
#include "files/output.hpp"
#include "store/errors.hpp"

namespace ombrix::files {

double load_brush(State& st, const char* path) {
    const std::int32_t id = st.take_brush_id();
    File file(path, "rb");
    struct stat info {};
    if (!file || (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode))) fail(-1, nullptr);

    // Two header lines take at most eight bytes.
    std::uint8_t head[8];
    const std::size_t head_size = std::fread(head, 1, sizeof head, file.get());
    const auto header = parse_brush_header(head, head_size);
    if (!header) fail(-1, text::brush_file_invalid);

    auto brush = std::make_unique<Brush>(make_brush(*header, head + header->size, head_size - header->size));
    const std::size_t taken = head_size - header->size;
    if (brush->mask.size() > taken) std::fread(brush->mask.data() + taken, 1, brush->mask.size() - taken, file.get());
    file.close();
    st.brushes.put(id, std::move(brush));
    return id;
}

double save_brush(const Brush& brush, const char* path) {
    // A failed save says so by its result alone: brushes leave the last-error text as it is.
    AtomicFile file(path);
    if (!file) fail(-1, nullptr);
    OutputBuffer out(file);
    out.put_int(brush.width);
    out.put("\n");
    out.put_int(brush.height);
    out.put("\n");
    out.put_bytes(brush.mask.data(), brush.mask.size());
    if (!out.finish()) fail(-1, nullptr);
    return 0;
}

double free_brush(State& st, std::int32_t id) {
    st.brushes.erase(id);
    return 0;
}

}  // namespace ombrix::files

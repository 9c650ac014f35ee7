// The boundary between host values and the library: every export runs its body through
// `boundary`, which hands it the State and turns every exception into the export's documented
// result and a last-error text. No exception ever reaches the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ombrix_exports.h"
#include "store/convert.hpp"
#include "store/errors.hpp"
#include "store/images.hpp"
#include "store/state.hpp"

namespace ombrix {

template <class Body>
double boundary(Body&& body) noexcept {
    State& st = state();
    try {
        return static_cast<double>(body(st));
    } catch (const Failure& failure) {
        if (failure.text) st.last_error = failure.text;
        return failure.result;
    } catch (const std::bad_alloc&) {
        st.last_error = text::out_of_memory;
        return -1;
    } catch (...) {
        st.last_error = text::internal_error;
        return -1;
    }
}

// For the exports whose result is a string.
template <class Body>
const char* text_boundary(Body&& body) noexcept {
    State& st = state();
    try {
        return body(st);
    } catch (...) {
        st.last_error = text::internal_error;
        return "-1";
    }
}

// The host's index into a table of `count` modes, settings or languages: truncated toward zero,
// and none when it falls outside.
inline std::optional<std::size_t> table_index(double index, std::size_t count) noexcept {
    const std::int32_t i = to_int32(index);
    if (i < 0 || static_cast<std::size_t>(i) >= count) return std::nullopt;
    return static_cast<std::size_t>(i);
}

// The table entry the host's index selects, or none.
template <class Entry, std::size_t N>
std::optional<Entry> entry(const Entry (&table)[N], double index) noexcept {
    const auto i = table_index(index, N);
    return i ? std::optional<Entry>(table[*i]) : std::nullopt;
}

// The same where an index outside the table is refused at once: result 0 and ILU's
// invalid-parameter text.
inline std::size_t require_index(double index, std::size_t count) {
    const auto i = table_index(index, count);
    if (!i) fail_devil(0, il_invalid_param);
    return *i;
}

template <class Entry, std::size_t N>
Entry pick(const Entry (&table)[N], double index) {
    return table[require_index(index, N)];
}

namespace detail {
// The operation given the State and its other arguments, or its other arguments alone.
template <class Op, class... Args>
auto call(State& st, Op& op, Args&&... args) {
    if constexpr (std::is_invocable_v<Op&, State&, Args...>)
        return op(st, std::forward<Args>(args)...);
    else
        return op(std::forward<Args>(args)...);
}

template <class Op, class... Extra>
double on_image_after(State& st, double id, Op& op, Extra&&... extra) {
    ImageRecord& image = st.images.get(to_image_id(id));
    return static_cast<double>(call(st, op, image, std::forward<Extra>(extra)...));
}
}  // namespace detail

// The shape of an image export: the initialised test, the image lookup (unknown and freed IDs
// fail alike), then the operation, given the record alone or the State and the record.
template <class Op>
double on_image(double id, Op&& op) {
    return boundary([&](State& st) {
        st.require_initialised();
        return detail::on_image_after(st, id, op);
    });
}

// The same for the image exports that also run before init.
template <class Op>
double on_image_before_init(double id, Op&& op) {
    return boundary([&](State& st) { return detail::on_image_after(st, id, op); });
}

// The host real as the typed argument it stands for, by the conversion of convert.hpp for that type.
template <class T>
T from_host(double x) noexcept {
    if constexpr (std::is_same_v<T, float>)
        return to_float(x);
    else if constexpr (std::is_same_v<T, std::uint8_t>)
        return to_byte(x);
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return to_uint32(x);
    else {
        static_assert(std::is_same_v<T, std::int32_t>, "no conversion from a host real to this type");
        return to_int32(x);
    }
}

// An image export that is one typed call: each host real converted to the type the operation
// takes in its place.
template <class... Params, class... Host>
double on_image_call(double id, double (*op)(State&, ImageRecord&, Params...), Host... args) {
    static_assert(sizeof...(Params) == sizeof...(Host), "one host real for each argument");
    return on_image(id, [&](State& st, ImageRecord& image) { return op(st, image, from_host<Params>(args)...); });
}

// Image exports whose mode, setting or format index is refused before the image is looked up
// (result 0 and ILU's invalid-parameter text): the initialised test, the index, the lookup, then
// the operation given the record and the table entry (or, for a bare `count`, the index).
template <class Op>
double on_image_at_index(double id, double index, std::size_t count, Op&& op) {
    return boundary([&](State& st) {
        st.require_initialised();
        return detail::on_image_after(st, id, op, require_index(index, count));
    });
}

template <class Entry, std::size_t N, class Op>
double on_image_with_entry(double id, const Entry (&table)[N], double index, Op&& op) {
    return boundary([&](State& st) {
        st.require_initialised();
        return detail::on_image_after(st, id, op, pick(table, index));
    });
}

// The same for the settings that also run before init.
template <class Entry, std::size_t N, class Op>
double on_image_with_entry_before_init(double id, const Entry (&table)[N], double index, Op&& op) {
    return boundary([&](State& st) { return detail::on_image_after(st, id, op, pick(table, index)); });
}

// Exports that read a second image into the first: the initialised test, both lookups in
// argument order, then the operation given both records.
template <class Op>
double on_two_images(double first, double second, Op&& op) {
    return boundary([&](State& st) {
        st.require_initialised();
        ImageRecord& a = st.images.get(to_image_id(first));
        ImageRecord& b = st.images.get(to_image_id(second));
        return static_cast<double>(detail::call(st, op, a, b));
    });
}

// Exports that make a new image from existing ones: the initialised test, a new ID taken before
// the sources are looked up (a failed call still uses it up), the lookups in argument order, then
// the operation, given the sources, returns the new record, which is registered under the new
// ID, the export's result.
template <class Op, class... Ids>
double new_image_from(Op&& op, Ids... ids) {
    return boundary([&](State& st) {
        st.require_initialised();
        const std::int32_t new_id = st.take_image_id();
        // A braced list is evaluated left to right, so the lookups run in argument order.
        const std::array<const ImageRecord*, sizeof...(Ids)> sources{&st.images.get(to_image_id(ids))...};
        std::unique_ptr<ImageRecord> record = std::apply([&](auto... s) { return op(*s...); }, sources);
        return register_image(st, new_id, std::move(record));
    });
}

// Brush exports (they run before init as well): the brush lookup, then the operation given the
// brush.
template <class Op>
double on_brush(double id, Op&& op) {
    return boundary([&](State& st) { return static_cast<double>(detail::call(st, op, st.brushes.get(to_int32(id)))); });
}

// Brush exports where one ID names both an image and a brush: the image lookup, the brush lookup,
// then the operation given both.
template <class Op>
double on_image_and_brush(double id, Op&& op) {
    return boundary([&](State& st) {
        ImageRecord& image = st.images.get(to_image_id(id));
        const Brush& brush = st.brushes.get(to_int32(id));
        return static_cast<double>(detail::call(st, op, image, brush));
    });
}

}  // namespace ombrix

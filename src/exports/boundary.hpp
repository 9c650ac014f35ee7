// The boundary between host values and the library: every export runs its body through
// `boundary`, which hands it the State and turns every exception into the export's documented
// result and a last-error text. No exception ever reaches the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <type_traits>

#include "ombrix_exports.h"
#include "store/convert.hpp"
#include "store/errors.hpp"
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
template <class Op>
auto on_looked_up_image(State& st, double id, Op& op) {
    ImageRecord& image = st.images.get(to_image_id(id));
    if constexpr (std::is_invocable_v<Op&, State&, ImageRecord&>)
        return op(st, image);
    else
        return op(image);
}
}  // namespace detail

// The shape of an image export: the initialised test, the image lookup (unknown and freed IDs
// fail alike), then the operation, given the record alone or the State and the record.
template <class Op>
double on_image(double id, Op&& op) {
    return boundary([&](State& st) {
        st.require_initialised();
        return detail::on_looked_up_image(st, id, op);
    });
}

// The same for the image exports that also run before init.
template <class Op>
double on_image_before_init(double id, Op&& op) {
    return boundary([&](State& st) { return detail::on_looked_up_image(st, id, op); });
}

}  // namespace ombrix

// The boundary between host values and the library: every export runs its body through
// `boundary`, which hands it the State and turns every exception into the export's documented
// result and a last-error text. No exception ever reaches the host.
#pragma once

#include <new>

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

}  // namespace ombrix

// What a script can call besides the built-ins: the library's exports, each with its argument
// types ('r' real, 's' string). The runner implements it over dlopen and libffi; unit tests can
// implement it in-process.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "value.hpp"

namespace ombrix::host {

class Exports {
public:
    virtual ~Exports() = default;

    // The index of a callable export of that name, or nothing.
    virtual std::optional<std::uint32_t> find(std::string_view name) const = 0;
    // True when the name is a known export that the loaded library lacks (for a clearer message).
    virtual bool listed_but_missing(std::string_view /*name*/) const { return false; }
    virtual std::string_view name(std::uint32_t index) const = 0;
    // How many exports there are (indexes 0 to size() - 1), for suggestions.
    virtual std::uint32_t size() const { return 0; }
    // One letter per argument: 'r' or 's'.
    virtual std::string_view argument_types(std::uint32_t index) const = 0;
    // Calls the export; the caller has checked the arguments' number and types.
    virtual Value call(std::uint32_t index, std::span<const Value> args) = 0;
};

}  // namespace ombrix::host

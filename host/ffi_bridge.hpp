// The bridge to the shared library: opens it with dlopen, binds every export of the generated call
// table with dlsym, and calls any of them through one libffi call interface per export.
#pragma once

#include <ffi.h>

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "exports.hpp"

namespace ombrix::host {

// One line of the call table: the export's name, its result type and its argument types.
struct ExportSignature {
    std::string_view name;
    char result;                 // 'r' or 's'
    std::string_view arguments;  // one 'r' or 's' per argument
};

// The exports of the build's manifest.
std::span<const ExportSignature> manifest_signatures();

struct LibraryLoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ForeignExports final : public Exports {
public:
    // Opens the library; throws LibraryLoadError with dlerror's reason when dlopen fails. Exports the
    // library lacks stay unbound and only matter to a script that calls them.
    ForeignExports(const std::string& path, std::span<const ExportSignature> signatures);
    ~ForeignExports() override;
    ForeignExports(const ForeignExports&) = delete;
    ForeignExports& operator=(const ForeignExports&) = delete;

    std::optional<std::uint32_t> find(std::string_view name) const override;
    bool listed_but_missing(std::string_view name) const override;
    std::string_view name(std::uint32_t index) const override { return entries_[index].signature.name; }
    std::uint32_t size() const override { return static_cast<std::uint32_t>(entries_.size()); }
    std::string_view argument_types(std::uint32_t index) const override { return entries_[index].signature.arguments; }
    Value call(std::uint32_t index, std::span<const Value> args) override;

private:
    struct Entry {
        ExportSignature signature;
        void (*function)() = nullptr;  // null: the library lacks it
        ffi_cif cif{};
        std::vector<ffi_type*> argument_types;
    };

    void* handle_ = nullptr;
    std::vector<Entry> entries_;
    std::unordered_map<std::string_view, std::uint32_t> by_name_;
    // Argument storage for one call, sized for the widest export; ffi_call reads through slots_.
    std::vector<double> reals_;
    std::vector<const char*> texts_;
    std::vector<void*> slots_;
};

}  // namespace ombrix::host

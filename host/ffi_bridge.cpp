// The bridge. The call table comes from the build (manifest_table.inc), so the runner knows every
// export's types without a hand-written case for any of them.
#include "ffi_bridge.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace ombrix::host {

namespace {

constexpr ExportSignature signatures_of_build[] = {
#define OMBRIX_EXPORT(name, result, arguments) {name, result, arguments},
#include "manifest_table.inc"
#undef OMBRIX_EXPORT
};

ffi_type* ffi_type_of(char type) { return type == 's' ? &ffi_type_pointer : &ffi_type_double; }

}  // namespace

std::span<const ExportSignature> manifest_signatures() { return signatures_of_build; }

ForeignExports::ForeignExports(const std::string& path, std::span<const ExportSignature> signatures) {
    dlerror();
    // The library stays mapped until the process ends, as it would in a host: handlers it or its
    // dependencies register with atexit must still find their code then (ASan's atexit keeps no
    // note of which object registered them). Its static destructors run at exit all the same.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
        const char* reason = dlerror();
        throw LibraryLoadError(reason ? reason : "dlopen failed");
    }
    entries_.reserve(signatures.size());
    std::size_t widest = 0;
    for (const ExportSignature& signature : signatures) {
        Entry& entry = entries_.emplace_back();
        entry.signature = signature;
        by_name_.emplace(signature.name, static_cast<std::uint32_t>(entries_.size() - 1));
        void* symbol = dlsym(handle_, std::string(signature.name).c_str());
        if (!symbol) continue;
        for (char type : signature.arguments) entry.argument_types.push_back(ffi_type_of(type));
        auto count = static_cast<unsigned>(entry.argument_types.size());
        if (ffi_prep_cif(&entry.cif, FFI_DEFAULT_ABI, count, ffi_type_of(signature.result),
                         entry.argument_types.data()) != FFI_OK)
            continue;
        // dlsym hands out a data pointer; a copy of its bits is the portable way to a function pointer.
        std::memcpy(&entry.function, &symbol, sizeof entry.function);
        widest = std::max(widest, entry.argument_types.size());
    }
    reals_.resize(widest);
    texts_.resize(widest);
    slots_.resize(widest);
}

ForeignExports::~ForeignExports() {
    if (handle_) dlclose(handle_);
}

std::optional<std::uint32_t> ForeignExports::find(std::string_view name) const {
    auto it = by_name_.find(name);
    if (it == by_name_.end() || !entries_[it->second].function) return std::nullopt;
    return it->second;
}

bool ForeignExports::listed_but_missing(std::string_view name) const {
    auto it = by_name_.find(name);
    return it != by_name_.end() && !entries_[it->second].function;
}

Value ForeignExports::call(std::uint32_t index, std::span<const Value> args) {
    Entry& entry = entries_[index];
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (entry.signature.arguments[i] == 's') {
            texts_[i] = args[i].text.c_str();
            slots_[i] = &texts_[i];
        } else {
            reals_[i] = args[i].real;
            slots_[i] = &reals_[i];
        }
    }
    // ffi_call wants room for at least an ffi_arg, whatever the result type.
    union {
        double real;
        const char* text;
        ffi_arg word;
    } result{};
    ffi_call(&entry.cif, entry.function, &result, slots_.data());
    if (entry.signature.result == 'r') return Value::of(result.real);
    // The library owns the text and may change it on the next call: copy it now.
    return Value::of(std::string(result.text ? result.text : ""));
}

}  // namespace ombrix::host

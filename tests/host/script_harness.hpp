// Helpers for the runner's unit tests: run a script in-process and capture what it prints, or
// catch the error it raises.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "canvas.hpp"
#include "diagnostic.hpp"
#include "evaluator.hpp"
#include "exports.hpp"
#include "parser.hpp"
#include "resolver.hpp"
#include "runner.hpp"

namespace ombrix::host::testing {

// A stdio stream writing into memory; text() closes it and hands over what was written.
class CapturedStream {
public:
    CapturedStream() : stream_(open_memstream(&data_, &size_)) {}
    ~CapturedStream() {
        if (stream_) std::fclose(stream_);
        std::free(data_);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* get() const { return stream_; }
    std::string text() {
        if (stream_) std::fclose(stream_);
        stream_ = nullptr;
        return std::string(data_ ? data_ : "", size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

// Parses, resolves and runs; returns standard output. Errors propagate as ScriptError.
inline std::string run_script(std::string_view source, Exports* exports = nullptr, Canvas* canvas = nullptr) {
    CapturedStream out;
    run_on_interpreter_stack([&] {
        Program program = parse_program(source);
        Resolution resolution = resolve(program, exports);
        run_program(program, resolution, {out.get(), canvas, exports});
    });
    return out.text();
}

// The error a script raises at any stage; fails the test if it raises none.
inline ScriptError script_error(std::string_view source, Exports* exports = nullptr) {
    try {
        run_script(source, exports);
    } catch (const ScriptError& error) {
        return error;
    }
    ADD_FAILURE() << "no error from: " << source;
    return ScriptError("no error");
}

}  // namespace ombrix::host::testing

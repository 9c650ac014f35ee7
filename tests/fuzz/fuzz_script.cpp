// libFuzzer target: arbitrary bytes as a script, through the lexer, parser, resolver and evaluator
// with the built-ins (no library). Runs are bounded by a step limit and smaller arrays, and file
// built-ins touch nothing; any script error is an expected outcome, a crash or leak is not.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "diagnostic.hpp"
#include "evaluator.hpp"
#include "parser.hpp"
#include "resolver.hpp"

namespace {

struct Input {
    std::string_view source;
};

void* run(void* argument) {
    using namespace ombrix::host;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const auto* input = static_cast<const Input*>(argument);
    try {
        Program program = parse_program(input->source);
        Resolution resolution = resolve(program, nullptr);
        RunContext context{sink};
        context.max_steps = 20000;
        context.files_allowed = false;
        context.array_limit = std::size_t{1} << 16;
        run_program(program, resolution, context);
    } catch (const ScriptError&) {
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input{std::string_view(reinterpret_cast<const char*>(data), size)};
    // The parser and evaluator recurse once per nesting level: as in the runner, they get a stack
    // deep enough for the deepest script the parser accepts.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::size_t{256} << 20);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, run, &input) == 0) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return 0;
}

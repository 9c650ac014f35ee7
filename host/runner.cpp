// The runner's command line. Order of work: options, script text, syntax, library, names, run,
// canvas; the first failure ends it with its exit status.
#include "runner.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "canvas.hpp"
#include "diagnostic.hpp"
#include "evaluator.hpp"
#include "ffi_bridge.hpp"
#include "parser.hpp"
#include "resolver.hpp"

namespace ombrix::host {

const char* help_text() {
    return R"(Usage: ombrix [options] SCRIPT.gml

Runs a GML script with the Ombrix library loaded, the way a GML host would: every export of the
library can be called by name with reals and strings.

Options:
  --library PATH             load the library from PATH (default: libombrix.so beside this
                             program, else the installed one in ../lib)
  --canvas WIDTH HEIGHT FILE give the script a WIDTH x HEIGHT canvas (black; sides 1 to 16384, at
                             most 67108864 pixels) for draw_point_color, written to FILE as an
                             8-bit RGB PNG when the script ends without error
  -h, --help                 show this text

Exit status: 0 success; 1 script error (reported as FILE:LINE:COL: error: MESSAGE on standard
error); 2 bad command line, unreadable script, library that cannot be loaded, or canvas that
cannot be written.

The language (a subset of GML):
  values      reals and strings; variables hold either; reading a variable never set is an error
  literals    1  1.5  .5  $FF  0xFF  "text"  'text' (escapes \n \t \r \" \' \\)  true  false
  statements  var a, b = 1;   a = x;  a += x;  -= *= /=;  a++;  a--;  f(x);
              if c s [else s]   (then is optional)   while c s   do s until c
              for (init; c; step) s   repeat (n) s   break   continue   exit
              { ... } or begin ... end; semicolons optional; // and /* */ comments
  operators   loosest to tightest:  || or | ^^ xor | && and | == != < <= > >= | bit | | ^ | & |
              << >> | + - | * / div mod % | prefix - + ! not ~
  rules       a real is true when above 0.5; comparisons give 1 or 0; + joins two strings but a
              string and a real do not mix; div truncates toward zero, mod keeps the dividend's sign,
              and both fail on a zero divisor (/ gives IEEE infinity); bitwise operators work on the
              values truncated to 64-bit integers; strings compare by bytes; reals exactly
  built-ins   show_debug_message(x)  string(x)  real(s)  is_string(x)  is_real(x)  floor(x)
              ceil(x)  round(x) (halves to even)  abs(x)  min(x, ...)  max(x, ...)
              string_length(s)  chr(n)  ord(s)  string_char_at(s, n) (n from 1; "" outside the
              string)  draw_point_color(x, y, colour) (with --canvas:
              x right and y down from the top-left corner, colour red + 256 green + 65536 blue,
              points outside ignored)
  printing    a real prints without a fraction when it is integral ("3"), else with two decimals
              ("1.50", "-0.25"); "nan", "inf", "-inf"
  limits      statements and expressions nest at most 1000 levels; strings hold at most 16 MiB
)";
}

std::string library_beside_executable() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "libombrix.so";
    std::string exe(path, static_cast<std::size_t>(n));
    auto slash = exe.rfind('/');
    std::string directory = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
    std::string beside = directory + "/libombrix.so";
#ifdef OMBRIX_LIBRARY_FROM_BINDIR
    // An installed runner lives in bin/ and the library in lib/, beside its decoder.
    std::string installed = directory + "/" OMBRIX_LIBRARY_FROM_BINDIR;
    if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
#endif
    return beside;
}

namespace {

struct Options {
    std::string script;
    std::string library;
    bool canvas = false;
    std::uint32_t canvas_width = 0;
    std::uint32_t canvas_height = 0;
    std::string canvas_file;
    bool help = false;
};

struct UsageError {
    std::string message;
};

std::uint32_t parse_side(const std::string& text, const char* what) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > Canvas::max_side)
        throw UsageError{std::string("canvas ") + what + " must be a whole number from 1 to " +
                         std::to_string(Canvas::max_side) + ", not '" + text + "'"};
    return value;
}

Options parse_options(std::span<const std::string> args) {
    Options options;
    bool scripts_only = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto needs = [&](std::size_t count) {
            if (i + count >= args.size())
                throw UsageError{"option " + arg + " needs " + std::to_string(count) +
                                 (count == 1 ? " value" : " values")};
        };
        if (!scripts_only && (arg == "-h" || arg == "--help")) {
            options.help = true;
        } else if (!scripts_only && arg == "--library") {
            needs(1);
            options.library = args[++i];
        } else if (!scripts_only && arg == "--canvas") {
            needs(3);
            options.canvas = true;
            options.canvas_width = parse_side(args[i + 1], "width");
            options.canvas_height = parse_side(args[i + 2], "height");
            options.canvas_file = args[i + 3];
            i += 3;
            if (std::uint64_t{options.canvas_width} * options.canvas_height > Canvas::max_pixels)
                throw UsageError{"canvas larger than " + std::to_string(Canvas::max_pixels) + " pixels"};
        } else if (!scripts_only && arg == "--") {
            scripts_only = true;
        } else if (!scripts_only && arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else if (options.script.empty()) {
            options.script = arg;
        } else {
            throw UsageError{"more than one script given ('" + options.script + "' and '" + arg + "')"};
        }
    }
    if (!options.help && options.script.empty()) throw UsageError{"no script given"};
    return options;
}

std::optional<std::string> read_file(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return std::nullopt;
    std::string text;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    if (std::ferror(file.get())) return std::nullopt;
    return text;
}

void report(RunnerStreams streams, const std::string& script, const ScriptError& error) {
    std::fflush(streams.out);
    std::fprintf(streams.err, "%s:%u:%u: error: %s\n", script.c_str(), error.pos.line, error.pos.column,
                 error.message.c_str());
}

int run_here(std::span<const std::string> args, const std::string& default_library, RunnerStreams streams) {
    Options options;
    try {
        options = parse_options(args);
    } catch (const UsageError& error) {
        std::fprintf(streams.err, "ombrix: %s\nTry 'ombrix --help' for more information.\n", error.message.c_str());
        return exit_usage_error;
    }
    if (options.help) {
        std::fputs(help_text(), streams.out);
        return exit_success;
    }

    std::optional<std::string> source = read_file(options.script);
    if (!source) {
        std::fprintf(streams.err, "ombrix: cannot read %s: %s\n", options.script.c_str(), std::strerror(errno));
        return exit_usage_error;
    }

    try {
        Program program = parse_program(*source);
        std::string library = options.library.empty() ? default_library : options.library;
        std::unique_ptr<ForeignExports> exports;
        try {
            exports = std::make_unique<ForeignExports>(library, manifest_signatures());
        } catch (const LibraryLoadError& error) {
            std::fprintf(streams.err, "ombrix: cannot load the library %s: %s\n", library.c_str(), error.what());
            return exit_usage_error;
        }
        Resolution resolution = resolve(program, exports.get());
        std::unique_ptr<Canvas> canvas;
        if (options.canvas) canvas = std::make_unique<Canvas>(options.canvas_width, options.canvas_height);
        run_program(program, resolution, {streams.out, canvas.get(), exports.get()});
        std::fflush(streams.out);
        if (canvas) {
            std::string failure = canvas->write_png(options.canvas_file);
            if (!failure.empty()) {
                std::fprintf(streams.err, "ombrix: cannot write %s: %s\n", options.canvas_file.c_str(),
                             failure.c_str());
                return exit_usage_error;
            }
        }
    } catch (const ScriptError& error) {
        report(streams, options.script, error);
        return exit_script_error;
    } catch (const std::bad_alloc&) {
        std::fflush(streams.out);
        std::fprintf(streams.err, "ombrix: out of memory\n");
        return exit_script_error;
    } catch (const std::exception& error) {
        std::fflush(streams.out);
        std::fprintf(streams.err, "ombrix: %s\n", error.what());
        return exit_script_error;
    }
    return exit_success;
}

}  // namespace

// The parser and the evaluator recurse once per nesting level, up to max_nesting levels, and a
// sanitizer build needs several kilobytes a level: a thread with a stack of its own makes that safe
// whatever the process's stack limit is. The stack's pages are touched only as they are used.
void run_on_interpreter_stack(const std::function<void()>& work) {
    struct Job {
        const std::function<void()>* work;
        std::exception_ptr failure;
    } job{&work, nullptr};
    auto body = [](void* argument) -> void* {
        auto* j = static_cast<Job*>(argument);
        try {
            (*j->work)();
        } catch (...) {
            j->failure = std::current_exception();
        }
        return nullptr;
    };
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = false;
    if (pthread_attr_init(&attributes) == 0) {
        started = pthread_attr_setstacksize(&attributes, interpreter_stack_bytes) == 0 &&
                  pthread_create(&thread, &attributes, body, &job) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started) {
        work();  // no thread to be had: the caller's stack must do
        return;
    }
    pthread_join(thread, nullptr);
    if (job.failure) std::rethrow_exception(job.failure);
}

int run_command_line(std::span<const std::string> args, const std::string& default_library, RunnerStreams streams) {
    int status = exit_script_error;
    run_on_interpreter_stack([&] { status = run_here(args, default_library, streams); });
    return status;
}

}  // namespace ombrix::host

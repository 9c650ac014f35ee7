// The runner's command line. Order of work: options, script text, syntax, library, names, run,
// canvas; the first failure ends it with its exit status. --list and --help NAME answer from the
// build's manifest and the built-in table without loading the library.
#include "runner.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "canvas.hpp"
#include "diagnostic.hpp"
#include "evaluator.hpp"
#include "ffi_bridge.hpp"
#include "parser.hpp"
#include "resolver.hpp"

namespace ombrix::host {

const char* help_text() {
    return R"(Usage: ombrix [options] SCRIPT.gml [ARGUMENT...]
       ombrix --list
       ombrix --help [NAME]

Runs a GML script with the Ombrix library loaded, the way a GML host would: every export of the
library can be called by name with reals and strings. The arguments after the script are the
script's: parameter_count() tells how many, parameter_string(1) ... gives them
(parameter_string(0) is the script's path), so a script can work as a batch tool:
    ombrix examples/thumbnail.gml in.png out.png

Options (before the script):
  --library PATH             load the library from PATH (default: libombrix.so beside this
                             program, else the installed one in ../lib)
  --canvas WIDTH HEIGHT FILE give the script a WIDTH x HEIGHT canvas (black; sides 1 to 16384, at
                             most 67108864 pixels) for draw_point_color, written to FILE as an
                             8-bit RGB PNG when the script ends without error
  --timeout SECONDS          end the script with an error once it has run that long (default: no limit)
  --list                     list every export of the library with its arguments
  -h, --help [NAME]          show this text, or the reference entry of an export or built-in

Exit status: 0 success (or the status given to game_end); 1 script error (reported as
FILE:LINE:COL: error: MESSAGE on standard error), also a run past --timeout; 2 bad command line,
unreadable script, library that cannot be loaded, or canvas that cannot be written.

The language (GML, without instances):
  values      reals, strings, arrays, undefined; variables hold any of them; reading a variable
              never set is an error (one never assigned anywhere is found before the script runs)
  literals    1  1.5  .5  1e3  2.5E-2  $FF  0xFF  #FF8000 (a colour: red FF, green 80, blue 00)
              "text"  'text' (escapes \n \t \r \" \' \\)  true  false  undefined  [1, 2, "three"]
  statements  var a, b = 1;   a = x;  += -= *= /= %= |= &= ^=;  a++;  --a;  f(x);
              if c s [else s]   (then is optional)   while c s   do s until c
              for (init; c; step) s   repeat (n) s   break   continue   exit   return [x]
              switch (x) { case v: ... break; default: ... }   (cases fall through until break)
              { ... } or begin ... end; semicolons optional; // and /* */ comments
  functions   function name(a, b = 2) { ...; return a + b; }  declared at the top level and
              callable anywhere in the script (before the declaration too). Missing arguments are
              undefined (or their default); argument0..argument15, argument[n] and argument_count
              read the arguments as passed. var makes a local of the function; other names are the
              script's own variables, shared by all functions. exit in a function returns
              undefined. Calls nest at most 4096 deep.
  globals     global.name, and globalvar name; (then name alone is global everywhere)
  arrays      a[i], a[i, j] (the same as a[i][j]), a[@ i]; writing an element makes the variable an
              array if it is none and grows the array (new elements 0); reading outside it is an
              error. Arrays are shared by reference, as in current GML: b = a; b[0] = 1 changes a
              too, and so does a function writing an array it was passed. At most 16777216
              elements an array.
  ds          ds_list and ds_map IDs are reals from 0, the lowest free one reused;
              list[| i] and map[? key] read and write their entries (undefined when missing)
  #macro      #macro NAME text: NAME stands for the text everywhere in the script; #region and
              #endregion lines are ignored
  enum        enum Name { a, b = 5, c }: Name.a is 0, Name.c is 6; declare an enum before its use
  operators   loosest to tightest:  c ? x : y | || or | ^^ xor | && and | == != <> < <= > >= |
              bit | | ^ | & | << >> | + - | * / div mod % | prefix - + ! not ~ ++ -- | postfix ++ --
              (= in an expression compares, as ==)
  rules       a real is true when above 0.5 (nothing else is a condition); comparisons give 1 or
              0; + joins two strings but a string and a real do not mix; /, div and mod fail on a
              zero divisor; div truncates toward zero, mod keeps the dividend's sign; bitwise
              operators work on the values truncated to 64-bit integers; == and != compare any two
              values (of different kinds: unequal; arrays: the same array); < <= > >= compare two
              reals, or two strings by bytes
  printing    a real prints without a fraction when it is integral ("3"), else with two decimals
              ("1.50", "-0.25"); "nan", "inf", "-inf"; an array as [ 1,2,"a" ]; undefined as
              "undefined". show_debug_message("x={0} y={1}", x, y) and string(...) fill the {n}
  random      random(n), irandom(n), random_range, irandom_range, choose: repeatable, the same
              numbers on every run until randomize() (seed from the clock) or random_set_seed(n)
  files       file_exists and file_delete take paths relative to the working directory;
              show_message prints to standard output (there are no dialogs)
  time        current_time (milliseconds) and get_timer() (microseconds) count from the start
  limits      statements and expressions nest at most 1000 levels; strings hold at most 16 MiB;
              a deeper recursion, a longer array or string, or a zero divisor is a script error
  refused     with, self, other, all (no instances); structs, new, delete, constructors, the .
              operator on values, [$ (no structs); method variables and function expressions;
              try/catch/throw; static; [# (ds_grid); #macro CONFIG:NAME; other # directives;
              functions declared inside functions. Each says "not supported by this runner", and so
              do calls of the game's function families (instance_, draw_, sprite_, room_, audio_,
              keyboard_, file_text_, buffer_, ds_grid_, json_ and the like).

Built-in functions (ombrix --help NAME shows each one's entry):
)";
}

std::string builtin_list() {
    std::string text;
    std::size_t column = 0;
    for (const BuiltinInfo& b : all_builtins()) {
        if (column + b.name.size() + 1 > 96) {
            text += "\n";
            column = 0;
        }
        text += column == 0 ? "  " : " ";
        text += b.name;
        column += b.name.size() + (column == 0 ? 2 : 1);
    }
    text += "\n\nConstants:\n ";
    for (const ConstantInfo& c : all_constants()) {
        text += " ";
        text += c.name;
    }
    return text + "\n";
}

namespace {

struct ExportDoc {
    std::string_view name;
    std::string_view section;
    std::string_view arguments;
    std::string_view text;
};

constexpr ExportDoc export_docs[] = {
#define OMBRIX_EXPORT_DOC(name, section, arguments, text) {name, section, arguments, text},
#include "manifest_docs.inc"
#undef OMBRIX_EXPORT_DOC
};

// Reference text wrapped to lines of at most `width` characters, each indented by two spaces.
std::string wrapped(std::string_view text, std::size_t width) {
    std::string out, line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t space = text.find(' ', at);
        if (space == std::string_view::npos) space = text.size();
        std::string_view word = text.substr(at, space - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += "  " + line + "\n";
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        at = space + 1;
    }
    if (!line.empty()) out += "  " + line + "\n";
    return out;
}

}  // namespace

std::string export_list() {
    std::string out;
    std::string_view section;
    for (const ExportDoc& doc : export_docs) {
        if (doc.section != section) {
            section = doc.section;
            out += (out.empty() ? "" : "\n") + std::string(section) + ":\n";
        }
        out += "  " + std::string(doc.name) + "(" + std::string(doc.arguments) + ")\n";
    }
    return out;
}

// The reference entry for a name, or nothing when no export, built-in or constant has it.
std::optional<std::string> reference_entry(std::string_view name) {
    for (const ExportDoc& doc : export_docs)
        if (doc.name == name)
            return std::string(doc.name) + "(" + std::string(doc.arguments) + ")    [library export; " +
                   std::string(doc.section) + "]\n" + wrapped(doc.text, 94);
    if (auto builtin = find_builtin(name)) {
        const BuiltinInfo& info = builtin_info(*builtin);
        return std::string(info.usage) + "\n  [built-in function]\n";
    }
    if (auto constant = find_constant(name))
        return std::string(name) + " = " + format_real(*constant) + "\n  [built-in constant]\n";
    return std::nullopt;
}

namespace {

std::vector<std::string_view> documented_names() {
    std::vector<std::string_view> names;
    for (const ExportDoc& doc : export_docs) names.push_back(doc.name);
    for (const BuiltinInfo& b : all_builtins()) names.push_back(b.name);
    for (const ConstantInfo& c : all_constants()) names.push_back(c.name);
    return names;
}

}  // namespace

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

// Raises a flag once the time is up, from a thread of its own; the evaluator looks at the flag
// between loop iterations and calls. No time given: no thread.
class Watchdog {
public:
    explicit Watchdog(double seconds) {
        if (seconds <= 0) return;
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return cancelled_; }))
                expired_.store(true, std::memory_order_relaxed);
        });
    }
    ~Watchdog() { cancel(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    const std::atomic<bool>* flag() const { return thread_.joinable() ? &expired_ : nullptr; }
    void cancel() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
    std::atomic<bool> expired_{false};
    std::thread thread_;
};

struct Options {
    std::string script;
    std::vector<std::string> script_arguments;
    std::string library;
    double timeout = 0;  // seconds; 0: none
    std::string timeout_text;
    bool list = false;
    std::string help_name;
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

double parse_timeout(const std::string& text) {
    double seconds = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds > 0) || seconds > 1e9)
        throw UsageError{"--timeout needs a number of seconds above 0, not '" + text + "'"};
    return seconds;
}

// Options come before the script; everything after the script is the script's own.
Options parse_options(std::span<const std::string> args) {
    Options options;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto needs = [&](std::size_t count) {
            if (i + count >= args.size())
                throw UsageError{"option " + arg + " needs " + std::to_string(count) +
                                 (count == 1 ? " value" : " values")};
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) options.help_name = args[++i];
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--library") {
            needs(1);
            options.library = args[++i];
        } else if (arg == "--timeout") {
            needs(1);
            options.timeout_text = args[++i];
            options.timeout = parse_timeout(options.timeout_text);
        } else if (arg == "--canvas") {
            needs(3);
            options.canvas = true;
            options.canvas_width = parse_side(args[i + 1], "width");
            options.canvas_height = parse_side(args[i + 2], "height");
            options.canvas_file = args[i + 3];
            i += 3;
            if (std::uint64_t{options.canvas_width} * options.canvas_height > Canvas::max_pixels)
                throw UsageError{"canvas larger than " + std::to_string(Canvas::max_pixels) + " pixels"};
        } else if (arg == "--") {
            ++i;
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::string close = closest_name(arg, {"--help", "--list", "--library", "--timeout", "--canvas"});
            throw UsageError{"unknown option " + arg + (close.empty() ? "" : " (did you mean " + close + "?)")};
        } else {
            break;
        }
    }
    if (i < args.size()) {
        options.script = args[i];
        options.script_arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    }
    if (!options.help && !options.list && options.script.empty()) throw UsageError{"no script given"};
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
    if (options.help && !options.help_name.empty()) {
        if (auto entry = reference_entry(options.help_name)) {
            std::fputs(entry->c_str(), streams.out);
            return exit_success;
        }
        std::string close = closest_name(options.help_name, documented_names());
        std::fprintf(streams.err, "ombrix: no export, built-in function or constant is called %s%s\n",
                     options.help_name.c_str(), close.empty() ? "" : (" (did you mean " + close + "?)").c_str());
        return exit_usage_error;
    }
    if (options.help) {
        std::fputs(help_text(), streams.out);
        std::fputs(builtin_list().c_str(), streams.out);
        return exit_success;
    }
    if (options.list) {
        std::fputs(export_list().c_str(), streams.out);
        return exit_success;
    }

    std::optional<std::string> source = read_file(options.script);
    if (!source) {
        std::fprintf(streams.err, "ombrix: cannot read %s: %s\n", options.script.c_str(), std::strerror(errno));
        return exit_usage_error;
    }

    int status = exit_success;
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
        RunContext context{streams.out, canvas.get(), exports.get()};
        context.parameters.push_back(options.script);
        context.parameters.insert(context.parameters.end(), options.script_arguments.begin(),
                                  options.script_arguments.end());
        Watchdog watchdog(options.timeout);
        context.stop = watchdog.flag();
        context.stop_message = "the script ran longer than --timeout " + options.timeout_text +
                               (options.timeout == 1 ? " second" : " seconds");
        status = run_program(program, resolution, context);
        watchdog.cancel();
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
    } catch (const ScriptEnd& end) {
        std::fflush(streams.out);
        return end.status;
    } catch (const std::bad_alloc&) {
        std::fflush(streams.out);
        std::fprintf(streams.err, "ombrix: out of memory\n");
        return exit_script_error;
    } catch (const std::exception& error) {
        std::fflush(streams.out);
        std::fprintf(streams.err, "ombrix: %s\n", error.what());
        return exit_script_error;
    }
    std::fflush(streams.out);
    return status;
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

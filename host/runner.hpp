// The runner's command line: options, reading the script, loading the library, running, and the
// canvas file. main() only supplies the arguments, the streams and the default library path.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ombrix::host {

// Exit statuses.
inline constexpr int exit_success = 0;
inline constexpr int exit_script_error = 1;
inline constexpr int exit_usage_error = 2;  // also: the library or the script cannot be loaded, the PNG not written

struct RunnerStreams {
    std::FILE* out;
    std::FILE* err;
};

// Runs `ombrix ARGS...` (the arguments after the program name) and returns the exit status.
int run_command_line(std::span<const std::string> args, const std::string& default_library, RunnerStreams streams);

// Runs `work` on a thread whose stack (interpreter_stack_bytes) is deep enough for the deepest
// script the parser accepts, waits for it, and passes on any exception it throws.
inline constexpr std::size_t interpreter_stack_bytes = std::size_t{64} << 20;
void run_on_interpreter_stack(const std::function<void()>& work);

// libombrix.so in the directory of the running executable (found through /proc/self/exe); when
// there is none, the installed library, OMBRIX_LIBRARY_FROM_BINDIR relative to that directory.
std::string library_beside_executable();

const char* help_text();
// The built-ins and constants, as --help lists them after help_text().
std::string builtin_list();
// Every export with its arguments, by section (--list).
std::string export_list();
// What --help NAME prints for an export, a built-in or a constant; nothing for another name.
std::optional<std::string> reference_entry(std::string_view name);

}  // namespace ombrix::host

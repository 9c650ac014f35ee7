// The built-in functions and constants of the script language, and the run-time state they share:
// the output stream, the canvas, the script's arguments, the random generator, the ds_list and
// ds_map tables and the arrays made so far.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "value.hpp"

namespace ombrix::host {

class Canvas;

// A ds_map key: a real or a string. Reals order before strings.
struct MapKey {
    bool is_string = false;
    double real = 0;
    std::string text;
    bool operator<(const MapKey& other) const {
        if (is_string != other.is_string) return !is_string;
        if (is_string) return text < other.text;
        // NaN orders after every number, so that the order stays a strict one.
        if (real != real || other.real != other.real) return real == real && other.real != other.real;
        return real < other.real;
    }
};

// Everything a run keeps besides the script's variables.
class Runtime {
public:
    Runtime() : start_(std::chrono::steady_clock::now()) {}
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    std::FILE* out = nullptr;             // show_debug_message, show_message
    Canvas* canvas = nullptr;             // draw_point_color; null: no canvas
    std::vector<std::string> parameters;  // parameter_string(0) is the script, then its arguments
    bool files_allowed = true;            // false: file_exists finds nothing, file_delete deletes nothing
    std::size_t array_limit = max_array_length;

    // A new array of n copies of `fill`; a ScriptError when n passes the array limit.
    std::shared_ptr<ArrayData> new_array(std::size_t n, const Value& fill = Value::of(0.0));
    // Grows an array to n elements (new ones 0), checking the limit.
    void grow(ArrayData& array, std::size_t n) const;
    void check_length(std::size_t n) const;

    double seconds_since_start() const;

    // The generator: xorshift64*, seeded with a 32-bit seed (0 at start, as GML's is fixed).
    void set_seed(std::uint32_t seed);
    std::uint32_t seed() const { return seed_; }
    double next_unit();  // [0, 1)

    std::map<double, std::vector<Value>> lists;      // ds_list by ID
    std::map<double, std::map<MapKey, Value>> maps;  // ds_map by ID
    // The list or map with that ID, or null (also for NaN, which no ordered lookup may see).
    std::vector<Value>* find_list(double id) {
        auto it = id == id ? lists.find(id) : lists.end();
        return it == lists.end() ? nullptr : &it->second;
    }
    std::map<MapKey, Value>* find_map(double id) {
        auto it = id == id ? maps.find(id) : maps.end();
        return it == maps.end() ? nullptr : &it->second;
    }
    double new_list_id() const { return lowest_free(lists); }
    double new_map_id() const { return lowest_free(maps); }

private:
    template <class Table>
    static double lowest_free(const Table& table) {
        double id = 0;
        for (const auto& entry : table) {
            if (entry.first != id) break;
            id += 1;
        }
        return id;
    }

    std::chrono::steady_clock::time_point start_;
    std::uint32_t seed_ = 0;
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
    // Every array made, so that arrays holding each other can be emptied at the end and freed.
    std::vector<std::weak_ptr<ArrayData>> arrays_;
    std::size_t prune_at_ = 1024;
};

// Thrown by game_end(): ends the script with that exit status.
struct ScriptEnd {
    int status;
};

using BuiltinFunction = Value (*)(std::span<const Value> args, Runtime& runtime);

struct BuiltinInfo {
    std::string_view name;
    std::uint8_t min_args;
    std::uint8_t max_args;
    BuiltinFunction function;
    std::string_view usage;  // for --help NAME: "string_copy(str, index, count): ..."
};

using Builtin = std::uint16_t;

// The built-in of that name, or nothing.
std::optional<Builtin> find_builtin(std::string_view name);
const BuiltinInfo& builtin_info(Builtin id);
std::span<const BuiltinInfo> all_builtins();

// The built-in constants (c_red, pi, ds_type_list ...): their value, or nothing.
std::optional<double> find_constant(std::string_view name);
struct ConstantInfo {
    std::string_view name;
    double value;
};
std::span<const ConstantInfo> all_constants();

// Runs a built-in on arguments whose number the resolver has checked. Throws ScriptError (without
// a position) for arguments of the wrong type or value.
Value call_builtin(Builtin id, std::span<const Value> args, Runtime& runtime);

// Fills "{0}", "{1}" ... in a format with the other arguments as string() prints them, as
// string(format, ...) and show_debug_message(format, ...) do. A placeholder without an argument
// stays as written.
std::string format_placeholders(std::span<const Value> args);

}  // namespace ombrix::host

// The built-ins. Numeric ones take reals only and string ones strings only; a value of the other
// type is a script error, as it is in GML. String positions count characters from 1, as GML does,
// and a string is UTF-8. Where GML leaves a case open, the choice made here is the one --help
// states.
#include "builtins.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "canvas.hpp"
#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

using Args = std::span<const Value>;

thread_local const BuiltinInfo* calling = nullptr;

[[noreturn]] void fail(const std::string& message) {
    throw ScriptError(std::string(calling ? calling->name : "built-in") + ": " + message);
}

[[noreturn]] void wrong_type(std::size_t index, const char* wanted, const Value& got) {
    std::string got_kind = kind_name(got.kind);
    auto article = [](std::string_view kind) { return kind[0] == 'a' || kind[0] == 'u' ? "an " : "a "; };
    throw ScriptError("argument " + std::to_string(index + 1) + " of " +
                      std::string(calling ? calling->name : "built-in") + " must be " + article(wanted) + wanted +
                      ", not " + article(got_kind) + got_kind);
}

double real_arg(Args args, std::size_t index) {
    if (!args[index].is_real()) wrong_type(index, "real", args[index]);
    return args[index].real;
}

const std::string& string_arg(Args args, std::size_t index) {
    if (!args[index].is_string()) wrong_type(index, "string", args[index]);
    return args[index].text;
}

ArrayData& array_arg(Args args, std::size_t index) {
    if (!args[index].is_array()) wrong_type(index, "array", args[index]);
    return *args[index].array;
}

// A real as a count or position: truncated toward zero and clamped to what a size_t-based loop
// can take safely (NaN counts as 0).
std::int64_t int_arg(Args args, std::size_t index) {
    double x = real_arg(args, index);
    if (std::isnan(x)) return 0;
    if (x > 9.0e15) return 9'000'000'000'000'000;
    if (x < -9.0e15) return -9'000'000'000'000'000;
    return static_cast<std::int64_t>(x);
}

Value real(double x) { return Value::of(x); }
Value truth(bool b) { return Value::of(b ? 1.0 : 0.0); }
Value text(std::string s) {
    if (s.size() > max_string_bytes) fail("string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
    return Value::of(std::move(s));
}

// ---- UTF-8 positions.

// Byte offset of the character at 0-based position `index` (size() when past the end).
std::size_t byte_offset(const std::string& s, std::int64_t index) {
    std::size_t i = 0;
    for (std::int64_t n = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (n++ == index) return i;
    }
    return s.size();
}

// Characters [first, first + count) of s, 0-based, clipped to the string.
std::string substring(const std::string& s, std::int64_t first, std::int64_t count) {
    if (count <= 0 || first < 0) return {};
    std::size_t begin = byte_offset(s, first);
    std::size_t end = byte_offset(s, first + count);
    return s.substr(begin, end - begin);
}

// 1-based character position of the byte offset.
double char_position(const std::string& s, std::size_t offset) {
    return static_cast<double>(utf8_length(std::string_view(s).substr(0, offset)) + 1);
}

std::string replace(const std::string& s, const std::string& from, const std::string& to, bool all) {
    if (from.empty()) return s;
    std::string out;
    std::size_t at = 0;
    for (;;) {
        std::size_t found = s.find(from, at);
        if (found == std::string::npos) break;
        out.append(s, at, found - at);
        out += to;
        if (out.size() > max_string_bytes)
            fail("string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
        at = found + from.size();
        if (!all) break;
    }
    out.append(s, at, std::string::npos);
    return out;
}

template <class Keep>
std::string filter(const std::string& s, Keep keep) {
    std::string out;
    for (char c : s)
        if (keep(c)) out.push_back(c);
    return out;
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// string_format(x, total, decimals): x with `decimals` digits after the point, right-aligned in
// total + decimals + 1 places (total places when there are no decimals), as printf's %*.*f does.
std::string string_format(double x, std::int64_t total, std::int64_t decimals) {
    total = std::clamp<std::int64_t>(total, 0, 300);
    decimals = std::clamp<std::int64_t>(decimals, 0, 100);
    if (!std::isfinite(x)) return format_real(x);
    int width = static_cast<int>(total + (decimals > 0 ? decimals + 1 : 0));
    char buffer[800];
    int n = std::snprintf(buffer, sizeof buffer, "%*.*f", width, static_cast<int>(decimals), x);
    if (n < 0) return "";
    return std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

// ---- Maths.

double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }
double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

double checked_real(double x) {
    if (std::isnan(x)) fail("the result is not a number");
    return x;
}

// ---- Colours: red + 256 green + 65536 blue.

std::int64_t channel_arg(Args args, std::size_t index) {
    return std::clamp<std::int64_t>(int_arg(args, index), 0, 255);
}
std::int64_t colour_arg(Args args, std::size_t index) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(truncate_to_int64(real_arg(args, index))) & 0xFFFFFF);
}
double pack(std::int64_t r, std::int64_t g, std::int64_t b) { return static_cast<double>(r | (g << 8) | (b << 16)); }

double hsv_colour(double h, double s, double v) {
    if (std::isnan(h)) h = 0;
    if (std::isnan(s)) s = 0;
    if (std::isnan(v)) v = 0;
    h = std::clamp(h, 0.0, 255.0) / 255.0 * 360.0;
    s = std::clamp(s, 0.0, 255.0) / 255.0;
    v = std::clamp(v, 0.0, 255.0) / 255.0;
    double c = v * s, hp = std::fmod(h / 60.0, 6.0), x = c * (1 - std::fabs(std::fmod(hp, 2.0) - 1)), m = v - c;
    double r = 0, g = 0, b = 0;
    if (hp < 1)
        r = c, g = x;
    else if (hp < 2)
        r = x, g = c;
    else if (hp < 3)
        g = c, b = x;
    else if (hp < 4)
        g = x, b = c;
    else if (hp < 5)
        r = x, b = c;
    else
        r = c, b = x;
    auto byte = [](double f) { return static_cast<std::int64_t>(std::lround(std::clamp(f, 0.0, 1.0) * 255.0)); };
    return pack(byte(r + m), byte(g + m), byte(b + m));
}

// ---- Containers.

// The container the runtime found for an ID argument; a script error when there is none.
template <class Container>
Container& found_container(Container* container, double id, const char* kind) {
    if (!container) fail(std::string("no ") + kind + " with ID " + format_real(id));
    return *container;
}

std::vector<Value>& list_arg(Args args, std::size_t index, Runtime& runtime) {
    double id = real_arg(args, index);
    return found_container(runtime.find_list(id), id, "ds_list");
}

std::map<MapKey, Value>& map_arg(Args args, std::size_t index, Runtime& runtime) {
    double id = real_arg(args, index);
    return found_container(runtime.find_map(id), id, "ds_map");
}

// ds_list_create and ds_map_create: a new, empty container under `id`.
template <class Container>
Value create_container(std::map<double, Container>& table, double id) {
    table[id];
    return Value::of(id);
}

// ds_list_destroy and ds_map_destroy, once the ID is known to name a container.
template <class Container>
Value destroy_container(std::map<double, Container>& table, double id) {
    table.erase(id);
    return Value::of(0.0);
}

template <class Container>
Value clear_container(Container& container) {
    container.clear();
    return Value::of(0.0);
}

MapKey key_arg(Args args, std::size_t index) {
    const Value& v = args[index];
    if (v.is_real()) return {false, v.real, {}};
    if (v.is_string()) return {true, 0, v.text};
    fail("a ds_map key must be a real or a string, not a " + std::string(kind_name(v.kind)));
}

Value key_value(const MapKey& key) { return key.is_string ? Value::of(key.text) : Value::of(key.real); }

// A position inside [0, size] (or [0, size) when `inside`); anything else is a script error.
std::size_t position_arg(Args args, std::size_t index, std::size_t size, bool inside) {
    std::int64_t i = int_arg(args, index);
    if (i < 0 || static_cast<std::uint64_t>(i) > size - (inside && size > 0 ? 1 : 0) || (inside && size == 0))
        fail("index " + std::to_string(i) + " out of range for " + std::to_string(size) +
             (size == 1 ? " element" : " elements"));
    return static_cast<std::size_t>(i);
}

// A strict order for sorting: reals (NaN last among them), then strings, then the other kinds.
bool value_less(const Value& a, const Value& b) {
    if (a.is_real() && b.is_real()) {
        if (std::isnan(a.real) || std::isnan(b.real)) return !std::isnan(a.real) && std::isnan(b.real);
        return a.real < b.real;
    }
    if (a.is_string() && b.is_string()) return a.text < b.text;
    if (a.kind != b.kind) return a.kind < b.kind;
    return false;
}

// array_sort and ds_list_sort: a stable sort, ascending when the real argument is above 0.5.
Value sort_values(std::vector<Value>& items, Args args) {
    bool ascending = real_arg(args, 1) > 0.5;
    std::stable_sort(items.begin(), items.end(),
                     [&](const Value& x, const Value& y) { return ascending ? value_less(x, y) : value_less(y, x); });
    return Value::of(0.0);
}

void print_line(Runtime& runtime, std::string line) {
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), runtime.out);
}

// The bodies that more than one built-in runs: the alternative spellings (colour and color,
// randomize and randomise), and the pairs that differ only in what they read or print.
#define ARGS [[maybe_unused]] Args a, [[maybe_unused]] Runtime &rt

// string_ext and show_debug_message_ext: the format with the values taken from the array.
std::string format_with_array(Args a) {
    std::vector<Value> values{a[0]};
    const ArrayData& items = array_arg(a, 1);
    values.insert(values.end(), items.items.begin(), items.items.end());
    return format_placeholders(values);
}

// A logarithm's argument: a script error when it is not above 0.
double log_arg(Args args, std::size_t index) {
    double x = real_arg(args, index);
    if (x <= 0) fail("the logarithm of a number not above 0");
    return x;
}

// min and max: the arguments folded from the first.
Value fold_reals(Args a, double (*pick)(double, double)) {
    double best = real_arg(a, 0);
    for (std::size_t i = 1; i < a.size(); ++i) best = pick(best, real_arg(a, i));
    return real(best);
}

Value seed_from_clock(ARGS) {
    auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    rt.set_seed(static_cast<std::uint32_t>(now ^ (now >> 32) ^ static_cast<std::uint64_t>(getpid())));
    return real(rt.seed());
}

// string_pos and string_last_pos: the position (from 1) of the first or last substr, 0 for none.
Value position_of(Args a, bool last) {
    const std::string &what = string_arg(a, 0), &s = string_arg(a, 1);
    std::size_t at = what.empty() ? std::string::npos : last ? s.rfind(what) : s.find(what);
    return real(at == std::string::npos ? 0 : char_position(s, at));
}

// string_upper and string_lower: the ASCII letters from `first` to `first` + 25 moved by `shift`.
Value shift_letters(Args a, char first, int shift) {
    std::string s = string_arg(a, 0);
    for (char& c : s)
        if (c >= first && c <= first + 25) c = static_cast<char>(c + shift);
    return Value::of(std::move(s));
}

Value make_colour_rgb(ARGS) { return real(pack(channel_arg(a, 0), channel_arg(a, 1), channel_arg(a, 2))); }
Value make_colour_hsv(ARGS) { return real(hsv_colour(real_arg(a, 0), real_arg(a, 1), real_arg(a, 2))); }
Value colour_get_red(ARGS) { return real(static_cast<double>(colour_arg(a, 0) & 255)); }
Value colour_get_green(ARGS) { return real(static_cast<double>((colour_arg(a, 0) >> 8) & 255)); }
Value colour_get_blue(ARGS) { return real(static_cast<double>((colour_arg(a, 0) >> 16) & 255)); }

Value merge_colour(ARGS) {
    std::int64_t x = colour_arg(a, 0), y = colour_arg(a, 1);
    double t = std::isnan(real_arg(a, 2)) ? 0.0 : std::clamp(real_arg(a, 2), 0.0, 1.0);
    auto mix = [&](int shift) {
        double p = static_cast<double>((x >> shift) & 255), q = static_cast<double>((y >> shift) & 255);
        return static_cast<std::int64_t>(std::lround(p + (q - p) * t));
    };
    return real(pack(mix(0), mix(8), mix(16)));
}

Value array_length(ARGS) { return real(static_cast<double>(array_arg(a, 0).items.size())); }

Value map_set(ARGS) {
    map_arg(a, 0, rt)[key_arg(a, 1)] = a[2];
    return real(0);
}

// The table. Each entry: name, fewest and most arguments, the function, and its usage line.
constexpr BuiltinInfo builtins[] = {
    // Printing and conversions.
    {"show_debug_message", 1, 16,
     [](ARGS) {
         print_line(rt, a.size() > 1 ? format_placeholders(a) : to_text(a[0]));
         return real(0);
     },
     "show_debug_message(value, [values...]): prints a line on standard output; with more arguments the first is a "
     "format whose {0}, {1} ... take the others"},
    {"show_message", 1, 1,
     [](ARGS) {
         print_line(rt, to_text(a[0]));
         return real(0);
     },
     "show_message(value): prints the value as a line on standard output (the runner has no dialogs)"},
    {"string", 1, 16, [](ARGS) { return text(a.size() > 1 ? format_placeholders(a) : to_text(a[0])); },
     "string(value, [values...]): the value as text (reals integral as \"3\", else two decimals); with more "
     "arguments a format as show_debug_message's"},
    {"string_ext", 2, 2, [](ARGS) { return text(format_with_array(a)); },
     "string_ext(format, array): as string(format, ...) with the values taken from the array"},
    {"show_debug_message_ext", 2, 2,
     [](ARGS) {
         print_line(rt, format_with_array(a));
         return real(0);
     },
     "show_debug_message_ext(format, array): as show_debug_message(format, ...) with the values taken from the "
     "array"},
    {"real", 1, 1,
     [](ARGS) {
         if (a[0].is_real()) return a[0];
         double x = 0;
         if (!a[0].is_string() || !parse_real(a[0].text, x))
             throw ScriptError("real: \"" + to_text(a[0]) + "\" is not a number");
         return real(x);
     },
     "real(s): the number a string spells (blanks around it allowed); a script error when it spells none"},
    {"is_string", 1, 1, [](ARGS) { return truth(a[0].is_string()); }, "is_string(x)"},
    {"is_real", 1, 1, [](ARGS) { return truth(a[0].is_real()); }, "is_real(x)"},
    {"is_numeric", 1, 1, [](ARGS) { return truth(a[0].is_real()); }, "is_numeric(x)"},
    {"is_array", 1, 1, [](ARGS) { return truth(a[0].is_array()); }, "is_array(x)"},
    {"is_undefined", 1, 1, [](ARGS) { return truth(a[0].kind == ValueKind::undefined); }, "is_undefined(x)"},
    {"typeof", 1, 1,
     [](ARGS) {
         return Value::of(std::string(a[0].is_real()     ? "number"
                                      : a[0].is_string() ? "string"
                                      : a[0].is_array()  ? "array"
                                                         : "undefined"));
     },
     "typeof(x): \"number\", \"string\", \"array\" or \"undefined\""},

    // Maths.
    {"floor", 1, 1, [](ARGS) { return real(std::floor(real_arg(a, 0))); }, "floor(x)"},
    {"ceil", 1, 1, [](ARGS) { return real(std::ceil(real_arg(a, 0))); }, "ceil(x)"},
    {"round", 1, 1, [](ARGS) { return real(std::nearbyint(real_arg(a, 0))); },
     "round(x): the nearest whole number, halves to the even neighbour (round(0.5) = 0, round(1.5) = 2)"},
    {"abs", 1, 1, [](ARGS) { return real(std::fabs(real_arg(a, 0))); }, "abs(x)"},
    {"sign", 1, 1,
     [](ARGS) {
         double x = real_arg(a, 0);
         return real(x > 0 ? 1 : x < 0 ? -1 : 0);
     },
     "sign(x): 1, -1 or 0"},
    {"frac", 1, 1,
     [](ARGS) {
         double x = real_arg(a, 0);
         return real(x - std::trunc(x));
     },
     "frac(x): the part after the point, with x's sign (frac(-2.25) = -0.25)"},
    {"sqrt", 1, 1,
     [](ARGS) {
         double x = real_arg(a, 0);
         if (x < 0) fail("the square root of a negative number");
         return real(std::sqrt(x));
     },
     "sqrt(x): a script error for x below 0"},
    {"sqr", 1, 1,
     [](ARGS) {
         double x = real_arg(a, 0);
         return real(x * x);
     },
     "sqr(x): x * x"},
    {"power", 2, 2, [](ARGS) { return real(checked_real(std::pow(real_arg(a, 0), real_arg(a, 1)))); },
     "power(x, n): x to the power n; a script error where that is not a real (power(-8, 1/3))"},
    {"exp", 1, 1, [](ARGS) { return real(std::exp(real_arg(a, 0))); }, "exp(x)"},
    {"ln", 1, 1, [](ARGS) { return real(std::log(log_arg(a, 0))); },
     "ln(x): natural logarithm; a script error for x not above 0 (as for log2, log10, logn)"},
    {"log2", 1, 1, [](ARGS) { return real(std::log2(log_arg(a, 0))); },
     "log2(x)"},
    {"log10", 1, 1, [](ARGS) { return real(std::log10(log_arg(a, 0))); },
     "log10(x)"},
    {"logn", 2, 2,
     [](ARGS) {
         double n = real_arg(a, 0), x = real_arg(a, 1);
         if (x <= 0 || n <= 0 || n == 1) fail("the logarithm of a number not above 0, or to a base not above 0 or 1");
         return real(std::log(x) / std::log(n));
     },
     "logn(n, x): the logarithm of x to base n"},
    {"sin", 1, 1, [](ARGS) { return real(std::sin(real_arg(a, 0))); }, "sin(radians)"},
    {"cos", 1, 1, [](ARGS) { return real(std::cos(real_arg(a, 0))); }, "cos(radians)"},
    {"tan", 1, 1, [](ARGS) { return real(std::tan(real_arg(a, 0))); }, "tan(radians)"},
    {"arcsin", 1, 1, [](ARGS) { return real(checked_real(std::asin(real_arg(a, 0)))); },
     "arcsin(x): radians; a script error outside -1..1 (as arccos)"},
    {"arccos", 1, 1, [](ARGS) { return real(checked_real(std::acos(real_arg(a, 0)))); }, "arccos(x)"},
    {"arctan", 1, 1, [](ARGS) { return real(std::atan(real_arg(a, 0))); }, "arctan(x)"},
    {"arctan2", 2, 2, [](ARGS) { return real(std::atan2(real_arg(a, 0), real_arg(a, 1))); },
     "arctan2(y, x): radians"},
    {"dsin", 1, 1, [](ARGS) { return real(std::sin(radians(real_arg(a, 0)))); }, "dsin(degrees)"},
    {"dcos", 1, 1, [](ARGS) { return real(std::cos(radians(real_arg(a, 0)))); }, "dcos(degrees)"},
    {"dtan", 1, 1, [](ARGS) { return real(std::tan(radians(real_arg(a, 0)))); }, "dtan(degrees)"},
    {"degtorad", 1, 1, [](ARGS) { return real(radians(real_arg(a, 0))); }, "degtorad(degrees)"},
    {"radtodeg", 1, 1, [](ARGS) { return real(degrees(real_arg(a, 0))); }, "radtodeg(radians)"},
    {"min", 1, 16, [](ARGS) { return fold_reals(a, [](double x, double y) { return std::min(x, y); }); },
     "min(x, ...)"},
    {"max", 1, 16, [](ARGS) { return fold_reals(a, [](double x, double y) { return std::max(x, y); }); },
     "max(x, ...)"},
    {"mean", 1, 16,
     [](ARGS) {
         double sum = 0;
         for (std::size_t i = 0; i < a.size(); ++i) sum += real_arg(a, i);
         return real(sum / static_cast<double>(a.size()));
     },
     "mean(x, ...)"},
    {"median", 1, 16,
     [](ARGS) {
         std::vector<double> v;
         for (std::size_t i = 0; i < a.size(); ++i) v.push_back(real_arg(a, i));
         std::sort(v.begin(), v.end());
         return real(v[v.size() / 2]);
     },
     "median(x, ...): the middle value; of an even count the upper of the two middle ones"},
    {"clamp", 3, 3, [](ARGS) { return real(std::max(real_arg(a, 1), std::min(real_arg(a, 2), real_arg(a, 0)))); },
     "clamp(x, low, high)"},
    {"lerp", 3, 3,
     [](ARGS) {
         double x = real_arg(a, 0), y = real_arg(a, 1), t = real_arg(a, 2);
         return real(x + (y - x) * t);
     },
     "lerp(a, b, t): a + (b - a) * t"},
    {"point_distance", 4, 4,
     [](ARGS) { return real(std::hypot(real_arg(a, 2) - real_arg(a, 0), real_arg(a, 3) - real_arg(a, 1))); },
     "point_distance(x1, y1, x2, y2)"},
    {"point_direction", 4, 4,
     [](ARGS) {
         double d = degrees(std::atan2(real_arg(a, 1) - real_arg(a, 3), real_arg(a, 2) - real_arg(a, 0)));
         return real(d < 0 ? d + 360 : d);
     },
     "point_direction(x1, y1, x2, y2): degrees 0..360, counter-clockwise with y pointing down"},
    {"lengthdir_x", 2, 2, [](ARGS) { return real(real_arg(a, 0) * std::cos(radians(real_arg(a, 1)))); },
     "lengthdir_x(length, direction)"},
    {"lengthdir_y", 2, 2, [](ARGS) { return real(-real_arg(a, 0) * std::sin(radians(real_arg(a, 1)))); },
     "lengthdir_y(length, direction): y points down"},

    // Random numbers.
    {"random", 1, 1, [](ARGS) { return real(rt.next_unit() * real_arg(a, 0)); },
     "random(n): a real from 0 up to n (n itself excluded)"},
    {"irandom", 1, 1,
     [](ARGS) {
         double n = std::floor(real_arg(a, 0));
         if (!std::isfinite(n)) fail("the limit must be finite");
         return real(n >= 0 ? std::floor(rt.next_unit() * (n + 1)) : -std::floor(rt.next_unit() * (-n + 1)));
     },
     "irandom(n): a whole number from 0 to floor(n), both included"},
    {"random_range", 2, 2,
     [](ARGS) {
         double x = real_arg(a, 0), y = real_arg(a, 1);
         return real(x + rt.next_unit() * (y - x));
     },
     "random_range(a, b): a real from a up to b"},
    {"irandom_range", 2, 2,
     [](ARGS) {
         double x = std::ceil(std::min(real_arg(a, 0), real_arg(a, 1)));
         double y = std::floor(std::max(real_arg(a, 0), real_arg(a, 1)));
         if (!std::isfinite(x) || !std::isfinite(y)) fail("the limits must be finite");
         if (y < x) return real(x);
         return real(x + std::floor(rt.next_unit() * (y - x + 1)));
     },
     "irandom_range(a, b): a whole number from a to b, both included"},
    {"choose", 1, 16, [](ARGS) { return a[static_cast<std::size_t>(rt.next_unit() * static_cast<double>(a.size()))]; },
     "choose(x, ...): one of its arguments"},
    {"random_set_seed", 1, 1,
     [](ARGS) {
         rt.set_seed(static_cast<std::uint32_t>(static_cast<std::uint64_t>(truncate_to_int64(real_arg(a, 0)))));
         return real(0);
     },
     "random_set_seed(n): the same seed gives the same numbers on every run and machine"},
    {"random_get_seed", 0, 0, [](ARGS) { return real(rt.seed()); }, "random_get_seed()"},
    {"randomize", 0, 0, seed_from_clock,
     "randomize(): seeds from the clock; returns the seed. Without it every run draws the same numbers"},
    {"randomise", 0, 0, seed_from_clock,
     "randomise(): as randomize()"},

    // Strings.
    {"string_length", 1, 1, [](ARGS) { return real(static_cast<double>(utf8_length(string_arg(a, 0)))); },
     "string_length(s): characters"},
    {"chr", 1, 1, [](ARGS) { return Value::of(utf8_character(truncate_to_int64(real_arg(a, 0)))); }, "chr(code)"},
    {"ord", 1, 1, [](ARGS) { return real(static_cast<double>(utf8_first_code(string_arg(a, 0)))); },
     "ord(s): the code of the first character"},
    {"string_copy", 3, 3,
     [](ARGS) {
         const std::string& s = string_arg(a, 0);
         std::int64_t index = std::max<std::int64_t>(int_arg(a, 1), 1), count = int_arg(a, 2);
         return Value::of(substring(s, index - 1, count));
     },
     "string_copy(s, index, count): count characters from position index (1 is the first; below 1 counts as 1)"},
    {"string_char_at", 2, 2, [](ARGS) { return Value::of(utf8_character_at(string_arg(a, 0), int_arg(a, 1))); },
     "string_char_at(s, index): the character at position index (from 1); \"\" outside the string"},
    {"string_pos", 2, 2, [](ARGS) { return position_of(a, false); },
     "string_pos(substr, s): the position (from 1) of the first substr in s, 0 when there is none"},
    {"string_last_pos", 2, 2, [](ARGS) { return position_of(a, true); },
     "string_last_pos(substr, s): the position of the last substr in s, 0 when there is none"},
    {"string_upper", 1, 1, [](ARGS) { return shift_letters(a, 'a', -32); },
     "string_upper(s): a-z to A-Z; other characters stay"},
    {"string_lower", 1, 1, [](ARGS) { return shift_letters(a, 'A', 32); },
     "string_lower(s): A-Z to a-z; other characters stay"},
    {"string_replace", 3, 3,
     [](ARGS) { return text(replace(string_arg(a, 0), string_arg(a, 1), string_arg(a, 2), false)); },
     "string_replace(s, substr, new): s with its first substr replaced"},
    {"string_replace_all", 3, 3,
     [](ARGS) { return text(replace(string_arg(a, 0), string_arg(a, 1), string_arg(a, 2), true)); },
     "string_replace_all(s, substr, new): s with every substr replaced, left to right without overlaps"},
    {"string_count", 2, 2,
     [](ARGS) {
         const std::string &what = string_arg(a, 0), &s = string_arg(a, 1);
         double n = 0;
         if (!what.empty())
             for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
         return real(n);
     },
     "string_count(substr, s): how often substr occurs in s, without overlaps; 0 for an empty substr"},
    {"string_repeat", 2, 2,
     [](ARGS) {
         const std::string& s = string_arg(a, 0);
         std::int64_t n = int_arg(a, 1);
         if (n <= 0 || s.empty()) return Value::of(std::string());
         if (static_cast<std::uint64_t>(n) > max_string_bytes / s.size())
             fail("string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
         std::string out;
         out.reserve(s.size() * static_cast<std::size_t>(n));
         for (std::int64_t i = 0; i < n; ++i) out += s;
         return Value::of(std::move(out));
     },
     "string_repeat(s, count)"},
    {"string_format", 3, 3,
     [](ARGS) { return Value::of(string_format(real_arg(a, 0), int_arg(a, 1), int_arg(a, 2))); },
     "string_format(x, total, decimals): x with that many decimals, padded with spaces on the left to total "
     "places before the point"},
    {"string_digits", 1, 1, [](ARGS) { return Value::of(filter(string_arg(a, 0), is_ascii_digit)); },
     "string_digits(s): only the characters 0-9"},
    {"string_letters", 1, 1, [](ARGS) { return Value::of(filter(string_arg(a, 0), is_ascii_letter)); },
     "string_letters(s): only the letters a-z and A-Z"},
    {"string_lettersdigits", 1, 1,
     [](ARGS) {
         return Value::of(filter(string_arg(a, 0), [](char c) { return is_ascii_letter(c) || is_ascii_digit(c); }));
     },
     "string_lettersdigits(s)"},
    {"string_delete", 3, 3,
     [](ARGS) {
         const std::string& s = string_arg(a, 0);
         std::int64_t index = int_arg(a, 1), count = int_arg(a, 2);
         if (index < 1 || count <= 0) return Value::of(s);
         std::size_t begin = byte_offset(s, index - 1), end = byte_offset(s, index - 1 + count);
         return Value::of(s.substr(0, begin) + s.substr(end));
     },
     "string_delete(s, index, count)"},
    {"string_insert", 3, 3,
     [](ARGS) {
         const std::string &what = string_arg(a, 0), &s = string_arg(a, 1);
         std::int64_t index = std::max<std::int64_t>(int_arg(a, 2), 1);
         std::size_t at = byte_offset(s, index - 1);
         return text(s.substr(0, at) + what + s.substr(at));
     },
     "string_insert(substr, s, index): substr inserted before position index (past the end: appended)"},
    {"string_trim", 1, 1,
     [](ARGS) {
         const std::string& s = string_arg(a, 0);
         std::size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
         return Value::of(b == std::string::npos ? std::string() : s.substr(b, e - b + 1));
     },
     "string_trim(s): without blanks at either end"},
    {"string_split", 2, 2,
     [](ARGS) {
         const std::string &s = string_arg(a, 0), &delimiter = string_arg(a, 1);
         auto array = rt.new_array(0);
         if (delimiter.empty()) {
             array->items.push_back(Value::of(s));
             return Value::of(array);
         }
         std::size_t at = 0;
         for (;;) {
             std::size_t found = s.find(delimiter, at);
             rt.check_length(array->items.size() + 1);
             array->items.push_back(Value::of(s.substr(at, found == std::string::npos ? std::string::npos : found - at)));
             if (found == std::string::npos) break;
             at = found + delimiter.size();
         }
         return Value::of(array);
     },
     "string_split(s, delimiter): an array of the parts between delimiters"},

    // Colours.
    {"make_colour_rgb", 3, 3, make_colour_rgb,
     "make_colour_rgb(red, green, blue): red + 256 green + 65536 blue, each truncated and clamped to 0..255"},
    {"make_color_rgb", 3, 3, make_colour_rgb,
     "make_color_rgb(red, green, blue): as make_colour_rgb"},
    {"make_colour_hsv", 3, 3, make_colour_hsv,
     "make_colour_hsv(hue, saturation, value): each 0..255 (clamped); the hue 255 is a full turn"},
    {"make_color_hsv", 3, 3, make_colour_hsv,
     "make_color_hsv(hue, saturation, value): as make_colour_hsv"},
    {"colour_get_red", 1, 1, colour_get_red,
     "colour_get_red(colour): the low byte of the colour truncated toward zero"},
    {"colour_get_green", 1, 1, colour_get_green,
     "colour_get_green(colour)"},
    {"colour_get_blue", 1, 1, colour_get_blue,
     "colour_get_blue(colour)"},
    {"color_get_red", 1, 1, colour_get_red,
     "color_get_red(colour)"},
    {"color_get_green", 1, 1, colour_get_green,
     "color_get_green(colour)"},
    {"color_get_blue", 1, 1, colour_get_blue,
     "color_get_blue(colour)"},
    {"merge_colour", 3, 3, merge_colour,
     "merge_colour(colour1, colour2, amount): each channel colour1 + (colour2 - colour1) * amount, amount clamped "
     "to 0..1, rounded to the nearest byte"},
    {"merge_color", 3, 3, merge_colour,
     "merge_color(colour1, colour2, amount): as merge_colour"},
    {"draw_point_color", 3, 3,
     [](ARGS) {
         if (!rt.canvas) throw ScriptError("draw_point_color: no canvas (run with --canvas WIDTH HEIGHT FILE)");
         rt.canvas->draw_point(real_arg(a, 0), real_arg(a, 1), real_arg(a, 2));
         return real(0);
     },
     "draw_point_color(x, y, colour): with --canvas, paints a pixel (x right, y down from the top-left corner); "
     "points outside are ignored"},

    // Files, time, the command line.
    {"file_exists", 1, 1,
     [](ARGS) {
         struct stat info {};
         return truth(rt.files_allowed && ::stat(string_arg(a, 0).c_str(), &info) == 0 && S_ISREG(info.st_mode));
     },
     "file_exists(path): 1 when path names a regular file (a directory is not one), else 0"},
    {"file_delete", 1, 1,
     [](ARGS) {
         const std::string& path = string_arg(a, 0);
         struct stat info {};
         if (!rt.files_allowed || ::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return truth(false);
         return truth(::unlink(path.c_str()) == 0);
     },
     "file_delete(path): deletes a file (never a directory); 1 when it did, else 0"},
    {"get_timer", 0, 0, [](ARGS) { return real(std::floor(rt.seconds_since_start() * 1e6)); },
     "get_timer(): microseconds since the script started"},
    {"parameter_count", 0, 0, [](ARGS) { return real(static_cast<double>(rt.parameters.size()) - 1); },
     "parameter_count(): how many arguments follow the script on the command line"},
    {"parameter_string", 1, 1,
     [](ARGS) {
         std::int64_t n = int_arg(a, 0);
         if (n < 0 || static_cast<std::uint64_t>(n) >= rt.parameters.size()) return Value::of(std::string());
         return Value::of(rt.parameters[static_cast<std::size_t>(n)]);
     },
     "parameter_string(n): the script's path for 0, its nth argument for 1 to parameter_count(), else \"\""},
    {"game_end", 0, 1,
     [](ARGS) -> Value {
         int status = a.empty() ? 0 : static_cast<int>(std::clamp<std::int64_t>(int_arg(a, 0), 0, 255));
         throw ScriptEnd{status};
     },
     "game_end([status]): ends the script at once with that exit status (0 to 255; 0 when left out)"},

    // Arrays.
    {"array_create", 1, 2,
     [](ARGS) {
         std::int64_t n = int_arg(a, 0);
         if (n < 0) fail("a negative size");
         rt.check_length(static_cast<std::size_t>(n));
         return Value::of(rt.new_array(static_cast<std::size_t>(n), a.size() > 1 ? a[1] : Value::of(0.0)));
     },
     "array_create(size, [value]): a new array of size elements, each value (0 when left out)"},
    {"array_length", 1, 1, array_length,
     "array_length(array)"},
    {"array_length_1d", 1, 1, array_length,
     "array_length_1d(array): as array_length"},
    {"array_height_2d", 1, 1, array_length,
     "array_height_2d(array): as array_length"},
    {"array_length_2d", 2, 2,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         std::int64_t i = int_arg(a, 1);
         if (i < 0 || static_cast<std::uint64_t>(i) >= array.items.size()) return real(0);
         const Value& row = array.items[static_cast<std::size_t>(i)];
         return real(row.is_array() ? static_cast<double>(row.array->items.size()) : 0);
     },
     "array_length_2d(array, n): the length of the array in element n (0 when that is none)"},
    {"array_push", 2, 16,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         rt.check_length(array.items.size() + a.size() - 1);
         for (std::size_t i = 1; i < a.size(); ++i) array.items.push_back(a[i]);
         return real(0);
     },
     "array_push(array, value, ...): appends the values"},
    {"array_pop", 1, 1,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         if (array.items.empty()) return Value::undefined();
         Value last = std::move(array.items.back());
         array.items.pop_back();
         return last;
     },
     "array_pop(array): removes and returns the last element; undefined when empty"},
    {"array_insert", 3, 16,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         std::size_t at = position_arg(a, 1, array.items.size(), false);
         rt.check_length(array.items.size() + a.size() - 2);
         array.items.insert(array.items.begin() + static_cast<std::ptrdiff_t>(at), a.begin() + 2, a.end());
         return real(0);
     },
     "array_insert(array, index, value, ...): inserts the values before index (0 to the length)"},
    {"array_delete", 3, 3,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         std::size_t at = position_arg(a, 1, array.items.size(), true);
         std::int64_t n = std::clamp<std::int64_t>(int_arg(a, 2), 0, static_cast<std::int64_t>(array.items.size() - at));
         array.items.erase(array.items.begin() + static_cast<std::ptrdiff_t>(at),
                           array.items.begin() + static_cast<std::ptrdiff_t>(at) + n);
         return real(0);
     },
     "array_delete(array, index, count): removes count elements from index (fewer at the end)"},
    {"array_resize", 2, 2,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         std::int64_t n = int_arg(a, 1);
         if (n < 0) fail("a negative size");
         rt.check_length(static_cast<std::size_t>(n));
         array.items.resize(static_cast<std::size_t>(n), Value::of(0.0));
         return real(0);
     },
     "array_resize(array, size): new elements are 0"},
    {"array_get", 2, 2,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         return array.items[position_arg(a, 1, array.items.size(), true)];
     },
     "array_get(array, index)"},
    {"array_set", 3, 3,
     [](ARGS) {
         ArrayData& array = array_arg(a, 0);
         std::int64_t i = int_arg(a, 1);
         if (i < 0) fail("a negative index");
         rt.grow(array, static_cast<std::size_t>(i) + 1);
         array.items[static_cast<std::size_t>(i)] = a[2];
         return real(0);
     },
     "array_set(array, index, value): grows the array as a[index] = value does"},
    {"array_contains", 2, 2,
     [](ARGS) {
         for (const Value& v : array_arg(a, 0).items)
             if (same_value(v, a[1])) return truth(true);
         return truth(false);
     },
     "array_contains(array, value)"},
    {"array_sort", 2, 2, [](ARGS) { return sort_values(array_arg(a, 0).items, a); },
     "array_sort(array, ascending): sorts in place; reals before strings, strings by bytes"},
    {"array_copy", 5, 5,
     [](ARGS) {
         ArrayData& dest = array_arg(a, 0);
         std::int64_t at = int_arg(a, 1), from = int_arg(a, 3), n = int_arg(a, 4);
         const std::vector<Value> source = array_arg(a, 2).items;  // a copy: source and dest may be one array
         if (at < 0 || from < 0) fail("a negative index");
         if (n <= 0 || static_cast<std::uint64_t>(from) >= source.size()) return real(0);
         n = std::min<std::int64_t>(n, static_cast<std::int64_t>(source.size()) - from);
         rt.grow(dest, static_cast<std::size_t>(at + n));
         for (std::int64_t i = 0; i < n; ++i)
             dest.items[static_cast<std::size_t>(at + i)] = source[static_cast<std::size_t>(from + i)];
         return real(0);
     },
     "array_copy(dest, dest_index, source, source_index, count)"},

    // ds_list.
    {"ds_list_create", 0, 0, [](ARGS) { return create_container(rt.lists, rt.new_list_id()); },
     "ds_list_create(): a new list's ID (the lowest free one, from 0)"},
    {"ds_list_destroy", 1, 1, [](ARGS) {
         list_arg(a, 0, rt);
         return destroy_container(rt.lists, a[0].real);
     },
     "ds_list_destroy(list)"},
    {"ds_list_add", 2, 16,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         rt.check_length(list.size() + a.size() - 1);
         list.insert(list.end(), a.begin() + 1, a.end());
         return real(0);
     },
     "ds_list_add(list, value, ...)"},
    {"ds_list_size", 1, 1, [](ARGS) { return real(static_cast<double>(list_arg(a, 0, rt).size())); },
     "ds_list_size(list)"},
    {"ds_list_empty", 1, 1, [](ARGS) { return truth(list_arg(a, 0, rt).empty()); }, "ds_list_empty(list)"},
    {"ds_list_clear", 1, 1, [](ARGS) { return clear_container(list_arg(a, 0, rt)); },
     "ds_list_clear(list)"},
    {"ds_list_find_value", 2, 2,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         std::int64_t i = int_arg(a, 1);
         if (i < 0 || static_cast<std::uint64_t>(i) >= list.size()) return Value::undefined();
         return list[static_cast<std::size_t>(i)];
     },
     "ds_list_find_value(list, index): undefined outside the list (as list[| index])"},
    {"ds_list_find_index", 2, 2,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         for (std::size_t i = 0; i < list.size(); ++i)
             if (same_value(list[i], a[1])) return real(static_cast<double>(i));
         return real(-1);
     },
     "ds_list_find_index(list, value): the first index holding value, -1 when none does"},
    {"ds_list_set", 3, 3,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         std::int64_t i = int_arg(a, 1);
         if (i < 0) fail("a negative index");
         rt.check_length(static_cast<std::size_t>(i) + 1);
         if (static_cast<std::size_t>(i) >= list.size()) list.resize(static_cast<std::size_t>(i) + 1, Value::of(0.0));
         list[static_cast<std::size_t>(i)] = a[2];
         return real(0);
     },
     "ds_list_set(list, index, value): past the end the list grows, new entries 0 (as list[| index] = value)"},
    {"ds_list_insert", 3, 3,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         std::size_t at = position_arg(a, 1, list.size(), false);
         rt.check_length(list.size() + 1);
         list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), a[2]);
         return real(0);
     },
     "ds_list_insert(list, index, value)"},
    {"ds_list_delete", 2, 2,
     [](ARGS) {
         auto& list = list_arg(a, 0, rt);
         std::int64_t i = int_arg(a, 1);
         if (i >= 0 && static_cast<std::uint64_t>(i) < list.size())
             list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
         return real(0);
     },
     "ds_list_delete(list, index): nothing happens outside the list"},
    {"ds_list_sort", 2, 2, [](ARGS) { return sort_values(list_arg(a, 0, rt), a); },
     "ds_list_sort(list, ascending): reals before strings, strings by bytes"},
    {"ds_exists", 2, 2,
     [](ARGS) {
         double id = real_arg(a, 0), type = real_arg(a, 1);
         if (type == 1) return truth(rt.find_map(id) != nullptr);
         if (type == 2) return truth(rt.find_list(id) != nullptr);
         return truth(false);
     },
     "ds_exists(id, type): type ds_type_map or ds_type_list"},

    // ds_map.
    {"ds_map_create", 0, 0, [](ARGS) { return create_container(rt.maps, rt.new_map_id()); },
     "ds_map_create(): a new map's ID (the lowest free one, from 0)"},
    {"ds_map_destroy", 1, 1, [](ARGS) {
         map_arg(a, 0, rt);
         return destroy_container(rt.maps, a[0].real);
     },
     "ds_map_destroy(map)"},
    {"ds_map_add", 3, 3,
     [](ARGS) { return truth(map_arg(a, 0, rt).emplace(key_arg(a, 1), a[2]).second); },
     "ds_map_add(map, key, value): adds the key unless it is there; 1 when it added it"},
    {"ds_map_set", 3, 3, map_set,
     "ds_map_set(map, key, value): adds or replaces (as map[? key] = value)"},
    {"ds_map_replace", 3, 3, map_set,
     "ds_map_replace(map, key, value): as ds_map_set"},
    {"ds_map_find_value", 2, 2,
     [](ARGS) {
         auto& map = map_arg(a, 0, rt);
         auto it = map.find(key_arg(a, 1));
         return it == map.end() ? Value::undefined() : it->second;
     },
     "ds_map_find_value(map, key): undefined for a missing key (as map[? key])"},
    {"ds_map_exists", 2, 2, [](ARGS) { return truth(map_arg(a, 0, rt).count(key_arg(a, 1)) > 0); },
     "ds_map_exists(map, key)"},
    {"ds_map_delete", 2, 2,
     [](ARGS) {
         map_arg(a, 0, rt).erase(key_arg(a, 1));
         return real(0);
     },
     "ds_map_delete(map, key)"},
    {"ds_map_size", 1, 1, [](ARGS) { return real(static_cast<double>(map_arg(a, 0, rt).size())); },
     "ds_map_size(map)"},
    {"ds_map_empty", 1, 1, [](ARGS) { return truth(map_arg(a, 0, rt).empty()); }, "ds_map_empty(map)"},
    {"ds_map_clear", 1, 1, [](ARGS) { return clear_container(map_arg(a, 0, rt)); },
     "ds_map_clear(map)"},
    {"ds_map_find_first", 1, 1,
     [](ARGS) {
         auto& map = map_arg(a, 0, rt);
         return map.empty() ? Value::undefined() : key_value(map.begin()->first);
     },
     "ds_map_find_first(map): the first key (keys go in order: reals ascending, then strings by bytes); "
     "undefined when empty"},
    {"ds_map_find_next", 2, 2,
     [](ARGS) {
         auto& map = map_arg(a, 0, rt);
         auto it = map.upper_bound(key_arg(a, 1));
         return it == map.end() ? Value::undefined() : key_value(it->first);
     },
     "ds_map_find_next(map, key): the key after key; undefined after the last"},
    {"ds_map_keys_to_array", 1, 1,
     [](ARGS) {
         auto& map = map_arg(a, 0, rt);
         rt.check_length(map.size());
         auto array = rt.new_array(0);
         for (const auto& entry : map) array->items.push_back(key_value(entry.first));
         return Value::of(array);
     },
     "ds_map_keys_to_array(map): the keys in the order ds_map_find_next visits them"},
};
#undef ARGS

constexpr ConstantInfo constants[] = {
    {"pi", std::numbers::pi}, {"infinity", HUGE_VAL},  {"NaN", NAN},           {"noone", -4},
    {"c_aqua", 16776960},     {"c_black", 0},          {"c_blue", 16711680},   {"c_dkgray", 4210752},
    {"c_dkgrey", 4210752},    {"c_fuchsia", 16711935}, {"c_gray", 8421504},    {"c_grey", 8421504},
    {"c_green", 32768},       {"c_lime", 65280},       {"c_ltgray", 12632256}, {"c_ltgrey", 12632256},
    {"c_maroon", 128},        {"c_navy", 8388608},     {"c_olive", 32896},     {"c_orange", 4235519},
    {"c_purple", 8388736},    {"c_red", 255},          {"c_silver", 12632256}, {"c_teal", 8421376},
    {"c_white", 16777215},    {"c_yellow", 65535},     {"ds_type_map", 1},     {"ds_type_list", 2},
};

}  // namespace

Runtime::~Runtime() {
    // Arrays that hold each other would keep each other alive: empty every one still alive.
    for (auto& weak : arrays_)
        if (auto array = weak.lock()) {
            std::vector<Value> items;
            items.swap(array->items);
        }
}

void Runtime::check_length(std::size_t n) const {
    if (n > array_limit) throw ScriptError("array longer than " + std::to_string(array_limit) + " elements");
}

std::shared_ptr<ArrayData> Runtime::new_array(std::size_t n, const Value& fill) {
    check_length(n);
    auto array = std::make_shared<ArrayData>();
    array->items.assign(n, fill);
    if (arrays_.size() >= prune_at_) {
        std::erase_if(arrays_, [](const std::weak_ptr<ArrayData>& w) { return w.expired(); });
        prune_at_ = std::max<std::size_t>(1024, arrays_.size() * 2);
    }
    arrays_.push_back(array);
    return array;
}

void Runtime::grow(ArrayData& array, std::size_t n) const {
    if (n <= array.items.size()) return;
    check_length(n);
    array.items.resize(n, Value::of(0.0));
}

double Runtime::seconds_since_start() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Runtime::set_seed(std::uint32_t seed) {
    seed_ = seed;
    // splitmix64 of the seed, so that nearby seeds start far apart (and the state is never 0).
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    state_ = (z ^ (z >> 31)) | 1;
}

double Runtime::next_unit() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    std::uint64_t bits = state_ * 0x2545F4914F6CDD1Dull;
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

std::string format_placeholders(std::span<const Value> args) {
    std::string format = to_text(args[0]);
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '{') {
            std::size_t close = format.find('}', i);
            if (close != std::string::npos && close > i + 1 && close - i <= 4) {
                std::size_t n = 0;
                bool digits = true;
                for (std::size_t j = i + 1; j < close; ++j) {
                    if (format[j] < '0' || format[j] > '9') digits = false;
                    n = n * 10 + static_cast<std::size_t>(format[j] - '0');
                }
                if (digits && n + 1 < args.size()) {
                    out += to_text(args[n + 1]);
                    if (out.size() > max_string_bytes)
                        throw ScriptError("string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
                    i = close;
                    continue;
                }
            }
        }
        out.push_back(format[i]);
    }
    return out;
}

std::optional<Builtin> find_builtin(std::string_view name) {
    for (std::size_t i = 0; i < std::size(builtins); ++i)
        if (builtins[i].name == name) return static_cast<Builtin>(i);
    return std::nullopt;
}

const BuiltinInfo& builtin_info(Builtin id) { return builtins[id]; }

Value call_builtin(Builtin id, std::span<const Value> args, Runtime& runtime) {
    calling = &builtins[id];
    return builtins[id].function(args, runtime);
}
std::span<const BuiltinInfo> all_builtins() { return builtins; }

std::optional<double> find_constant(std::string_view name) {
    for (const ConstantInfo& c : constants)
        if (c.name == name) return c.value;
    return std::nullopt;
}
std::span<const ConstantInfo> all_constants() { return constants; }

}  // namespace ombrix::host

// Export manifest generator. The *.def files under src/exports/ list every export once:
//
//   @section Title of the group
//   name result arg:type arg:type ... | what it does, its result and its failure values
//       | continuation of the text
//
// result and each arg type are r (a real, passed as double) or s (a zero-terminated string);
// "-" stands for no arguments. From that list this tool writes the linker version script, the C
// declarations every definition is compiled against, the runner's call table, a table of calls
// the tests sweep over, and the function reference, and keeps the reference in the README current.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Argument {
    std::string name;
    char type;
};

struct Export {
    std::string name;
    char result;
    std::vector<Argument> arguments;
    std::string text;
    std::string section;
    std::string where;
    std::string manifest;  // the .def file's name without its extension: "devil" for devil.def
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "manifest_gen: " << message << "\n";
    std::exit(2);
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<Export> read_manifests(const std::vector<std::string>& paths) {
    std::vector<Export> out;
    std::set<std::string> seen;
    for (const auto& path : paths) {
        std::ifstream in(path);
        if (!in) fail("cannot read " + path);
        std::string line, section = "Exports";
        const auto slash = path.find_last_of('/');
        std::string manifest = path.substr(slash == std::string::npos ? 0 : slash + 1);
        manifest = manifest.substr(0, manifest.find('.'));
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            const std::string where = path + ":" + std::to_string(number);
            const std::string t = trim(line);
            if (t.empty() || t[0] == '#') continue;
            if (t.rfind("@section", 0) == 0) {
                section = trim(t.substr(8));
                continue;
            }
            if (t[0] == '|') {
                if (out.empty()) fail(where + ": continuation before any export");
                out.back().text += " " + trim(t.substr(1));
                continue;
            }
            const auto bar = t.find('|');
            if (bar == std::string::npos) fail(where + ": missing '|' before the description");
            std::istringstream words(t.substr(0, bar));
            Export e;
            std::string result;
            if (!(words >> e.name >> result)) fail(where + ": expected a name and a result type");
            if (result != "r" && result != "s") fail(where + ": result type must be r or s");
            e.result = result[0];
            std::string word;
            while (words >> word) {
                if (word == "-") continue;
                const auto colon = word.find(':');
                if (colon == std::string::npos || colon + 2 != word.size() ||
                    (word.back() != 'r' && word.back() != 's'))
                    fail(where + ": argument '" + word + "' must be name:r or name:s");
                e.arguments.push_back({word.substr(0, colon), word.back()});
            }
            e.text = trim(t.substr(bar + 1));
            e.section = section;
            e.where = where;
            e.manifest = manifest;
            if (!seen.insert(e.name).second) fail(where + ": " + e.name + " is listed twice");
            out.push_back(std::move(e));
        }
    }
    return out;
}

void write_file(const std::string& path, const std::string& content) {
    // Only touch the file when it changes, so that dependent objects do not rebuild needlessly.
    std::ifstream old(path, std::ios::binary);
    if (old) {
        std::stringstream buf;
        buf << old.rdbuf();
        if (buf.str() == content) return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) fail("cannot write " + path);
}

std::string c_type(char t) { return t == 'r' ? "double" : "const char*"; }

std::string version_script(const std::vector<Export>& exports) {
    std::string s = "{\n  global:\n";
    for (const auto& e : exports) s += "    " + e.name + ";\n";
    s += "  local:\n    *;\n};\n";
    return s;
}

std::string declarations(const std::vector<Export>& exports) {
    std::string s =
        "// Generated from src/exports/*.def. Every export is defined against these declarations.\n"
        "#pragma once\n\n#define OMBRIX_API __attribute__((visibility(\"default\")))\n\n"
        "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
    for (const auto& e : exports) {
        s += "OMBRIX_API " + c_type(e.result) + " " + e.name + "(";
        if (e.arguments.empty()) s += "void";
        for (std::size_t i = 0; i < e.arguments.size(); ++i) {
            if (i) s += ", ";
            s += c_type(e.arguments[i].type) + " " + e.arguments[i].name;
        }
        s += ");\n";
    }
    s += "\n#ifdef __cplusplus\n}\n#endif\n";
    return s;
}

std::string call_table(const std::vector<Export>& exports) {
    std::string s = "// Generated from src/exports/*.def: OMBRIX_EXPORT(name, result type, argument types).\n";
    for (const auto& e : exports) {
        std::string types;
        for (const auto& a : e.arguments) types += a.type;
        s += "OMBRIX_EXPORT(\"" + e.name + "\", '" + e.result + "', \"" + types + "\")\n";
    }
    return s;
}

std::string c_string(const std::string& text) {
    std::string s = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') s += '\\';
        if (c == '\n') {
            s += "\\n";
            continue;
        }
        s += c;
    }
    return s + "\"";
}

// The runner's --list and --help NAME: every export's section, arguments and reference text.
std::string documentation(const std::vector<Export>& exports) {
    std::string s =
        "// Generated from src/exports/*.def: OMBRIX_EXPORT_DOC(name, section, arguments, reference text).\n";
    for (const auto& e : exports) {
        std::string arguments;
        for (std::size_t i = 0; i < e.arguments.size(); ++i) {
            if (i) arguments += ", ";
            arguments += e.arguments[i].name + (e.arguments[i].type == 's' ? ": string" : "");
        }
        s += "OMBRIX_EXPORT_DOC(" + c_string(e.name) + ", " + c_string(e.section) + ", " + c_string(arguments) +
             ",\n    " + c_string(e.text) + ")\n";
    }
    return s;
}

// Every export with a real result as a call from arrays of arguments, for tests that sweep exports
// the manifest names: argument i is reals[i] or strings[i] by its type.
std::string real_calls(const std::vector<Export>& exports) {
    std::string s =
        "// Generated from src/exports/*.def: OMBRIX_REAL_EXPORT(name, manifest, argument names, argument\n"
        "// types, call), where call(reals, strings) passes argument i as reals[i] or strings[i].\n";
    for (const auto& e : exports) {
        if (e.result != 'r') continue;
        std::string names, types, args;
        for (std::size_t i = 0; i < e.arguments.size(); ++i) {
            const std::string at = "[" + std::to_string(i) + "]";
            names += (i ? " " : "") + e.arguments[i].name;
            types += e.arguments[i].type;
            args += (i ? ", " : "") + std::string(e.arguments[i].type == 'r' ? "reals" : "strings") + at;
        }
        s += "OMBRIX_REAL_EXPORT(\"" + e.name + "\", \"" + e.manifest + "\", \"" + names + "\", \"" + types +
             "\",\n    []([[maybe_unused]] const double* reals, [[maybe_unused]] const char* const* strings) {\n"
             "        return " +
             e.name + "(" + args + ");\n    })\n";
    }
    return s;
}

std::string reference(const std::vector<Export>& exports) {
    std::string s;
    std::string section;
    for (const auto& e : exports) {
        if (e.section != section) {
            section = e.section;
            s += "\n### " + section + "\n\n| Export | Result | Behaviour, result and failures |\n|---|---|---|\n";
        }
        std::string signature = "`" + e.name + "(";
        for (std::size_t i = 0; i < e.arguments.size(); ++i) {
            if (i) signature += ", ";
            signature += e.arguments[i].name + (e.arguments[i].type == 's' ? ": string" : "");
        }
        signature += ")`";
        s += "| " + signature + " | " + (e.result == 'r' ? "real" : "string") + " | " + e.text + " |\n";
    }
    return s;
}

constexpr const char* begin_marker = "<!-- reference:begin (generated from src/exports/*.def) -->";
constexpr const char* end_marker = "<!-- reference:end -->";

std::string with_reference(const std::string& readme, const std::string& ref, const std::string& path) {
    const auto b = readme.find(begin_marker);
    const auto e = readme.find(end_marker);
    if (b == std::string::npos || e == std::string::npos || e < b) fail(path + ": reference markers missing");
    return readme.substr(0, b) + begin_marker + "\n" + ref + "\n" + readme.substr(e);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        fail("usage: manifest_gen generate OUTDIR DEF... | readme README DEF... | check-readme README DEF...");
    const std::string mode = argv[1], target = argv[2];
    const auto exports = read_manifests(std::vector<std::string>(argv + 3, argv + argc));
    if (mode == "generate") {
        write_file(target + "/ombrix.map", version_script(exports));
        write_file(target + "/ombrix_exports.h", declarations(exports));
        write_file(target + "/manifest_table.inc", call_table(exports));
        write_file(target + "/manifest_docs.inc", documentation(exports));
        write_file(target + "/real_exports.inc", real_calls(exports));
        write_file(target + "/reference.md", reference(exports));
        return 0;
    }
    std::ifstream in(target, std::ios::binary);
    if (!in) fail("cannot read " + target);
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string updated = with_reference(buf.str(), reference(exports), target);
    if (mode == "readme") {
        write_file(target, updated);
        return 0;
    }
    if (mode == "check-readme") {
        if (updated == buf.str()) return 0;
        std::cerr << target << ": the function reference is out of date; run `cmake --build build --target readme`\n";
        return 1;
    }
    fail("unknown mode " + mode);
}

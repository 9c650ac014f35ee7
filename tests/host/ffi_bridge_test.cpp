// The bridge against the real library: every export of the call table bound, reals and strings
// passed both ways, and the failures of loading and binding.
#include <gtest/gtest.h>

#include "ffi_bridge.hpp"
#include "script_harness.hpp"

using namespace ombrix::host;
using ombrix::host::testing::run_script;
using ombrix::host::testing::script_error;

namespace {

const std::string library_path = OMBRIX_BINARY_DIR "/libombrix.so";

Value call(ForeignExports& exports, std::string_view name, std::initializer_list<Value> args = {}) {
    auto index = exports.find(name);
    if (!index) {
        ADD_FAILURE() << name << " is not bound";
        return {};
    }
    return exports.call(*index, std::span<const Value>(args.begin(), args.size()));
}

}  // namespace

TEST(ForeignExports, BindsTheWholeCallTable) {
    ForeignExports exports(library_path, manifest_signatures());
    ASSERT_FALSE(manifest_signatures().empty());
    for (const ExportSignature& signature : manifest_signatures()) {
        auto index = exports.find(signature.name);
        ASSERT_TRUE(index.has_value()) << signature.name;
        EXPECT_EQ(exports.argument_types(*index), signature.arguments);
        EXPECT_EQ(exports.name(*index), signature.name);
    }
    EXPECT_FALSE(exports.find("no_such_export").has_value());
}

// One test, because the library's state (initialised or not) lives as long as the process.
TEST(ForeignExports, CallsRealAndStringExportsBeforeAndAfterInit) {
    ForeignExports exports(library_path, manifest_signatures());
    Value version = call(exports, "image_OmbrixVersion");
    ASSERT_TRUE(version.is_string());
    EXPECT_EQ(version.text, "1.0.0");

    Value width = call(exports, "image_get_width", {Value::of(0.0)});
    ASSERT_TRUE(width.is_real());
    EXPECT_EQ(width.real, -1);
    EXPECT_EQ(call(exports, "image_last_error").text, "-1");

    EXPECT_EQ(call(exports, "init").real, 0);
    // The refused call above set the text; a success never resets it.
    EXPECT_EQ(call(exports, "image_last_error").text, "Ruvo wrapper no init");
    // A string argument reaches the library: a file that is not there is ILU's "could not open".
    EXPECT_EQ(call(exports, "image_load", {Value::of(std::string("/nonexistent/none.png"))}).real, 0);
    std::string reason = call(exports, "image_last_error").text;
    EXPECT_NE(reason, "No Errors");
    // Three mixed arguments in order: the unknown ID fails before the path is used.
    EXPECT_EQ(call(exports, "image_save", {Value::of(12345.0), Value::of(std::string("x.png")), Value::of(5.0)}).real,
              -1);
    EXPECT_EQ(call(exports, "image_last_error").text, "Invalid image ID");
    // The earlier text was copied out at once, so it survives the library changing its own.
    EXPECT_NE(reason, "Invalid image ID");
}

TEST(ForeignExports, ScriptsCallExportsAndTheirTypesAreChecked) {
    ForeignExports exports(library_path, manifest_signatures());
    EXPECT_EQ(run_script("show_debug_message(image_OmbrixVersion() + \"!\")", &exports), "1.0.0!\n");
    ScriptError error = script_error("x = 1\nimage_load(x)", &exports);
    EXPECT_EQ(error.message, "argument 1 of image_load must be a string, not a real");
    EXPECT_EQ(error.pos.line, 2u);
    EXPECT_EQ(error.pos.column, 12u);
    EXPECT_EQ(script_error("image_free(\"0\")", &exports).message,
              "argument 1 of image_free must be a real, not a string");
    EXPECT_EQ(script_error("image_save(0, \"a.png\")", &exports).message, "image_save takes 3 arguments, not 2");
}

TEST(ForeignExports, ExportsTheLibraryLacksMatterOnlyWhenCalled) {
    const ExportSignature table[] = {{"image_OmbrixVersion", 's', ""}, {"image_not_built_yet", 'r', "rs"}};
    ForeignExports exports(library_path, table);
    EXPECT_FALSE(exports.find("image_not_built_yet").has_value());
    EXPECT_TRUE(exports.listed_but_missing("image_not_built_yet"));
    EXPECT_FALSE(exports.listed_but_missing("image_OmbrixVersion"));
    EXPECT_EQ(run_script("show_debug_message(image_OmbrixVersion())", &exports), "1.0.0\n");
    EXPECT_EQ(script_error("x = image_not_built_yet(1, \"a\")", &exports).message,
              "unknown function 'image_not_built_yet' (the library does not export it)");
}

TEST(ForeignExports, AFileThatIsNoLibraryFailsToLoad) {
    EXPECT_THROW(ForeignExports("/nonexistent/libombrix.so", manifest_signatures()), LibraryLoadError);
    EXPECT_THROW(ForeignExports(OMBRIX_SOURCE_DIR "/examples/sample.png", manifest_signatures()), LibraryLoadError);
}

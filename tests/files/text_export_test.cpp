// The HTML, GML and C-header writers: exact text for small images, and the real readers of that
// text (a browser, the C compiler) agreeing with the pixels.
#include <algorithm>
#include <sstream>

#include "files/text_export.hpp"
#include "helpers.hpp"
#include "store/errors.hpp"

namespace ombrix::testing {
namespace {

using files::HeaderMode;
using files::write_gml;
using files::write_header;
using files::write_html;

class TextExportTest : public FilesTest {};

TEST_F(TextExportTest, HtmlPageHasOneCellPerPixelTopRowFirstAndAnEmptyClosingRow) {
    // Stored row 0 is the bottom of the picture, so row 1 comes first.
    auto& image = add(0, image_of(2, 2, {0, 0, 0, 16, 15, 1, 255, 0, 10, 1, 2, 3}));
    const std::string path = dir.file("a.html");
    EXPECT_EQ(write_html(st, image, path.c_str()), 1);
    const std::string cell = "      <TD  BGCOLOR=#";
    EXPECT_EQ(read_file(path), "<HTML>\n<BODY>\n<HEAD><TITLE>" + path +
                                   "</TITLE></HEAD><TABLE BORDER=2 CELLPADDING=4 CELLSPACING=0>\n   <TR>\n" + cell +
                                   "FF000A> &nbsp; </TD>\n" + cell + "010203> &nbsp; </TD>\n   </TR><TR>\n" + cell +
                                   "000000> &nbsp; </TD>\n" + cell +
                                   "100F01> &nbsp; </TD>\n   </TR><TR>\n   </TR>\n</TABLE></BODY></HTML>");
    EXPECT_EQ(pixels(image), (std::vector<std::uint8_t>{0, 0, 0, 16, 15, 1, 255, 0, 10, 1, 2, 3}));
}

TEST_F(TextExportTest, HtmlSettingsAreTruncatedAndTheCellTextIsWrittenAsGiven) {
    auto& image = add(0, image_of(1, 1, {1, 2, 3}));
    st.html = {1.7, 0, 3.99, "<b>x</b>"};
    const std::string path = dir.file("a.html");
    write_html(st, image, path.c_str());
    const std::string page = read_file(path);
    EXPECT_NE(page.find("<TABLE BORDER=1 CELLPADDING=0 CELLSPACING=3>\n"), std::string::npos);
    EXPECT_NE(page.find("<TD  BGCOLOR=#010203> <b>x</b>; </TD>\n"), std::string::npos);
    // A cell text larger than the writer's block goes out whole.
    st.html.cell_text = std::string(3 << 20, 'x') + "<end>";
    write_html(st, image, path.c_str());
    EXPECT_NE(read_file(path).find("<TD  BGCOLOR=#010203> " + st.html.cell_text + "; </TD>\n   </TR><TR>\n"),
              std::string::npos);
    st.html.border = std::numeric_limits<double>::quiet_NaN();
    write_html(st, image, path.c_str());
    EXPECT_NE(read_file(path).find("BORDER=-2147483648 "), std::string::npos);
}

TEST_F(TextExportTest, HtmlTitleEscapesThePath) {
    auto& image = add(0, make_record(0, 0));
    const std::string path = dir.file("a<b>&c\"d'.html");
    write_html(st, image, path.c_str());
    EXPECT_EQ(read_file(path), "<HTML>\n<BODY>\n<HEAD><TITLE>" + dir.path().string() +
                                   "/a&lt;b&gt;&amp;c&quot;d&#39;.html</TITLE></HEAD><TABLE BORDER=2 CELLPADDING=4 "
                                   "CELLSPACING=0>\n   <TR>\n   </TR>\n</TABLE></BODY></HTML>");
}

TEST_F(TextExportTest, GmlScriptRedrawsThePictureUpright) {
    auto& image = add(0, image_of(2, 2, {1, 0, 0, 0, 1, 0, 0, 0, 1, 255, 255, 255}));
    const std::string path = dir.file("a.gml");
    EXPECT_EQ(write_gml(image, path.c_str()), 1);
    EXPECT_EQ(read_file(path),
              "//Converted by Ombrix Plug-In\n\n"
              "draw_point_color(0, 0, 65536);\ndraw_point_color(1, 0, 16777215);\n"
              "draw_point_color(0, 1, 1);\ndraw_point_color(1, 1, 256);\n");
    // Column numbers carry from 9 to 10 and from 99 to 100 within a row.
    auto& wide = add(2, make_record(101, 1));
    std::fill(wide.rgb.data(), wide.rgb.data() + wide.rgb.size(), std::uint8_t{0});
    write_gml(wide, path.c_str());
    std::string lines = "//Converted by Ombrix Plug-In\n\n";
    for (int x = 0; x < 101; ++x) lines += "draw_point_color(" + std::to_string(x) + ", 0, 0);\n";
    EXPECT_EQ(read_file(path), lines);
    write_gml(add(1, make_record(3, 0)), path.c_str());
    EXPECT_EQ(read_file(path), "//Converted by Ombrix Plug-In\n\n");
}

const std::string header_top = "//Converted by Ombrix Plug-In\n\n// C Image Header:\n#define ImageBpp ";

TEST_F(TextExportTest, HeaderLinesBreakAfterEachModesPixelCount) {
    auto& row = add(0, image_of(5, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 255}));
    const std::string path = dir.file("a.h");
    EXPECT_EQ(write_header(st, row, path.c_str(), HeaderMode::rgb), 0);
    EXPECT_EQ(read_file(path), header_top +
                                   "3\n#define  ImageWidth 5;\n#define  ImageHeight 1;\n\nunsigned char Image_Data[] = "
                                   "\n{\n       0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13, "
                                   "255,\n\t\t};");

    // Sixteen grey pixels: fifteen on the first line, the sixteenth after a tab.
    auto& grey = add(1, make_record(16, 1));
    for (std::size_t i = 0; i < grey.rgb.size(); ++i) grey.rgb[i] = static_cast<std::uint8_t>(i / 3 * 10);
    write_header(st, grey, path.c_str(), HeaderMode::grey);
    std::string values;
    for (int i = 0; i < 15; ++i) values += (i == 0 ? "   0," : (i < 10 ? "  " : " ") + std::to_string(i * 10) + ",");
    EXPECT_EQ(read_file(path),
              header_top +
                  "1\n#define  ImageWidth 16;\n#define  ImageHeight 1;\n\nunsigned char Image_Data[] = "
                  "\n{\n    " +
                  values + "\n\t 150,\t};");
}

TEST_F(TextExportTest, HeaderModeTwoTakesTheRgbaByteAndTheArrayName) {
    auto& image = add(0, image_of(1, 2, {1, 2, 3, 4, 5, 6}));
    image.rgba = memory::Buffer(8, true);
    image.rgba[0] = 77;  // record 0 after the flip is stored pixel 1, but the byte is taken at 3 × 0
    st.header_array_name = "logo";
    const std::string path = dir.file("a.h");
    write_header(st, image, path.c_str(), HeaderMode::rgba);
    EXPECT_EQ(read_file(path), header_top +
                                   "4\n#define  ImageWidth 1;\n#define  ImageHeight 2;\n\nunsigned char logo[] = "
                                   "\n{\n       4,   5,   6,  77,   1,   2,   3,   0,\t};");
    write_header(st, add(1, make_record(0, 0)), path.c_str(), HeaderMode::rgba);
    EXPECT_EQ(read_file(path), header_top +
                                   "4\n#define  ImageWidth 0;\n#define  ImageHeight 0;\n\nunsigned char logo[] = "
                                   "\n{\n    \t};");
}

TEST_F(TextExportTest, WritersThatCannotCreateTheFileFailWithTheirOwnText) {
    auto& image = add(0, image_of(1, 1, {1, 2, 3}));
    const std::string path = dir.file("no/such/dir");
    const auto text_of = [&](auto write) {
        try {
            write();
        } catch (const Failure& f) {
            EXPECT_EQ(f.result, -1);
            return std::string(f.text);
        }
        return std::string("no failure");
    };
    EXPECT_EQ(text_of([&] { write_html(st, image, path.c_str()); }), text::html_create_failed);
    EXPECT_EQ(text_of([&] { write_gml(image, path.c_str()); }), text::gml_create_failed);
    EXPECT_EQ(text_of([&] { write_header(st, image, path.c_str(), HeaderMode::rgb); }), text::header_create_failed);
    EXPECT_EQ(pixels(image), (std::vector<std::uint8_t>{1, 2, 3}));
}

// The picture's pixels top row first, as each reader should see them.
std::vector<std::array<int, 3>> top_first(const ImageRecord& image) {
    std::vector<std::array<int, 3>> out;
    for (std::int32_t y = image.height - 1; y >= 0; --y)
        for (std::int32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.rgb.data() + (static_cast<std::size_t>(y * image.width + x)) * 3;
            out.push_back({p[0], p[1], p[2]});
        }
    return out;
}

TEST_F(TextExportTest, CompiledHeaderHoldsThePixelsInEveryMode) {
    if (!have_program("cc")) GTEST_SKIP() << "no C compiler";
    auto& image = add(0, make_record(7, 3));
    fill_pattern(image);
    image.rgba = memory::Buffer(image.pixel_count() * 4, true);
    for (std::size_t k = 0; k < image.pixel_count(); ++k) image.rgba[3 * k] = static_cast<std::uint8_t>(200 + k);
    st.header_array_name = "picture";
    write_file(dir.file("main.c"),
               "#include <stdio.h>\n#include \"image.h\"\n"
               "int main(void) {\n  int w = ImageWidth\n  int h = ImageHeight\n"
               "  printf(\"%d %d %d %zu\\n\", ImageBpp, w, h, sizeof picture);\n"
               "  for (size_t i = 0; i < sizeof picture; ++i) printf(\"%d\\n\", picture[i]);\n  return 0;\n}\n");
    const auto pixels_top_first = top_first(image);
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        write_header(st, image, dir.file("image.h").c_str(), files::header_mode_table[mode]);
        int status = 0;
        const std::string d = dir.path().string();
        run("cc -std=c99 -Wall -Werror -o '" + d + "/show' '" + d + "/main.c' 2>&1", &status);
        ASSERT_EQ(status, 0);
        std::istringstream out(run("'" + d + "/show'"));
        int bpp = 0, w = 0, h = 0;
        std::size_t size = 0;
        out >> bpp >> w >> h >> size;
        const int expected_bpp = mode == 0 ? 1 : mode == 1 ? 3 : 4;
        EXPECT_EQ(bpp, expected_bpp);
        EXPECT_EQ(w, 7);
        EXPECT_EQ(h, 3);
        ASSERT_EQ(size, image.pixel_count() * static_cast<std::size_t>(expected_bpp));
        for (std::size_t k = 0; k < image.pixel_count(); ++k) {
            const auto& p = pixels_top_first[k];
            std::vector<int> want;
            if (mode == 0)
                want = {(77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8};
            else
                want = {p[0], p[1], p[2]};
            if (mode == 2) want.push_back(static_cast<int>(200 + k));
            for (int v : want) {
                int got = -1;
                out >> got;
                EXPECT_EQ(got, v) << "pixel " << k;
            }
        }
    }
}

TEST_F(TextExportTest, BrowserShowsEveryCellInItsPixelsColour) {
    if (!have_program("chromium")) GTEST_SKIP() << "no chromium";
    auto& image = add(0, make_record(6, 4));
    fill_pattern(image);
    image.rgb[0] = 5;  // a channel below 16 needs its pad
    st.html.cell_text = "&nbsp";
    const std::string page = dir.file("pic <&\"'.html");
    ASSERT_EQ(write_html(st, image, page.c_str()), 1);
    // The page is loaded unchanged into a frame; the wrapper reads the browser's view of it.
    write_file(dir.file("check.html"),
               "<html><body><pre id=\"out\">not loaded</pre><iframe id=\"f\" src=\"" +
                   std::string("pic%20%3C%26%22'.html") +
                   "\" onload=\"var d = document.getElementById('f').contentDocument;"
                   "var rows = d.querySelectorAll('tr'), lines = [Array.from(d.title).map(function (c) { return "
                   "c.charCodeAt(0); }).join(','), 'rows ' + rows.length];"
                   "for (var r = 0; r < rows.length; ++r) { var cells = rows[r].querySelectorAll('td');"
                   "for (var c = 0; c < cells.length; ++c) lines.push(r + ' ' + c + ' ' +"
                   "getComputedStyle(cells[c]).backgroundColor); }"
                   "document.getElementById('out').textContent = lines.join('\\n');\"></iframe></body></html>");
    const std::string profile = dir.file("profile");
    int status = 0;
    const std::string dom =
        run("timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
            "--disable-component-update --disable-sync --no-first-run --allow-file-access-from-files "
            "--user-data-dir='" +
                profile + "' --dump-dom 'file://" + dir.file("check.html") + "' 2>/dev/null",
            &status);
    ASSERT_EQ(status, 0);
    const auto begin = dom.find("<pre id=\"out\">"), end = dom.find("</pre>");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::istringstream out(dom.substr(begin + 14, end - begin - 14));
    std::string title, line;
    std::getline(out, title);
    // The title reads as the path itself: its <, &, " and ' did not break out of the element.
    std::string codes;
    for (char c : page) codes += (codes.empty() ? "" : ",") + std::to_string(static_cast<unsigned char>(c));
    EXPECT_EQ(title, codes);
    std::getline(out, line);
    EXPECT_EQ(line, "rows 5");  // four pixel rows and the empty closing row
    const auto want = top_first(image);
    for (std::size_t k = 0; k < want.size(); ++k) {
        ASSERT_TRUE(std::getline(out, line));
        std::ostringstream expected;
        expected << k / 6 << ' ' << k % 6 << " rgb(" << want[k][0] << ", " << want[k][1] << ", " << want[k][2] << ")";
        EXPECT_EQ(line, expected.str());
    }
    EXPECT_FALSE(std::getline(out, line));
}

}  // namespace
}  // namespace ombrix::testing

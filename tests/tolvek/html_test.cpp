// The HTML page: its text escaped, its anchors unique, every name of a
// label a link to it (operands, table entries, cross-references), the map's
// regions linked to their rows, the pictures beside their rows; the source
// in it exactly the .asm's; and --html as one of a run's outputs. How a
// browser takes it is checked by html_in_browser.py.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "analysis/analyse.hpp"
#include "hints/hints.hpp"
#include "output/html.hpp"
#include "output/listing.hpp"
#include "output/png.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;

namespace {

// A routine called through a table of words read into a pointer:
//   c000 ldx #0 / c002 lda words,x / sta $fb / lda words+1,x / sta $fc
//   c00c jsr call / inx / inx / cpx #4 / bne c002 / rts
//   c016 call: jmp ($00fb) / c019 one: lda #1 rts / c01c two: lda #2 rts
//   c01f words: !word one, two
const std::vector<std::uint8_t> kProgram = {
    0xa2, 0x00, 0xbd, 0x1f, 0xc0, 0x85, 0xfb, 0xbd, 0x20, 0xc0, 0x85, 0xfc, 0x20, 0x16, 0xc0, 0xe8,
    0xe8, 0xe0, 0x04, 0xd0, 0xed, 0x60, 0x6c, 0xfb, 0x00, 0xa9, 0x01, 0x60, 0xa9, 0x02, 0x60, 0x19,
    0xc0, 0x1c, 0xc0,
};

constexpr std::string_view kHints =
    "name $c016 call\n"
    "name $c019 one\n"
    "name $c01c two\n"
    "name $c01f words\n"
    "comment $c000 a <b> & \"c\" 'd' </pre><script>x</script>\n";

// The program analysed with the hints, its listing and page.
struct Page {
    Image image = make_image(0xc000, kProgram);
    Hints hints;
    std::optional<MemoryMap> map;
    Listing listing;

    explicit Page(std::string_view image_name = "game.prg") {
        const std::string problem =
            parse_hints(std::string(kHints), "game.hints", hints, [](const std::string&, std::string&) { return "no"; });
        EXPECT_EQ(problem, "");
        map.emplace(analyse(image, {.entry = 0xc000, .hints = &hints}));
        listing = build_listing(*map, {image_name, "game.unpacked.prg", "game.unpacked.asm", "Tolvek.exe --unpack"},
                                &hints);
    }
    std::string html(const Dialect& dialect = kAcme, const std::vector<HtmlPicture>& pictures = {}) const {
        return write_html(listing, *map, dialect, {"game.asm", "game-rebuilt.prg", "game.cfg"}, pictures);
    }
    std::string asm_text(const Dialect& dialect = kAcme) const {
        return write_asm(listing, image, dialect, {"game.asm", "game-rebuilt.prg", "game.cfg"});
    }
};

std::vector<std::string> all_matches(const std::string& text, const std::string& pattern) {
    std::vector<std::string> out;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        out.push_back((*it)[1].str());
    }
    return out;
}

// The text a browser shows of the listing: the pictures and the tags
// taken out, the references to characters read back.
std::string shown_listing(const std::string& page) {
    const std::size_t start = page.find('>', page.find("<pre class=\"listing\"")) + 1;
    std::string marked = page.substr(start, page.find("</pre>", start) - start);
    marked = std::regex_replace(marked, std::regex("<span class=\"pic\"[^>]*><img[^>]*></span>"), "");
    marked = std::regex_replace(marked, std::regex("<[^>]*>"), "");
    std::string shown;
    const std::map<std::string, char> entities = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'},
                                                  {"&#39;", '\''}};
    for (std::size_t i = 0; i < marked.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : entities) {
            if (marked.compare(i, entity.size(), entity) == 0) {
                shown += c;
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) shown += marked[i++];
    }
    return shown;
}

std::string base64_decoded(std::string_view text) {
    static constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        bits = bits << 6 | static_cast<std::uint32_t>(kDigits.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

TEST(HtmlText, MarkupCharactersAreEscapedAndTheRestKept) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain text 123", "plain text 123"},
        {"lda #<L1234", "lda #&lt;L1234"},
        {"a & b", "a &amp; b"},
        {"&amp;", "&amp;amp;"},
        {"</pre><script>", "&lt;/pre&gt;&lt;script&gt;"},
        {"\"quoted\" and 'single'", "&quot;quoted&quot; and &#39;single&#39;"},
        {"\xc3\xbc\xe6\x97\xa5", "\xc3\xbc\xe6\x97\xa5"},
    };
    for (const auto& [text, html] : cases) {
        std::string out;
        append_html_text(out, text);
        EXPECT_EQ(out, html) << text;
    }
}

TEST(HtmlPage, SourceShowsExactlyAsTheAsmInEveryDialect) {
    const Page page;
    for (const Dialect* dialect : kDialects) {
        SCOPED_TRACE(dialect->name);
        const std::string html = page.html(*dialect);
        EXPECT_EQ(shown_listing(html), page.asm_text(*dialect));
    }
}

TEST(HtmlPage, CommentsAndHeaderAreEscaped) {
    const Page page("x<y>&\"z'.prg");
    const std::string html = page.html();
    // The hints' comment, in the listing.
    EXPECT_NE(html.find("; a &lt;b&gt; &amp; &quot;c&quot; &#39;d&#39; &lt;/pre&gt;&lt;script&gt;x&lt;/script&gt;"),
              std::string::npos);
    // The image's name in the title, the heading and the header's lines.
    const std::string name = "x&lt;y&gt;&amp;&quot;z&#39;.prg";
    EXPECT_NE(html.find("<title>Disassembly of " + name), std::string::npos);
    EXPECT_NE(html.find("<h1>Disassembly of " + name), std::string::npos);
    EXPECT_NE(html.find("; Disassembly of " + name), std::string::npos);
    // Nothing of theirs is markup: the only script, pre and tags are the page's.
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<y>"), std::string::npos);
    EXPECT_EQ(all_matches(html, "(<pre)").size(), 2u);
    EXPECT_EQ(all_matches(html, "(</pre>)").size(), 2u);
}

TEST(HtmlPage, AnchorsAreUniqueAndEveryLinkHasItsTarget) {
    const Page page;
    const std::string html = page.html();
    const std::vector<std::string> ids = all_matches(html, " id=\"([^\"]*)\"");
    const std::set<std::string> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), ids.size());
    const std::vector<std::string> links = all_matches(html, " href=\"#([^\"]*)\"");
    EXPECT_GE(links.size(), 10u);
    for (const std::string& link : links) EXPECT_TRUE(unique.contains(link)) << link;
    // Every label and equate of the listing is an anchor.
    for (const Row& row : page.listing.rows) {
        if (!row.label.empty()) {
            EXPECT_TRUE(unique.contains(std::string(row.label))) << row.label;
        }
    }
    for (const Symbol& equate : page.listing.equates) EXPECT_TRUE(unique.contains(std::string(equate.name)));
    // No reference leads outside the page.
    for (const std::string& value : all_matches(html, " (?:href|src)=\"([^\"]*)\"")) {
        EXPECT_TRUE(value.starts_with("#") || value.starts_with("data:image/png;base64,")) << value;
    }
}

TEST(HtmlPage, NamesOfLabelsAreLinks) {
    const Page page;
    const std::string html = page.html();
    const auto link = [](const std::string& name) { return "<a href=\"#" + name + "\">" + name + "</a>"; };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"operand", "\tjsr " + link("call")},
        {"operand with an offset", "\tlda " + link("words") + "+1,x"},
        {"table entries", "\t!word " + link("one") + "," + link("two")},
        {"cross-reference", "address stored at " + link("words")},
        {"cross-reference with an offset", "address stored at " + link("words") + "+2"},
        {"definition", "<span class=\"def\" id=\"call\">call</span>"},
    };
    for (const auto& [what, text] : cases) EXPECT_NE(html.find(text), std::string::npos) << what << ": " << text;
}

TEST(HtmlPage, MapLinksEachRegionToItsRow) {
    const Page page;
    const std::string html = page.html();
    const std::vector<std::string> regions = all_matches(html, "<a href=\"#(row-[0-9a-f]{4}\"><title>[^<]*)</title>");
    const std::vector<std::string> expected = {
        "row-c000\"><title>$c000-$c01e code, 31 bytes",
        "row-c01f\"><title>$c01f-$c022 address table, 4 bytes",
    };
    EXPECT_EQ(regions, expected);
    EXPECT_NE(html.find("<span id=\"row-c000\"></span>"), std::string::npos);
    EXPECT_NE(html.find("<span id=\"row-c01f\"></span><span class=\"def\" id=\"words\">"), std::string::npos);
    EXPECT_NE(html.find("code: 31 bytes"), std::string::npos);
    EXPECT_NE(html.find("address table: 4 bytes"), std::string::npos);
}

TEST(HtmlPage, PicturesStandBesideTheRowsOfTheirObjects) {
    const Page page;
    Pixels pixels(3, 2, 0x352879);
    pixels.at(1, 1) = 0xffffff;
    const std::string png = encode_png(pixels);
    const std::vector<HtmlPicture> pictures = {
        {0xc01c, png, "sprite <1> & \"two\""},
        {0x2000, png, "outside"},
    };
    const std::string html = page.html(kAcme, pictures);
    // Inside the image: in the listing, before the label of its row.
    const std::size_t at = html.find("<span class=\"pic\" data-caption=\"sprite &lt;1&gt; &amp; &quot;two&quot;\">");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(html.find("<pre class=\"listing\""), at);
    // Before the row's heading and label, after the row before.
    const std::size_t after = html.find("</span>", at) + 7;
    EXPECT_EQ(html.substr(after, html.find("<span class=\"def\" id=\"two\">") - after), "; address in a table\n");
    EXPECT_EQ(html.rfind("\trts\n\n", at), at - 6);
    const std::string prefix = "<img src=\"data:image/png;base64,";
    const std::size_t data = html.find(prefix, at) + prefix.size();
    EXPECT_EQ(base64_decoded(html.substr(data, html.find('"', data) - data)), png);
    EXPECT_NE(html.find("width=\"3\" height=\"2\">", data), std::string::npos);
    // Outside it: among the pictures before the listing.
    const std::size_t outside = html.find("<figcaption>outside</figcaption>");
    ASSERT_NE(outside, std::string::npos);
    EXPECT_LT(outside, html.find("<pre class=\"listing\""));
    // The source is the same with pictures or without.
    EXPECT_EQ(shown_listing(html), page.asm_text());
}

// --html as an output of a run: beside the others, all or none, never
// over the image.
TEST(HtmlOutput, WrittenWithTheOtherOutputsOrNone) {
    ScratchDir dir;
    write_bytes(dir / "game.prg", {0x00, 0xc0, 0xa9, 0x01, 0x60});
    const std::string tolvek = quote(TOLVEK_EXE) + " -a -c6502 -e49152 --run-cycles 0 ";
    Result result = run_in(dir.path(), tolvek + "-p game.prg --html");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(read_text(dir / "game.html").find("\tlda #$01\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "game.asm"));

    // A folder where the page goes: neither is written.
    std::filesystem::remove(dir / "game.asm");
    std::filesystem::remove(dir / "game.html");
    std::filesystem::create_directory(dir / "game.html");
    result = run_in(dir.path(), tolvek + "-p game.prg --html");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("'game.html'"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "game.asm"));

    // An image called like the page.
    write_bytes(dir / "x.html", {0x00, 0xc0, 0x60});
    result = run_in(dir.path(), tolvek + "-p x.html --html");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("the image 'x.html' would be overwritten by the output 'x.html'"), std::string::npos)
        << result.err;
    EXPECT_EQ(read_bytes(dir / "x.html"), (std::vector<std::uint8_t>{0x00, 0xc0, 0x60}));
}

}  // namespace

// Tests of the style table: default records, interning at every level in first-seen order, the
// rendered xl/styles.xml byte for byte, colour checking with its messages, and the style merge.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "helpers.h"
#include "style.h"

// The cases name only the fields they set; the others stay absent on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tessary {
namespace {

using testing::expect_bytes;
using testing::expect_error;

constexpr std::string_view HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
constexpr std::string_view DEFAULT_FONT =
    "<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>";
constexpr std::string_view DEFAULT_FILLS =
    "<fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill>";
constexpr std::string_view DEFAULT_BORDER = "<border><left/><right/><top/><bottom/><diagonal/></border>";
constexpr std::string_view DEFAULT_XF =
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
constexpr std::string_view TAIL_XFS =
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
constexpr std::string_view TAIL_STYLES =
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

uint32_t must(Result<uint32_t> r) {
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    return r.ok() ? r.value() : UINT32_MAX;
}

NumFmtKey C(std::string code) { return NumFmtKey::custom(std::move(code)); }
NumFmtKey B(uint32_t id) { return NumFmtKey::builtin(id); }

TEST(StyleTable, NewTableRendersDefaults) {
    const StyleTable t;
    expect_bytes(t.to_xml(), std::string(HEAD) +
                             "<fonts count=\"1\">" + std::string(DEFAULT_FONT) + "</fonts>"
                             "<fills count=\"2\">" + std::string(DEFAULT_FILLS) + "</fills>"
                             "<borders count=\"1\">" + std::string(DEFAULT_BORDER) + "</borders>" +
                             std::string(TAIL_XFS) +
                             "<cellXfs count=\"1\">" + std::string(DEFAULT_XF) + "</cellXfs>" +
                             std::string(TAIL_STYLES));
}

// One record per level, each rendered text checked whole, then the whole part.
TEST(StyleTable, InternsEveryLevelAndRendersThePart) {
    StyleTable t;
    EXPECT_EQ(must(t.intern_record({}, NumFmtKey())), 0u);   // renders as cell format 0
    EXPECT_EQ(must(t.intern_record({}, B(14))), 1u);
    EXPECT_EQ(must(t.intern_record({.fill = "#ff0000"}, NumFmtKey())), 2u);
    EXPECT_EQ(must(t.intern_record({.fill = "FF0000"}, NumFmtKey())), 2u);   // same fill, same xf
    EXPECT_EQ(must(t.intern_record({}, C("0.0%"))), 3u);
    EXPECT_EQ(must(t.intern_record({}, C("#,##0.000"))), 4u);
    EXPECT_EQ(must(t.intern_record({}, C("0.0%"))), 3u);
    EXPECT_EQ(must(t.intern_record({.font = Font{.bold = true}}, NumFmtKey())), 5u);
    EXPECT_EQ(must(t.intern_record({.font = Font{.size = 11}}, NumFmtKey())), 0u);   // = font 0
    EXPECT_EQ(must(t.intern_record({.border = Border{.bottom = BorderEdge{.style = BorderStyle::Thin}}},
                                   NumFmtKey())), 6u);
    EXPECT_EQ(must(t.intern_record({.align = Align{.vertical = VAlign::Middle, .wrap = true}},
                                   NumFmtKey())), 7u);
    EXPECT_EQ(must(t.intern_record(
                  {.font = Font{.italic = true, .size = 10.5, .color = "#00ff7F", .name = "A&B \"Sans\""},
                   .fill = "0000ff",
                   .align = Align{},
                   .border = Border{.top = BorderEdge{.style = BorderStyle::Double, .color = "#abcdef"},
                                    .left = BorderEdge{.color = "#123456"},   // no style: empty
                                    .right = BorderEdge{.style = BorderStyle::Medium}}},
                  C("\"$\"#,##0.00;[Red](\"$\"#,##0.00)"))),
              8u);

    ASSERT_EQ(t.custom_formats().size(), 3u);
    EXPECT_EQ(t.custom_formats()[0].id, 164u);
    EXPECT_EQ(t.custom_formats()[1].id, 165u);
    EXPECT_EQ(t.custom_formats()[2].id, 166u);

    expect_bytes(t.to_xml(), std::string(HEAD) +
        "<numFmts count=\"3\">"
          "<numFmt numFmtId=\"164\" formatCode=\"0.0%\"/>"
          "<numFmt numFmtId=\"165\" formatCode=\"#,##0.000\"/>"
          "<numFmt numFmtId=\"166\" formatCode=\"&quot;$&quot;#,##0.00;[Red](&quot;$&quot;#,##0.00)\"/>"
        "</numFmts>"
        "<fonts count=\"3\">" + std::string(DEFAULT_FONT) +
          "<font><b/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
          "<font><i/><sz val=\"10.5\"/><color rgb=\"FF00FF7F\"/>"
            "<name val=\"A&amp;B &quot;Sans&quot;\"/><family val=\"2\"/></font>"
        "</fonts>"
        "<fills count=\"4\">" + std::string(DEFAULT_FILLS) +
          "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFF0000\"/><bgColor indexed=\"64\"/>"
            "</patternFill></fill>"
          "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FF0000FF\"/><bgColor indexed=\"64\"/>"
            "</patternFill></fill>"
        "</fills>"
        "<borders count=\"3\">" + std::string(DEFAULT_BORDER) +
          "<border><left/><right/><top/>"
            "<bottom style=\"thin\"><color rgb=\"FF000000\"/></bottom><diagonal/></border>"
          "<border><left/>"
            "<right style=\"medium\"><color rgb=\"FF000000\"/></right>"
            "<top style=\"double\"><color rgb=\"FFABCDEF\"/></top>"
            "<bottom/><diagonal/></border>"
        "</borders>" + std::string(TAIL_XFS) +
        "<cellXfs count=\"9\">" + std::string(DEFAULT_XF) +
          "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
          "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"2\" borderId=\"0\" xfId=\"0\" applyFill=\"1\"/>"
          "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
          "<xf numFmtId=\"165\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
          "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
          "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"1\" xfId=\"0\" applyBorder=\"1\"/>"
          "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyAlignment=\"1\">"
            "<alignment vertical=\"center\" wrapText=\"1\"/></xf>"
          "<xf numFmtId=\"166\" fontId=\"2\" fillId=\"3\" borderId=\"2\" xfId=\"0\" applyNumberFormat=\"1\""
              " applyFont=\"1\" applyFill=\"1\" applyBorder=\"1\" applyAlignment=\"1\">"
            "<alignment/></xf>"
        "</cellXfs>" + std::string(TAIL_STYLES));
}

TEST(StyleTable, FontTexts) {
    struct Case { Font font; std::string_view want; };
    const Case CASES[] = {
        {{}, DEFAULT_FONT},
        {{.bold = false, .italic = false, .size = 11.0}, DEFAULT_FONT},
        {{.name = "Calibri"}, DEFAULT_FONT},
        {{.bold = true, .italic = true},
         "<font><b/><i/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.size = 14}, "<font><sz val=\"14\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.size = -0.0}, "<font><sz val=\"0\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.size = 0.1 + 0.2},
         "<font><sz val=\"0.30000000000000004\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.size = 1e16},
         "<font><sz val=\"10000000000000000\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.color = "a0b1c2"}, "<font><sz val=\"11\"/><color rgb=\"FFA0B1C2\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"},
        {{.name = "x<y\x01"}, "<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"x&lt;y\"/><family val=\"2\"/></font>"},
    };
    for (const Case& c : CASES) {
        StyleTable t;
        const uint32_t xf = must(t.intern_record({.font = c.font}, NumFmtKey()));
        const bool is_default = c.want == DEFAULT_FONT;
        ASSERT_EQ(t.fonts().size(), is_default ? 1u : 2u) << c.want;
        expect_bytes(t.fonts()[t.fonts().size() - 1], c.want);
        EXPECT_EQ(xf, is_default ? 0u : 1u);
    }
}

TEST(StyleTable, AlignmentTexts) {
    struct Case { Align align; std::string_view want; };
    const Case CASES[] = {
        {{}, "<alignment/>"},
        {{.wrap = false}, "<alignment/>"},
        {{.horizontal = HAlign::Left}, "<alignment horizontal=\"left\"/>"},
        {{.horizontal = HAlign::Center, .vertical = VAlign::Top}, "<alignment horizontal=\"center\" vertical=\"top\"/>"},
        {{.horizontal = HAlign::Right, .vertical = VAlign::Bottom, .wrap = true},
         "<alignment horizontal=\"right\" vertical=\"bottom\" wrapText=\"1\"/>"},
    };
    for (const Case& c : CASES) {
        StyleTable t;
        EXPECT_EQ(must(t.intern_record({.align = c.align}, NumFmtKey())), 1u);
        expect_bytes(t.cell_formats()[1],
                     "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyAlignment=\"1\">" +
                         std::string(c.want) + "</xf>");
    }
}

TEST(EdgeXml, EdgeTexts) {
    struct Case { std::optional<BorderEdge> edge; std::string_view want; };
    const Case CASES[] = {
        {std::nullopt, "<top/>"},
        {BorderEdge{}, "<top/>"},
        {BorderEdge{.color = "#ff0000"}, "<top/>"},
        {BorderEdge{.color = "bad"}, "<top/>"},   // a colour without a style is never looked at
        {BorderEdge{.style = BorderStyle::Thin}, "<top style=\"thin\"><color rgb=\"FF000000\"/></top>"},
        {BorderEdge{.style = BorderStyle::Medium, .color = "#0a0B0c"},
         "<top style=\"medium\"><color rgb=\"FF0A0B0C\"/></top>"},
        {BorderEdge{.style = BorderStyle::Thick}, "<top style=\"thick\"><color rgb=\"FF000000\"/></top>"},
        {BorderEdge{.style = BorderStyle::Double}, "<top style=\"double\"><color rgb=\"FF000000\"/></top>"},
    };
    for (const Case& c : CASES) {
        std::string out = "<border>";
        ASSERT_TRUE(edge_xml(out, "top", c.edge).ok());
        expect_bytes(out, "<border>" + std::string(c.want));
    }
    std::string out;
    expect_error(edge_xml(out, "left", BorderEdge{.style = BorderStyle::Thin, .color = "#12345"}),
                 ErrorCode::BadColor, "invalid colour \"#12345\"; expected #rrggbb hex");
}

TEST(NormalizeColor, AcceptsSixHexDigits) {
    struct Case { std::string_view in, want; };
    constexpr Case CASES[] = {
        {"#1a2b3c", "FF1A2B3C"}, {"1a2b3c", "FF1A2B3C"}, {"#ABCDEF", "FFABCDEF"},
        {"000000", "FF000000"}, {"#fFfFfF", "FFFFFFFF"},
    };
    for (const Case& c : CASES) {
        Result<std::string> r = normalize_color(c.in);
        ASSERT_TRUE(r.ok()) << c.in;
        EXPECT_EQ(r.value(), c.want);
    }
}

TEST(NormalizeColor, RejectsEverythingElse) {
    struct Case { std::string_view in, message; };
    const Case CASES[] = {
        {"red", "invalid colour \"red\"; expected #rrggbb hex"},
        {"", "invalid colour \"\"; expected #rrggbb hex"},
        {"#", "invalid colour \"#\"; expected #rrggbb hex"},
        {"#fff", "invalid colour \"#fff\"; expected #rrggbb hex"},
        {"#12345", "invalid colour \"#12345\"; expected #rrggbb hex"},
        {"#1234567", "invalid colour \"#1234567\"; expected #rrggbb hex"},
        {"FF112233", "invalid colour \"FF112233\"; expected #rrggbb hex"},
        {"##123456", "invalid colour \"##123456\"; expected #rrggbb hex"},
        {"12345#", "invalid colour \"12345#\"; expected #rrggbb hex"},
        {"#12345g", "invalid colour \"#12345g\"; expected #rrggbb hex"},
        {" 123456", "invalid colour \" 123456\"; expected #rrggbb hex"},
        {"12 456", "invalid colour \"12 456\"; expected #rrggbb hex"},
        {"#\xef\xbc\x91" "23456", "invalid colour \"#\xef\xbc\x91" "23456\"; expected #rrggbb hex"},
        {"a\"b\\c\td", "invalid colour \"a\\\"b\\\\c\\td\"; expected #rrggbb hex"},
        {"\x01" "12345", "invalid colour \"\\u{1}12345\"; expected #rrggbb hex"},
    };
    for (const Case& c : CASES) expect_error(normalize_color(c.in), ErrorCode::BadColor, c.message);
}

// A bad colour at each level fails the style; what was interned before it stays in the table.
TEST(StyleTable, BadColorKeepsEarlierRecords) {
    StyleTable t;
    expect_error(t.intern_record({.font = Font{.bold = true, .color = "red"}}, C("0.0")),
                 ErrorCode::BadColor, "invalid colour \"red\"; expected #rrggbb hex");
    EXPECT_EQ(t.custom_formats().size(), 1u);   // the number format was interned first
    EXPECT_EQ(t.fonts().size(), 1u);
    EXPECT_EQ(t.cell_formats().size(), 1u);

    expect_error(t.intern_record({.font = Font{.bold = true}, .fill = "#ff00"}, NumFmtKey()),
                 ErrorCode::BadColor, "invalid colour \"#ff00\"; expected #rrggbb hex");
    EXPECT_EQ(t.fonts().size(), 2u);
    EXPECT_EQ(t.fills().size(), 2u);
    EXPECT_EQ(t.cell_formats().size(), 1u);

    expect_error(t.intern_record({.fill = "#00ff00",
                                  .border = Border{.top = BorderEdge{.style = BorderStyle::Thin,
                                                                     .color = "green"}}},
                                 NumFmtKey()),
                 ErrorCode::BadColor, "invalid colour \"green\"; expected #rrggbb hex");
    EXPECT_EQ(t.fills().size(), 3u);
    EXPECT_EQ(t.borders().size(), 1u);
    EXPECT_EQ(t.cell_formats().size(), 1u);

    // The table goes on working, and the records interned on the way keep their places.
    EXPECT_EQ(must(t.intern_record({.font = Font{.bold = true}, .fill = "#00FF00"}, C("0.0"))), 1u);
    expect_bytes(t.cell_formats()[1],
                 "<xf numFmtId=\"164\" fontId=\"1\" fillId=\"2\" borderId=\"0\" xfId=\"0\""
                 " applyNumberFormat=\"1\" applyFont=\"1\" applyFill=\"1\"/>");
}

TEST(StyleTable, InternPlainEqualsInterningTheEmptyStyle) {
    StyleTable plain, direct;
    const NumFmtKey keys[] = {NumFmtKey(), B(10), C("#,##0"), B(14), C("#,##0"), C("0.0%"), B(10),
                              NumFmtKey()};
    for (const NumFmtKey& k : keys) EXPECT_EQ(plain.intern_plain(k), must(direct.intern_record({}, k)));
    EXPECT_EQ(plain.plain_formats().size(), 5u);
    EXPECT_EQ(plain.plain_formats().at(C("#,##0")), 2u);
    expect_bytes(plain.to_xml(), direct.to_xml());
}

TEST(StyleTable, CopiesAreIndependent) {
    StyleTable a;
    EXPECT_EQ(must(a.intern_record({.fill = "#010203"}, C("0.00"))), 1u);
    StyleTable b = a;
    EXPECT_EQ(must(b.intern_record({.fill = "#010203"}, C("0.00"))), 1u);
    EXPECT_EQ(must(b.intern_record({.fill = "#040506"}, C("0.000"))), 2u);
    EXPECT_EQ(a.cell_formats().size(), 2u);
    EXPECT_EQ(a.custom_formats().size(), 1u);
    StyleTable c = std::move(b);
    EXPECT_EQ(must(c.intern_record({.fill = "#040506"}, C("0.000"))), 2u);
    a = c;
    expect_bytes(a.to_xml(), c.to_xml());
}

// What a cell format means, independent of index numbering: its font, fill, border and number
// format texts and its own attributes after xfId.
std::string expand(const StyleTable& t, uint32_t xf) {
    const std::string_view text = t.cell_formats()[xf];
    auto attr = [&](std::string_view name) {
        const size_t at = text.find(std::string(name) + "=\"") + name.size() + 2;
        return static_cast<uint32_t>(std::stoul(std::string(text.substr(at, text.find('"', at) - at))));
    };
    const uint32_t numfmt = attr("numFmtId");
    std::string out = numfmt >= 164 ? "code " + t.custom_formats()[numfmt - 164].code
                                    : "builtin " + std::to_string(numfmt);
    out += '|';
    out += t.fonts()[attr("fontId")];
    out += '|';
    out += t.fills()[attr("fillId")];
    out += '|';
    out += t.borders()[attr("borderId")];
    out += '|';
    out += text.substr(text.find("xfId=\"0\""));
    return out;
}

// A long run of styles drawn from small pools, so that equal, equal-rendering and near-equal styles
// recur: every index the table hands out means what interning the style in a new table means, and
// failures fail every time.
TEST(StyleTable, RepeatedStylesKeepTheirMeaning) {
    std::mt19937 rng(11);
    auto pick = [&](auto... options) {
        const std::optional<std::string> all[] = {options...};
        return all[rng() % sizeof...(options)];
    };
    auto flag = [&]() -> std::optional<bool> {
        switch (rng() % 3) { case 0: return std::nullopt; case 1: return true; default: return false; }
    };
    auto edge = [&]() -> std::optional<BorderEdge> {
        switch (rng() % 4) {
            case 0: return std::nullopt;
            case 1: return BorderEdge{};
            case 2: return BorderEdge{.style = BorderStyle::Thin, .color = pick(std::nullopt, "#000000", "#abcdef")};
            default: return BorderEdge{.style = BorderStyle::Double, .color = pick(std::nullopt, "ABCDEF")};
        }
    };
    const double sizes[] = {11, 11.0, 10.5, 0.0, -0.0, 14, std::nan("")};
    const NumFmtKey keys[] = {NumFmtKey(), B(14), C("0.0%"), C("#,##0"), C("")};
    StyleTable table;
    for (int n = 0; n < 4000; ++n) {
        CellStyle s;
        if (rng() % 2) {
            s.font = Font{.bold = flag(), .italic = flag(),
                          .size = rng() % 2 ? std::optional<double>(sizes[rng() % 7]) : std::nullopt,
                          .color = pick(std::nullopt, "#ff0000", "FF0000", "#00ff00"),
                          .name = pick(std::nullopt, "Calibri", "Arial", "A&B")};
        }
        if (rng() % 2) s.fill = pick("#ff0000", "ff0000", "#0000FF", "red");
        if (rng() % 3 == 0) {
            s.align = Align{.horizontal = rng() % 2 ? std::optional<HAlign>(HAlign::Center) : std::nullopt,
                            .vertical = rng() % 2 ? std::optional<VAlign>(VAlign::Middle) : std::nullopt,
                            .wrap = flag()};
        }
        if (rng() % 2) s.border = Border{.top = edge(), .bottom = edge(), .left = edge(), .right = edge()};
        const NumFmtKey& key = keys[rng() % 5];

        StyleTable fresh;
        Result<uint32_t> want = fresh.intern_record(s, key);
        Result<uint32_t> got = table.intern_record(s, key);
        ASSERT_EQ(got.ok(), want.ok()) << "case " << n;
        if (!got.ok()) {
            EXPECT_EQ(got.error().message, want.error().message);
            continue;
        }
        ASSERT_EQ(expand(table, got.value()), expand(fresh, want.value())) << "case " << n;
    }
    // De-duplication held throughout: no two cell formats, fonts, fills or borders alike.
    for (const Interner* list : {&table.cell_formats(), &table.fonts(), &table.fills(), &table.borders()}) {
        std::set<std::string_view> seen(list->texts().begin(), list->texts().end());
        EXPECT_EQ(seen.size(), list->size());
    }
}

TEST(PushList, CountAndItems) {
    const std::string_view items[] = {"<a/>", "<b/>"};
    std::string out = "x";
    push_list(out, "fonts", items);
    expect_bytes(out, "x<fonts count=\"2\"><a/><b/></fonts>");
    out.clear();
    push_list(out, "cellXfs", {});
    expect_bytes(out, "<cellXfs count=\"0\"></cellXfs>");
    out.clear();
    apply_flag(out, "applyFont", false);
    apply_flag(out, "applyFill", true);
    expect_bytes(out, " applyFill=\"1\"");
}

// Every field of a style, absent ones as "-", so that two styles compare as texts.
std::string dump(const CellStyle& s) {
    std::string out;
    auto flag = [&](const std::optional<bool>& b) { out += b ? (*b ? "1" : "0") : "-"; out += ' '; };
    auto text = [&](const std::optional<std::string>& t) { out += t ? *t : "-"; out += ' '; };
    auto num = [&](auto v) { out += v ? std::to_string(static_cast<int>(*v)) : "-"; out += ' '; };
    out += "font ";
    if (s.font) {
        flag(s.font->bold); flag(s.font->italic);
        out += s.font->size ? std::to_string(*s.font->size) : "-"; out += ' ';
        text(s.font->color); text(s.font->name);
    } else {
        out += "- ";
    }
    out += "fill "; text(s.fill);
    out += "align ";
    if (s.align) { num(s.align->horizontal); num(s.align->vertical); flag(s.align->wrap); } else { out += "- "; }
    out += "border ";
    if (s.border) {
        for (const auto* e : {&s.border->top, &s.border->bottom, &s.border->left, &s.border->right}) {
            if (*e) { out += '('; num((*e)->style); text((*e)->color); out += ") "; } else { out += "- "; }
        }
    } else {
        out += "-";
    }
    return out;
}

TEST(Overlay, FieldByField) {
    const BorderEdge thin_red{.style = BorderStyle::Thin, .color = "#ff0000"};
    const BorderEdge thick{.style = BorderStyle::Thick};
    struct Case { const char* what; CellStyle base, over, want; };
    const Case CASES[] = {
        {"empty over empty", {}, {}, {}},
        {"empty over a style keeps it",
         {.font = Font{.bold = true}, .fill = "#010101"}, {},
         {.font = Font{.bold = true}, .fill = "#010101"}},
        {"bold false wins over bold true, the size stays",
         {.font = Font{.bold = true, .size = 14}}, {.font = Font{.bold = false}},
         {.font = Font{.bold = false, .size = 14}}},
        {"a font onto no font",
         {.fill = "#020202"}, {.font = Font{.italic = true, .name = "Arial"}},
         {.font = Font{.italic = true, .name = "Arial"}, .fill = "#020202"}},
        {"an empty font still creates one",
         {}, {.font = Font{}}, {.font = Font{}}},
        {"every font field",
         {.font = Font{.bold = true, .italic = false, .size = 9, .color = "#000001", .name = "A"}},
         {.font = Font{.italic = true, .size = 12, .color = "#000002", .name = "B"}},
         {.font = Font{.bold = true, .italic = true, .size = 12, .color = "#000002", .name = "B"}}},
        {"fill replaced", {.fill = "#030303"}, {.fill = "#040404"}, {.fill = "#040404"}},
        {"alignment field by field",
         {.align = Align{.horizontal = HAlign::Left, .wrap = true}},
         {.align = Align{.vertical = VAlign::Bottom, .wrap = false}},
         {.align = Align{.horizontal = HAlign::Left, .vertical = VAlign::Bottom, .wrap = false}}},
        {"an empty alignment onto none",
         {}, {.align = Align{}}, {.align = Align{}}},
        {"border edges replaced whole",
         {.border = Border{.top = thin_red, .left = thin_red}},
         {.border = Border{.top = BorderEdge{.style = BorderStyle::Medium}, .right = thick}},
         {.border = Border{.top = BorderEdge{.style = BorderStyle::Medium}, .left = thin_red,
                           .right = thick}}},
        {"a border onto none has only the overlay's edges",
         {.fill = "#050505"}, {.border = Border{.bottom = thick}},
         {.fill = "#050505", .border = Border{.bottom = thick}}},
        {"an empty border still creates one", {}, {.border = Border{}}, {.border = Border{}}},
    };
    for (const Case& c : CASES) {
        CellStyle merged = c.base;
        overlay(merged, c.over);
        EXPECT_EQ(dump(merged), dump(c.want)) << c.what;
    }
}

}  // namespace
}  // namespace tessary

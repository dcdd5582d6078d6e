// Tests of the XML pull tokenizer: event sequences of well-formed and broken markup, comments,
// processing instructions, CDATA and DOCTYPE, attribute lookup by raw and local name, borrowing, and
// the replacement of entity and character references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "parse/xml.h"

namespace tessary::parse {
namespace {

// One line per event: S<name attr=[value] ...> with "/" for self-closing, E</name>, T[text].
std::string events(std::string_view xml) {
    Reader reader(xml);
    Event ev;
    std::string out;
    int guard = 0;
    while (reader.next(ev)) {
        if (++guard > 10000) return "runaway";
        if (!out.empty()) out += ' ';
        switch (ev.kind) {
            case EventKind::Start:
                out += "S<" + std::string(ev.tag.name);
                for (size_t i = 0; i < ev.tag.attr_count(); ++i) {
                    const Attr& a = ev.tag.attr_at(i);
                    out += " " + std::string(a.name) + "=[" + std::string(a.value.view()) + "]";
                }
                out += ev.tag.self_closing ? "/>" : ">";
                break;
            case EventKind::End:
                out += "E</" + std::string(ev.tag.name) + ">";
                break;
            case EventKind::Text:
                out += "T[" + std::string(ev.text.view()) + "]";
                break;
        }
    }
    // Every later read returns none, too.
    if (reader.next(ev) || reader.read()) return out + " (more after the end)";
    return out;
}

struct Case {
    std::string_view in, want;
};

TEST(Reader, Events) {
    const Case cases[] = {
        {"<a/>", "S<a/>"},
        {"<a></a>", "S<a> E</a>"},
        {"<a>x</a>", "S<a> T[x] E</a>"},
        {"<row r=\"1\" spans='1:3'><c r=\"A1\" t=\"s\"><v>0</v></c></row>",
         "S<row r=[1] spans=[1:3]> S<c r=[A1] t=[s]> S<v> T[0] E</v> E</c> E</row>"},
        {"<x:c r=\"A1\"/>", "S<x:c r=[A1]/>"},
        {"<t xml:space=\"preserve\">  a  </t>", "S<t xml:space=[preserve]> T[  a  ] E</t>"},
        {"<a>\n  <b/>\n</a>", "S<a> T[\n  ] S<b/> T[\n] E</a>"},        // whitespace text is kept
        {"<a  b = \"1\"\tc\n=\n'2' />", "S<a b=[1] c=[2]/>"},              // blanks around "="
        {"<a b=\"x'y\" c='x\"y'>", "S<a b=[x'y] c=[x\"y]>"},
        {"<a b=\"1\" b=\"2\">", "S<a b=[1] b=[2]>"},                        // duplicates all stay
        {"<a b=\"&lt;&amp;&#x41;\">", "S<a b=[<&A]>"},
        {"<a b=\"\">", "S<a b=[]>"},
        {"<a b=|x|>", "S<a b=[x]>"},                                        // any delimiter
        {"<a b>", "S<a b=[]>"},                                             // ">" as delimiter, value to end
        {"text only", "T[text only]"},
        {"a&amp;b", "T[a&b]"},
        {"", ""},
        // Declarations, comments, processing instructions and DOCTYPE yield nothing.
        {"<?xml version=\"1.0\"?><r>", "S<r>"},
        {"<!DOCTYPE x><r/>", "S<r/>"},
        {"<!DOCTYPE x [<!ENTITY e \"v\"> <!ELEMENT r ANY>]><r/>", "S<r/>"},
        {"<!DOCTYPE x [<!ENTITY e \"]>\">]><r/>", "S<r/>"},
        {"<!DOCTYPE x SYSTEM 'a>b'><r/>", "S<r/>"},
        {"<!-- a>b --><r/>", "S<r/>"},                                     // a comment ends at "-->"
        {"<a><!-- <b> -- > --></a>", "S<a> E</a>"},
        {"<?pi a>b ?><r/>", "S<r/>"},                                      // a PI ends at "?>"
        {"<t><![CDATA[a<b]]></t>", "S<t> T[a<b] E</t>"},                   // CDATA is text
        {"<t><![CDATA[&amp;]]></t>", "S<t> T[&amp;] E</t>"},               // not unescaped
        {"<t>x<![CDATA[]]>y</t>", "S<t> T[x] T[y] E</t>"},
        {"<t><![CDATA[a]>b]]></t>", "S<t> T[a]>b] E</t>"},
        // End tags: the name ends before whitespace.
        {"</row >", "E</row>"},
        {"</row\n\t>", "E</row>"},
        {"</x:row>", "E</x:row>"},
        {"</>", "E</>"},
        // Markup cut off by the end of the input.
        {"a<", "T[a] S<>"},
        {"<c r=\"A1", "S<c r=[A1]>"},
        {"<c r", "S<c>"},
        {"<c r=", "S<c>"},
        {"<c r= ", "S<c>"},
        {"<c r=\"A1\"", "S<c r=[A1]>"},
        {"<c", "S<c>"},
        {"<c/", "S<c/>"},
        {"</row", "E</row>"},
        {"<!-- unterminated", ""},
        {"<? unterminated", ""},
        {"<!DOCTYPE x [ unterminated >", ""},
        {"<![CDATA[open", "T[open]"},
        {"<!", ""},
        {"<r/><!-- x", "S<r/>"},
        // Odd names.
        {"<>", "S<>"},
        {"< a>", "S< a=[]>"},
        {"<a/x>", "S<a/> T[>]"},                    // "/" and the character after it are skipped
        {"<a/\xc3\xa9 b=\"1\">", "S<a/> T[ b=\"1\">]"},
        {"<a =\"v\">", "S<a =[v]>"},
    };
    for (const Case& c : cases) EXPECT_EQ(events(c.in), c.want) << "input: " << c.in;
}

TEST(Reader, SlashSkipsAWholeCharacter) {
    // "<a/" followed by a two-byte character: the position lands after the whole character.
    const std::string xml = "<a/\xc3\xa9t";
    Reader reader(xml);
    Event ev;
    ASSERT_TRUE(reader.next(ev));
    EXPECT_TRUE(ev.tag.self_closing);
    EXPECT_EQ(reader.position(), 5u);
    ASSERT_TRUE(reader.next(ev));
    EXPECT_EQ(ev.kind, EventKind::Text);
    EXPECT_EQ(ev.text.view(), "t");
}

TEST(Reader, BorrowsFromTheInput) {
    const std::string xml = "<c r=\"A1\" t=\"a&amp;b\">plain text</c>";
    Reader reader(xml);
    Event ev;
    const auto inside = [&](std::string_view s) {
        return s.data() >= xml.data() && s.data() + s.size() <= xml.data() + xml.size();
    };
    ASSERT_TRUE(reader.next(ev));
    EXPECT_TRUE(inside(ev.tag.name));
    EXPECT_TRUE(inside(ev.tag.attr_at(0).name));
    EXPECT_FALSE(ev.tag.attr_at(0).value.is_owned);
    EXPECT_TRUE(inside(ev.tag.attr_at(0).value.view()));
    EXPECT_TRUE(ev.tag.attr_at(1).value.is_owned);  // replaced: owned
    EXPECT_EQ(ev.tag.attr_at(1).value.view(), "a&b");
    ASSERT_TRUE(reader.next(ev));
    EXPECT_FALSE(ev.text.is_owned);
    EXPECT_EQ(ev.text.view().data(), xml.data() + 22);
    ASSERT_TRUE(reader.next(ev));
    EXPECT_TRUE(inside(ev.tag.name));

    // An event copied out of the reader stays valid after further reads.
    Reader again(xml);
    std::optional<Event> first = again.read();
    ASSERT_TRUE(first.has_value());
    std::optional<Event> second = again.read();
    EXPECT_EQ(first->tag.attr("t"), "a&b");
    EXPECT_EQ(second->text.view(), "plain text");
}

TEST(Tag, AttributeLookup) {
    const std::string xml =
        "<sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\" x:r=\"B\" r=\"A1\" r=\"C3\" id=\"plain\"/>";
    Reader reader(xml);
    Event ev;
    ASSERT_TRUE(reader.next(ev));
    const Tag& t = ev.tag;
    ASSERT_EQ(t.attr_count(), 7u);  // four inline, three in the list
    struct Lookup {
        std::string_view name;
        std::optional<std::string_view> exact, local, prefixed;
    };
    const Lookup lookups[] = {
        {"name", "One", "One", std::nullopt},
        {"sheetId", "1", "1", std::nullopt},
        {"r:id", "rId1", std::nullopt, std::nullopt},
        {"id", "plain", "rId1", "rId1"},           // exact finds the unprefixed one
        {"r", "A1", "B", "B"},                     // first wins; x:r is "r" by local name
        {"x:r", "B", std::nullopt, std::nullopt},
        {"R", std::nullopt, std::nullopt, std::nullopt},  // no case folding
        {"missing", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Lookup& l : lookups) {
        EXPECT_EQ(t.attr(l.name), l.exact) << l.name;
        EXPECT_EQ(t.attr_local(l.name), l.local) << l.name;
        EXPECT_EQ(t.attr_prefixed(l.name), l.prefixed) << l.name;
    }

    // Six attributes: every one answers, in document order; reading a smaller tag with the same
    // event afterwards shows only its own attributes.
    const std::string six = "<c a=\"1\" b=\"2\" c=\"3\" d=\"4\" e=\"5\" f=\"6\"/><d g=\"7\"/>";
    Reader r6(six);
    ASSERT_TRUE(r6.next(ev));
    ASSERT_EQ(ev.tag.attr_count(), 6u);
    const char* names[] = {"a", "b", "c", "d", "e", "f"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ev.tag.attr(names[i]), std::string(1, static_cast<char>('1' + i)));
        EXPECT_EQ(ev.tag.attr_at(static_cast<size_t>(i)).name, names[i]);
    }
    ASSERT_TRUE(r6.next(ev));
    EXPECT_EQ(ev.tag.attr_count(), 1u);
    EXPECT_EQ(ev.tag.attr("e"), std::nullopt);
    EXPECT_EQ(ev.tag.attr("g"), "7");
}

TEST(LocalName, StripsThePrefix) {
    const Case cases[] = {{"x:row", "row"}, {"row", "row"}, {"a:b:c", "c"}, {":c", "c"}, {"x:", ""}, {"", ""}};
    for (const Case& c : cases) EXPECT_EQ(local_name(c.in), c.want) << c.in;
}

TEST(Unescape, References) {
    const Case cases[] = {
        {"a &amp;lt; b", "a &lt; b"},
        {"&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
        {"&#65;", "A"},
        {"&#x41;", "A"},
        {"&#X41;", "A"},
        {"&#+65;", "A"},
        {"&#x+41;", "A"},
        {"&#0065;", "A"},
        {"&#xe9;&#233;", "\xc3\xa9\xc3\xa9"},
        {"&#x20AC;", "\xe2\x82\xac"},
        {"&#x1F600;", "\xf0\x9f\x98\x80"},
        {"&#x10FFFF;", "\xf4\x8f\xbf\xbf"},
        {"&#xD7FF;", "\xed\x9f\xbf"},
        {"&#xE000;", "\xee\x80\x80"},
        {"&#4294967295;", "&#4294967295;"},   // fits 32 bits, not a scalar value
        {"&#4294967296;", "&#4294967296;"},   // overflow
        {"&#xFFFFFFFFF;", "&#xFFFFFFFFF;"},
        {"&#xD800;", "&#xD800;"},
        {"&#xDFFF;", "&#xDFFF;"},
        {"&#x110000;", "&#x110000;"},
        {"&#;", "&#;"},
        {"&#x;", "&#x;"},
        {"&#+;", "&#+;"},
        {"&#++65;", "&#++65;"},
        {"&#-65;", "&#-65;"},
        {"&#6a;", "&#6a;"},
        {"&#x4G;", "&#x4G;"},
        {"&nbsp;", "&nbsp;"},
        {"&AMP;", "&AMP;"},
        {"&;", "&;"},
        {"AT&T", "AT&T"},
        {"&amp", "&amp"},
        {"&x&amp;", "&x&"},
        {"&&&&;", "&&&&;"},
        {"&&amp;&", "&&&"},
        {"a;b&lt;c;", "a;b<c;"},
        {"", ""},
    };
    for (const Case& c : cases) {
        Slice s = unescape(c.in);
        EXPECT_EQ(s.view(), c.want) << "input: " << c.in;
        std::string out = "[";
        unescape_into(out, c.in);
        EXPECT_EQ(out, "[" + std::string(c.want)) << "input: " << c.in;
    }
    // "&#0;" gives U+0000.
    EXPECT_EQ(unescape("a&#0;b").view(), std::string_view("a\0b", 3));
}

TEST(Unescape, BorrowsWithoutAmpersand) {
    // Every length around the sixteen-byte steps, with and without an "&" at every position.
    for (size_t len = 0; len < 50; ++len) {
        const std::string plain(len, 'x');
        Slice s = unescape(plain);
        EXPECT_FALSE(s.is_owned) << len;
        EXPECT_EQ(s.view().data(), plain.data()) << len;
        EXPECT_EQ(s.view().size(), len);
        for (size_t at = 0; at < len; ++at) {
            std::string text = plain;
            text[at] = '&';
            text += "amp;";
            Slice r = unescape(text);
            EXPECT_TRUE(r.is_owned) << len << " " << at;
            std::string want = plain;
            want[at] = '&';
            want += "amp;";
            // The "&" at `at` opens a reference ending at the first ";" after it: "x...x;" is not a
            // known name unless nothing stood between, so only "&amp;" at the very end is replaced.
            if (at + 1 == len) want = plain.substr(0, at) + "&";
            EXPECT_EQ(r.view(), want) << len << " " << at;
        }
    }
}

TEST(Unescape, ManyAmpersandsStayLinear) {
    // A long run of "&" with one ";" at the end: every "&" is literal, and the ";" is found once.
    std::string text(200000, '&');
    text += "lt;";
    Slice s = unescape(text);
    EXPECT_EQ(s.view(), std::string(199999, '&') + "<");
}

}  // namespace
}  // namespace tessary::parse

// Hostile XML: each text ends in a parse failure or a usable document, never a
// blown stack (deep cases run on a small-stack thread).
#include <gtest/gtest.h>

#include "common/small_stack.h"
#include "common/tsv.h"

using namespace CfCppHelperV1;

namespace {

using namespace smallstack;

HostHelper helper(nullptr);

TEST(HostileXmlTest, RefusedTextsFailCleanlyAndQuickly) {
    // l9 expands to ten to the ninth "lol"s.
    std::string laughs = "<!DOCTYPE l [<!ENTITY l0 'lol'>";
    for (int i = 1; i <= 9; ++i) {
        std::string use = "&l" + std::to_string(i - 1) + ";", uses;
        for (int k = 0; k < 10; ++k) uses += use;
        laughs += "<!ENTITY l" + std::to_string(i) + " '" + uses + "'>";
    }
    laughs += "]>";
    // Texts of markup alone are tests/xml/refused_texts.tsv.
    std::vector<std::pair<std::string, std::string>> cases = {
        {"billion laughs in text", laughs + "<l>&l9;</l>"},
        {"billion laughs in an attribute", laughs + "<l v='&l9;&l9;'/>"},
        {"UTF-16 cut short", std::string("\xFF\xFE<\0r\0/\0>", 7)},
        {"UTF-16 unpaired surrogate", std::string("\xFF\xFE<\0r\0 \0v\0=\0'\0\x00\xD8'\0/\0>\0", 22)},
        {"undefined entity deep down", Nested(kDeep, "&x;")}, {"deep and unclosed", Nested(kDeep).substr(0, kDeep * 3 + 10)},
        {"zero byte in character data", std::string("<r>a\0b</r>", 10)},
        {"zero byte in an attribute", std::string("<r v='a\0b'/>", 12)}, {"zero byte in a name", std::string("<r\0x/>", 6)},
        {"zero byte after the root", std::string("<r/>\0<s/>", 9)}, {"zero byte alone", std::string(1, '\0')},
        {"text after the root", "<r/>\nx"},
        {"text between the declaration and the root", "\xEF\xBB\xBF<?xml version='1.0'?>x<r/>"}, {"empty text", ""},
    };
    for (const std::vector<std::string>& row : splittest::TsvRows("xml/refused_texts.tsv"))
        cases.emplace_back(row.at(0), row.at(1));
    for (const auto& [name, text] : cases) EXPECT_THROW(helper.createFromContents(text), XMLException) << name;
}

// A text without references or carriage returns is parsed without the
// passes for them; one with either still goes through both.
TEST(HostileXmlTest, LineEndsAndReferencesAreReadInEveryText) {
    const struct { const char* text; const char* content; } cases[] = {
        {"<r>a\r\nb\rc</r>", "a\nb\nc"}, {"<r>a\r\nb&amp;</r>", "a\nb&"},
        {"<r>a&#10;b&lt;\n</r>", "a\nb<\n"},
    };
    for (const auto& c : cases) {
        XMLDocument document = helper.createFromContents(std::string(c.text));
        EXPECT_EQ(document.getText(), c.content) << c.text;
        document.dispose();
    }
}

// Document types change nothing (no external fetch); other encodings arrive as
// UTF-8; an encoding not converted keeps its bytes.
TEST(HostileXmlTest, DeclarationsAndEncodingsAreHonoured) {
    auto utf16 = [](const std::string& ascii, bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    std::string utf16WithEuro = utf16("<r v='x'/>", false);
    utf16WithEuro.replace(utf16WithEuro.find(std::string("x\0", 2)), 2, "\xAC\x20");  // U+20AC
    const struct { const char* name; std::string text, value; } cases[] = {
        {"external document type", "<!DOCTYPE r PUBLIC '-//X//Y' 'http://127.0.0.1/r.dtd'><r v='a'/>", "a"},
        {"element declarations and comments",
         "<?xml version='1.0'?><!-- c --><!DOCTYPE r [ <!ELEMENT r EMPTY> <!-- ] > --> <?pi x?> "
         "<!NOTATION n SYSTEM 'u>'> ]><r v='b'/>", "b"},
        {"ISO-8859-1", "<?xml version='1.0' encoding='ISO-8859-1'?><r v='M\xFCnchen'/>", "M\xC3\xBCnchen"},
        {"latin1, single quotes, upper case", "<?xml version=\"1.0\" encoding = 'LATIN1' ?><r v='\xE9'/>", "\xC3\xA9"},
        {"windows-1252", "<?xml version='1.0' encoding='windows-1252'?><r v='\x80\x9F\x81'/>",
         "\xE2\x82\xAC\xC5\xB8\xC2\x81"},
        {"UTF-16 little-endian", utf16WithEuro, "\xE2\x82\xAC"},
        {"UTF-16 big-endian with a declaration", utf16("<?xml version='1.0' encoding='UTF-16'?><r v='z'/>", true), "z"},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF<r v='\xC3\xA9'/>", "\xC3\xA9"},
        {"an encoding not converted", "<?xml version='1.0' encoding='KOI8-R'?><r v='\xE1'/>", "\xE1"},
        {"references to the last allowed characters", "<r v='&#x10FFFF;&#xFFFD;&#9;'/>", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XMLDocument document;
        ASSERT_NO_THROW(document = helper.createFromContents(c.text));
        EXPECT_EQ(document.getName(), "r");
        EXPECT_EQ(document.getAttribute("v"), c.value);
        std::string written;
        document.doc2string(written);
        EXPECT_EQ(written.find("<!DOCTYPE"), std::string::npos);
        document.dispose();
    }
}

TEST(HostileXmlTest, DeepDocumentsAreHandledWithoutRecursion) {
    OnSmallStack([] {
        XMLDocument deep = helper.createFromContents("<r>" + Nested(kDeep, "<leaf k='v'/>") + "</r>");
        EXPECT_EQ(DepthBelow(deep), kDeep + 1);
        EXPECT_EQ(deep.getElementByAttribute("leaf", "k", "v").getName(), "leaf");

        XMLDocument other = helper.createNew("copy");
        XMLElement copied = other.copyElement(deep.getElementsDirect("n").next());
        EXPECT_EQ(DepthBelow(other), kDeep + 1);
        std::string copy;
        other.doc2string(copy);
        EXPECT_LT(copy.size(), 8 * kDeep);
        XMLDocument reread = helper.createFromContents(copy);
        EXPECT_EQ(DepthBelow(reread), kDeep + 1);
        EXPECT_EQ(reread.getElementByAttribute("leaf", "k", "v").getName(), "leaf");
        reread.dispose();

        XMLDocument built = helper.createNew("b");
        XMLElement tip = built;
        for (size_t i = 0; i < kDeep; ++i) tip = tip.addElement("n");
        std::string serialised;
        built.doc2string(serialised);
        reread = helper.createFromContents(serialised);
        EXPECT_EQ(DepthBelow(reread), kDeep);
        reread.dispose();

        EXPECT_TRUE(other.removeElement(copied));
        EXPECT_TRUE(built.removeElement(built.getElementsDirect("n").next()));
        EXPECT_EQ(DepthBelow(built), 0u);
        deep.dispose();
        other.dispose();
        built.dispose();
    });
}

// Non-UTF-8 bytes and markup characters in values read back byte for byte.
TEST(HostileXmlTest, MalformedUtf8AndMarkupAreKeptByteForByte) {
    const std::string values[] = {"\xFF\xFE", "\xC3\x28", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "bell\x07"};
    const std::string written[] = {"", "<>&\"'", "&amp; &#65; &unknown;", "tab\there\nnewline\r\ncrlf",
                                   "  both ends  ", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "]]> --> <!-- <![CDATA["};
    // Writes the document out, reads it back and disposes of both.
    auto reread = [&](XMLDocument document, const std::string& value) {
        std::string text;
        document.doc2string(text);
        document.dispose();
        XMLDocument again = helper.createFromContents(text);
        EXPECT_EQ(again.getAttribute("v"), value);
        again.dispose();
    };
    for (const std::string& value : values) {
        XMLDocument document = helper.createFromContents("<r v='" + value + "'><c>" + value + "</c></r>");
        EXPECT_EQ(document.getAttribute("v"), value);
        EXPECT_EQ(document.getElementsDirect("c").next().getText(), value);
        reread(document, value);
    }
    for (const std::string& value : written) {
        XMLDocument document = helper.createNew("r");
        document.addAttribute("v", value);
        reread(document, value);
    }
}

}  // namespace

// The host's serialiser against pugixml's printer: every document is
// written byte for byte as pugixml's indented print writes it, and deep or
// unusual trees fall back to pugixml itself.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "cf_cpp_helper.h"

using namespace CfCppHelperV1;

namespace {

class Writer : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
};

std::string printedByPugixml(const XMLDocument& document, unsigned layout) {
    Writer writer;
    reinterpret_cast<pugi::xml_document*>(document.storage())
        ->print(writer, "  ", layout | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text;
}

std::string written(const XMLDocument& document) {
    std::string text;
    document.doc2string(text);
    return text;
}

HostHelper helper(nullptr);

TEST(IndentedPrint, EveryByteInTextAndAttributeValuesIsWrittenAsPugixmlWritesIt) {
    for (int c = 1; c < 256; ++c) {
        XMLDocument document = helper.createNew("r");
        const std::string value = std::string("a") + static_cast<char>(c) + "b" + static_cast<char>(c);
        document.addAttribute("v", value);
        document.addElement("t").setText(value);
        EXPECT_EQ(written(document), printedByPugixml(document, pugi::format_indent)) << "byte " << c;
        document.dispose();
    }
}

TEST(IndentedPrint, ParsedShapesAreWrittenAsPugixmlWritesThem) {
    const char* const texts[] = {
        "<r/>",
        "<r a=\"\" b=\"x\"/>",
        "<r>text only</r>",
        "<r>lead<b/>mid<c>inner</c>tail</r>",
        "<r><b>1</b><c><d/><e x=\"&lt;&amp;&quot;&apos;&gt;&#9;&#10;&#13;&#1;\"/></c></r>",
        "<r>&lt;&amp;&gt;\"'&#1;&#31;</r>",
        "<r><![CDATA[a]]]]><![CDATA[>b]]></r>",
        "<r><![CDATA[]]></r>",
        "<r><![CDATA[x]]>y<z/></r>",
        "<r>caf\xC3\xA9 \xE2\x82\xAC<n \xC3\xA9=\"\xF0\x9F\x98\x80\"/></r>",
        "<?xml version=\"1.0\"?><!-- dropped --><r><?pi dropped?><a>  spaced  </a></r>",
    };
    for (const char* text : texts) {
        XMLDocument document = helper.createFromContents(std::string(text));
        EXPECT_EQ(written(document), printedByPugixml(document, pugi::format_indent)) << text;
        document.dispose();
    }
}

TEST(IndentedPrint, BuiltTreesAreWrittenAsPugixmlWritesThem) {
    XMLDocument document = helper.createNew("");
    document.addAttribute("", "unnamed");
    XMLElement child = document.addElement("c");
    child.setText("");
    child.addElement("d").addAttribute("n", int64_t{-3});
    document.copyElement(child);
    EXPECT_EQ(written(document), printedByPugixml(document, pugi::format_indent));
    document.dispose();
}

TEST(IndentedPrint, DeepTreesAndForeignNodesFallBackToPugixml) {
    struct Case {
        int depth;
        bool comment;
        unsigned layout;
    };
    // Nodes up to 64 below the document are indented; one deeper makes the
    // whole document unindented.
    const Case cases[] = {{64, false, pugi::format_indent},
                          {65, false, pugi::format_raw},
                          {64, true, pugi::format_indent},
                          {3, true, pugi::format_indent}};
    for (const Case& c : cases) {
        XMLDocument document = helper.createNew("r");
        XMLElement at = document;
        for (int i = 1; i < c.depth; ++i) at = at.addElement("e");
        if (c.comment)
            pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(document.node())).append_child(pugi::node_comment).set_value("c");
        EXPECT_EQ(written(document), printedByPugixml(document, c.layout)) << c.depth << " " << c.comment;
        document.dispose();
    }
}

}  // namespace

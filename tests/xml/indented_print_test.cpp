// The host's printer against pugixml's: every document is written byte for
// byte as pugixml's indented print writes it, deep ones as its raw print.
#include <gtest/gtest.h>

#include <functional>
#include <pugixml.hpp>

#include "cf_cpp_helper.h"

using namespace CfCppHelperV1;

namespace {

class Writer : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
};

// A document's storage starts with its pugixml document.
void expectPrintedAsPugixml(XMLDocument document, unsigned layout, const std::string& what) {
    Writer writer;
    reinterpret_cast<pugi::xml_document*>(document.storage())
        ->print(writer, "  ", layout | pugi::format_no_declaration, pugi::encoding_utf8);
    std::string written;
    document.doc2string(written);
    EXPECT_EQ(written, writer.text) << what;
    document.dispose();
}

HostHelper helper(nullptr);

TEST(IndentedPrint, EveryByteInTextAndAttributeValuesIsWrittenAsPugixmlWritesIt) {
    for (int c = 1; c < 256; ++c) {
        XMLDocument document = helper.createNew("r");
        const std::string value = std::string("a") + static_cast<char>(c) + "b" + static_cast<char>(c);
        document.addAttribute("v", value);
        document.addElement("t").setText(value);
        expectPrintedAsPugixml(document, pugi::format_indent, "byte " + std::to_string(c));
    }
}

XMLDocument chain(int depth, bool comment) {
    XMLDocument document = helper.createNew("r");
    XMLElement at = document;
    for (int i = 1; i < depth; ++i) at = at.addElement("e");
    if (comment)
        pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(document.node()))
            .append_child(pugi::node_comment)
            .set_value("c");
    return document;
}

TEST(IndentedPrint, ShapesAreWrittenAsPugixmlWritesThem) {
    const struct { const char* name; std::function<XMLDocument()> make; unsigned layout = pugi::format_indent; } cases[] = {
        {"empty elements and values", [] { return helper.createFromContents("<r a=\"\"><b x=\"1\"/><c/></r>"); }},
        {"mixed content", [] { return helper.createFromContents("<r>lead<b/>mid<c>in</c>tail</r>"); }},
        {"escapes", [] { return helper.createFromContents("<r a=\"&lt;&amp;&quot;'&gt;&#9;&#10;&#13;&#1;\">&lt;&gt;\"'&#31;</r>"); }},
        {"CDATA around ]]>", [] { return helper.createFromContents("<r><![CDATA[a]]]]><![CDATA[>b]]><![CDATA[]]>x<z/></r>"); }},
        {"UTF-8", [] { return helper.createFromContents("<r>caf\xC3\xA9<n \xC3\xA9=\"\xF0\x9F\x98\x80\"/></r>"); }},
        {"unnamed, copied and emptied", [] {
             XMLDocument document = helper.createNew("");
             document.addAttribute("", "unnamed");
             XMLElement child = document.addElement("c");
             child.setText("");
             child.addElement("d").addAttribute("n", int64_t{-3});
             document.copyElement(child);
             return document;
         }},
        // Nodes up to 64 below the document are indented; one deeper leaves
        // the whole document unindented. A comment goes to pugixml's printer.
        {"64 deep", [] { return chain(64, false); }},
        {"65 deep", [] { return chain(65, false); }, pugi::format_raw},
        {"a comment", [] { return chain(3, true); }},
        // Past its own buffer the printer goes on in 1 MiB blocks: values
        // straddle their edges, and one text is longer than a block.
        {"larger than the printer's own buffer", [] {
             XMLDocument document = helper.createNew("r");
             for (int i = 0; i < 3000; ++i)
                 document.addElement("e").addAttribute("v", std::string(i % 997, 'x') + "0123456789abcdef&<\"");
             document.addElement("t").setText(std::string(1500000, 'y'));
             return document;
         }},
    };
    for (const auto& c : cases)
        expectPrintedAsPugixml(c.make(), c.layout, c.name);
}

}  // namespace

// Parsing, serialisation and lifetime of documents.
#include <gtest/gtest.h>

#include "cf_cpp_helper.h"

using namespace CfCppHelperV1;

namespace {

std::string serialise(const XMLElement& element) {
    std::string text;
    element.doc2string(text);
    return text;
}

TEST(XmlDocumentTest, ParsingResolvesPredefinedAndNumericReferencesAndDropsBlankText) {
    XMLDocument document = HostHelper(nullptr).createFromContents(
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- lead -->\n"
        "<R v='&lt;&#65;&#x42;&quot;&apos;'>\n  <C>&amp;<![CDATA[<&>]]></C>\n</R>\n");
    EXPECT_EQ(document.getAttribute("v"), "<AB\"'");
    EXPECT_EQ(document.getElementsDirect("C").next().getText(), "&");
    EXPECT_EQ(document.getText(), "");
    document.dispose();
}

TEST(XmlDocumentTest, MalformedTextThrows) {
    const char* texts[] = {"", "   \n", "<!-- only a comment -->", "just text", "<a>", "<a></b>",
                           "<a/><b/>", "<a/>trailing", "<a x='1></a>", "<a x='<'/>",
                           "<a>&undefined;</a>", "<a x='&nope;'/>", "<a>& loose</a>",
                           "<a><!-- unterminated </a>"};
    HostHelper helper(nullptr);
    for (const char* text : texts)
        EXPECT_THROW(helper.createFromContents(text), XMLException) << '"' << text << '"';
}

TEST(XmlDocumentTest, DisposeFreesOnceAndCopiesFreeNothing) {
    XMLDocument document = HostHelper(nullptr).createFromContents("<R><C/></R>");
    { [[maybe_unused]] XMLDocument copy = document; }
    EXPECT_EQ(document.getElementsDirect("C").count(), 1u);
    document.dispose();
    EXPECT_TRUE(document.isEmpty());
    EXPECT_EQ(document.storage(), nullptr);
    document.dispose();
    EXPECT_EQ(serialise(document), "");
}

}  // namespace

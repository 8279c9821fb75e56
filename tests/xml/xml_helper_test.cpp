// The XML helper: parsing, lifetime, attributes, lookups, child order and deep
// copies.
#include <gtest/gtest.h>

#include "cf_cpp_helper.h"

using namespace CfCppHelperV1;

namespace {

std::vector<std::string> childNames(const XMLElement& element, const std::string& name = "") {
    std::vector<std::string> names;
    for (XMLElementIterator it = element.getElementsDirect(name); it.hasMore();)
        names.push_back(it.next().getName());
    return names;
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
    std::string text = "unchanged";
    document.doc2string(text);
    EXPECT_EQ(text, "");
}

TEST(XmlElementTest, AddAttributeReplacesInPlaceAndAppendsNewOnes) {
    XMLDocument document = HostHelper(nullptr).createNew("Root");
    document.addAttribute("a", "1");
    document.addAttribute("b", std::string("2"));
    document.addAttribute("c", int64_t{3});
    document.addAttribute("b", int64_t{-9000000000});
    document.addAttribute("a", "");
    EXPECT_EQ(document.getAttributeNames(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(document.getAttribute("b"), "-9000000000");
    EXPECT_TRUE(document.hasAttribute("a"));
    EXPECT_EQ(document.getAttribute("missing"), "");
    document.dispose();
}

TEST(XmlElementTest, IntegerAttributeMustReadWholeAsDecimal) {
    const std::pair<const char*, bool> cases[] = {
        {"-7", true},  {"9223372036854775807", true}, {"9223372036854775808", false},
        {"", false},   {" 1", false}, {"1x", false},  {"+1", false}, {"1.0", false}};
    XMLDocument document = HostHelper(nullptr).createNew("Root");
    for (auto [text, ok] : cases) {
        document.addAttribute("n", text);
        int64_t value = 12345;
        EXPECT_EQ(document.getAttribute("n", value), ok) << text;
        EXPECT_EQ(value, ok ? std::stoll(text) : 12345) << text;
    }
    document.dispose();
}

TEST(XmlElementTest, GetElementByAttributeSearchesDescendantsInDocumentOrder) {
    XMLDocument document = HostHelper(nullptr).createFromContents(
        "<B name='x' id='self'><A name='x' id='a'><B name='y' id='nested'/></A>"
        "<B name='x' id='first'/><C><B name='x' id='deep'/></C></B>");
    const std::vector<std::vector<std::string>> cases = {
        {"B", "name", "x", "first"},  // the element itself is not searched
        {"B", "name", "y", "nested"}, {"B", "id", "deep", "deep"},
        {"B", "name", "z", ""},       {"b", "name", "x", ""},  // names are case-sensitive
    };
    for (const auto& c : cases) {
        if (c[3].empty())
            EXPECT_THROW(document.getElementByAttribute(c[0], c[1], c[2]), XMLException);
        else
            EXPECT_EQ(document.getElementByAttribute(c[0], c[1], c[2]).getAttribute("id"), c[3]);
    }
    document.dispose();
}

TEST(XmlElementTest, ChildrenAreElementsOnlyAndRefsMustBeDirectChildren) {
    HostHelper helper(nullptr);
    XMLDocument document = helper.createFromContents(
        "<R>text<a/>more<!-- note --><b><a/></b><![CDATA[raw]]><?pi x?></R>");
    EXPECT_EQ(childNames(document), (std::vector<std::string>{"a", "b"}));
    XMLElement a = document.getElementsDirect("a").next();
    XMLElement grandchild = document.getElementsDirect("b").next().getElementsDirect("a").next();
    XMLDocument other = helper.createNew("Other");
    document.insertElementBefore("beforeA", a);
    document.insertElementBefore("grandRef", grandchild);  // not a child: appended
    document.copyElementBefore(a, other);                  // foreign ref: appended
    EXPECT_EQ(childNames(document), (std::vector<std::string>{"beforeA", "a", "b", "grandRef", "a"}));
    EXPECT_FALSE(document.removeElement(grandchild));
    document.dispose();
    other.dispose();
}

TEST(XmlElementTest, CopyAcrossDocumentsIsDeepAndOutlivesTheSource) {
    HostHelper helper(nullptr);
    XMLDocument source =
        helper.createFromContents("<S><Model id='1'>body<Part n='a'><Leaf/></Part></Model></S>");
    XMLDocument target = helper.createNew("T");
    XMLElement model = source.getElementsDirect("Model").next();
    target.copyElement(model);
    model.addAttribute("id", "changed");
    model.getElementsDirect("Part").next().addElement("Extra");
    source.dispose();
    EXPECT_TRUE(source.isEmpty());
    std::string text;
    target.doc2string(text);
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<T>\n  <Model id=\"1\">body<Part n=\"a\">\n"
              "      <Leaf />\n    </Part>\n  </Model>\n</T>\n");
    target.dispose();
}

}  // namespace

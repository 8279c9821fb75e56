// The data model document built from a table, and the storage and measure texts of its fields.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "refhost/table.h"

namespace refhost {
namespace {

// An element as name(attr=value;...) then each child in braces, in document order.
std::string render(pugi::xml_node node) {
    std::string out = std::string(node.name()) + "(";
    for (pugi::xml_attribute a : node.attributes()) out += std::string(a.name()) + "=" + a.value() + ";";
    out += ")";
    for (pugi::xml_node child : node.children()) out += "{" + render(child) + "}";
    return out;
}

TEST(DataModelXml, DescribesEveryColumnWithCategoriesInFirstSeenOrder) {
    Table t({{"region", 3, 3}, {"n", 1, 4}, {"x", 2, 1}, {"when", 4, 1}, {"level", 2, 3}});
    t.addRow({Cell::text("south"), Cell::integer(2), Cell::real(1.5), Cell::real(100), Cell::real(-0.0)});
    t.addRow({Cell::text("a<b & \"c\""), Cell::integer(1), Cell::real(2), Cell::missing(), Cell::real(0.0)});
    t.addRow({Cell::text("south"), Cell::missing(), Cell::real(3), Cell::integer(5), Cell::real(2.5)});
    t.addRow({Cell::missing(), Cell::integer(2), Cell::real(4), Cell::real(1), Cell::real(0.0)});
    DataModelOptions options;
    options.roles = {{"x", "target"}, {"n", "input"}};
    options.displayLabels = {{"region", "Sales region"}};
    options.recordCounts = true;
    options.groups = {{"splitGroup", "", {"region"}}};
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(dataModelXml(t, options).c_str()));
    EXPECT_EQ("DataModel(version=1.0;)"
              "{FieldGroups(count=1;){FieldGroup(groupType=splitGroup;name=;){FieldName(name=region;)}}}"
              "{RecordCounts(total=4;)}"
              "{Fields(caseSensitive=true;count=5;)"
              "{Field(name=region;storage=string;measure=nominal;maxStringLength=9;"
              "displayLabel=Sales region;){Value(value=south;)}{Value(value=a<b & \"c\";)}}"
              "{Field(name=n;storage=integer;measure=ordinal;role=input;){Value(value=2;)}{Value(value=1;)}}"
              "{Field(name=x;storage=real;measure=continuous;role=target;)}"
              "{Field(name=when;storage=date;measure=continuous;)}"
              // 0 and -0 are one category, the first seen.
              "{Field(name=level;storage=real;measure=nominal;){Value(value=-0;)}{Value(value=2.5;)}}}",
              render(doc.document_element()));

    // Text XML cannot carry is dropped.
    Table s({{"s", 3, 2}});
    s.addRow({Cell::text(std::string("a\0b\x01\tc", 6))});
    ASSERT_TRUE(doc.load_string(dataModelXml(s).c_str()));
    EXPECT_STREQ("ab\tc", doc.select_node("//Value").node().attribute("value").value());
    for (int code = 0; code <= 7; ++code) {
        EXPECT_EQ(code >= 1 && code <= 6 ? code : 0, storageCode(storageText(code)));
        EXPECT_EQ(code >= 1 && code <= 5 ? code : 0, measureCode(measureText(code)));
    }
}

// A split field lists its categories up to the cap and none beyond; an input field always lists them.
TEST(DataModelXml, SplitFieldsListCategoriesOnlyUpToTheCap) {
    for (size_t distinct : {kMaxSplitCategories, kMaxSplitCategories + 1}) {
        Table t({{"store", 3, 3}, {"kind", 3, 3}});
        for (size_t i = 0; i < distinct; ++i)
            t.addRow({Cell::text("s" + std::to_string(i)), Cell::text("k" + std::to_string(i))});
        DataModelOptions options;
        options.roles = {{"store", "split"}, {"kind", "input"}};
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(dataModelXml(t, options).c_str()));
        const size_t listed = distinct <= kMaxSplitCategories ? distinct : 0;
        EXPECT_EQ(listed, doc.select_nodes("//Field[@name='store']/Value").size()) << distinct;
        EXPECT_EQ(distinct, doc.select_nodes("//Field[@name='kind']/Value").size()) << distinct;
        EXPECT_STREQ("split", doc.select_node("//Field[@name='store']").node().attribute("role").value());
    }
}

}  // namespace
}  // namespace refhost

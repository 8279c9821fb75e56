// The data model document built from a table.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "refhost/table.h"

namespace refhost {
namespace {

Table sample() {
    Table t({{"region", 3, 3}, {"n", 1, 4}, {"x", 2, 1}, {"when", 4, 1}});
    t.addRow({Cell::text("south"), Cell::integer(2), Cell::real(1.5), Cell::real(100)});
    t.addRow({Cell::text("a<b & \"c\""), Cell::integer(1), Cell::real(2), Cell::missing()});
    t.addRow({Cell::text("south"), Cell::missing(), Cell::real(3), Cell::integer(5)});
    t.addRow({Cell::missing(), Cell::integer(2), Cell::real(4), Cell::real(1)});
    return t;
}

std::vector<std::string> values(pugi::xml_node field) {
    std::vector<std::string> out;
    for (auto v : field.children("Value")) out.emplace_back(v.attribute("value").value());
    return out;
}

TEST(DataModelXml, DescribesEveryColumnWithCategoriesInFirstSeenOrder) {
    DataModelOptions options;
    options.roles = {{"x", "target"}, {"n", "input"}};
    options.displayLabels = {{"region", "Sales region"}};
    options.recordCounts = true;
    options.groups = {{"splitGroup", "", {"region"}}};
    const std::string text = dataModelXml(sample(), options);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str())) << text;
    pugi::xml_node root = doc.child("DataModel");
    EXPECT_STREQ("1.0", root.attribute("version").value());
    EXPECT_STREQ("4", root.child("RecordCounts").attribute("total").value());
    EXPECT_STREQ("1", root.child("FieldGroups").attribute("count").value());
    EXPECT_STREQ("region", root.child("FieldGroups").child("FieldGroup").child("FieldName")
                               .attribute("name").value());
    pugi::xml_node fields = root.child("Fields");
    EXPECT_STREQ("true", fields.attribute("caseSensitive").value());
    EXPECT_STREQ("4", fields.attribute("count").value());

    std::vector<pugi::xml_node> f(fields.children("Field").begin(), fields.children("Field").end());
    ASSERT_EQ(4u, f.size());
    EXPECT_STREQ("string", f[0].attribute("storage").value());
    EXPECT_STREQ("nominal", f[0].attribute("measure").value());
    EXPECT_STREQ("9", f[0].attribute("maxStringLength").value());
    EXPECT_STREQ("Sales region", f[0].attribute("displayLabel").value());
    EXPECT_FALSE(f[0].attribute("role"));
    EXPECT_EQ((std::vector<std::string>{"south", "a<b & \"c\""}), values(f[0]));
    EXPECT_STREQ("ordinal", f[1].attribute("measure").value());
    EXPECT_STREQ("input", f[1].attribute("role").value());
    EXPECT_EQ((std::vector<std::string>{"2", "1"}), values(f[1]));
    EXPECT_STREQ("real", f[2].attribute("storage").value());
    EXPECT_STREQ("target", f[2].attribute("role").value());
    EXPECT_TRUE(values(f[2]).empty());  // continuous: no categories
    EXPECT_FALSE(f[2].attribute("maxStringLength"));
    EXPECT_STREQ("date", f[3].attribute("storage").value());
}

TEST(DataModelXml, StorageAndMeasureTextsRoundTrip) {
    for (int code = 0; code <= 7; ++code) {
        EXPECT_EQ(code >= 1 && code <= 6 ? code : 0, storageCode(storageText(code)));
        EXPECT_EQ(code >= 1 && code <= 5 ? code : 0, measureCode(measureText(code)));
    }
    EXPECT_EQ(0, storageCode("Integer"));
}

TEST(DataModelXml, TextThatXmlCannotCarryIsDropped) {
    Table t({{"s", 3, 2}});
    t.addRow({Cell::text(std::string("a\0b\x01\tc", 6))});
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(dataModelXml(t).c_str()));
    EXPECT_STREQ("ab\tc", doc.child("DataModel").child("Fields").child("Field").child("Value")
                              .attribute("value").value());
}

TEST(Table, StoresCellsInTheirColumnsStorage) {
    Table t({{"i", 1, 1}, {"r", 6, 1}, {"s", 3, 3}});
    t.addRow({Cell::integer(1), Cell::integer(2), Cell::text("x")});
    EXPECT_TRUE(t.at(0, 1).isReal());
    EXPECT_THROW(t.addRow({Cell::real(1.5), Cell::real(1), Cell::text("x")}), std::invalid_argument);
    EXPECT_THROW(t.addRow({Cell::integer(1), Cell::text("1"), Cell::text("x")}), std::invalid_argument);
    EXPECT_THROW(t.addRow({Cell::integer(1), Cell::real(1), Cell::integer(3)}), std::invalid_argument);
    EXPECT_THROW(t.addRow({Cell::integer(1)}), std::invalid_argument);
    EXPECT_EQ(1u, t.rowCount());
}

}  // namespace
}  // namespace refhost

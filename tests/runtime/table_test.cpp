// Tables, the data model document built from one, and the iterators and
// record sets that carry their records value by value.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/iterator.h"
#include "refhost/record_set.h"
#include "refhost/table.h"

namespace refhost {
namespace {

// An element as name(attr=value;...) then each child in braces, attributes
// and children in document order.
std::string render(pugi::xml_node node) {
    std::string out = std::string(node.name()) + "(";
    for (pugi::xml_attribute a : node.attributes()) out += std::string(a.name()) + "=" + a.value() + ";";
    out += ")";
    for (pugi::xml_node child : node.children()) out += "{" + render(child) + "}";
    return out;
}

TEST(DataModelXml, DescribesEveryColumnWithCategoriesInFirstSeenOrder) {
    Table t({{"region", 3, 3}, {"n", 1, 4}, {"x", 2, 1}, {"when", 4, 1}});
    t.addRow({Cell::text("south"), Cell::integer(2), Cell::real(1.5), Cell::real(100)});
    t.addRow({Cell::text("a<b & \"c\""), Cell::integer(1), Cell::real(2), Cell::missing()});
    t.addRow({Cell::text("south"), Cell::missing(), Cell::real(3), Cell::integer(5)});
    t.addRow({Cell::missing(), Cell::integer(2), Cell::real(4), Cell::real(1)});
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
              "{Fields(caseSensitive=true;count=4;)"
              "{Field(name=region;storage=string;measure=nominal;maxStringLength=9;"
              "displayLabel=Sales region;){Value(value=south;)}{Value(value=a<b & \"c\";)}}"
              "{Field(name=n;storage=integer;measure=ordinal;role=input;){Value(value=2;)}{Value(value=1;)}}"
              "{Field(name=x;storage=real;measure=continuous;role=target;)}"
              "{Field(name=when;storage=date;measure=continuous;)}}",
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

TEST(Table, StoresCellsInTheirColumnsStorage) {
    Table t({{"i", 1, 1}, {"r", 6, 1}, {"s", 3, 3}});
    t.addRow({Cell::integer(1), Cell::integer(2), Cell::text("x")});
    EXPECT_TRUE(t.at(0, 1).isReal());
    const std::vector<Cell> refused[] = {
        {Cell::real(1.5), Cell::real(1), Cell::text("x")},
        {Cell::integer(1), Cell::text("1"), Cell::text("x")},
        {Cell::integer(1), Cell::real(1), Cell::integer(3)},
        {Cell::integer(1)},
    };
    for (const auto& row : refused) EXPECT_THROW(t.addRow(row), std::invalid_argument);
    EXPECT_EQ(1u, t.rowCount());
}

Table sample() {
    Table t({{"id", 1, 1}, {"x", 2, 1}, {"s", 3, 3}});
    t.addRow({Cell::integer(7), Cell::integer(2), Cell::text(std::string("a\0b", 3))});
    t.addRow({Cell::missing(), Cell::real(-0.5), Cell::text("")});
    t.addRow({Cell::integer(-1), Cell::missing(), Cell::missing()});
    return t;
}

bool next(CFIterator* it) {
    int more = -1;
    int err = 0;
    EXPECT_EQ(0u, it->nextRecord(it->handle, &more, &err));
    return more == 1;
}

// A value's bytes; "(missing)" for a null value, "(refused)" when the call fails.
std::string valueOf(CFIterator* it, size_t field) {
    void* value = nullptr;
    size_t length = 0;
    int err = 0;
    if (it->getRecordValue(it->handle, field, &value, &length, &err) != 0) return "(refused)";
    return value ? std::string(static_cast<const char*>(value), length) : "(missing)";
}

// Record sets copy values, so their records survive the source moving on.
// Both kinds of iterator give values only on a record, tell a present empty
// string from a missing value, stay at the end, and start over on rewind.
TEST(Iterators, RecordSetCopiesAndBothKindsTellMissingFromEmpty) {
    auto table = std::make_shared<const Table>(sample());
    TableIterator tableIt(table);
    RecordSet set(0, "");
    int err = 0;
    while (next(tableIt.record())) ASSERT_EQ(0u, set.addRecord(tableIt.record(), &err));
    ASSERT_EQ(0u, tableIt.record()->rewind(tableIt.record()->handle, &err));
    ASSERT_TRUE(next(tableIt.record()));  // the source now stands elsewhere
    CFIterator* setIt = nullptr;
    ASSERT_EQ(0u, set.getIterator(&setIt, &err));
    cf_status status = 0;
    EXPECT_EQ(*table, readTable(setIt, table->columns(), &status));  // zero byte included
    EXPECT_EQ(0u, status);
    EXPECT_EQ(&set, recordSetOfIterator(setIt));
    EXPECT_EQ(nullptr, recordSetOfIterator(tableIt.record()));

    for (CFIterator* it : {tableIt.record(), setIt}) {
        SCOPED_TRACE(it == setIt ? "record set" : "table");
        ASSERT_EQ(0u, it->rewind(it->handle, &err));
        EXPECT_EQ("(refused)", valueOf(it, 0));
        ASSERT_TRUE(next(it));
        ASSERT_TRUE(next(it));
        EXPECT_EQ("", valueOf(it, 2));
        EXPECT_EQ("(missing)", valueOf(it, 0));
        EXPECT_EQ("(refused)", valueOf(it, 3));
        ASSERT_TRUE(next(it));
        EXPECT_FALSE(next(it));
        EXPECT_FALSE(next(it));
        EXPECT_EQ("(refused)", valueOf(it, 0));
        ASSERT_EQ(0u, it->rewind(it->handle, &err));
        ASSERT_TRUE(next(it));
        EXPECT_EQ(std::string("\x07\0\0\0\0\0\0\0", 8), valueOf(it, 0));  // int64 7, little-endian
    }
}

// A source that is not the host's own iterator: one record whose values it
// hands out from a buffer it later overwrites.
struct ForeignSource {
    std::string text = "abc";
    double number = 2.5;
    CFIterator record{};
    ForeignSource() {
        record.handle = this;
        record.getFieldCount = [](void*, size_t* count, int*) -> cf_status { *count = 3; return 0; };
        record.getRecordValue = [](void* h, size_t field, void** value, size_t* length, int*) -> cf_status {
            auto* self = static_cast<ForeignSource*>(h);
            if (field == 0) *value = nullptr, *length = 0;
            if (field == 1) *value = &self->number, *length = 8;
            if (field == 2) *value = self->text.data(), *length = self->text.size();
            return 0;
        };
    }
};

// Rows of the host's table are kept as references, other sources' values
// are copied; one set may mix both, in any order, and reads back alike.
TEST(RecordSet, MixesTableRowsAndCopiedRecords) {
    auto table = std::make_shared<const Table>(sample());
    TableIterator rows(table);
    ForeignSource foreign;
    RecordSet set(0, "");
    int err = 0;
    Table expected(table->columns());
    auto addRow = [&](size_t row) {
        rows.rewind(&err);
        for (size_t i = 0; i <= row; ++i) next(rows.record());
        ASSERT_EQ(0u, set.addRecord(rows.record(), &err));
        expected.addRowFrom(*table, row);
    };
    addRow(2);
    addRow(0);
    ASSERT_EQ(0u, set.addRecord(&foreign.record, &err));
    expected.addRawRow({Cell::missing(), Cell::real(2.5), Cell::text("abc")});
    foreign.text = "xyz";  // the set holds its own copy
    foreign.number = -1;
    addRow(1);
    addRow(2);
    EXPECT_EQ(5u, set.size());
    CFIterator* it = nullptr;
    ASSERT_EQ(0u, set.getIterator(&it, &err));
    cf_status status = 0;
    EXPECT_EQ(expected, readTable(it, table->columns(), &status));
    EXPECT_EQ(0u, status);
    const auto records = set.records();
    ASSERT_EQ(5u, records.size());
    EXPECT_FALSE(records[2][0].has_value());
    EXPECT_EQ(std::vector<unsigned char>({'a', 'b', 'c'}), *records[2][2]);
    EXPECT_TRUE(records[3][2].has_value() && records[3][2]->empty());  // row 1's present ""
    rows.rewind(&err);
    EXPECT_EQ(CF_FAILED, set.addRecord(rows.record(), &err));  // no current row
}

TEST(ColumnValues, AppendPermuteAndWidenKeepMissingValuesInPlace) {
    ColumnValues a(ColumnValues::Kind::Text);
    ColumnValues b(ColumnValues::Kind::Text);
    for (size_t row = 0; row < 70; ++row) {
        if (row % 63 == 0) a.appendMissing(), b.appendMissing();
        else a.appendText(row % 2 ? "odd" : "even"), b.appendText(row % 3 ? "x" : "even");
    }
    a.appendAll(b);
    ASSERT_EQ(140u, a.size());
    EXPECT_EQ(3u, a.dictionary().size());  // b's codes renumbered into a's dictionary
    for (size_t row : {0u, 63u, 70u, 133u}) EXPECT_TRUE(a.isMissing(row)) << row;
    EXPECT_EQ(Cell::text("x"), a.cell(71));
    std::vector<size_t> reversed(140);
    for (size_t i = 0; i < 140; ++i) reversed[i] = 139 - i;
    a.permute(reversed);
    for (size_t row : {139u, 76u, 69u, 6u}) EXPECT_TRUE(a.isMissing(row)) << row;
    EXPECT_FALSE(a.isMissing(0));

    ColumnValues n(ColumnValues::Kind::Integer);
    n.appendInteger(3);
    n.appendMissing();
    n.integersToReals();
    EXPECT_EQ(Cell::real(3), n.cell(0));
    EXPECT_TRUE(n.isMissing(1));
    n.append(Cell::text("odd"));  // no longer one kind: a list of cells
    EXPECT_EQ(ColumnValues::Kind::Cells, n.kind());
    size_t length = 0;
    EXPECT_EQ(nullptr, n.bytes(1, &length));
    const auto* text = static_cast<const char*>(n.bytes(2, &length));
    EXPECT_EQ(std::string("odd"), std::string(text, length));
}

TEST(RecordSet, ReleasedSetAndItsIteratorsRefuse) {
    Host host;
    Context context(host);
    context.setInput(sample());
    CFContext* c = context.record();
    int err = 0;
    CFIterator* input = nullptr;
    ASSERT_EQ(0u, c->getInputIterator(c->handle, 0, &input, &err));
    next(input);
    CFRecordSet* a = nullptr;
    ASSERT_EQ(0u, c->createRecordSet(c->handle, &a, &err, ""));
    ASSERT_EQ(0u, a->addRecord(a->handle, input, &err));
    CFIterator* it = nullptr;
    ASSERT_EQ(0u, a->getIterator(a->handle, &it, &err));

    ASSERT_EQ(0u, c->releaseRecordSet(c->handle, a, &err));
    EXPECT_EQ(0u, context.liveRecordSets());
    int more = 0;
    EXPECT_EQ(CF_FAILED, it->nextRecord(it->handle, &more, &err));
    EXPECT_EQ(CF_FAILED, a->addRecord(a->handle, input, &err));
    EXPECT_EQ(CF_FAILED, c->releaseRecordSet(c->handle, a, &err));
    EXPECT_EQ(CF_FAILED, c->releaseRecordSet(c->handle, nullptr, &err));
    EXPECT_EQ(2u, context.badReleases());
}

}  // namespace
}  // namespace refhost

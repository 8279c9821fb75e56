// Record sets copy records value by value from any host iterator.
#include <gtest/gtest.h>

#include <cstring>

#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/iterator.h"
#include "refhost/record_set.h"

namespace refhost {
namespace {

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

TEST(RecordSet, CopiesSurviveTheSourceMovingOn) {
    auto table = std::make_shared<const Table>(sample());
    TableIterator source(table);
    RecordSet set(0, "");
    int err = 0;
    CFRecordSet* r = set.record();
    while (next(source.record())) ASSERT_EQ(0u, r->addRecord(r->handle, source.record(), &err));
    ASSERT_TRUE(source.record()->rewind(source.record()->handle, &err) == 0);
    ASSERT_TRUE(next(source.record()));  // the source now stands elsewhere

    CFIterator* it = nullptr;
    ASSERT_EQ(0u, r->getIterator(r->handle, &it, &err));
    cf_status status = 0;
    const Table copy = readTable(it, table->columns(), &status);
    ASSERT_EQ(0u, status);
    EXPECT_EQ(*table, copy);
    EXPECT_EQ(3u, copy.at(0, 2).asText().size());  // the zero byte is kept
    EXPECT_EQ(&set, recordSetOfIterator(it));
    EXPECT_EQ(nullptr, recordSetOfIterator(source.record()));
}

TEST(RecordSet, PresentEmptyValueIsNotMissing) {
    auto table = std::make_shared<const Table>(sample());
    TableIterator source(table);
    RecordSet set(0, "");
    int err = 0;
    next(source.record());
    next(source.record());
    ASSERT_EQ(0u, set.addRecord(source.record(), &err));
    CFIterator* it = nullptr;
    ASSERT_EQ(0u, set.getIterator(&it, &err));
    ASSERT_TRUE(next(it));
    void* value = nullptr;
    size_t length = 9;
    ASSERT_EQ(0u, it->getRecordValue(it->handle, 2, &value, &length, &err));
    EXPECT_NE(nullptr, value);
    EXPECT_EQ(0u, length);
    ASSERT_EQ(0u, it->getRecordValue(it->handle, 0, &value, &length, &err));
    EXPECT_EQ(nullptr, value);
    EXPECT_EQ(CF_FAILED, it->getRecordValue(it->handle, 3, &value, &length, &err));
    EXPECT_FALSE(next(it));
    EXPECT_EQ(CF_FAILED, it->getRecordValue(it->handle, 0, &value, &length, &err));
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
    CFRecordSet* b = nullptr;
    ASSERT_EQ(0u, c->createRecordSet(c->handle, &a, &err, ""));
    ASSERT_EQ(0u, c->createRecordSet(c->handle, &b, &err, "named"));
    EXPECT_EQ(0u, RecordSet::fromRecord(a)->sequence());
    EXPECT_EQ(1u, RecordSet::fromRecord(b)->sequence());
    ASSERT_EQ(0u, a->addRecord(a->handle, input, &err));
    CFIterator* it = nullptr;
    ASSERT_EQ(0u, a->getIterator(a->handle, &it, &err));
    EXPECT_EQ(2u, context.liveRecordSets());

    ASSERT_EQ(0u, c->releaseRecordSet(c->handle, a, &err));
    EXPECT_EQ(1u, context.liveRecordSets());
    int more = 0;
    EXPECT_EQ(CF_FAILED, it->nextRecord(it->handle, &more, &err));
    EXPECT_EQ(CF_FAILED, a->addRecord(a->handle, input, &err));
    EXPECT_EQ(CF_FAILED, c->releaseRecordSet(c->handle, a, &err));
    EXPECT_EQ(CF_FAILED, c->releaseRecordSet(c->handle, nullptr, &err));
    EXPECT_EQ(2u, context.badReleases());
    EXPECT_EQ(2u, context.recordSetsCreated());
}

TEST(TableIterator, RewindsAndRefusesValuesOffARecord) {
    TableIterator it(std::make_shared<const Table>(sample()));
    CFIterator* r = it.record();
    int err = 0;
    void* value = nullptr;
    size_t length = 0;
    EXPECT_EQ(CF_FAILED, r->getRecordValue(r->handle, 0, &value, &length, &err));
    size_t rows = 0;
    while (next(r)) ++rows;
    EXPECT_EQ(3u, rows);
    EXPECT_FALSE(next(r));  // stays at the end
    ASSERT_EQ(0u, r->rewind(r->handle, &err));
    ASSERT_TRUE(next(r));
    ASSERT_EQ(0u, r->getRecordValue(r->handle, 0, &value, &length, &err));
    int64_t id = 0;
    std::memcpy(&id, value, 8);
    EXPECT_EQ(7, id);
    EXPECT_EQ(8u, length);
}

}  // namespace
}  // namespace refhost

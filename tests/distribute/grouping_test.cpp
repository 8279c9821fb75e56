// How the input is cut into split groups, and which records each worker gets.
#include <cmath>
#include <cstdint>

#include "distribute/harness.h"

namespace splittest {
namespace {

// key: the split field; values: its value in each input record; groupSizes: the expected runs, in input order.
struct GroupingCase { const char* name; refhost::Column key; std::vector<Cell> values; std::vector<size_t> groupSizes; };

class Grouping : public testing::TestWithParam<GroupingCase> {};

TEST_P(Grouping, EachRunGoesToOneWorkerInInputOrder) {
    const GroupingCase& c = GetParam();
    std::vector<std::vector<Cell>> rows;
    for (size_t i = 0; i < c.values.size(); ++i) rows.push_back({c.values[i], Cell::integer(i)});
    refhost::Table input = MakeTable({c.key, {"seq", 1, 1}}, rows);
    DistributeHarness run(input, {"k"});
    std::vector<std::string> handedOut;
    std::vector<size_t> sizes;
    for (const WorkerResult& result : run.RunOnce()) {
        EXPECT_EQ(result.task.at(0).name, "k");
        sizes.push_back(result.records.rowCount());
        for (const std::string& row : RowTexts(result.records)) handedOut.push_back(row);
    }
    EXPECT_EQ(sizes, c.groupSizes);
    EXPECT_EQ(handedOut, RowTexts(input));
    EXPECT_EQ(run.context.liveRecordSets(), 0u);
}

const refhost::Column kText{"k", 3, 3}, kInteger{"k", 1, 3}, kReal{"k", 2, 1}, kDate{"k", 4, 1}, kOther{"k", 7, 3};
const std::string kZeroX("ab\0x", 4);
const std::string kLong(200, 'L'), kLongOther = std::string(199, 'L') + "M";

INSTANTIATE_TEST_SUITE_P(Cases, Grouping,
    testing::Values(GroupingCase{"OneRecord", kText, {Cell::text("A")}, {1}},
        GroupingCase{"RunsNotSets", kText,
                     {Cell::text("A"), Cell::text("A"), Cell::text("B"), Cell::text("B"), Cell::text("A")},
                     {2, 2, 1}},
        // The tolerance is 1e-15, absolute, and a difference of exactly it is equal.
        GroupingCase{"RealsAtTolerance", kReal, {Cell::real(0), Cell::real(1e-15), Cell::real(-1e-15)}, {3}},
        GroupingCase{"RealsTwiceTolerance", kReal, {Cell::real(0), Cell::real(2e-15), Cell::real(2e-15 + 1e-13)},
                     {1, 1, 1}},
        // A difference that is not a number counts as equal; the group keeps its first key.
        GroupingCase{"NaNJoinsTheGroup", kReal,
                     {Cell::real(1), Cell::real(std::nan("")), Cell::real(std::nan("")), Cell::real(2)}, {3, 1}},
        GroupingCase{"MissingAfterPresentReal", kReal, {Cell::real(0.5), Cell::missing(), Cell::real(0.5)}, {1, 1, 1}},
        // A missing text is neither the text before it nor the empty text.
        GroupingCase{"MissingTextIsNotAText", kText,
                     {Cell::text("a"), Cell::missing(), Cell::missing(), Cell::text("")}, {1, 2, 1}},
        // A missing integer is neither the value before it nor zero.
        GroupingCase{"MissingIntegerIsNotAValue", kInteger,
                     {Cell::integer(5), Cell::missing(), Cell::missing(), Cell::integer(0), Cell::integer(0)},
                     {1, 2, 2}},
        // Values of a storage beyond the named ones are compared by length only.
        GroupingCase{"StorageSevenByLength", kOther, {Cell::text("a"), Cell::text("b"), Cell::text("cd")}, {2, 1}},
        GroupingCase{"Dates", kDate, {Cell::real(100), Cell::real(100), Cell::real(101)}, {2, 1}},
        GroupingCase{"TextShrinksAndGrowsInPlace", kText,
                     {Cell::text("abcdef"), Cell::text("abc"), Cell::text("abc"), Cell::text("abcdef"),
                      Cell::text("abc"), Cell::text(kZeroX), Cell::text("ab")},
                     {1, 2, 1, 1, 1, 1}},
        GroupingCase{"LongTextGrowsTheKey", kText,
                     {Cell::text("s"), Cell::text(kLong), Cell::text(kLong), Cell::text(kLongOther)},
                     {1, 2, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Grouping, WithoutSplitFieldsTheWholeInputIsOneGroup) {
    DistributeHarness run(ThreeGroups(), {});
    int err = 0;
    ASSERT_EQ(run.component->beginExecution(&err), 0u);  // not configured: no split field
    std::vector<WorkerResult> results = run.ServeAll();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].task.empty());
    EXPECT_EQ(RowTexts(results[0].records), RowTexts(ThreeGroups()));
}

// A difference in one field is not undone by a later field that is equal
// within the tolerance.
TEST(Grouping, AnyFieldThatDiffersStartsAGroup) {
    refhost::Table input = MakeTable({{"g", 1, 3}, {"h", 2, 1}},
                                     {{Cell::integer(1), Cell::real(0)}, {Cell::integer(2), Cell::real(1e-16)}});
    DistributeHarness run(input, {"g", "h"});
    EXPECT_EQ(run.RunOnce().size(), 2u);
}

TEST(Grouping, SplitFieldsKeepTheirConfiguredOrder) {
    refhost::Table input = MakeTable({{"A", 3, 3}, {"B", 1, 3}},
                                     {{Cell::text("x"), Cell::integer(1)},
                                      {Cell::text("y"), Cell::integer(1)},
                                      {Cell::text("y"), Cell::integer(2)}});
    DistributeHarness run(input, {"B", "A"});
    std::vector<WorkerResult> results = run.RunOnce();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].task, (std::vector<TaskField>{{"B", "2", "false"}, {"A", "y", "false"}}));
}


// A split value the host refuses to hand out. The key being read keeps what it
// held before from that value on: a record key never read holds its prepared
// value (0 for an integer), one read before holds the previous record's values.
constexpr int64_t kMissingValue = INT64_MIN;  // a missing split value in a ReadFailureCase row

// rows: split values, field g and h when two, or kMissingValue; inHandOut: refusals counted
// from the first task, else from begin; refused: the getRecordValue calls refused, counted from
// there; workers: planned; reads: getRecordValue calls of begin, or of the first task; tasks:
// the seq numbers each task in turn hands out; g: g's storage, 1 integer, 2 real (a quarter of
// the value), 3 text (that many 'x').
struct ReadFailureCase {
    const char* name; std::vector<std::vector<int64_t>> rows; bool inHandOut; std::vector<uint64_t> refused;
    size_t workers; uint64_t reads; std::vector<std::vector<int64_t>> tasks; int g = 1;
};

class ReadFailure : public testing::TestWithParam<ReadFailureCase> {};

TEST_P(ReadFailure, KeyKeepsItsValuesFromTheUnreadFieldOn) {
    const ReadFailureCase& c = GetParam();
    const bool two = c.rows[0].size() == 2;
    std::vector<refhost::Column> columns = {{"g", c.g, 3}};
    if (two) columns.push_back({"h", 1, 3});
    columns.push_back({"seq", 1, 1});
    std::vector<std::vector<Cell>> rows;
    for (size_t i = 0; i < c.rows.size(); ++i) {
        std::vector<Cell> row;
        for (int64_t v : c.rows[i]) {
            const int storage = row.empty() ? c.g : 1;  // h is always an integer
            row.push_back(v == kMissingValue ? Cell::missing()
                          : storage == 3 ? Cell::text(std::string(static_cast<size_t>(v), 'x'))
                          : storage == 2 ? Cell::real(static_cast<double>(v) / 4)
                                         : Cell::integer(v));
        }
        row.push_back(Cell::integer(static_cast<int64_t>(i)));
        rows.push_back(row);
    }
    DistributeHarness run(MakeTable(columns, rows), two ? std::vector<std::string>{"g", "h"}
                                                        : std::vector<std::string>{"g"});
    refhost::Faults& faults = run.host.faults();
    auto refuse = [&] { for (uint64_t nth : c.refused) faults.refuse("getRecordValue", nth, 1, 4242); };
    int err = 0;
    ASSERT_EQ(run.component->configure(&err), 0u);
    if (!c.inHandOut) refuse();
    uint64_t before = faults.calls("getRecordValue");
    ASSERT_EQ(run.component->beginExecution(&err), 0u);
    if (!c.inHandOut) { EXPECT_EQ(faults.calls("getRecordValue") - before, c.reads); }
    EXPECT_EQ(run.context.workers().size(), c.workers);

    std::vector<std::vector<int64_t>> tasks;
    for (size_t t = 0; t < c.rows.size() + 1; ++t) {
        if (t == 0 && c.inHandOut) {
            refuse();
            before = faults.calls("getRecordValue");
        }
        std::string task;
        err = 0;
        const cf_status status = run.Task(run.worker(0), &err, &task);
        if (t == 0 && c.inHandOut) { EXPECT_EQ(faults.calls("getRecordValue") - before, c.reads); }
        if (status == 30) break;
        ASSERT_EQ(status, 0u) << "task " << t;
        CFIterator* iterator = nullptr;
        ASSERT_EQ(run.component->getIterator(&run.worker(0), 0, &iterator, &err), 0u);
        cf_status read = 0;
        std::vector<int64_t> seqs;
        for (const auto& row : refhost::readTable(iterator, columns, &read).rows())
            seqs.push_back(row.back().asInteger());
        tasks.push_back(seqs);
    }
    EXPECT_EQ(tasks, c.tasks);
    const std::vector<refhost::Message> messages = run.Messages();
    EXPECT_EQ(messages, std::vector<refhost::Message>(c.refused.size(), refhost::Message{3, 280005, {}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadFailure,
    testing::Values(
        // The record key is only prepared when its first read fails: 0 is not 5.
        ReadFailureCase{"FirstRecordKeyRead", {{5}, {5}, {7}}, false, {2}, 3, 5, {{0, 1}, {2}}},
        // ... and is an integer 0 in eight bytes like any other: the same as a group's 0.
        ReadFailureCase{"FirstRecordKeyReadBesideZero", {{0}, {0}, {7}}, false, {2}, 2, 4, {{0, 1}, {2}}},
        ReadFailureCase{"GroupKeyRead", {{5}, {5}, {7}}, false, {1}, 3, 5, {{0, 1}, {2}}},
        // A record key read before keeps the previous record's value.
        ReadFailureCase{"LaterRecordKeyRead", {{5}, {5}, {5}, {7}}, false, {3}, 2, 5, {{0, 1, 2}, {3}}},
        // The group key keeps the previous group's value when it is read again.
        ReadFailureCase{"GroupKeyReadAgain", {{5}, {7}, {7}}, false, {3}, 3, 5, {{0}, {1, 2}}},
        // h of the third record is not read: the record key keeps 1 there, the
        // second record's; then h of the fourth: the key still holds that 1.
        // The group key keeps "xx"; the unread record key holds "xxx", which
        // agrees with it only up to the group's length: different.
        ReadFailureCase{"TextsOfOtherLengths", {{2}, {3}, {3}}, false, {3, 4}, 3, 5, {{0}, {1, 2}}, 3},
        // h of the third record is not read, and the key stands for the group's
        // 1 there; once the group key is read again it keeps that 1 as its own.
        ReadFailureCase{"SecondFieldKeptAcrossGroups", {{1, 1}, {1, 1}, {2, 1}, {2, 1}}, false, {6, 10}, 2, 10,
                        {{0, 1}, {2, 3}}},
        // The group key read again holds a missing value, and so does the
        // record key after it, unread: two missing values are the same.
        ReadFailureCase{"MissingKeptBesideMissing", {{5}, {kMissingValue}, {kMissingValue}}, false, {4}, 2, 4,
                        {{0}, {1, 2}}},
        // The group key read again keeps a missing text; the record key after
        // it, unread, keeps the empty text before: not the same.
        ReadFailureCase{"MissingTextBesideAnEmptyOne", {{kMissingValue}, {0}, {0}}, false, {3, 4}, 3, 5,
                        {{0}, {1, 2}}, 3},
        // g of the third record is not read: the record key holds the group's
        // g there, as the group key does once read again, compared as a
        // real and as a text.
        ReadFailureCase{"UnreadRealAsTheGroups", {{1, 1}, {1, 2}, {1, 2}}, false, {7}, 2, 7, {{0}, {1, 2}}, 2},
        ReadFailureCase{"UnreadTextAsTheGroups", {{1, 1}, {1, 2}, {1, 2}}, false, {7}, 2, 7, {{0}, {1, 2}}, 3},
        ReadFailureCase{"SecondFieldTwice", {{1, 1}, {1, 1}, {2, 2}, {2, 2}}, false, {6, 10}, 3, 12,
                        {{0, 1}, {2, 3}}},
        // Hand-out: the task document reads 1, the group key 2, the second record 3.
        ReadFailureCase{"HandOutRecordKeyRead", {{5}, {5}, {7}}, true, {3}, 2, 3, {{0}, {1}, {2}}},
        ReadFailureCase{"HandOutGroupKeyRead", {{5}, {5}, {7}}, true, {2}, 2, 3, {{0}, {1}, {2}}},
        ReadFailureCase{"HandOutLaterRecordKeyRead", {{5}, {5}, {5}, {7}}, true, {4}, 2, 5, {{0, 1, 2}, {3}}}),
    [](const auto& info) { return std::string(info.param.name); });


// An input iterator whose host reports other lengths for the split field (k,
// the first column) than its values have.
CFIterator* lyingSource = nullptr;
cf_status (*realInputIterator)(void*, int, CFIterator**, int*) = nullptr;
size_t (*lie)(const char* value, size_t length) = nullptr;
CFIterator lyingIterator{};
cf_status LyingValue(void* h, size_t field, void** value, size_t* length, int* err) {
    const cf_status status = lyingSource->getRecordValue(h, field, value, length, err);
    if (status == 0 && field == 0 && *value != nullptr) *length = lie(static_cast<const char*>(*value), *length);
    return status;
}
cf_status LyingInput(void* h, int index, CFIterator** out, int* err) {
    const cf_status status = realInputIterator(h, index, out, err);
    if (status != 0) return status;
    lyingSource = *out;
    lyingIterator = *lyingSource;
    lyingIterator.getRecordValue = &LyingValue;
    *out = &lyingIterator;
    return 0;
}

TEST(Grouping, ValueLengthsAHostMisreports) {
    const struct { const char* name; refhost::Table input; size_t (*lie)(const char*, size_t); size_t workers; int err; }
        cases[] = {
        // No buffer can hold the text "b": an unreadable value (280005), and
        // the record key keeps the previous record's value, so b joins a.
        {"TextLengthNoBufferCanHold", ThreeGroups(),  // a a b c c
         [](const char* v, size_t length) { return length == 1 && *v == 'b' ? SIZE_MAX : length; }, 2, 280005},
        // 3 as a 4-byte number: the key's other bytes are zeroed, not left as
        // the -1 before it had them, so the two 3s are one group.
        {"ShortNumberAfterALongOne",
         MakeTable({{"k", 1, 3}, {"seq", 1, 1}}, {{Cell::integer(-1), Cell::integer(0)},
                                                  {Cell::integer(3), Cell::integer(1)},
                                                  {Cell::integer(3), Cell::integer(2)}}),
         [](const char* v, size_t length) { return *v == 3 ? size_t{4} : length; }, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DistributeHarness run(c.input, {"k"});
        CFContext* context = run.context.record();
        realInputIterator = context->getInputIterator;
        context->getInputIterator = &LyingInput;
        lie = c.lie;
        int err = 0;
        ASSERT_EQ(run.component->configure(&err), 0u);
        EXPECT_EQ(run.component->beginExecution(&err), 0u);
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(run.context.workers().size(), c.workers);
        const std::vector<refhost::Message> raised{{3, c.err, {}}};
        EXPECT_EQ(run.Messages(), c.err == 0 ? std::vector<refhost::Message>() : raised);
        EXPECT_EQ(run.component->endExecution(&err), 0u);
        context->getInputIterator = realInputIterator;
    }
}

}  // namespace
}  // namespace splittest

// Worker wire encoding: decoded equals encoded to the bit; short, padded or mistyped input is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <tuple>

#include "refhost/wire.h"

namespace refhost {
namespace {

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    return *static_cast<uint64_t*>(std::memcpy(&bits, &value, sizeof bits));
}

// Every kind of column, a NaN, a negative zero, a zero byte, missing cells and a column missing throughout.
WorkerJob sampleJob() {
    Table table({Column{"count", 1, 1}, Column{"price", 2, 1}, Column{"region", 3, 3}, Column{"mixed", 1, 3},
                 Column{"none", 3, 3}});
    table.addRawRow({Cell::integer(-7), Cell::real(-0.0), Cell::text(std::string("no\0rth", 6)), Cell::text("t"),
                     Cell::missing()});
    table.addRawRow({Cell::missing(), Cell::real(std::numeric_limits<double>::quiet_NaN()), Cell::text("south"),
                     Cell::integer(3), Cell::missing()});
    table.addRawRow({Cell::integer(std::numeric_limits<int64_t>::min()), Cell::missing(), Cell::missing(),
                     Cell::missing(), Cell::missing()});
    return {41, "<Task/>", table, std::make_shared<const std::string>("<DataModel/>"),
            std::make_shared<const std::string>("prior\0pmml", 10), nullptr};
}

TEST(Wire, RoundTripKeepsEveryFieldKindAndBit) {
    const WorkerJob job = sampleJob();
    // The same rows as a view of a larger table go as the same bytes.
    Table larger(job.records.columns());
    larger.addRawRow({Cell::integer(1), Cell::real(2), Cell::text("west"), Cell::text("u"), Cell::text("v")});
    for (const auto& row : job.records.rows()) larger.addRawRow(row);
    WorkerJob viewed = job;
    viewed.records = TableRows(std::make_shared<const Table>(larger), 1, 3);
    EXPECT_EQ(encodeJob(viewed), encodeJob(job));
    const WorkerJob back = decodeJob(encodeJob(job));
    EXPECT_EQ(std::tie(back.groupIndex, back.task, *back.dataModel, *back.inputPmml),
              std::tie(job.groupIndex, job.task, *job.dataModel, *job.inputPmml));
    EXPECT_EQ(back.inputStatXml, nullptr);
    ASSERT_TRUE(back.records.columns() == job.records.columns() && back.records.rowCount() == 3);
    for (size_t c = 0; c < job.records.columnCount(); ++c) {
        EXPECT_EQ(back.records.values(c).kind(), job.records.values(c).kind()) << c;
        for (size_t r = 0; r < job.records.rowCount(); ++r) {
            const Cell x = job.records.at(r, c), y = back.records.at(r, c);
            EXPECT_TRUE(x.isReal() && y.isReal() ? bitsOf(x.asReal()) == bitsOf(y.asReal()) : x == y) << r << c;
        }
    }
    // Columns left out by the mask come back missing in every row, of their own kind.
    WireWriter masked;
    encodeTable(masked, job.records.table(), {true, false, true, false});
    WireReader in(masked.bytes());
    const Table partial = decodeTable(in);
    for (size_t c = 0; c < job.records.columnCount(); ++c)
        for (size_t r = 0; r < job.records.rowCount(); ++r)
            EXPECT_TRUE(c == 1 || c == 3 ? partial.at(r, c).isMissing() &&
                                               partial.values(c).kind() == job.records.values(c).kind()
                                         : partial.at(r, c) == job.records.at(r, c)) << r << c;
    for (const Table& table : {Table(), Table({Column{"a", 2, 1}})})
        EXPECT_TRUE(decodeJob(encodeJob(WorkerJob{0, "", table, {}, {}, {}})).records.copy() == table);
    const WorkerOutput output{1, "separation: x1", "<StatXML/>", "", std::string("\0\1\2", 3)};
    const WorkerOutput out = decodeOutput(encodeOutput(output));
    EXPECT_EQ(std::tie(out.outcome, out.reason, out.statXml, out.pmml, out.attachment),
              std::tie(output.outcome, output.reason, output.statXml, output.pmml, output.attachment));
}

TEST(Wire, TruncatedPaddedMistypedOrOversizedInputIsRefused) {
    const std::string job = encodeJob(sampleJob()), output = encodeOutput({0, "", "<S/>", "<P/>", "kept"});
    for (size_t n = 0; n < job.size(); ++n) EXPECT_THROW(decodeJob(job.substr(0, n)), WireError) << n;
    for (size_t n = 0; n < output.size(); ++n) EXPECT_THROW(decodeOutput(output.substr(0, n)), WireError) << n;
    EXPECT_THROW(decodeJob(job + '\0'), WireError);
    EXPECT_THROW(decodeOutput(output + '\0'), WireError);
    EXPECT_THROW(decodeOutput(job), WireError);
    EXPECT_THROW(decodeJob(output), WireError);
    // Counts larger than the input could hold are refused before allocating.
    for (uint64_t count : {uint64_t{1} << 60, std::numeric_limits<uint64_t>::max()}) {
        WireWriter w;
        w.u64(count);
        WireReader a(w.bytes()), b(w.bytes());
        EXPECT_THROW(a.count(1), WireError);
        EXPECT_THROW(b.text(), WireError);
    }
}

}  // namespace
}  // namespace refhost

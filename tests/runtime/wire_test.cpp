// The encoding of jobs and outputs sent to worker processes: what is
// decoded is what was encoded (records, kinds and exact bits), and input
// that is cut short, padded or corrupted is refused rather than misread.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "refhost/wire.h"

namespace {

using refhost::Cell;
using refhost::Column;
using refhost::ColumnValues;
using refhost::Table;

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Same columns and cells, reals compared by their bits (so NaN equals NaN
// and -0 differs from 0).
bool sameTable(const Table& a, const Table& b) {
    if (!(a.columns() == b.columns()) || a.rowCount() != b.rowCount()) return false;
    for (size_t column = 0; column < a.columnCount(); ++column)
        for (size_t row = 0; row < a.rowCount(); ++row) {
            const Cell x = a.at(row, column);
            const Cell y = b.at(row, column);
            if (x.isReal() && y.isReal() ? bitsOf(x.asReal()) != bitsOf(y.asReal()) : !(x == y)) return false;
        }
    return true;
}

// One column of every kind: integers, reals (with a NaN and a negative
// zero), texts (one with a zero byte) and a column of mixed cells, each
// with a missing value.
Table sampleTable() {
    Table table({Column{"count", 1, 1}, Column{"price", 2, 1}, Column{"region", 3, 3}, Column{"mixed", 1, 3}});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    table.addRawRow({Cell::integer(-7), Cell::real(-0.0), Cell::text(std::string("no\0rth", 6)),
                     Cell::text("text in an integer column")});
    table.addRawRow({Cell::missing(), Cell::real(nan), Cell::text("south"), Cell::integer(3)});
    table.addRawRow({Cell::integer(std::numeric_limits<int64_t>::min()), Cell::missing(), Cell::missing(),
                     Cell::missing()});
    table.addRawRow({Cell::integer(1), Cell::real(1e-300), Cell::text("south"), Cell::real(2.5)});
    return table;
}

refhost::WorkerJob sampleJob() {
    refhost::WorkerJob job;
    job.groupIndex = 41;
    job.task = "<Task><Split field=\"region\"/></Task>";
    job.records = sampleTable();
    job.dataModel = "<DataModel/>";
    job.inputPmml = std::string("prior\0pmml", 10);
    return job;
}

TEST(Wire, JobRoundTripKeepsRecordsKindsAndBits) {
    const refhost::WorkerJob job = sampleJob();
    const refhost::WorkerJob back = refhost::decodeJob(refhost::encodeJob(job));
    EXPECT_EQ(back.groupIndex, job.groupIndex);
    EXPECT_EQ(back.task, job.task);
    EXPECT_EQ(back.dataModel, job.dataModel);
    EXPECT_EQ(back.inputPmml, job.inputPmml);
    EXPECT_FALSE(back.inputStatXml.has_value());
    EXPECT_TRUE(sameTable(back.records, job.records));
    for (size_t column = 0; column < job.records.columnCount(); ++column)
        EXPECT_EQ(back.records.values(column).kind(), job.records.values(column).kind()) << column;
    EXPECT_EQ(job.records.values(3).kind(), ColumnValues::Kind::Cells);
    EXPECT_TRUE(back.records.isMissing(2, 1));
    EXPECT_TRUE(std::isnan(back.records.values(1).reals()[1]));
}

TEST(Wire, EmptyTableAndNoRowsRoundTrip) {
    for (Table table : {Table(), Table({Column{"a", 2, 1}})}) {
        refhost::WorkerJob job;
        job.records = table;
        EXPECT_TRUE(refhost::decodeJob(refhost::encodeJob(job)).records == table);
    }
}

TEST(Wire, OutputRoundTrip) {
    const refhost::WorkerOutput output{1, "separation: x1", "<StatXML/>", "", std::string("\0\1\2", 3)};
    const refhost::WorkerOutput back = refhost::decodeOutput(refhost::encodeOutput(output));
    EXPECT_EQ(back.outcome, output.outcome);
    EXPECT_EQ(back.reason, output.reason);
    EXPECT_EQ(back.statXml, output.statXml);
    EXPECT_EQ(back.pmml, output.pmml);
    EXPECT_EQ(back.attachment, output.attachment);
}

// Every proper prefix of an encoding, and the encoding with a byte added,
// is refused.
TEST(Wire, TruncatedOrPaddedInputIsRefused) {
    const std::string job = refhost::encodeJob(sampleJob());
    const std::string output = refhost::encodeOutput({0, "", "<StatXML/>", "<PMML/>", "kept"});
    for (size_t length = 0; length < job.size(); ++length)
        EXPECT_THROW(refhost::decodeJob(std::string_view(job).substr(0, length)), refhost::WireError) << length;
    for (size_t length = 0; length < output.size(); ++length)
        EXPECT_THROW(refhost::decodeOutput(std::string_view(output).substr(0, length)), refhost::WireError)
            << length;
    EXPECT_THROW(refhost::decodeJob(job + '\0'), refhost::WireError);
    EXPECT_THROW(refhost::decodeOutput(output + '\0'), refhost::WireError);
}

TEST(Wire, WrongKindOfMessageIsRefused) {
    EXPECT_THROW(refhost::decodeOutput(refhost::encodeJob(sampleJob())), refhost::WireError);
    EXPECT_THROW(refhost::decodeJob(refhost::encodeOutput({})), refhost::WireError);
}

// A count larger than the input could hold is refused before anything is
// allocated for it.
TEST(Wire, ImpossibleCountsAreRefused) {
    refhost::WireWriter out;
    out.u64(uint64_t{1} << 60);
    refhost::WireReader in(out.bytes());
    EXPECT_THROW(in.count(1), refhost::WireError);

    refhost::WireWriter text;
    text.u64(std::numeric_limits<uint64_t>::max());
    refhost::WireReader textIn(text.bytes());
    EXPECT_THROW(textIn.text(), refhost::WireError);
}

}  // namespace

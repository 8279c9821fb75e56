// Fuzzes the distribute component's input table and split fields. When every
// hand-out succeeds the groups' records read back as the input, task documents
// parse, no task is left (30) and end execution gives every record set back.
#include <cmath>
#include <limits>
#include "fuzz_support.h"
#include "refhost/table.h"

namespace {

using namespace fuzzsupport;
using refhost::Cell;

enum Flags : uint8_t {
    kNoThreadServices = 1,
    kUnknownSplitField = 2,
    kSmallTaskBuffer = 4,
};

// Storage codes weighted towards the usable ones; 0 and 7 are unusable.
int StorageOf(ByteReader& reader) {
    static const int kCodes[] = {1, 2, 3, 4, 5, 6, 1, 2, 3, 3, 3, 3, 0, 7, 1, 2};
    return kCodes[reader.below(std::size(kCodes))];
}

double RealOf(ByteReader& reader) {
    static const double kReals[] = {0.0, -0.0, 1.0, 1.0 + 1e-16, -1.0, 1e-300, 1e300,
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN(),
                                    std::numeric_limits<double>::denorm_min()};
    const uint64_t choice = reader.below(16);
    if (choice < std::size(kReals)) return kReals[choice];
    const uint64_t bits = reader.word();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int64_t IntegerOf(ByteReader& reader) {
    switch (reader.below(4)) {
        case 0: return std::numeric_limits<int64_t>::min();
        case 1: return std::numeric_limits<int64_t>::max();
        case 2: return static_cast<int64_t>(reader.word());
        default: return static_cast<int64_t>(reader.below(4));
    }
}

// Few distinct values per column, so that runs of equal keys form groups.
Cell CellOf(ByteReader& reader, int storage) {
    if (reader.below(8) == 0) return Cell::missing();
    switch (storage) {
        case 1: return Cell::integer(IntegerOf(reader));
        case 2: case 4: case 5: case 6: return Cell::real(RealOf(reader));
        default: return Cell::text(reader.text(6));
    }
}

bool SameCell(const Cell& a, const Cell& b) {
    if (a.isMissing() || b.isMissing()) return a.isMissing() == b.isMissing();
    return a.length() == b.length() && std::memcmp(a.bytes(), b.bytes(), a.length()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    const uint8_t flags = reader.byte();

    std::vector<refhost::Column> columns(1 + reader.below(5));
    for (size_t i = 0; i < columns.size(); ++i)
        columns[i] = {"c" + std::to_string(i), StorageOf(reader), static_cast<int>(reader.below(6))};
    std::vector<std::string> splitFields(1 + reader.below(3));
    for (std::string& name : splitFields) name = columns[reader.below(columns.size())].name;
    if (flags & kUnknownSplitField) splitFields.push_back("C0");
    const size_t taskBuffer = (flags & kSmallTaskBuffer) ? 1 + reader.below(64) : 8192;

    refhost::Table table;
    try {
        table = refhost::Table(columns);
        const size_t rows = reader.below(128);
        for (size_t r = 0; r < rows && !reader.empty(); ++r) {
            std::vector<Cell> row;
            for (const refhost::Column& column : columns) row.push_back(CellOf(reader, column.storage));
            table.addRawRow(row);
        }
    } catch (const std::exception&) {
        return 0;  // a table the host itself refuses to hold
    }

    refhost::Context context(SharedHost());
    context.setInput(table);
    context.setDataModel(refhost::dataModelXml(table));
    context.setParameter("split_fields", splitFields);
    if (flags & kNoThreadServices) context.setThreadServices(false);

    int err = 0;
    std::unique_ptr<refhost::Component> distribute = CreateComponent(context, "split_distribute");
    if (distribute->configure() == 0 && distribute->beginExecution() == 0) {
        bool everyTaskServed = true;
        std::vector<std::vector<Cell>> served;
        for (refhost::Worker* worker : context.workers()) {
            std::string first, second;
            if (distribute->getWorkerTask(*worker, &first, &second, &err, taskBuffer) != 0) {
                everyTaskServed = false;
                continue;
            }
            FUZZ_CHECK(first.empty());
            CfCppHelperV1::XMLDocument document = ParseOrAbort(second, "a task document");
            FUZZ_CHECK(document.getElementsDirect("SplitField").count() == splitFields.size());
            document.dispose();
            CFIterator* iterator = nullptr;
            if (distribute->getIterator(worker, 0, &iterator) != 0) {
                everyTaskServed = false;
                continue;
            }
            cf_status readStatus = 0;
            const refhost::TableRows group = refhost::readTable(iterator, columns, &readStatus);
            FUZZ_CHECK(readStatus == 0 && group.rowCount() > 0);
            for (size_t r = 0; r < group.rowCount(); ++r) served.push_back(group.row(r));
        }
        if (everyTaskServed) {
            refhost::Worker stranger(-1);
            std::string first, second;
            FUZZ_CHECK(distribute->getWorkerTask(stranger, &first, &second) == CF_NO_WORKER_TASK);
            FUZZ_CHECK(served.size() == table.rowCount());
            for (size_t r = 0; r < served.size(); ++r)
                for (size_t c = 0; c < columns.size(); ++c)
                    FUZZ_CHECK(SameCell(served[r][c], table.at(r, c)));
        }
    }
    distribute->endExecution();
    FUZZ_CHECK(context.liveRecordSets() == 0 && context.badReleases() == 0);
    CheckMessages(SharedModule().api(), distribute->handle());
    FUZZ_CHECK(distribute->destroy() == 0);
    return 0;
}

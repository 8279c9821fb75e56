// The benchmarks' shared data.
#include "bench_data.h"

#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace bench {

namespace {

size_t records_ = 10'000'000;

size_t groupOf(size_t record, size_t records, size_t groups) {
    return static_cast<size_t>((static_cast<unsigned __int128>(record) * groups) / records);
}

}  // namespace

size_t recordCount() { return records_; }
void setRecordCount(size_t records) { records_ = records; }

const refhost::Table& groupedTable(size_t records, size_t groups) {
    static std::map<std::pair<size_t, size_t>, std::unique_ptr<refhost::Table>> tables;
    auto& slot = tables[{records, groups}];
    if (slot) return *slot;
    slot = std::make_unique<refhost::Table>(std::vector<refhost::Column>{
        {"grp", 3, 3}, {"sub", 1, 3}, {"x1", 2, 1}, {"x2", 2, 1}, {"x3", 2, 1}, {"x4", 2, 1},
        {"x5", 2, 1}, {"y", 2, 1}});
    // Cheap deterministic values: the benchmarks measure moving records, not
    // what the records hold.
    uint64_t state = 12345;
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    char grp[32];
    size_t group = static_cast<size_t>(-1);
    for (size_t i = 0; i < records; ++i) {
        const size_t k = groupOf(i, records, groups);
        if (k != group) {
            group = k;
            std::snprintf(grp, sizeof grp, "g%04zu", k / 10);
        }
        const double x1 = 10 * uniform(), x2 = 5 * uniform(), x3 = uniform(),
                     x4 = 100 * uniform(), x5 = uniform() - 0.5;
        const double y = static_cast<double>(k % 97) + 2 * x1 - x2 + 3 * x3 + 0.1 * x4 + x5;
        slot->addRow({refhost::Cell::text(grp), refhost::Cell::integer(static_cast<int64_t>(k % 10)),
                      refhost::Cell::real(x1), refhost::Cell::real(x2), refhost::Cell::real(x3),
                      refhost::Cell::real(x4), refhost::Cell::real(x5), refhost::Cell::real(y)});
    }
    return *slot;
}

std::vector<size_t> groupSizes(size_t records, size_t groups) {
    std::vector<size_t> sizes(groups, 0);
    for (size_t i = 0; i < records; ++i) ++sizes[groupOf(i, records, groups)];
    return sizes;
}

std::string groupedDataModel(const refhost::Table& table) {
    refhost::DataModelOptions options;
    options.roles = {{"grp", "split"}, {"sub", "split"}, {"x1", "input"}, {"x2", "input"},
                     {"x3", "input"},  {"x4", "input"},  {"x5", "input"}, {"y", "target"}};
    return refhost::dataModelXml(table, options);
}

}  // namespace bench

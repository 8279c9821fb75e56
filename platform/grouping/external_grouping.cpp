// External grouping, in order:
//   1. one pass over the input finds the distinct keys and their record
//      counts, and ranks the keys in sorted order;
//   2. the ranks are cut into ranges, each holding at most the records that
//      fit in a quarter of the memory limit (a single larger group gets a
//      range of its own, which needs no ordering);
//   3. a second pass, over a typed copy of the records that the first pass
//      wrote, writes each record, tagged with its key's rank, to its
//      range's partition file;
//   4. each partition in turn is read back, ordered by rank with a stable
//      counting pass, and appended to the grouped spool; its file is then
//      removed.
#include "external_grouping.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "errors.h"
#include "group_order.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

// More partitions than this would hold too many files open at once; the
// partitions then grow beyond the memory budget instead.
constexpr std::size_t kMaxPartitions = 256;
// Records of a block of the grouped spool.
constexpr std::size_t kBlockRecords = 4096;

// Gives the memory of an ordered partition back to the system. The heap
// keeps freed blocks of one partition for the next otherwise, and the
// blocks of successive partitions, of slightly different sizes, do not
// reuse each other's space: the process grew by one partition's worth per
// partition.
void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

using Key = std::vector<refhost::Cell>;

bool keyLess(const Key& a, const Key& b)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        if (const int order = compareCells(a[i], b[i])) return order < 0;
    return false;
}

// The key of a row as bytes that are equal exactly when the values are
// (for hashing): per key column a missing marker, or the value's length and
// bytes.
void keyBytes(const refhost::Table& block, std::size_t row, const std::vector<std::size_t>& keyColumns,
              std::string& out)
{
    out.clear();
    for (std::size_t column : keyColumns) {
        std::size_t length = 0;
        const void* bytes = block.valueBytes(row, column, &length);
        if (!bytes) {
            out.push_back('\0');
            continue;
        }
        out.push_back('\1');
        char size[sizeof length];
        std::memcpy(size, &length, sizeof length);
        out.append(size, sizeof length);
        out.append(static_cast<const char*>(bytes), length);
    }
}

// The rank of every distinct key (equal keys share a rank) and the records
// of each rank.
struct KeyRanks {
    std::unordered_map<std::string, std::uint32_t> rankOf;  // by keyBytes
    std::vector<std::uint64_t> records;                     // by rank
};

// Finds the distinct keys of the blocks given and their record counts, and
// ranks them in sorted order.
class KeyRanker {
public:
    KeyRanker(std::vector<std::size_t> keyColumns, std::uint64_t memoryBudget)
        : keyColumns_(std::move(keyColumns)), memoryBudget_(memoryBudget)
    {
    }

    void add(const refhost::Table& block)
    {
        for (std::size_t row = 0; row < block.rowCount(); ++row) {
            keyBytes(block, row, keyColumns_, bytes_);
            if (distinct_.empty() || bytes_ != previous_) {
                const auto [at, added] = index_.try_emplace(bytes_, static_cast<std::uint32_t>(distinct_.size()));
                if (added) {
                    Key key;
                    for (std::size_t column : keyColumns_) key.push_back(block.at(row, column));
                    distinct_.push_back({std::move(key), 0});
                    memory_ += keyMemory(bytes_.size(), keyColumns_.size()) + bytes_.size() + sizeof(Distinct);
                    if (memory_ > memoryBudget_) throw tooManyKeys(distinct_.size(), false);
                }
                previous_ = bytes_;
                previousIndex_ = at->second;
            }
            ++distinct_[previousIndex_].records;
        }
    }

    KeyRanks finish()
    {
        std::vector<std::uint32_t> order(distinct_.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return keyLess(distinct_[a].key, distinct_[b].key); });
        // Keys that compare equal (0 and -0) share a rank, as they share a
        // group when a loaded table is sorted.
        std::vector<std::uint32_t> rankOfDistinct(distinct_.size());
        KeyRanks ranks;
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i == 0 || keyLess(distinct_[order[i - 1]].key, distinct_[order[i]].key)) ranks.records.push_back(0);
            rankOfDistinct[order[i]] = static_cast<std::uint32_t>(ranks.records.size() - 1);
            ranks.records.back() += distinct_[order[i]].records;
        }
        for (auto& entry : index_) entry.second = rankOfDistinct[entry.second];
        ranks.rankOf = std::move(index_);
        return ranks;
    }

private:
    struct Distinct {
        Key key;
        std::uint64_t records = 0;
    };
    std::vector<std::size_t> keyColumns_;
    std::uint64_t memoryBudget_;
    std::unordered_map<std::string, std::uint32_t> index_;  // keyBytes -> distinct
    std::vector<Distinct> distinct_;
    std::uint64_t memory_ = 0;
    std::string bytes_, previous_;
    std::uint32_t previousIndex_ = 0;
};

// Cuts the ranks into ranges of at most `budget` records (a rank with more
// stands alone); firstRank[p] is partition p's first rank, with one more
// entry for the end.
std::vector<std::uint32_t> partitionRanks(const std::vector<std::uint64_t>& records, std::uint64_t budget)
{
    std::vector<std::uint32_t> firstRank{0};
    std::uint64_t held = 0;
    for (std::uint32_t rank = 0; rank < records.size(); ++rank) {
        if (held > 0 && held + records[rank] > budget) {
            firstRank.push_back(rank);
            held = 0;
        }
        held += records[rank];
    }
    firstRank.push_back(static_cast<std::uint32_t>(records.size()));
    return firstRank;
}

// A partition being written: the records not yet written out, with their
// ranks, and its file.
struct PartitionFile {
    fs::path path;
    std::unique_ptr<SpoolWriter> writer;
    refhost::Table pending;
    std::vector<std::uint32_t> ranks;
    std::uint64_t records = 0;

    void flush()
    {
        if (pending.rowCount() == 0) return;
        writer->write(pending, 0, pending.rowCount(), ranks.data());
        pending = refhost::Table(pending.columns());
        ranks.clear();
    }
};

// Reads a partition back, orders its records by rank (stably) and appends
// them to `out`.
void orderPartition(const PartitionFile& partition, std::uint32_t firstRank, std::uint32_t endRank,
                    const std::vector<refhost::Column>& columns, SpoolWriter& out)
{
    SpoolReader reader(partition.path);
    std::string payload;
    if (endRank - firstRank == 1) {
        // One group: already in input order.
        while (reader.raw(payload)) out.writeRaw(payload);
        return;
    }
    std::vector<refhost::ColumnValues> values;
    for (const refhost::Column& column : columns) {
        values.emplace_back(refhost::ColumnValues::kindFor(column.storage));
        values.back().reserve(partition.records);
    }
    std::vector<std::uint32_t> ranks, tags;
    ranks.reserve(partition.records);
    refhost::Table block;
    while (reader.raw(payload)) {
        SpoolReader::decode(payload, block, tags);
        for (std::size_t c = 0; c < values.size(); ++c) values[c].appendAll(block.values(c));
        ranks.insert(ranks.end(), tags.begin(), tags.end());
    }
    block = refhost::Table();
    refhost::Table table(columns, std::move(values));
    // Counting sort by rank: stable, so records keep input order in a group.
    std::vector<std::size_t> start(endRank - firstRank + 1, 0);
    for (std::uint32_t rank : ranks) ++start[rank - firstRank + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::size_t> order(ranks.size());
    for (std::size_t row = 0; row < ranks.size(); ++row) order[start[ranks[row] - firstRank]++] = row;
    std::vector<std::uint32_t>().swap(ranks);
    table.permuteRows(order);
    std::vector<std::size_t>().swap(order);
    for (std::size_t first = 0; first < table.rowCount(); first += kBlockRecords)
        out.write(table, first, std::min(kBlockRecords, table.rowCount() - first));
}

}  // namespace

InputError tooManyKeys(std::size_t keys, bool presorted)
{
    return InputError("the split fields have more distinct values (" + std::to_string(keys) +
                      " so far) than fit in --memory-limit to " +
                      (presorted ? "check that the file is grouped by them; raise --memory-limit"
                                 : "group the records; raise --memory-limit, or group the file by the split "
                                   "fields and give --presorted"));
}

std::uint64_t keyMemory(std::size_t keyTextBytes, std::size_t keyColumns)
{
    return keyTextBytes + 64 + sizeof(refhost::Cell) * keyColumns;
}

struct KeyPass::State {
    std::shared_ptr<TempDir> dir;
    fs::path copyPath;
    std::unique_ptr<SpoolWriter> copy;
    std::unique_ptr<KeyRanker> ranker;
};

KeyPass::KeyPass(std::vector<std::size_t> keyColumns, const ExternalGroupingSettings& settings)
    : state_(std::make_unique<State>())
{
    state_->dir = std::make_shared<TempDir>(settings.tempDir);
    state_->copyPath = state_->dir->path() / "records";
    state_->copy = std::make_unique<SpoolWriter>(state_->copyPath, state_->dir->parent(), settings.write);
    state_->copy->carryOnly(settings.carried);
    state_->ranker = std::make_unique<KeyRanker>(std::move(keyColumns), settings.memoryLimit / 4);
}

KeyPass::~KeyPass() = default;
KeyPass::KeyPass(KeyPass&&) noexcept = default;

void KeyPass::add(const refhost::Table& block)
{
    state_->copy->write(block, 0, block.rowCount());
    state_->ranker->add(block);
}

std::shared_ptr<SpoolSource> groupExternally(const refhost::RecordSource& input,
                                             const std::vector<std::size_t>& keyColumns,
                                             const ExternalGroupingSettings& settings)
{
    // The first pass also copies the records, typed, so that the second
    // reads them with no parsing.
    KeyPass keys(keyColumns, settings);
    const auto pass = input.open();
    refhost::Table block;
    while (pass->next(block)) keys.add(block);
    return groupExternally(std::move(keys), keyColumns, input.columns(), settings);
}

std::shared_ptr<SpoolSource> groupExternally(KeyPass keys, const std::vector<std::size_t>& keyColumns,
                                             const std::vector<refhost::Column>& columns,
                                             const ExternalGroupingSettings& settings)
{
    std::shared_ptr<TempDir> dir = std::move(keys.state_->dir);
    const fs::path copyPath = keys.state_->copyPath;
    keys.state_->copy->close();
    keys.state_->copy.reset();
    KeyRanks ranks = keys.state_->ranker->finish();
    keys.state_->ranker.reset();

    // A loaded record takes about its share of the input's bytes, and at
    // least 8 bytes a value, plus its rank, its place in the ordering and
    // the spare column the reordering gathers into. A partition takes at
    // most a quarter of the limit.
    const std::uint64_t records = std::max<std::uint64_t>(settings.records, 1);
    const std::uint64_t perRecord =
        std::max<std::uint64_t>(settings.inputBytes / records, 8 * columns.size()) + 24;
    std::uint64_t budget = std::max<std::uint64_t>(settings.memoryLimit / 4 / perRecord, 1);
    budget = std::max<std::uint64_t>(budget, (records + kMaxPartitions - 1) / kMaxPartitions);
    const std::vector<std::uint32_t> firstRank = partitionRanks(ranks.records, budget);
    const std::size_t partitionCount = firstRank.size() - 1;
    std::vector<std::uint32_t> partitionOf(ranks.records.size());
    for (std::size_t p = 0; p < partitionCount; ++p)
        std::fill(partitionOf.begin() + firstRank[p], partitionOf.begin() + firstRank[p + 1],
                  static_cast<std::uint32_t>(p));

    // The partitions' write buffers share 16 MiB.
    const std::size_t bufferBytes =
        std::clamp<std::size_t>((std::size_t{16} << 20) / partitionCount, std::size_t{64} << 10, std::size_t{1} << 20);
    std::vector<PartitionFile> partitions(partitionCount);
    for (std::size_t p = 0; p < partitionCount; ++p) {
        partitions[p].path = dir->path() / ("partition-" + std::to_string(p));
        partitions[p].writer =
            std::make_unique<SpoolWriter>(partitions[p].path, dir->parent(), settings.write, bufferBytes);
        partitions[p].writer->carryOnly(settings.carried);
        partitions[p].pending = refhost::Table(columns);
    }
    // Records held per partition before they are written: together about
    // 128 Ki records, whatever the number of partitions.
    const std::size_t pendingLimit = std::clamp<std::size_t>((std::size_t{1} << 17) / partitionCount, 64, 4096);
    {
        SpoolReader copied(copyPath);
        refhost::Table block;
        std::vector<std::uint32_t> noTags;
        std::string bytes;
        while (copied.next(block, noTags)) {
            for (std::size_t row = 0; row < block.rowCount(); ++row) {
                keyBytes(block, row, keyColumns, bytes);
                const auto found = ranks.rankOf.find(bytes);
                PartitionFile& partition = partitions[partitionOf[found->second]];  // every key was ranked
                partition.pending.addRowFrom(block, row);
                partition.ranks.push_back(found->second);
                ++partition.records;
                if (partition.ranks.size() >= pendingLimit) partition.flush();
            }
        }
    }
    std::error_code ec;
    fs::remove(copyPath, ec);
    for (PartitionFile& partition : partitions) {
        partition.flush();
        partition.pending = refhost::Table();
        partition.writer->close();
        partition.writer.reset();
    }

    const fs::path grouped = dir->path() / "grouped";
    SpoolWriter out(grouped, dir->parent(), settings.write);
    out.carryOnly(settings.carried);
    std::size_t done = 0;
    for (std::size_t p = 0; p < partitionCount; ++p) {
        orderPartition(partitions[p], firstRank[p], firstRank[p + 1], columns, out);
        releaseFreedMemory();
        std::error_code ec;
        fs::remove(partitions[p].path, ec);
        done += partitions[p].records;
        if (settings.progress) settings.progress(done, settings.records);
    }
    out.close();
    return std::make_shared<SpoolSource>(std::move(dir), grouped, columns);
}

GroupedSpool::GroupedSpool(const fs::path& tempDir, SpoolWriteFunction write, std::vector<bool> carried)
{
    try {
        dir_ = std::make_shared<TempDir>(tempDir);
        writer_ = std::make_unique<SpoolWriter>(dir_->path() / "grouped", dir_->parent(), std::move(write));
        writer_->carryOnly(std::move(carried));
    } catch (const InputError&) {
        drop();
    }
}

GroupedSpool::~GroupedSpool() = default;

// A spool that fails is dropped (its files with it) and the pass goes on.
void GroupedSpool::drop()
{
    writer_.reset();
    dir_.reset();
}

void GroupedSpool::add(const refhost::Table& block)
{
    if (!writer_) return;
    try {
        writer_->write(block, 0, block.rowCount());
    } catch (const InputError&) {
        drop();
    }
}

std::shared_ptr<SpoolSource> GroupedSpool::finish(const std::vector<refhost::Column>& columns)
{
    if (!writer_) return nullptr;
    try {
        writer_->close();
    } catch (const InputError&) {
        drop();
        return nullptr;
    }
    writer_.reset();
    const fs::path file = dir_->path() / "grouped";
    return std::make_shared<SpoolSource>(std::move(dir_), file, columns);
}

std::shared_ptr<SpoolSource> spoolGroupedRecords(
    const std::vector<refhost::Column>& columns, const fs::path& tempDir,
    const std::function<void(const std::function<void(const refhost::Table&)>&)>& pass,
    SpoolWriteFunction write, std::vector<bool> carried)
{
    GroupedSpool spool(tempDir, std::move(write), std::move(carried));
    pass([&](const refhost::Table& block) { spool.add(block); });
    return spool.finish(columns);
}

}  // namespace splitrun

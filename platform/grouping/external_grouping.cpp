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
#include <string_view>
#include <utility>

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

// Gives the memory of the ordering back to the system before the run
// reads the grouped records.
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

// The rank of every distinct key (equal keys share a rank), by the key's
// index in order of first appearance, and the records of each rank.
struct KeyRanks {
    std::vector<std::uint32_t> rankOf;    // by distinct key
    std::vector<std::uint64_t> records;   // by rank
};

// A 64-bit hash of a key's bytes, eight at a time.
std::uint64_t hashKey(std::string_view bytes)
{
    std::uint64_t hash = 0x9e3779b97f4a7c15ULL ^ bytes.size();
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    const auto mix = [&](std::uint64_t word) {
        hash = (hash ^ word) * 0xbf58476d1ce4e5b9ULL;
        hash ^= hash >> 31;
    };
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        mix(word);
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, at, left);
    mix(tail);
    hash *= 0x94d049bb133111ebULL;
    return hash ^ (hash >> 29);
}

// The distinct keys of a run, numbered in order of first appearance: their
// bytes (keyBytes) in one buffer, found through an open-addressing table
// of their numbers, so that a record costs one hash and, mostly, one
// comparison, with no allocation.
class KeyTable {
public:
    std::size_t size() const { return hashes_.size(); }

    // The number of the key, and whether it was added.
    std::pair<std::uint32_t, bool> insert(std::string_view bytes)
    {
        if ((size() + 1) * 2 > slots_.size()) grow();
        const std::uint64_t hash = hashKey(bytes);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const std::uint32_t held = slots_[slot];
            if (held == 0) {
                const auto added = static_cast<std::uint32_t>(size());
                slots_[slot] = added + 1;
                hashes_.push_back(hash);
                bytes_.append(bytes);
                ends_.push_back(bytes_.size());
                return {added, true};
            }
            if (hashes_[held - 1] == hash && key(held - 1) == bytes) return {held - 1, false};
        }
    }

private:
    std::string_view key(std::uint32_t index) const
    {
        const std::size_t start = index == 0 ? 0 : ends_[index - 1];
        return std::string_view(bytes_).substr(start, ends_[index] - start);
    }

    void grow()
    {
        std::vector<std::uint32_t> slots(std::max<std::size_t>(slots_.size() * 2, 1024), 0);
        const std::size_t mask = slots.size() - 1;
        for (std::uint32_t index = 0; index < size(); ++index) {
            std::size_t slot = hashes_[index] & mask;
            while (slots[slot] != 0) slot = (slot + 1) & mask;
            slots[slot] = index + 1;
        }
        slots_ = std::move(slots);
    }

    std::vector<std::uint32_t> slots_;   // key number + 1; 0 for an empty slot
    std::vector<std::uint64_t> hashes_;  // by key number
    std::string bytes_;
    std::vector<std::size_t> ends_;      // end of each key's bytes in bytes_
};

// Finds the distinct keys of the blocks given and their record counts, and
// ranks them in sorted order.
class KeyRanker {
public:
    KeyRanker(std::vector<std::size_t> keyColumns, std::uint64_t memoryBudget)
        : keyColumns_(std::move(keyColumns)), memoryBudget_(memoryBudget)
    {
    }

    // Notes the keys of the block's records; `keys` gets each record's key
    // number (its index in order of first appearance).
    void add(const refhost::Table& block, std::vector<std::uint32_t>& keys)
    {
        keys.resize(block.rowCount());
        for (std::size_t row = 0; row < block.rowCount(); ++row) {
            // A record of the same key as the one before (grouped input)
            // is counted with no lookup.
            if (row > 0 && !distinct_.empty()) {
                bool same = true;
                for (std::size_t column : keyColumns_) same = same && block.sameValue(row - 1, row, column);
                if (same) {
                    keys[row] = previousIndex_;
                    ++distinct_[previousIndex_].records;
                    continue;
                }
            }
            keyBytes(block, row, keyColumns_, bytes_);
            const auto [index, added] = index_.insert(bytes_);
            if (added) {
                Key key;
                for (std::size_t column : keyColumns_) key.push_back(block.at(row, column));
                distinct_.push_back({std::move(key), 0});
                memory_ += keyMemory(bytes_.size(), keyColumns_.size()) + bytes_.size() + sizeof(Distinct);
                if (memory_ > memoryBudget_) throw tooManyKeys(distinct_.size(), false);
            }
            previousIndex_ = index;
            keys[row] = index;
            ++distinct_[index].records;
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
        KeyRanks ranks;
        ranks.rankOf.resize(distinct_.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i == 0 || keyLess(distinct_[order[i - 1]].key, distinct_[order[i]].key)) ranks.records.push_back(0);
            ranks.rankOf[order[i]] = static_cast<std::uint32_t>(ranks.records.size() - 1);
            ranks.records.back() += distinct_[order[i]].records;
        }
        return ranks;
    }

private:
    struct Distinct {
        Key key;
        std::uint64_t records = 0;
    };
    std::vector<std::size_t> keyColumns_;
    std::uint64_t memoryBudget_;
    KeyTable index_;
    std::vector<Distinct> distinct_;
    std::uint64_t memory_ = 0;
    std::string bytes_;
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

// Appends the values of `from` at `rows` to `to`. A text is looked up in
// `to`'s dictionary once per call: `own` and `seen` map `from`'s codes to
// `to`'s, valid where seen[code] == `call` (so they need no clearing
// between calls).
void appendRows(refhost::ColumnValues& to, const refhost::ColumnValues& from, const std::uint32_t* rows,
                std::size_t count, std::vector<std::uint32_t>& own, std::vector<std::uint32_t>& seen,
                std::uint32_t call)
{
    using Kind = refhost::ColumnValues::Kind;
    if (from.kind() != to.kind() || from.kind() == Kind::Cells) {
        for (std::size_t i = 0; i < count; ++i) to.appendFrom(from, rows[i]);
        return;
    }
    const bool anyMissing = from.hasMissing();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t row = rows[i];
        if (anyMissing && from.isMissing(row)) {
            to.appendMissing();
            continue;
        }
        switch (from.kind()) {
        case Kind::Integer: to.appendInteger(from.integers()[row]); break;
        case Kind::Real: to.appendReal(from.reals()[row]); break;
        case Kind::Text: {
            const std::uint32_t code = from.codes()[row];
            if (seen.size() <= code) {
                seen.resize(from.dictionary().size(), 0);
                own.resize(from.dictionary().size());
            }
            if (seen[code] == call) {
                to.appendCode(own[code]);
            } else {
                to.appendText(from.dictionary().at(code));
                own[code] = to.codes().back();
                seen[code] = call;
            }
            break;
        }
        case Kind::Cells: break;
        }
    }
}

// The next call number for appendRows's `seen`; when the numbers wrap
// around, `seen` is cleared so that no old entry matches.
std::uint32_t nextCall(std::uint32_t& call, std::vector<std::uint32_t>& seen)
{
    if (++call == 0) {
        std::fill(seen.begin(), seen.end(), 0);
        call = 1;
    }
    return call;
}

// A partition being written: the records not yet written out, with their
// ranks, and its file.
struct PartitionFile {
    fs::path path;
    std::unique_ptr<SpoolWriter> writer;
    const std::vector<refhost::Column>* columns = nullptr;
    std::vector<refhost::ColumnValues> pending;
    std::vector<std::uint32_t> ranks;
    std::uint64_t records = 0;

    void clear()
    {
        pending.clear();
        for (const refhost::Column& column : *columns)
            pending.emplace_back(refhost::ColumnValues::kindFor(column.storage));
        ranks.clear();
    }

    void flush()
    {
        if (ranks.empty()) return;
        const refhost::Table table(*columns, std::move(pending));
        writer->write(table, 0, table.rowCount(), ranks.data());
        clear();
    }
};

// The memory of ordering partitions, kept from one partition to the next
// so that each reuses the pages the one before touched: freeing them and
// faulting fresh ones in for every partition cost more than the ordering.
struct OrderingBuffers {
    std::vector<refhost::ColumnValues> values;   // the partition's records
    std::vector<std::uint32_t> ranks, tags, order, own, seen;
    std::vector<std::size_t> start;
    std::uint32_t call = 0;
};

// Reads a partition back, orders its records by rank (stably) and appends
// them to `out`.
void orderPartition(const PartitionFile& partition, std::uint32_t firstRank, std::uint32_t endRank,
                    const std::vector<refhost::Column>& columns, const std::vector<bool>& carried,
                    SpoolWriter& out, OrderingBuffers& buffers)
{
    SpoolReader reader(partition.path);
    std::string payload;
    if (endRank - firstRank == 1) {
        // One group: already in input order.
        while (reader.raw(payload)) out.writeRaw(payload);
        return;
    }
    std::vector<refhost::ColumnValues>& values = buffers.values;
    if (values.empty())
        for (const refhost::Column& column : columns)
            values.emplace_back(refhost::ColumnValues::kindFor(column.storage));
    for (std::size_t c = 0; c < values.size(); ++c) {
        values[c].clear();
        if (c >= carried.size() || carried[c]) values[c].reserve(partition.records);
    }
    std::vector<std::uint32_t>& ranks = buffers.ranks;
    ranks.clear();
    ranks.reserve(partition.records);
    {
        refhost::Table block;
        while (reader.raw(payload)) {
            SpoolReader::decode(payload, block, buffers.tags);
            for (std::size_t c = 0; c < values.size(); ++c)
                if (c >= carried.size() || carried[c]) values[c].appendAll(block.values(c));
            ranks.insert(ranks.end(), buffers.tags.begin(), buffers.tags.end());
        }
    }
    // Counting sort by rank: stable, so records keep input order in a group.
    std::vector<std::size_t>& start = buffers.start;
    start.assign(endRank - firstRank + 1, 0);
    for (std::uint32_t rank : ranks) ++start[rank - firstRank + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::uint32_t>& order = buffers.order;
    order.resize(ranks.size());
    for (std::size_t row = 0; row < ranks.size(); ++row)
        order[start[ranks[row] - firstRank]++] = static_cast<std::uint32_t>(row);
    // The ordered records are gathered a block at a time.
    for (std::size_t first = 0; first < order.size(); first += kBlockRecords) {
        const std::size_t count = std::min(kBlockRecords, order.size() - first);
        std::vector<refhost::ColumnValues> block;
        for (std::size_t c = 0; c < values.size(); ++c) {
            block.emplace_back(values[c].kind());
            if (c < carried.size() && !carried[c]) {
                for (std::size_t i = 0; i < count; ++i) block.back().appendMissing();
                continue;
            }
            block.back().reserve(count);
            appendRows(block.back(), values[c], order.data() + first, count, buffers.own, buffers.seen,
                       nextCall(buffers.call, buffers.seen));
        }
        out.write(refhost::Table(columns, std::move(block)), 0, count);
    }
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
    std::vector<std::uint32_t> keys;   // of the block being added
};

KeyPass::KeyPass(std::vector<std::size_t> keyColumns, const ExternalGroupingSettings& settings)
    : state_(std::make_unique<State>())
{
    state_->dir = std::make_shared<TempDir>(settings.tempDir, settings.tempDirShownAs);
    state_->copyPath = state_->dir->path() / "records";
    state_->copy = std::make_unique<SpoolWriter>(state_->copyPath, state_->dir->shownAs(), settings.write);
    state_->copy->carryOnly(settings.carried);
    state_->ranker = std::make_unique<KeyRanker>(std::move(keyColumns), settings.memoryLimit / 4);
}

KeyPass::~KeyPass() = default;
KeyPass::KeyPass(KeyPass&&) noexcept = default;

void KeyPass::add(const refhost::Table& block)
{
    // The copy carries each record's key number, so that the partitioning
    // pass needs no key lookup.
    state_->ranker->add(block, state_->keys);
    state_->copy->write(block, 0, block.rowCount(), state_->keys.data());
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
    return groupExternally(std::move(keys), input.columns(), settings);
}

std::shared_ptr<SpoolSource> groupExternally(KeyPass keys, const std::vector<refhost::Column>& columns,
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
            std::make_unique<SpoolWriter>(partitions[p].path, dir->shownAs(), settings.write, bufferBytes);
        partitions[p].writer->carryOnly(settings.carried);
        partitions[p].columns = &columns;
        partitions[p].clear();
    }
    // Records held per partition before they are written: together about
    // 128 Ki records, whatever the number of partitions.
    const std::size_t pendingLimit = std::clamp<std::size_t>((std::size_t{1} << 17) / partitionCount, 64, 4096);
    {
        // Each block's records are sorted by partition (stably, with a
        // counting pass) and appended to their partitions column by column.
        SpoolReader copied(copyPath);
        refhost::Table block;
        std::vector<std::uint32_t> keys, rowRanks, rows, own, seen;
        std::vector<std::size_t> start(partitionCount + 1);
        std::uint32_t call = 0;
        while (copied.next(block, keys)) {
            const std::size_t count = block.rowCount();
            rowRanks.resize(count);
            rows.resize(count);
            std::fill(start.begin(), start.end(), 0);
            for (std::size_t row = 0; row < count; ++row) {
                rowRanks[row] = ranks.rankOf[keys[row]];
                ++start[partitionOf[rowRanks[row]] + 1];
            }
            std::partial_sum(start.begin(), start.end(), start.begin());
            for (std::size_t row = 0; row < count; ++row)
                rows[start[partitionOf[rowRanks[row]]]++] = static_cast<std::uint32_t>(row);
            // start[p] is now the end of partition p's rows.
            for (std::size_t p = 0, first = 0; p < partitionCount; first = start[p], ++p) {
                if (start[p] == first) continue;
                PartitionFile& partition = partitions[p];
                const std::uint32_t* partRows = rows.data() + first;
                const std::size_t partCount = start[p] - first;
                for (std::size_t c = 0; c < partition.pending.size(); ++c) {
                    if (c < settings.carried.size() && !settings.carried[c]) {
                        for (std::size_t i = 0; i < partCount; ++i) partition.pending[c].appendMissing();
                        continue;
                    }
                    appendRows(partition.pending[c], block.values(c), partRows, partCount, own, seen,
                               nextCall(call, seen));
                }
                for (std::size_t i = 0; i < partCount; ++i) partition.ranks.push_back(rowRanks[partRows[i]]);
                partition.records += partCount;
                if (partition.ranks.size() >= pendingLimit) partition.flush();
            }
        }
    }
    std::error_code ec;
    fs::remove(copyPath, ec);
    for (PartitionFile& partition : partitions) {
        partition.flush();
        partition.pending.clear();
        partition.writer->close();
        partition.writer.reset();
    }

    const fs::path grouped = dir->path() / "grouped";
    SpoolWriter out(grouped, dir->shownAs(), settings.write);
    out.carryOnly(settings.carried);
    std::size_t done = 0;
    OrderingBuffers buffers;
    for (std::size_t p = 0; p < partitionCount; ++p) {
        orderPartition(partitions[p], firstRank[p], firstRank[p + 1], columns, settings.carried, out, buffers);
        std::error_code ec;
        fs::remove(partitions[p].path, ec);
        done += partitions[p].records;
        if (settings.progress) settings.progress(done, settings.records);
    }
    buffers = OrderingBuffers();
    releaseFreedMemory();
    out.close();
    return std::make_shared<SpoolSource>(std::move(dir), grouped, columns);
}

GroupedSpool::GroupedSpool(const fs::path& tempDir, SpoolWriteFunction write, std::vector<bool> carried)
{
    try {
        dir_ = std::make_shared<TempDir>(tempDir);
        writer_ = std::make_unique<SpoolWriter>(dir_->path() / "grouped", dir_->shownAs(), std::move(write));
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

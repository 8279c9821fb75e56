// External grouping, in order:
//   1. one pass over the input numbers the distinct keys and counts their
//      records, and gathers the records, typed, in memory; whenever they
//      take a quarter of the memory limit they are ordered by key with a
//      stable counting pass (keys that compare equal together, in input
//      order) and written, each tagged with its key number, as one sorted
//      run file;
//   2. the keys are ranked in sorted order;
//   3. the runs are merged into the grouped spool by (rank, run): runs are
//      in input order, so records of a rank keep input order. Each run's
//      records of one rank are copied together, and each run's file is
//      removed once merged.
// Every record is thus written and read twice: once in its run, once in
// the grouped spool. When every record fits in one run, it is ordered by
// rank in memory and written to the grouped spool directly.
#include "external_grouping.h"

#include <algorithm>
#include <functional>
#include <cstring>
#include <limits>
#include <numeric>
#include <queue>
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

// More runs than this would hold too many files open at once in the
// merge: runs then grow beyond the memory budget instead (the input's
// number of records known), or the runs so far are merged into one.
constexpr std::size_t kMaxRuns = 256;
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

    std::size_t size() const { return distinct_.size(); }
    // Key number `index`'s values.
    const Key& key(std::uint32_t index) const { return distinct_[index].key; }

    // The ranks of the keys noted so far (later keys take ranks among
    // them without reordering them).
    KeyRanks finish() const
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

// Appends values first .. first+count-1 of `from` to `to`: numbers of the
// same kind as one block, anything else through appendRows (`rows` holds
// 0, 1, 2, ... at least to first + count).
void appendSpan(refhost::ColumnValues& to, const refhost::ColumnValues& from, std::size_t first, std::size_t count,
                const std::vector<std::uint32_t>& rows, std::vector<std::uint32_t>& own,
                std::vector<std::uint32_t>& seen, std::uint32_t& call)
{
    using Kind = refhost::ColumnValues::Kind;
    if (from.kind() == to.kind() && (from.kind() == Kind::Integer || from.kind() == Kind::Real))
        to.appendRange(from, first, count);
    else
        appendRows(to, from, rows.data() + first, count, own, seen, nextCall(call, seen));
}

// 0, 1, 2, ... at least to `size`.
void countTo(std::vector<std::uint32_t>& rows, std::size_t size)
{
    const std::size_t had = rows.size();
    if (had >= size) return;
    rows.resize(size);
    std::iota(rows.begin() + static_cast<std::ptrdiff_t>(had), rows.end(), static_cast<std::uint32_t>(had));
}

bool isCarried(const std::vector<bool>& carried, std::size_t column)
{
    return column >= carried.size() || carried[column];
}

// Empty columns of the kinds a table of `columns` keeps its values in.
std::vector<refhost::ColumnValues> emptyColumns(const std::vector<refhost::Column>& columns)
{
    std::vector<refhost::ColumnValues> values;
    values.reserve(columns.size());
    for (const refhost::Column& column : columns) values.emplace_back(refhost::ColumnValues::kindFor(column.storage));
    return values;
}

// The records of the run being gathered, and the memory of ordering and
// writing it, kept from one run to the next so that each reuses the pages
// the one before touched: freeing them and faulting fresh ones in for
// every run cost more than the ordering.
struct RunBuffers {
    std::vector<refhost::ColumnValues> values;   // the carried columns (the others stay empty)
    std::vector<std::uint32_t> keys;             // each record's key number
    std::uint64_t textBytes = 0;                 // at most the bytes of the texts held
    std::vector<std::uint32_t> classOf;          // by key number: its place in the run's key order (or its rank)
    std::vector<std::uint32_t> present, order, tags, rows, own, seen;
    std::vector<std::size_t> start;
    std::uint32_t call = 0;

    std::size_t records() const { return keys.size(); }
};

// Orders the records of `run` by classOf[key] with a counting pass, which
// is stable: records of one class keep input order. `classes` bounds the
// classes.
void orderByClass(RunBuffers& run, std::size_t classes)
{
    run.start.assign(classes + 1, 0);
    for (std::uint32_t key : run.keys) ++run.start[run.classOf[key] + 1];
    std::partial_sum(run.start.begin(), run.start.end(), run.start.begin());
    run.order.resize(run.keys.size());
    for (std::size_t row = 0; row < run.keys.size(); ++row)
        run.order[run.start[run.classOf[run.keys[row]]]++] = static_cast<std::uint32_t>(row);
}

// Writes the records of `run` in run.order, `blockRecords` to a block,
// each tagged with its key number when `tagged`.
void writeInOrder(RunBuffers& run, const std::vector<refhost::Column>& columns, const std::vector<bool>& carried,
                  std::size_t blockRecords, bool tagged, SpoolWriter& out)
{
    for (std::size_t first = 0; first < run.order.size(); first += blockRecords) {
        const std::size_t count = std::min(blockRecords, run.order.size() - first);
        const std::uint32_t* rows = run.order.data() + first;
        std::vector<refhost::ColumnValues> block = emptyColumns(columns);
        for (std::size_t c = 0; c < block.size(); ++c) {
            if (!isCarried(carried, c)) {
                for (std::size_t i = 0; i < count; ++i) block[c].appendMissing();
                continue;
            }
            block[c].reserve(count);
            appendRows(block[c], run.values[c], rows, count, run.own, run.seen, nextCall(run.call, run.seen));
        }
        if (tagged) {
            run.tags.resize(count);
            for (std::size_t i = 0; i < count; ++i) run.tags[i] = run.keys[rows[i]];
        }
        out.write(refhost::Table(columns, std::move(block)), 0, count, tagged ? run.tags.data() : nullptr);
    }
}

// One sorted run being merged: the block of it read last and where the
// merge is in it.
struct RunCursor {
    std::unique_ptr<SpoolReader> reader;
    refhost::Table block;
    std::vector<std::uint32_t> keys;   // the block's key numbers
    std::size_t at = 0;

    // Reads the next nonempty block; false at the end of the run.
    bool advance()
    {
        at = 0;
        while (reader->next(block, keys))
            if (!keys.empty()) return true;
        return false;
    }
};

// Merges the sorted runs in `paths` (in input order) into `out`, by the
// rank rankOf gives each key number and then by run, so that the records
// of a rank keep input order; each run's records of one rank are copied
// together. Blocks of `out` hold kBlockRecords records, tagged with their
// key numbers when `tagged`. Each run's file is removed once merged.
// `merged` is called with the records written so far after each block.
void mergeRuns(const std::vector<fs::path>& paths, const std::vector<std::uint32_t>& rankOf,
               const std::vector<refhost::Column>& columns, const std::vector<bool>& carried,
               const std::string& tempDirShownAs, bool tagged, SpoolWriter& out,
               const std::function<void(std::size_t)>& merged)
{
    std::vector<RunCursor> runs(paths.size());
    // (rank of the next record, run), the least first.
    using Head = std::pair<std::uint32_t, std::uint32_t>;
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
    for (std::size_t r = 0; r < paths.size(); ++r) {
        runs[r].reader = std::make_unique<SpoolReader>(paths[r], tempDirShownAs);
        if (runs[r].advance()) heads.emplace(rankOf[runs[r].keys[0]], static_cast<std::uint32_t>(r));
    }
    std::vector<refhost::ColumnValues> pending = emptyColumns(columns);
    std::vector<std::uint32_t> pendingKeys, rows, own, seen;
    std::uint32_t call = 0;
    std::size_t pendingCount = 0, written = 0;
    const auto flush = [&] {
        if (pendingCount == 0) return;
        out.write(refhost::Table(columns, std::move(pending)), 0, pendingCount,
                  tagged ? pendingKeys.data() : nullptr);
        written += pendingCount;
        pending = emptyColumns(columns);
        pendingKeys.clear();
        pendingCount = 0;
        if (merged) merged(written);
    };
    while (!heads.empty()) {
        const auto [rank, r] = heads.top();
        heads.pop();
        RunCursor& run = runs[r];
        bool more = true;
        while (more && rankOf[run.keys[run.at]] == rank) {
            // The run's records of this rank in its current block, as
            // many as the block being written takes.
            std::size_t end = run.at + 1;
            while (end < run.keys.size() && rankOf[run.keys[end]] == rank) ++end;
            const std::size_t count = std::min(end - run.at, kBlockRecords - pendingCount);
            countTo(rows, run.at + count);
            for (std::size_t c = 0; c < pending.size(); ++c) {
                if (isCarried(carried, c))
                    appendSpan(pending[c], run.block.values(c), run.at, count, rows, own, seen, call);
                else
                    for (std::size_t i = 0; i < count; ++i) pending[c].appendMissing();
            }
            if (tagged) pendingKeys.insert(pendingKeys.end(), run.keys.begin() + static_cast<std::ptrdiff_t>(run.at),
                                           run.keys.begin() + static_cast<std::ptrdiff_t>(run.at + count));
            pendingCount += count;
            run.at += count;
            if (pendingCount == kBlockRecords) flush();
            if (run.at == run.keys.size()) more = run.advance();
        }
        if (more) {
            heads.emplace(rankOf[run.keys[run.at]], r);
        } else {
            run = RunCursor();
            std::error_code ec;
            fs::remove(paths[r], ec);
        }
    }
    flush();
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
    ExternalGroupingSettings settings;
    std::unique_ptr<KeyRanker> ranker;
    std::vector<refhost::Column> columns;   // the blocks' (known from the first block)
    // A run is written when its records, at perRecord bytes each, and its
    // texts take `budget` bytes, and it holds at least minRecords.
    std::uint64_t perRecord = 0, budget = 0;
    std::size_t minRecords = 0;
    std::size_t blockRecords = kBlockRecords;   // records of a block of a run file
    RunBuffers run;
    std::vector<fs::path> runs;   // the sorted runs written, in input order
    std::size_t runsMade = 0;     // for the files' names
    std::vector<std::uint32_t> blockKeys;   // of the block being added

    void startRuns(const std::vector<refhost::Column>& blockColumns);
    std::size_t roomInRun() const;   // records the run takes before it is written
    void writeRun();
    void mergeEarlyRuns();
};

// A loaded record takes at least 8 bytes a value, plus its key number, its
// place in the ordering and the spare column the gathering writes from,
// and its texts (counted as they come). A run takes at most a quarter of
// the limit; with the input's number of records known, runs are made
// large enough that there are at most kMaxRuns of them.
void KeyPass::State::startRuns(const std::vector<refhost::Column>& blockColumns)
{
    columns = blockColumns;
    perRecord = 8 * columns.size() + 24;
    budget = std::max<std::uint64_t>(settings.memoryLimit / 4, perRecord);
    minRecords = (settings.records + kMaxRuns - 1) / kMaxRuns;
    // The merge holds a block of every run: together about a run's memory.
    const std::uint64_t runRecords = std::max<std::uint64_t>(budget / perRecord, minRecords);
    const std::uint64_t expectedRuns =
        settings.records > 0 ? std::clamp<std::uint64_t>((settings.records + runRecords - 1) / runRecords, 1, kMaxRuns)
                             : kMaxRuns;
    blockRecords = std::clamp<std::size_t>(runRecords / expectedRuns, 256, kBlockRecords);
    run.values = emptyColumns(columns);
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (isCarried(settings.carried, c)) run.values[c].reserve(runRecords);
    run.keys.reserve(runRecords);
}

std::size_t KeyPass::State::roomInRun() const
{
    const std::uint64_t used = run.records() * perRecord + run.textBytes;
    const std::uint64_t room = used < budget ? (budget - used) / perRecord : 0;
    return static_cast<std::size_t>(std::max<std::uint64_t>(room, minRecords - std::min(minRecords, run.records())));
}

// Orders the run in memory by key (keys that compare equal together, in
// input order) and writes it to a file of its own.
void KeyPass::State::writeRun()
{
    // The run's distinct keys, sorted: a record's class is its key's place
    // among them, shared by keys that compare equal.
    std::vector<std::uint32_t>& present = run.present;
    present.clear();
    run.classOf.resize(ranker->size());
    constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();
    for (std::uint32_t key : run.keys) run.classOf[key] = kAbsent;
    for (std::uint32_t key : run.keys)
        if (run.classOf[key] == kAbsent) {
            run.classOf[key] = 0;
            present.push_back(key);
        }
    std::sort(present.begin(), present.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keyLess(ranker->key(a), ranker->key(b)); });
    std::uint32_t classes = 0;
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (i > 0 && keyLess(ranker->key(present[i - 1]), ranker->key(present[i]))) ++classes;
        run.classOf[present[i]] = classes;
    }
    orderByClass(run, classes + 1);

    if (runs.size() == kMaxRuns) mergeEarlyRuns();
    runs.push_back(dir->path() / ("run-" + std::to_string(runsMade++)));
    SpoolWriter out(runs.back(), dir->shownAs(), settings.write);
    out.carryOnly(settings.carried);
    writeInOrder(run, columns, settings.carried, blockRecords, true, out);
    out.close();
    for (refhost::ColumnValues& values : run.values) values.clear();
    run.keys.clear();
    run.textBytes = 0;
}

// Merges the runs written so far into one, by the order of the keys seen
// so far (which later keys do not change), so that the files of the runs
// to be merged at the end stay at most kMaxRuns. Reached only when the
// input's number of records was not known.
void KeyPass::State::mergeEarlyRuns()
{
    const KeyRanks ranks = ranker->finish();
    const fs::path merged = dir->path() / ("run-" + std::to_string(runsMade++));
    SpoolWriter out(merged, dir->shownAs(), settings.write);
    out.carryOnly(settings.carried);
    mergeRuns(runs, ranks.rankOf, columns, settings.carried, dir->shownAs(), true, out, {});
    out.close();
    runs.assign(1, merged);
}

KeyPass::KeyPass(std::vector<std::size_t> keyColumns, const ExternalGroupingSettings& settings)
    : state_(std::make_unique<State>())
{
    state_->dir = std::make_shared<TempDir>(settings.tempDir, settings.tempDirShownAs);
    state_->settings = settings;
    state_->ranker = std::make_unique<KeyRanker>(std::move(keyColumns), settings.memoryLimit / 4);
}

KeyPass::~KeyPass() = default;
KeyPass::KeyPass(KeyPass&&) noexcept = default;

void KeyPass::add(const refhost::Table& block)
{
    State& state = *state_;
    if (state.columns.empty()) state.startRuns(block.columns());
    // The block's keys are numbered as they are noted, and the run keeps
    // each record's number, so that ordering and merging need no key
    // lookup.
    state.ranker->add(block, state.blockKeys);
    countTo(state.run.rows, block.rowCount());
    // The block is cut where the run is full.
    for (std::size_t first = 0; first < block.rowCount();) {
        const std::size_t count = std::min(block.rowCount() - first, state.roomInRun());
        state.run.keys.insert(state.run.keys.end(), state.blockKeys.begin() + static_cast<std::ptrdiff_t>(first),
                              state.blockKeys.begin() + static_cast<std::ptrdiff_t>(first + count));
        for (std::size_t c = 0; c < state.run.values.size(); ++c) {
            if (!isCarried(state.settings.carried, c)) continue;
            const refhost::ColumnValues& from = block.values(c);
            appendSpan(state.run.values[c], from, first, count, state.run.rows, state.run.own, state.run.seen,
                       state.run.call);
            if (from.kind() == refhost::ColumnValues::Kind::Text)
                for (std::size_t row = first; row < first + count; ++row)
                    if (!from.isMissing(row)) state.run.textBytes += from.dictionary().at(from.codes()[row]).size();
        }
        first += count;
        if (state.roomInRun() == 0) state.writeRun();
    }
}

std::shared_ptr<SpoolSource> groupExternally(const refhost::RecordSource& input,
                                             const std::vector<std::size_t>& keyColumns,
                                             const ExternalGroupingSettings& settings)
{
    KeyPass keys(keyColumns, settings);
    const auto pass = input.open();
    refhost::Table block;
    while (pass->next(block)) keys.add(block);
    return groupExternally(std::move(keys), input.columns(), settings);
}

std::shared_ptr<SpoolSource> groupExternally(KeyPass keys, const std::vector<refhost::Column>& columns,
                                             const ExternalGroupingSettings& settings)
{
    KeyPass::State& state = *keys.state_;
    const std::shared_ptr<TempDir> dir = state.dir;
    const fs::path grouped = dir->path() / "grouped";
    const auto merged = [&](std::size_t done) {
        if (settings.progress) settings.progress(done, settings.records);
    };
    if (state.runs.empty()) {
        // Every record fits in one run: ordered by rank in memory and
        // written as the grouped records.
        KeyRanks ranks = state.ranker->finish();
        state.ranker.reset();
        state.run.classOf = std::move(ranks.rankOf);
        orderByClass(state.run, ranks.records.size());
        SpoolWriter out(grouped, dir->shownAs(), settings.write);
        out.carryOnly(settings.carried);
        writeInOrder(state.run, columns, settings.carried, kBlockRecords, false, out);
        merged(state.run.records());
        keys.state_.reset();
        releaseFreedMemory();
        out.close();
        return std::make_shared<SpoolSource>(dir, grouped, columns);
    }
    if (state.run.records() > 0) state.writeRun();
    const KeyRanks ranks = state.ranker->finish();
    const std::vector<fs::path> runs = state.runs;
    const std::string shownAs = dir->shownAs();
    keys.state_.reset();
    releaseFreedMemory();

    SpoolWriter out(grouped, shownAs, settings.write);
    out.carryOnly(settings.carried);
    mergeRuns(runs, ranks.rankOf, columns, settings.carried, shownAs, false, out, merged);
    releaseFreedMemory();
    out.close();
    return std::make_shared<SpoolSource>(dir, grouped, columns);
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

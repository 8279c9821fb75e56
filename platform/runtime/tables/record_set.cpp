// Host record sets: records copied value by value from a source iterator,
// and iterators over them.
#include "refhost/record_set.h"

#include <algorithm>
#include <cstring>

#include "refhost/iterator.h"
#include "refhost/record_source.h"
#include "refhost/table.h"

namespace refhost {

namespace {

// Where a present value of length 0 points: never null.
unsigned char emptyValue[1] = {0};

RecordSet* set(void* h) { return static_cast<RecordSet*>(h); }
cf_status addWord(void* h, CFIterator* source, int* err) { return set(h)->addRecord(source, err); }
cf_status iteratorWord(void* h, CFIterator** iterator, int* err) {
    return set(h)->getIterator(iterator, err);
}

RecordSetIterator* iter(void* h) { return static_cast<RecordSetIterator*>(h); }
cf_status nextWord(void* h, int* more, int* err) { return iter(h)->nextRecord(more, err); }
cf_status rewindWord(void* h, int* err) { return iter(h)->rewind(err); }
cf_status valueWord(void* h, size_t field, void** value, size_t* length, int* err) {
    return iter(h)->getRecordValue(field, value, length, err);
}
cf_status countWord(void* h, size_t* count, int* err) { return iter(h)->getFieldCount(count, err); }

}  // namespace

RecordSet::RecordSet(uint64_t sequence, std::string name, std::shared_ptr<Faults> faults)
    : sequence_(sequence),
      name_(std::move(name)),
      creator_(std::this_thread::get_id()),
      faults_(faults ? std::move(faults) : std::make_shared<Faults>()) {
    record_.handle = this;
    record_.addRecord = &addWord;
    record_.getIterator = &iteratorWord;
}

RecordSet::~RecordSet() = default;

RecordSet* RecordSet::fromRecord(CFRecordSet* record) {
    if (record == nullptr || record->addRecord != &addWord) return nullptr;
    return set(record->handle);
}

std::vector<RecordSet::Record> RecordSet::records() const {
    std::vector<Record> all;
    const size_t count = size();
    for (size_t index = 0; index < count; ++index) {
        Location where;
        size_t runEnd = 0;
        if (locate(index, &where, &runEnd) != CF_OK) break;
        Record copy;
        for (size_t field = 0; field < fieldCount(where); ++field) {
            void* bytes = nullptr;
            size_t length = 0;
            value(where, field, &bytes, &length);
            if (bytes == nullptr) {
                copy.emplace_back(std::nullopt);
            } else {
                const auto* begin = static_cast<const unsigned char*>(bytes);
                copy.emplace_back(std::vector<unsigned char>(begin, begin + length));
            }
        }
        all.push_back(std::move(copy));
    }
    return all;
}

// The records go with the release: a run that releases each group's set
// once its worker is done holds only the groups in flight, and the blocks
// of a streamed input the sets referred to can go. The set itself and its
// iterators stay, refusing every operation.
void RecordSet::markReleased() {
    std::vector<Run> runs;
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::vector<const unsigned char*> copies;
    {
        const AddingGuard adding(adding_);
        std::lock_guard<std::mutex> guard(mutex_);
        released_.store(true, std::memory_order_release);
        runs.swap(runs_);
        blocks.swap(blocks_);
        copies.swap(copies_);
        blockFree_ = 0;
        blockNext_ = nullptr;
    }
}

// Called by the one thread adding (adding_ held). Extending the last run
// only moves size_, which readers take the last run's end from, so the
// common case (the next row of the same table) takes no lock; a new run
// is pushed under mutex_, since readers search runs_.
void RecordSet::appendRow(const std::shared_ptr<const Table>& table, size_t first) {
    const size_t index = size_.load(std::memory_order_relaxed);
    if (!runs_.empty()) {
        const Run& last = runs_.back();
        if (last.table == table && last.first + (index - last.start) == first) {
            size_.store(index + 1, std::memory_order_release);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!runs_.empty()) runs_.back().count = index - runs_.back().start;
        runs_.push_back(Run{table, first, 0, index});
    }
    size_.store(index + 1, std::memory_order_release);
}

cf_status RecordSet::addRecord(CFIterator* source, int* err) {
    cf_status status = 0;
    if (faults_->check("addRecord", err, &status)) return status;
    if (released()) return CF_FAILED;
    if (source == nullptr || source->getFieldCount == nullptr || source->getRecordValue == nullptr)
        return CF_FAILED;
    if (TableIterator* rows = TableIterator::fromRecord(source)) {
        // The host's own immutable table: the row itself is the copy.
        const long row = rows->position();
        if (row < 0) return CF_FAILED;
        const AddingGuard adding(adding_);
        if (released()) return CF_FAILED;
        appendRow(rows->sharedTable(), static_cast<size_t>(row));
        return CF_OK;
    }
    if (SourceIterator* rows = SourceIterator::fromRecord(source)) {
        // A block read from a source is not changed either: the same.
        const long row = rows->position();
        if (row < 0 || !rows->block()) return CF_FAILED;
        const AddingGuard adding(adding_);
        if (released()) return CF_FAILED;
        appendRow(rows->block(), static_cast<size_t>(row));
        return CF_OK;
    }
    return copyRecord(source);
}

namespace {

size_t lengthBytes(size_t value) {
    size_t bytes = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++bytes;
    }
    return bytes;
}

unsigned char* writeLength(unsigned char* out, size_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<unsigned char>(value | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<unsigned char>(value);
    return out;
}

const unsigned char* readLength(const unsigned char* in, size_t* value) {
    size_t result = 0;
    for (unsigned shift = 0;; shift += 7) {
        const unsigned char byte = *in++;
        result |= static_cast<size_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) break;
    }
    *value = result;
    return in;
}

constexpr size_t kBlockBytes = size_t{1} << 16;

}  // namespace

unsigned char* RecordSet::reserveBytes(size_t bytes) {
    if (bytes > blockFree_) {
        const size_t size = std::max(bytes, kBlockBytes);
        blocks_.push_back(std::make_unique<unsigned char[]>(size));
        blockNext_ = blocks_.back().get();
        blockFree_ = size;
    }
    unsigned char* at = blockNext_;
    blockNext_ += bytes;
    blockFree_ -= bytes;
    return at;
}

cf_status RecordSet::copyRecord(CFIterator* source) {
    size_t count = 0;
    int localErr = 0;
    cf_status status = source->getFieldCount(source->handle, &count, &localErr);
    if (status != 0) return status;
    std::vector<std::pair<const unsigned char*, size_t>> values(count);
    size_t bytes = lengthBytes(count);
    for (size_t field = 0; field < count; ++field) {
        void* value = nullptr;
        size_t length = 0;
        status = source->getRecordValue(source->handle, field, &value, &length, &localErr);
        if (status != 0) return status;
        values[field] = {static_cast<const unsigned char*>(value), value == nullptr ? 0 : length};
        bytes += value == nullptr ? 1 : lengthBytes(length + 1) + length;
    }
    const AddingGuard adding(adding_);
    if (released()) return CF_FAILED;
    std::unique_lock<std::mutex> guard(mutex_);
    unsigned char* start = reserveBytes(bytes);
    unsigned char* out = writeLength(start, count);
    for (const auto& [value, length] : values) {
        if (value == nullptr) {
            *out++ = 0;
            continue;
        }
        out = writeLength(out, length + 1);
        if (length != 0) std::memcpy(out, value, length);
        out += length;
    }
    copies_.push_back(start);
    guard.unlock();
    appendRow(nullptr, copies_.size() - 1);
    return CF_OK;
}

cf_status RecordSet::getIterator(CFIterator** iterator, int* err) {
    cf_status status = 0;
    if (faults_->check("getIterator", err, &status)) return status;
    if (iterator == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    if (released()) return CF_FAILED;
    iterators_.push_back(std::make_unique<RecordSetIterator>(*this, faults_));
    *iterator = iterators_.back()->record();
    return CF_OK;
}

cf_status RecordSet::locate(size_t index, Location* where, size_t* runEnd) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (released() || index >= size()) return CF_FAILED;
    const auto run = runOf(index);
    const size_t offset = index - run->start;
    if (run->table) {
        *where = Location{run->table.get(), run->first + offset, nullptr};
        *runEnd = run + 1 == runs_.end() ? size() : run->start + run->count;
    } else {
        *where = Location{nullptr, 0, copies_[run->first + offset]};
        *runEnd = index + 1;
    }
    return CF_OK;
}

bool RecordSet::tableRuns(std::vector<TableRun>* runs) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const size_t count = size();
    if (released() || count == 0) return false;
    runs->clear();
    for (auto run = runs_.begin(); run != runs_.end(); ++run) {
        if (!run->table) return false;
        const size_t end = run + 1 == runs_.end() ? count : run->start + run->count;
        runs->push_back(TableRun{run->table, run->first, end - run->start});
    }
    return true;
}

auto RecordSet::runOf(size_t index) const -> std::vector<Run>::const_iterator {
    // The run whose start is the last one not after index.
    auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                [](size_t i, const Run& r) { return i < r.start; });
    return --run;
}

std::shared_ptr<const Table> RecordSet::tableOf(size_t index) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (released() || index >= size()) return nullptr;
    return runOf(index)->table;
}

size_t RecordSet::fieldCount(const Location& where) {
    if (where.table != nullptr) return where.table->columnCount();
    size_t count = 0;
    readLength(where.copy, &count);
    return count;
}

cf_status RecordSet::value(const Location& where, size_t field, void** value, size_t* length) {
    if (where.table != nullptr) {
        if (field >= where.table->columnCount()) return CF_FAILED;
        *value = const_cast<void*>(where.table->valueBytes(where.row, field, length));
        return CF_OK;
    }
    size_t count = 0;
    const unsigned char* in = readLength(where.copy, &count);
    if (field >= count) return CF_FAILED;
    for (size_t i = 0;; ++i) {
        size_t stored = 0;
        in = readLength(in, &stored);
        if (i == field) {
            // Where a present value of length 0 points: never null.
            *value = stored == 0 ? nullptr : const_cast<unsigned char*>(stored == 1 ? emptyValue : in);
            *length = stored == 0 ? 0 : stored - 1;
            return CF_OK;
        }
        if (stored > 1) in += stored - 1;
    }
}

RecordSetIterator::RecordSetIterator(RecordSet& set, std::shared_ptr<Faults> faults)
    : set_(set), faults_(std::move(faults)) {
    record_.handle = this;
    record_.nextRecord = &nextWord;
    record_.rewind = &rewindWord;
    record_.getRecordValue = &valueWord;
    record_.getFieldCount = &countWord;
}

RecordSetIterator* RecordSetIterator::fromRecord(CFIterator* record) {
    if (record == nullptr || record->nextRecord != &nextWord) return nullptr;
    return iter(record->handle);
}

cf_status RecordSetIterator::nextRecord(int* more, int* err) {
    cf_status status = 0;
    if (faults_->check("nextRecord", err, &status)) return status;
    if (more == nullptr || set_.released()) return CF_FAILED;
    const long size = static_cast<long>(set_.size());
    if (current_ + 1 < size) {
        ++current_;
        *more = 1;
    } else {
        current_ = size;  // past the end until rewound
        *more = 0;
    }
    return CF_OK;
}

cf_status RecordSetIterator::rewind(int* err) {
    cf_status status = 0;
    if (faults_->check("rewind", err, &status)) return status;
    if (set_.released()) return CF_FAILED;
    current_ = -1;
    return CF_OK;
}

// Finds the current record, reusing the last location while the current
// record lies in the same run of table rows.
bool RecordSetIterator::locateCurrent() {
    const auto index = static_cast<size_t>(current_);
    if (located_ && where_.table != nullptr && index >= whereIndex_ && index < runEnd_) {
        where_.row += index - whereIndex_;
        whereIndex_ = index;
        return true;
    }
    if (located_ && index == whereIndex_) return true;
    located_ = false;
    if (set_.locate(index, &where_, &runEnd_) != CF_OK) return false;
    whereIndex_ = index;
    located_ = true;
    return true;
}

cf_status RecordSetIterator::getRecordValue(size_t field, void** value, size_t* length,
                                            int* err) {
    cf_status status = 0;
    if (faults_->check("getRecordValue", err, &status)) return status;
    if (value == nullptr || length == nullptr || current_ < 0 || set_.released()) return CF_FAILED;
    if (static_cast<size_t>(current_) >= set_.size() || !locateCurrent()) return CF_FAILED;
    return RecordSet::value(where_, field, value, length);
}

cf_status RecordSetIterator::getFieldCount(size_t* count, int* err) {
    cf_status status = 0;
    if (faults_->check("getFieldCount", err, &status)) return status;
    if (count == nullptr || set_.released()) return CF_FAILED;
    // Before the first record or past the last (or in an empty set) the
    // count of the first record is reported, 0 when there is none.
    const size_t size = set_.size();
    if (size == 0) {
        *count = 0;
        return CF_OK;
    }
    RecordSet::Location where;
    size_t runEnd = 0;
    const size_t index = current_ >= 0 && static_cast<size_t>(current_) < size
                             ? static_cast<size_t>(current_) : 0;
    if (set_.locate(index, &where, &runEnd) != CF_OK) return CF_FAILED;
    *count = RecordSet::fieldCount(where);
    return CF_OK;
}

cf_status RecordSetIterator::appendCurrent(const std::vector<Column>& columns,
                                           std::vector<ColumnValues>& values) {
    if (current_ < 0 || set_.released() || static_cast<size_t>(current_) >= set_.size() ||
        !locateCurrent())
        return CF_FAILED;
    const Table* table = where_.table;
    for (size_t field = 0; field < columns.size(); ++field) {
        if (table != nullptr && field < table->columnCount() &&
            table->values(field).kind() == values[field].kind()) {
            values[field].appendFrom(table->values(field), where_.row);
            continue;
        }
        void* bytes = nullptr;
        size_t length = 0;
        const cf_status status = RecordSet::value(where_, field, &bytes, &length);
        if (status != CF_OK) return status;
        appendValueBytes(values[field], bytes, length, columns[field].storage);
    }
    return CF_OK;
}

bool RecordSetIterator::currentTableRow(const Table** table, size_t* row) {
    if (current_ < 0 || set_.released() || static_cast<size_t>(current_) >= set_.size() ||
        !locateCurrent() || where_.table == nullptr)
        return false;
    *table = where_.table;
    *row = where_.row;
    return true;
}

bool RecordSetIterator::takeTableRuns(size_t columns, std::vector<RecordSet::TableRun>* runs) {
    if (faults_->on() || current_ != -1 || !set_.tableRuns(runs)) return false;
    size_t records = 0;
    for (const RecordSet::TableRun& run : *runs) {
        if (run.table->columnCount() < columns) return false;
        records += run.count;
    }
    current_ = static_cast<long>(records) - 1;
    located_ = false;
    return true;
}

std::shared_ptr<const Table> RecordSetIterator::currentTable() const {
    if (current_ < 0) return nullptr;
    return set_.tableOf(static_cast<size_t>(current_));
}

RecordSet* recordSetOfIterator(CFIterator* iterator) {
    RecordSetIterator* it = RecordSetIterator::fromRecord(iterator);
    return it == nullptr ? nullptr : &it->recordSet();
}

}  // namespace refhost

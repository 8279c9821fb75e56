// Host record sets: records copied value by value from a source iterator,
// and iterators over them.
#include "refhost/record_set.h"

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

size_t RecordSet::size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return records_.size();
}

std::vector<RecordSet::Record> RecordSet::records() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::vector<Record>(records_.begin(), records_.end());
}

bool RecordSet::released() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return released_;
}

void RecordSet::markReleased() {
    std::lock_guard<std::mutex> guard(mutex_);
    released_ = true;
}

cf_status RecordSet::addRecord(CFIterator* source, int* err) {
    cf_status status = 0;
    if (faults_->check("addRecord", err, &status)) return status;
    if (released()) return CF_FAILED;
    if (source == nullptr || source->getFieldCount == nullptr || source->getRecordValue == nullptr)
        return CF_FAILED;
    size_t count = 0;
    int localErr = 0;
    status = source->getFieldCount(source->handle, &count, &localErr);
    if (status != 0) return status;
    Record copy;
    copy.reserve(count);
    for (size_t field = 0; field < count; ++field) {
        void* value = nullptr;
        size_t length = 0;
        status = source->getRecordValue(source->handle, field, &value, &length, &localErr);
        if (status != 0) return status;
        if (value == nullptr) {
            copy.emplace_back(std::nullopt);
        } else {
            const auto* bytes = static_cast<const unsigned char*>(value);
            copy.emplace_back(std::vector<unsigned char>(bytes, bytes + length));
        }
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (released_) return CF_FAILED;
    records_.push_back(std::move(copy));
    return CF_OK;
}

cf_status RecordSet::getIterator(CFIterator** iterator, int* err) {
    cf_status status = 0;
    if (faults_->check("getIterator", err, &status)) return status;
    if (iterator == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    if (released_) return CF_FAILED;
    iterators_.push_back(std::make_unique<RecordSetIterator>(*this, faults_));
    *iterator = iterators_.back()->record();
    return CF_OK;
}

cf_status RecordSet::valueAt(size_t row, size_t field, void** value, size_t* length) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (released_ || row >= records_.size() || field >= records_[row].size()) return CF_FAILED;
    const Value& stored = records_[row][field];
    if (!stored) {
        *value = nullptr;
        *length = 0;
    } else {
        *value = stored->empty() ? emptyValue : const_cast<unsigned char*>(stored->data());
        *length = stored->size();
    }
    return CF_OK;
}

cf_status RecordSet::fieldCountAt(size_t row, size_t* count) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (released_) return CF_FAILED;
    // Before the first record (or in an empty set) the count of the first
    // record is reported, 0 when there is none.
    if (row < records_.size()) *count = records_[row].size();
    else *count = records_.empty() ? 0 : records_.front().size();
    return CF_OK;
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

cf_status RecordSetIterator::getRecordValue(size_t field, void** value, size_t* length,
                                            int* err) {
    cf_status status = 0;
    if (faults_->check("getRecordValue", err, &status)) return status;
    if (value == nullptr || length == nullptr || current_ < 0) return CF_FAILED;
    return set_.valueAt(static_cast<size_t>(current_), field, value, length);
}

cf_status RecordSetIterator::getFieldCount(size_t* count, int* err) {
    cf_status status = 0;
    if (faults_->check("getFieldCount", err, &status)) return status;
    if (count == nullptr) return CF_FAILED;
    return set_.fieldCountAt(current_ < 0 ? 0 : static_cast<size_t>(current_), count);
}

RecordSet* recordSetOfIterator(CFIterator* iterator) {
    RecordSetIterator* it = RecordSetIterator::fromRecord(iterator);
    return it == nullptr ? nullptr : &it->recordSet();
}

}  // namespace refhost

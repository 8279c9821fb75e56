// A rewindable host iterator over a record source.
#include <exception>

#include "refhost/record_source.h"

#include "iterator_words.h"

namespace refhost {

namespace {
using Words = IteratorWords<SourceIterator>;
}  // namespace

SourceIterator* SourceIterator::fromRecord(CFIterator* record) {
    return Words::from(record);
}

SourceIterator::SourceIterator(std::shared_ptr<const RecordSource> source, std::shared_ptr<Faults> faults)
    : source_(std::move(source)), faults_(faults ? std::move(faults) : std::make_shared<Faults>()) {
    Words::bind(record_, this);
}

cf_status SourceIterator::nextRecord(int* more, int* err) {
    cf_status status = 0;
    if (faults_->check("nextRecord", err, &status)) return status;
    if (more == nullptr || failed_) return CF_FAILED;
    if (!ended_ && block_ && current_ + 1 < static_cast<long>(block_->rowCount())) {
        ++current_;
        ++moves_;
        *more = 1;
        return CF_OK;
    }
    // The block is used up: the next one, opening a pass when none is open.
    try {
        if (!ended_) {
            if (!pass_) {
                pass_ = source_->open();
                ++passes_;
            }
            // A fresh table each time: record sets may still refer to the last.
            auto next = std::make_shared<Table>();
            if (pass_->next(*next) && next->rowCount() > 0) {
                block_ = std::move(next);
                current_ = 0;
                ++moves_;
                *more = 1;
                return CF_OK;
            }
        }
    } catch (const std::exception&) {
        failed_ = true;
        pass_.reset();
        block_.reset();
        current_ = -1;
        return CF_FAILED;
    }
    ++moves_;
    ended_ = true;
    pass_.reset();
    block_.reset();
    current_ = -1;
    *more = 0;
    return CF_OK;
}

cf_status SourceIterator::rewind(int* err) {
    cf_status status = 0;
    if (faults_->check("rewind", err, &status)) return status;
    if (failed_) return CF_FAILED;
    ++rewinds_;
    pass_.reset();
    block_.reset();
    current_ = -1;
    ended_ = false;
    return CF_OK;
}

cf_status SourceIterator::getRecordValue(size_t field, void** value, size_t* length, int* err) {
    cf_status status = 0;
    if (faults_->check("getRecordValue", err, &status)) return status;
    if (value == nullptr || length == nullptr || current_ < 0 || field >= source_->columns().size())
        return CF_FAILED;
    *value = const_cast<void*>(block_->valueBytes(static_cast<size_t>(current_), field, length));
    return CF_OK;
}

cf_status SourceIterator::getFieldCount(size_t* count, int* err) {
    cf_status status = 0;
    if (faults_->check("getFieldCount", err, &status)) return status;
    if (count == nullptr) return CF_FAILED;
    *count = source_->columns().size();
    return CF_OK;
}

}  // namespace refhost

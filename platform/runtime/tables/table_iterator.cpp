// A rewindable host iterator over the rows of a table.
#include "refhost/iterator.h"

#include "iterator_words.h"

namespace refhost {

namespace {
using Words = IteratorWords<TableIterator>;
}  // namespace

TableIterator::TableIterator(std::shared_ptr<const Table> table, std::shared_ptr<Faults> faults)
    : table_(table ? std::move(table) : std::make_shared<const Table>()),
      faults_(faults ? std::move(faults) : std::make_shared<Faults>()),
      faultsOn_(faults_->on()) {
    Words::bind(record_, this);
}

TableIterator* TableIterator::fromRecord(CFIterator* record) {
    return Words::from(record);
}

[[gnu::always_inline]] inline cf_status TableIterator::move(int* more) {
    if (more == nullptr) return CF_FAILED;
    ++moves_;
    const long rows = static_cast<long>(table_->rowCount());
    if (!ended_ && current_ + 1 < rows) {
        ++current_;
        *more = 1;
    } else {
        ended_ = true;
        current_ = -1;
        *more = 0;
    }
    return CF_OK;
}

cf_status TableIterator::checkedNextRecord(int* more, int* err) {
    cf_status status = 0;
    if (faults_->check("nextRecord", err, &status)) return status;
    return move(more);
}

cf_status TableIterator::nextRecord(int* more, int* err) {
    return faultsOn_ ? checkedNextRecord(more, err) : move(more);
}

cf_status TableIterator::rewind(int* err) {
    cf_status status = 0;
    if (faults_->check("rewind", err, &status)) return status;
    ++rewinds_;
    current_ = -1;
    ended_ = false;
    return CF_OK;
}

[[gnu::always_inline]] inline cf_status TableIterator::value(size_t field, void** value, size_t* length) const {
    if (value == nullptr || length == nullptr || current_ < 0 ||
        field >= table_->columnCount())
        return CF_FAILED;
    *value = const_cast<void*>(table_->valueBytes(static_cast<size_t>(current_), field, length));
    return CF_OK;
}

cf_status TableIterator::checkedRecordValue(size_t field, void** value, size_t* length, int* err) {
    cf_status status = 0;
    if (faults_->check("getRecordValue", err, &status)) return status;
    return this->value(field, value, length);
}

cf_status TableIterator::getRecordValue(size_t field, void** value, size_t* length, int* err) {
    return faultsOn_ ? checkedRecordValue(field, value, length, err) : this->value(field, value, length);
}

cf_status TableIterator::getFieldCount(size_t* count, int* err) {
    cf_status status = 0;
    if (faults_->check("getFieldCount", err, &status)) return status;
    if (count == nullptr) return CF_FAILED;
    *count = table_->columnCount();
    return CF_OK;
}

}  // namespace refhost

// Record access over a host iterator.
#include "cf_cpp_helper.h"

namespace CfCppHelperV1 {

// ownsPosition records whether the helper is the iterator's only reader; the
// helper itself never releases the iterator, which stays the host's.
DataHelper::DataHelper(CFIterator* iterator, bool ownsPosition)
    : iterator_(iterator), ownsPosition_(ownsPosition) {}

bool DataHelper::nextRecord() {
    if (!iterator_ || !iterator_->nextRecord) return false;
    int more = 0;
    int err = 0;
    return iterator_->nextRecord(iterator_->handle, &more, &err) == CF_OK && more == 1;
}

bool DataHelper::rewind() {
    if (!iterator_ || !iterator_->rewind) return false;
    int err = 0;
    return iterator_->rewind(iterator_->handle, &err) == CF_OK;
}

uint32_t DataHelper::getRecordValue(size_t fieldIndex, void** value, size_t* length, int* err) {
    if (!iterator_ || !iterator_->getRecordValue) return CF_FAILED;
    return iterator_->getRecordValue(iterator_->handle, fieldIndex, value, length, err);
}

}  // namespace CfCppHelperV1

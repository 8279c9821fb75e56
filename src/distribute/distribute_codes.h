// Message codes the distribute component raises, and small status helpers.
#ifndef SPLIT_DISTRIBUTE_DISTRIBUTE_CODES_H
#define SPLIT_DISTRIBUTE_DISTRIBUTE_CODES_H

#include <cstdint>

#include "cf_records.h"

namespace split {

constexpr int kMsgNoSplitFields = 280001;         // split_fields missing or empty
constexpr int kMsgEmptyInput = 280002;            // no record at begin execution
constexpr int kMsgFirstWorkerRefused = 280003;    // host refused the first worker
constexpr int kMsgUnknownSplitField = 280004;     // split field not in the data model
constexpr int kMsgSplitValueUnreadable = 280005;  // record reader failed on a split value
constexpr int kMsgRecordSetRefused = 280006;      // host refused to create a record set
constexpr int kMsgRecordRefused = 280007;         // host refused to add a record
constexpr int kMsgIteratorRefused = 280008;       // host refused an iterator over records
constexpr int kMsgReleaseRefused = 280009;        // host refused to release a record set
constexpr int kMsgUnusableStorage = 280010;       // split field with storage code 0

inline void SetErr(int* err, int value) {
    if (err != nullptr) *err = value;
}

// Runs an operation whose failures must reach the host as a status: anything
// thrown (out of memory, a host helper's exception) becomes status 1.
template <class Operation>
uint32_t Guarded(Operation&& operation) noexcept {
    try {
        return operation();
    } catch (...) {
        return CF_FAILED;
    }
}

}  // namespace split

#endif

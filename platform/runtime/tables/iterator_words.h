// platform/runtime/tables: part of the reference host library (refhost).
// Owns the host's in-memory input: typed tables, their data model document,
// record sets, and the host iterators over a table or over any
// refhost::RecordSource. Public headers: refhost/table.h, iterator.h,
// record_set.h, record_source.h. Includes only include/refhost/, the host
// contract headers and its own.
//
// The host iterator record's words for any iterator class with nextRecord,
// rewind, getRecordValue and getFieldCount members: each word casts the
// handle back and calls the member. One instantiation per class, so the
// address of a class's nextRecord word also tells its records apart.
#ifndef REFHOST_ITERATOR_WORDS_H
#define REFHOST_ITERATOR_WORDS_H

#include "cf_records.h"

namespace refhost {

template <class Iterator>
struct IteratorWords {
    static Iterator* self(void* h) { return static_cast<Iterator*>(h); }
    static cf_status next(void* h, int* more, int* err) { return self(h)->nextRecord(more, err); }
    static cf_status rewind(void* h, int* err) { return self(h)->rewind(err); }
    static cf_status value(void* h, size_t field, void** value, size_t* length, int* err) {
        return self(h)->getRecordValue(field, value, length, err);
    }
    static cf_status count(void* h, size_t* count, int* err) { return self(h)->getFieldCount(count, err); }

    static void bind(CFIterator& record, Iterator* iterator) {
        record.handle = iterator;
        record.nextRecord = &next;
        record.rewind = &rewind;
        record.getRecordValue = &value;
        record.getFieldCount = &count;
    }
    // The iterator behind a record, or null when the record is not one of
    // this class's.
    static Iterator* from(CFIterator* record) {
        return record != nullptr && record->nextRecord == &next ? self(record->handle) : nullptr;
    }
};

}  // namespace refhost

#endif

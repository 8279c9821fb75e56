// The comparison of the current record's split values with a key, where the
// host keeps them. It runs for every record, in planning and again in the
// hand-out, so it is defined here to be inlined into those loops.
#ifndef SPLIT_DISTRIBUTE_RECORD_MATCH_H
#define SPLIT_DISTRIBUTE_RECORD_MATCH_H

#include "distribute/distribute_codes.h"
#include "distribute/key_match.h"
#include "distribute/split_distribute_peer.h"

// The caller has checked CanMatchDirectly. Every field is read even after a
// difference, so that the host sees the same calls for every record. A value
// that cannot be read raises its message, and it and the values after it
// count as equal to the key's (the key "as it was left"). The field positions
// and the key's values are looked up once per record: the compiler cannot
// keep them across the host's calls by itself.
inline bool SplitDistributePeer::RecordMatchesKey(CFIterator* input, const SplitKey& key, int* err) {
    const uint64_t* const fields = splitFieldIndices.data();
    const SplitKeyValue* const values = key.data();
    const size_t count = key.size();
    bool same = true;
    for (size_t i = 0; i < count; ++i) {
        void* value = nullptr;
        size_t length = 0;
        if (uint32_t status = input->getRecordValue(input->handle, fields[i], &value, &length, err);
            status != CF_OK) {
            RaiseError(split::kMsgSplitValueUnreadable);
            split::SetErr(err, split::kMsgSplitValueUnreadable);
            return same;
        }
        const SplitKeyValue& entry = values[i];
        same = same && split::ValueMatchesKey(entry.kind, entry.data.get(), entry.length,
                                              static_cast<const char*>(value), length);
    }
    return same;
}

#endif

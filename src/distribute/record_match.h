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
// and the key's values come from a KeyFields the loop took once: the compiler
// cannot keep them across the host's calls by itself.
inline bool SplitDistributePeer::RecordMatchesKey(CFIterator* input, const KeyFields& key, int* err) {
    bool same = true;
    for (size_t i = 0; i < key.count; ++i) {
        void* value = nullptr;
        size_t length = 0;
        if (uint32_t status = input->getRecordValue(input->handle, key.fields[i], &value, &length, err);
            status != CF_OK) {
            RaiseError(split::kMsgSplitValueUnreadable);
            split::SetErr(err, split::kMsgSplitValueUnreadable);
            return same;
        }
        const SplitKeyValue& entry = key.values[i];
        same = same && split::ValueMatchesKey(entry.kind, entry.data.get(), entry.length,
                                              static_cast<const char*>(value), length);
    }
    return same;
}

#endif

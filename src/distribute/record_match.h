// Reading the current record's split values against a group's key. It runs
// for every record, in planning and again in the hand-out, so it is defined
// here to be inlined into those loops.
#ifndef SPLIT_DISTRIBUTE_RECORD_MATCH_H
#define SPLIT_DISTRIBUTE_RECORD_MATCH_H

#include "distribute/distribute_codes.h"
#include "distribute/key_match.h"
#include "distribute/split_distribute_peer.h"

namespace split {

// Whether the value a host handed out (`bytes`, null when missing, and the
// length it reported) would be stored byte for byte as `key` holds it. For
// a text the stored value is missing (null, length 0) or the text's bytes;
// for a number, the length and 8 bytes (zero-padded); for other storages,
// only the length.
inline bool StoresAs(StorageKind kind, const char* keyData, uint64_t keyLength, const char* bytes,
                     size_t length) {
    if (kind == StorageKind::String) {
        if (bytes == nullptr) return keyData == nullptr;
        return keyData != nullptr && keyLength == length && SameBytes(keyData, bytes, length);
    }
    if (keyLength != length) return false;
    if (kind != StorageKind::Integer && kind != StorageKind::Real) return true;
    if (bytes == nullptr || keyData == nullptr) return bytes == keyData;
    return NumberBits(bytes, length) == keymatch::Load8(keyData);
}

}  // namespace split

inline bool SplitDistributePeer::RecordHasKey(const KeyPair& keys, const SplitKey& group,
                                              SplitKey& record, int* err) {
    if (!keys.ready) {
        ReadSplitKey(record, err);  // reads nothing: the keys are not prepared
        return CompareSplitKeys(group, record) == 0;
    }
    bool same = true;
    size_t i = 0;
    // Every field is read, even after a difference, as ReadSplitKey does.
    for (; i < keys.count; ++i) {
        void* value = nullptr;
        size_t length = 0;
        if (keys.reader->getRecordValue(keys.fields[i], &value, &length, err) != CF_OK) break;
        const SplitKeyValue& key = keys.group[i];
        SplitKeyValue& entry = keys.record[i];
        const char* bytes = static_cast<const char*>(value);
        if (split::StoresAs(key.kind, key.data.get(), key.length, bytes, length)) {
            entry.sameAsGroupKey = true;
            continue;
        }
        if (!StoreSplitValue(entry, bytes, length)) break;
        entry.sameAsGroupKey = false;
        same = same && split::ValueMatchesKey(key.kind, key.data.get(), key.length, bytes, length);
    }
    if (i == keys.count) return same;
    // A value that could not be read ends the reading; it and the values
    // after it are what the record key held before.
    RaiseError(split::kMsgSplitValueUnreadable);
    split::SetErr(err, split::kMsgSplitValueUnreadable);
    for (; i < keys.count && same; ++i) {
        same = keys.record[i].sameAsGroupKey || SameSplitValue(keys.group[i], keys.record[i]);
    }
    return same;
}

#endif

// Split keys: the split-field values of one record, read into buffers that
// are reused from record to record, and their comparison.
#include <cmath>
#include <cstring>

#include "distribute/distribute_codes.h"
#include "distribute/key_match.h"
#include "distribute/record_match.h"
#include "distribute/split_distribute_peer.h"
#include "distribute/storage_kind.h"

using namespace split;

namespace {

constexpr size_t kNumberBytes = kKeyNumberBytes;
constexpr uint64_t kStringSpare = 64;  // a string buffer grows with this much to spare
constexpr double kRealTolerance = kKeyRealTolerance;

double ReadReal(const char* bytes) {
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

int64_t ReadInteger(const char* bytes) {
    int64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

bool split::SameTextUpToZero(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

uint32_t SplitDistributePeer::PrepareSplitKey(SplitKey& key, int* err) {
    ClearSplitKey(key);
    key.resize(splitFieldIndices.size());
    for (size_t i = 0; i < key.size(); ++i) {
        const QorCF_940::FieldInfo* info = SplitFieldInfo(i);
        SplitKeyValue& entry = key[i];
        entry.storage = info != nullptr ? info->GetStorage() : 0;
        entry.kind = KindOfStorage(entry.storage);
        switch (entry.kind) {
            case StorageKind::Integer:
            case StorageKind::Real:
                entry.data.reset(new char[kNumberBytes]());
                entry.length = kNumberBytes;
                break;
            case StorageKind::String:
                entry.data.reset(new char[kStringSpare]());
                entry.capacity = kStringSpare;
                break;
            case StorageKind::Other:
                break;
            case StorageKind::Unusable:
                RaiseError(kMsgUnusableStorage, info != nullptr ? info->GetFieldName() : std::string());
                SetErr(err, kMsgUnusableStorage);
                ClearSplitKey(key);
                return CF_FAILED;
        }
    }
    return CF_OK;
}

uint32_t SplitDistributePeer::ReadSplitKey(SplitKey& key, int* err) {
    if (key.size() != splitFieldIndices.size() || !dataModelParsed || dataHelper == nullptr) {
        return CF_FAILED;
    }
    // This runs for every record, in planning and again in the hand-out, so
    // it works from what PrepareSplitKey put in the key: each entry already
    // holds its field's storage code (field information does not change
    // while the key is in use), and bytes beyond the previous value are
    // known to be zero, so only the stale tail of a string buffer is cleared.
    for (size_t i = 0; i < key.size(); ++i) {
        void* value = nullptr;
        size_t length = 0;
        if (uint32_t status = dataHelper->getRecordValue(splitFieldIndices[i], &value, &length, err);
            status != CF_OK) {
            RaiseError(kMsgSplitValueUnreadable);
            SetErr(err, kMsgSplitValueUnreadable);
            return status;
        }
        SplitKeyValue& entry = key[i];
        const uint64_t previous = entry.length;
        entry.length = length;
        const char* bytes = static_cast<const char*>(value);
        switch (KindOfStorage(entry.storage)) {
            case StorageKind::Integer:
            case StorageKind::Real:
                if (bytes == nullptr) {
                    entry.data.reset();
                    break;
                }
                if (!entry.data) entry.data.reset(new char[kNumberBytes]);
                if (length >= kNumberBytes) {
                    std::memcpy(entry.data.get(), bytes, kNumberBytes);
                } else {
                    // A host reporting fewer than 8 bytes gets the rest zeroed
                    // rather than read past its value.
                    std::memset(entry.data.get(), 0, kNumberBytes);
                    std::memcpy(entry.data.get(), bytes, length);
                }
                break;
            case StorageKind::String:
                if (bytes == nullptr) {
                    entry.data.reset();
                    entry.length = 0;
                    entry.capacity = 0;
                    break;
                }
                if (length >= entry.capacity) {
                    entry.capacity = length + kStringSpare;
                    entry.data.reset(new char[entry.capacity]());
                } else if (previous > length) {
                    std::memset(entry.data.get() + length, 0, previous - length);
                }
                std::memcpy(entry.data.get(), bytes, length);
                break;
            case StorageKind::Other:
            case StorageKind::Unusable:
                break;
        }
    }
    return CF_OK;
}

bool SplitDistributePeer::CanMatchDirectly(const SplitKey& key, const SplitKey& scratch) const {
    CFIterator* input = dataHelper != nullptr ? dataHelper->getIterator() : nullptr;
    return key.size() == splitFieldIndices.size() && dataModelParsed && input != nullptr &&
           input->getRecordValue != nullptr && scratch.size() == key.size();
}

bool SplitDistributePeer::RecordHasKey(const SplitKey& key, SplitKey& scratch, int* err) {
    if (!CanMatchDirectly(key, scratch)) {
        ReadSplitKey(scratch, err);
        return CompareSplitKeys(key, scratch) == 0;
    }
    return RecordMatchesKey(dataHelper->getIterator(), FieldsOf(key), err);
}

void SplitDistributePeer::ClearSplitKey(SplitKey& key) {
    key.clear();  // each value frees its own buffer
}

int SplitDistributePeer::CompareSplitKeys(const SplitKey& a, const SplitKey& b) {
    constexpr int kEqual = 0;
    constexpr int kDifferent = -1;
    if (a.size() != b.size()) return kDifferent;
    for (size_t i = 0; i < a.size(); ++i) {
        const SplitKeyValue& x = a[i];
        const SplitKeyValue& y = b[i];
        if (x.storage != y.storage || x.length != y.length) return kDifferent;
        const StorageKind kind = KindOfStorage(x.storage);
        if (kind == StorageKind::Other || kind == StorageKind::Unusable) continue;
        if (!x.data && !y.data) continue;
        if (!x.data || !y.data) return kDifferent;
        switch (kind) {
            case StorageKind::Real:
                // Absolute tolerance; a difference that is not a number counts as equal.
                if (std::fabs(ReadReal(x.data.get()) - ReadReal(y.data.get())) > kRealTolerance) {
                    return kDifferent;
                }
                break;
            case StorageKind::Integer:
                if (ReadInteger(x.data.get()) != ReadInteger(y.data.get())) return kDifferent;
                break;
            case StorageKind::String:
                // Text comparison: bytes after a zero byte do not count.
                if (std::strncmp(x.data.get(), y.data.get(), x.length) != 0) return kDifferent;
                break;
            default:
                break;
        }
    }
    return kEqual;
}

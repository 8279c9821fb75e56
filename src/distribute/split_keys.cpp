// Split keys: the split-field values of one record, read into buffers that
// are reused from record to record, and their comparison.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "distribute/distribute_codes.h"
#include "distribute/key_match.h"
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
    // Each entry already holds its field's storage code from PrepareSplitKey
    // (field information does not change while the key is in use).
    for (size_t i = 0; i < key.size(); ++i) {
        void* value = nullptr;
        size_t length = 0;
        uint32_t status = dataHelper->getRecordValue(splitFieldIndices[i], &value, &length, err);
        if (status == CF_OK && !StoreSplitValue(key[i], static_cast<const char*>(value), length)) {
            status = CF_FAILED;
        }
        if (status != CF_OK) {
            RaiseError(kMsgSplitValueUnreadable);
            SetErr(err, kMsgSplitValueUnreadable);
            return status;
        }
    }
    return CF_OK;
}

bool SplitDistributePeer::StoreSplitValue(SplitKeyValue& entry, const char* bytes, uint64_t length) {
    // Bytes beyond the previous value are known to be zero, so only the stale
    // tail of a string buffer is cleared.
    switch (entry.kind) {
        case StorageKind::Integer:
        case StorageKind::Real:
            entry.length = length;
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
                // A length the buffer and its spare bytes cannot hold (a host
                // reporting nonsense) is no value.
                if (length > SIZE_MAX - kStringSpare) return false;
                char* grown = new (std::nothrow) char[length + kStringSpare]();
                if (grown == nullptr) return false;
                entry.data.reset(grown);
                entry.capacity = length + kStringSpare;
            } else if (entry.length > length) {
                std::memset(entry.data.get() + length, 0, entry.length - length);
            }
            std::memcpy(entry.data.get(), bytes, length);
            entry.length = length;
            break;
        case StorageKind::Other:
        case StorageKind::Unusable:
            entry.length = length;
            break;
    }
    return true;
}

void SplitDistributePeer::DetachRecordKey(const SplitKey& group, SplitKey& record) {
    for (size_t i = 0; i < record.size() && i < group.size(); ++i) {
        SplitKeyValue& entry = record[i];
        if (!entry.sameAsGroupKey) continue;
        // The group's value was held once, so it fits again.
        StoreSplitValue(entry, group[i].data.get(), group[i].length);
        entry.sameAsGroupKey = false;
    }
}

void SplitDistributePeer::ClearSplitKey(SplitKey& key) {
    key.clear();  // each value frees its own buffer
}

bool SplitDistributePeer::SameSplitValue(const SplitKeyValue& x, const SplitKeyValue& y) {
    if (x.storage != y.storage || x.length != y.length) return false;
    const StorageKind kind = KindOfStorage(x.storage);
    if (kind == StorageKind::Other || kind == StorageKind::Unusable) return true;
    if (!x.data && !y.data) return true;
    if (!x.data || !y.data) return false;
    switch (kind) {
        case StorageKind::Real:
            // Absolute tolerance; a difference that is not a number counts as equal.
            return !(std::fabs(ReadReal(x.data.get()) - ReadReal(y.data.get())) > kRealTolerance);
        case StorageKind::Integer:
            return ReadInteger(x.data.get()) == ReadInteger(y.data.get());
        case StorageKind::String:
            // Text comparison: bytes after a zero byte do not count.
            return std::strncmp(x.data.get(), y.data.get(), x.length) == 0;
        default:
            return true;
    }
}

int SplitDistributePeer::CompareSplitKeys(const SplitKey& a, const SplitKey& b) {
    constexpr int kEqual = 0;
    constexpr int kDifferent = -1;
    if (a.size() != b.size()) return kDifferent;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameSplitValue(a[i], b[i])) return kDifferent;
    }
    return kEqual;
}

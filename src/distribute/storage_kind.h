// How a field's storage code is read from and compared in the record reader.
#ifndef SPLIT_DISTRIBUTE_STORAGE_KIND_H
#define SPLIT_DISTRIBUTE_STORAGE_KIND_H

#include <cstdint>

namespace split {

enum class StorageKind {
    Unusable,  // 0 (and negative codes): a split field may not have it
    Integer,   // 1: 8-byte signed integer
    Real,      // 2 real, 4 date, 5 time, 6 timestamp: 8-byte floating point
    String,    // 3: length bytes of text
    Other      // 7 and above: not looked at
};

inline StorageKind KindOfStorage(int32_t storage) {
    switch (storage) {
        case 1: return StorageKind::Integer;
        case 2: case 4: case 5: case 6: return StorageKind::Real;
        case 3: return StorageKind::String;
        default: return storage >= 7 ? StorageKind::Other : StorageKind::Unusable;
    }
}

}  // namespace split

#endif

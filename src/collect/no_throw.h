// Keeps exceptions inside the module: a peer operation that would let one
// escape reports status 1 instead.
#ifndef SPLIT_COLLECT_NO_THROW_H
#define SPLIT_COLLECT_NO_THROW_H

#include <cstdint>

#include "cf_records.h"

template <class Operation>
uint32_t StatusWithoutThrow(Operation&& operation) noexcept {
    try {
        return operation();
    } catch (...) {
        return CF_FAILED;
    }
}

#endif

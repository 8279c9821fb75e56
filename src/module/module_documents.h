// The two documents the module produces without a component: who the module
// is, and what it requires of an execution.
#ifndef SPLIT_MODULE_MODULE_DOCUMENTS_H
#define SPLIT_MODULE_MODULE_DOCUMENTS_H

#include <cstddef>
#include <cstdint>

namespace split {

// The module information document by the buffer protocol: 0, 13, or 1 when
// no host helper can be had (then nothing is written, not even *needed).
uint32_t WriteModuleInformation(char* buffer, size_t size, size_t* needed);

// The execution requirements document (an empty Execution element) by the
// buffer protocol: 0, 13, or 1 when no host helper can be had.
uint32_t WriteExecutionRequirements(char* buffer, size_t size, size_t* needed);

}  // namespace split

#endif

// xxHash's XXH3 through the entry points that choose, when the program
// starts, the widest vector unit the processor has (on x86, where the
// library offers them): the same hashes as its baseline code, in about half
// the instructions for inputs of a kilobyte or more (every container entry,
// every output file). Include it instead of <xxhash.h>.
#ifndef SPLITRUN_FAST_XXH3_H
#define SPLITRUN_FAST_XXH3_H

#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h>
#endif

#endif

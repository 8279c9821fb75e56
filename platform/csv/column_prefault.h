// Fresh memory of the loaded table's columns, faulted in by the reading
// threads ahead of the join. The chunks are joined into the columns one at
// a time, and the first write to each new page of a column costs the
// kernel's zeroing of it (most of a 2 MiB page at a time): left to the
// join, that work falls on whichever thread joins while the other waits
// for its turn. Each reading thread instead faults in the part of every
// column its next chunk is expected to fill, before it parses the chunk.
#ifndef SPLITRUN_COLUMN_PREFAULT_H
#define SPLITRUN_COLUMN_PREFAULT_H

#include <cstddef>
#include <mutex>
#include <vector>

#include "refhost/column_values.h"

namespace splitrun {

class ColumnPrefault {
public:
    // Faults in the bytes [begin, end) of a column's storage as writes
    // would, keeping them.
    using Populate = void (*)(char* begin, char* end);

    // By default the kernel is advised to populate the pages (a kernel
    // without that advice does nothing); tests give their own.
    explicit ColumnPrefault(Populate populate = populateWritable) : populate_(populate) {}

    static void populateWritable(char* begin, char* end);

    // Called by the joining thread after each join: notes where the
    // columns' reserved storage lies, and the rows and chunks joined so
    // far. Cheap when nothing moved.
    void note(const std::vector<const refhost::ColumnValues*>& columns, std::size_t joinedRows,
              std::size_t joinedChunks);

    // Called by a reading thread before it parses chunk k: faults in the
    // pages of each column that chunk k's rows are expected to land on,
    // from the rows per chunk joined so far. An estimate from the whole
    // file's size would drift: a file whose first lines run a little
    // longer than the rest would put every chunk's pages behind its rows,
    // and the join would fault them in after all. Never changes a byte of
    // them, so it may run beside the join; storage that moved since it was
    // noted is at worst faulted in for nothing.
    void before(std::size_t k);

private:
    struct Span {
        char* begin = nullptr;
        std::size_t bytes = 0;     // the reserved storage
        std::size_t width = 0;     // bytes per row
        bool operator==(const Span&) const = default;
    };

    Populate populate_;
    std::mutex mutex_;
    std::vector<Span> spans_;        // guarded by mutex_
    std::size_t joinedRows_ = 0;     // guarded by mutex_
    std::size_t joinedChunks_ = 0;   // guarded by mutex_
};

}  // namespace splitrun

#endif

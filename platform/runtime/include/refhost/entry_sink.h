// Where a container's keyed entries go once they are finished, instead of
// the container's spool file: a host that keeps its outputs in a database
// stores each entry there as its stream is closed, and reads it back from
// there when it is asked for, so that nothing is written twice.
#ifndef REFHOST_ENTRY_SINK_H
#define REFHOST_ENTRY_SINK_H

#include <cstdint>
#include <string>
#include <string_view>

namespace refhost {

// Thread-safe (containers of several threads share one sink). No method
// throws: a failure is kept by the sink, whose owner reports it once the
// run is over (an entry that could not be stored reads back empty).
class EntrySink {
public:
    virtual ~EntrySink() = default;

    // The next position in write order within the containers named
    // `container`, taken when an entry is opened, so that entries keep
    // the order they were opened in whatever order they are closed in.
    virtual int64_t reserve(const std::string& container) = 0;
    // Stores an entry of `length` bytes, the first of which are `head`
    // (usually all of them); the rest follow through write(). Returns the
    // entry's handle, or -1 on failure.
    virtual int64_t store(const std::string& container, int64_t seq, const std::string& key,
                          const std::string& properties, uint64_t length, std::string_view head) = 0;
    // Writes bytes of a stored entry at `offset`, within its length.
    virtual bool write(int64_t handle, uint64_t offset, std::string_view bytes) = 0;
    // The bytes of a stored entry, appended to `out`; false on failure.
    virtual bool read(int64_t handle, std::string& out) const = 0;
    // Notes a failure on the container's side (its spool could not be read
    // back while an entry was copied from it), kept like the sink's own.
    virtual void fail(const std::string& what) = 0;
};

}  // namespace refhost

#endif

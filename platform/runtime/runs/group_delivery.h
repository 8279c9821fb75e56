// platform/runtime/runs: part of the reference host library (refhost).
// Owns a whole run (run.cpp: distribution, workers, collection), the host
// workers, the engines that execute worker functions (a thread pool; MPI
// processes, with the wire encoding between them) and the in-order hand-on of
// finished groups (this header). Public headers: refhost/run.h, engine.h,
// thread_pool.h, mpi_engine.h, wire.h, worker.h. Includes only
// include/refhost/, the host contract headers and its own.
//
// The reorder buffer of a run: completed groups are handed on strictly in
// group order, whatever order the workers finish in.
#ifndef REFHOST_GROUP_DELIVERY_H
#define REFHOST_GROUP_DELIVERY_H

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace refhost {

class GroupDelivery {
public:
    using Deliver = std::function<void(size_t item)>;

    // deliver is called with an item id, one call at a time, in ascending
    // group index.
    explicit GroupDelivery(Deliver deliver) : deliver_(std::move(deliver)) {}

    // A group is complete; delivers it and every group after it that is
    // waiting, as far as the order allows. While another thread delivers,
    // the group is left for that thread, and the call returns at once: a
    // delivery (the collect call) never holds up a worker that has just
    // finished a group.
    void complete(uint64_t groupIndex, size_t item);
    // A group index that was used up without a group (its hand-out failed).
    void skip(uint64_t groupIndex);
    // A completed item whose group index is unknown: delivered by finish().
    void completeUnordered(size_t item);
    // Delivers everything still waiting, in ascending group index, then the
    // unordered items (for gaps that no worker reported).
    void finish();

private:
    // Delivers what the order allows, unless a thread is doing so already;
    // the mutex is held on entry and on return, but not while delivering.
    void advanceLocked(std::unique_lock<std::mutex>& lock);

    Deliver deliver_;
    std::mutex mutex_;
    bool delivering_ = false;  // a thread is in advanceLocked's delivery loop
    uint64_t next_ = 0;
    std::map<uint64_t, size_t> waiting_;
    std::set<uint64_t> skipped_;
    std::vector<size_t> unordered_;
};

}  // namespace refhost

#endif

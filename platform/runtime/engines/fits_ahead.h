// Fits made while the module plans the run. The distribute component reads
// every record once on one thread before it hands out any group; meanwhile
// the build's other threads fit the groups the host expects it to hand out
// (the runs of equal split keys in the loaded table, in order). A job
// handed out later takes the fit made for its group index when its records
// are exactly the rows the fit was made from and its data model is the
// run's shared text: the worker's output depends on nothing else, so it is
// what the worker would have made. A guess unlike the module's groups costs
// the time of its fit, never a wrong group.
#ifndef SPLITRUN_FITS_AHEAD_H
#define SPLITRUN_FITS_AHEAD_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <refhost/run.h>
#include <refhost/table.h>

#include "fingerprint.h"
#include "group_worker.h"

namespace splitrun {

class FitsAhead {
public:
    FitsAhead(std::shared_ptr<const refhost::Table> table, std::vector<std::size_t> keyColumns,
              GroupWorker& worker, const Fingerprinter& fingerprinter);

    // Fits groups in order until `planned` is set, the table ends, or the
    // fits held reach their bound. Several threads may call it at once
    // (RunConfig::whilePlanning).
    void work(const std::shared_ptr<const std::string>& dataModel, const std::atomic<bool>& planned);

    struct Fit {
        std::string fingerprint;
        GroupWorker::Fitted fitted;
    };
    // The fit made for this job's group, taken out; nullopt when none was
    // made or it was made from other rows or another data model.
    std::optional<Fit> take(const refhost::WorkerJob& job);

    // Groups fitted ahead so far, and of them taken by their jobs.
    std::size_t made() const;
    std::size_t taken() const;

private:
    struct Held {
        std::size_t first = 0;
        std::size_t count = 0;
        Fit fit;
    };
    // The next group's index and rows, claimed for the calling thread;
    // false when there is none or the fits held are at their bound.
    bool claim(std::size_t& index, std::size_t& first, std::size_t& count);

    std::shared_ptr<const refhost::Table> table_;
    std::vector<std::size_t> keyColumns_;
    GroupWorker& worker_;
    const Fingerprinter& fingerprinter_;
    mutable std::mutex mutex_;
    std::shared_ptr<const std::string> dataModel_;
    std::size_t nextRow_ = 0;    // the first row of the next group to claim
    std::size_t nextIndex_ = 0;  // its group index
    std::vector<unsigned char> changed_;
    std::size_t heldBytes_ = 0;
    std::size_t made_ = 0;
    std::size_t taken_ = 0;
    std::unordered_map<std::size_t, Held> held_;  // by group index
};

}  // namespace splitrun

#endif

// The combined split model: one PMML MiningModel whose segments are the
// groups' models, selected by their split values.
#ifndef SPLITRUN_SPLIT_MODEL_FILE_H
#define SPLITRUN_SPLIT_MODEL_FILE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <splitmodels/data.h>

#include "group_worker.h"
#include "field_roles.h"
#include "run_summary.h"

namespace splitrun {

// The groups' parts of the split model (PMML text, keys and categories),
// in group order, handed from a thread that reads them to the one writing
// the split model, a batch at a time: the build reads every group's PMML
// out of the store for its groups rows anyway, and the two threads taking
// turns on the store's and the worker's locks for every group cost more
// than the work they did between. The parts' memory goes back to the
// producer to be filled again, never freed by the consumer: a text freed
// on another thread than the one that allocated it waits for that
// thread's allocator lock. At most a few batches wait, so the texts are
// never all in memory.
class SegmentFeed {
public:
    struct Part {
        std::string pmml;
        std::vector<SplitKey> keys;
        std::vector<std::pair<std::string, std::vector<std::string>>> levels;
    };

    // Producer: the part to fill for the next group (holding an earlier
    // group's values), then add() passes it on. add() returns at once once
    // the consumer has stopped.
    Part& part();
    void add();
    // Producer: no more parts (also when it failed: the consumer then sees
    // fewer parts than groups).
    void finish() noexcept;
    // Consumer: the next part, valid until the next call, or null when the
    // producer finished.
    const Part* next();
    // Consumer: stops taking parts (it failed), so that the producer is not
    // left waiting for room.
    void stop();

private:
    static constexpr std::size_t kBatch = 64;
    static constexpr std::size_t kWaiting = 4;

    struct Batch {
        std::vector<Part> parts;
        std::size_t size = 0;
    };

    void push();

    Batch filling_;
    Batch taking_;
    std::size_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> batches_;
    std::vector<Batch> spare_;
    bool finished_ = false;
    bool stopped_ = false;
};

// Writes the PMML text of the split model over every group that produced a
// model to `out`, one segment at a time. Each group's part (its PMML as the
// collect component stored it, and the keys and categories its records
// hold) comes from `feed`, one for every group with a model ID and a PMML
// entry, in order; a feed that ends early throws RunError, and so does a
// group's PMML that the model library rejects. `out` then holds a partial
// document. The feed is stopped whatever happens, so that its producer can
// finish.
void writeSplitModel(std::ostream& out, const RunSummary& summary, const ModelFields& fields,
                     const splitmodels::ModelSpec& request, const std::string& dataModelText, SegmentFeed& feed);

// writeSplitModel into the file at `path`. Throws RunError naming the path
// when it cannot be written.
void writeSplitModelFile(const std::filesystem::path& path, const RunSummary& summary, const ModelFields& fields,
                         const splitmodels::ModelSpec& request, const std::string& dataModelText,
                         SegmentFeed& feed);

}  // namespace splitrun

#endif

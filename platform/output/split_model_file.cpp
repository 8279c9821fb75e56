#include "split_model_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <splitmodels/split_model.h>

#include "errors.h"
#include "output_dir.h"
#include "name_index.h"

namespace splitrun {

namespace {

int storageOf(const std::vector<splitmodels::FieldDef>& defs, const NameIndex& byName, const std::string& name)
{
    const std::optional<std::size_t> position = byName.find(name);
    return position ? defs[*position].storage : splitmodels::StorageNone;
}

}  // namespace

SegmentFeed::Part& SegmentFeed::part()
{
    if (filling_.size == filling_.parts.size()) filling_.parts.emplace_back();
    return filling_.parts[filling_.size];
}

void SegmentFeed::add()
{
    if (++filling_.size == kBatch) push();
}

void SegmentFeed::push()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || batches_.size() < kWaiting; });
    if (!stopped_) {
        batches_.push_back(std::move(filling_));
        filling_ = Batch();
        if (!spare_.empty()) {
            filling_ = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    filling_.size = 0;
    changed_.notify_all();
}

void SegmentFeed::finish() noexcept
{
    // Called while a failure unwinds too: a last batch that cannot be
    // handed over only leaves the consumer short, which it reports.
    try {
        if (filling_.size > 0) push();
    } catch (...) {
    }
    std::lock_guard<std::mutex> guard(mutex_);
    finished_ = true;
    changed_.notify_all();
}

const SegmentFeed::Part* SegmentFeed::next()
{
    if (taken_ == taking_.size) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return finished_ || !batches_.empty(); });
        if (batches_.empty()) return nullptr;
        if (!taking_.parts.empty()) spare_.push_back(std::move(taking_));
        taking_ = std::move(batches_.front());
        batches_.pop_front();
        taken_ = 0;
        changed_.notify_all();
    }
    return &taking_.parts[taken_++];
}

void SegmentFeed::stop()
{
    std::lock_guard<std::mutex> guard(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

void writeSplitModel(std::ostream& out, const RunSummary& summary, const ModelFields& fields,
                     const splitmodels::ModelSpec& request, const std::string& dataModelText, SegmentFeed& feed)
{
    // A failure leaves the feed's producer free to finish.
    struct StopFeed {
        SegmentFeed& feed;
        ~StopFeed() { feed.stop(); }
    } stopFeed{feed};
    try {
        const std::vector<splitmodels::FieldDef> defs =
            splitmodels::parseDataModelFields(dataModelText);
        const auto nameOf = [](const auto& item) -> const std::string& { return item.name; };
        const NameIndex byName(defs, nameOf);
        const auto self = [](const std::string& name) -> const std::string& { return name; };
        const NameIndex split(fields.split, self);
        const NameIndex inputs(fields.inputs, self);
        splitmodels::SplitModelInput head;
        for (const splitmodels::FieldDef& def : defs) {
            const bool used = def.name == fields.target || split.contains(def.name) || inputs.contains(def.name) ||
                              (!request.offset.empty() && def.name == request.offset);
            if (used) head.fields.push_back(def);
        }
        head.splitFields = fields.split;
        head.request = request;
        splitmodels::SplitModelWriter writer(std::move(head), out);
        for (const GroupOutcome& group : summary.groups) {
            if (group.modelId.empty() || !group.pmml) continue;
            splitmodels::SplitSegment segment;
            for (const TaskSplitValue& value : group.values)
                segment.values.push_back(
                    {value.field, value.value, value.missing, storageOf(defs, byName, value.field)});
            // Copied, not moved: the part's memory goes back to the feed.
            const SegmentFeed::Part* part = feed.next();
            if (!part) throw RunError("cannot assemble split-model.pmml: a group's PMML was not read");
            segment.keys = part->keys;
            segment.levels = part->levels;
            segment.groupPmml = part->pmml;
            segment.id = group.modelId;
            writer.add(segment);
        }
        writer.finish();
    } catch (const std::invalid_argument& e) {
        throw RunError(std::string("cannot assemble split-model.pmml: ") + e.what());
    }
}

void writeSplitModelFile(const std::filesystem::path& path, const RunSummary& summary, const ModelFields& fields,
                         const splitmodels::ModelSpec& request, const std::string& dataModelText,
                         SegmentFeed& feed)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        const int error = errno;
        feed.stop();
        throw writeError(path, error);
    }
    errno = 0;
    writeSplitModel(out, summary, fields, request, dataModelText, feed);
    out.close();
    // The reason is that of the write or close that failed.
    if (!out) throw writeError(path, errno != 0 ? errno : EIO);
}

}  // namespace splitrun

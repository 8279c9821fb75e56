#include "fits_ahead.h"

#include <algorithm>

#include "group_order.h"

namespace splitrun {

namespace {

// What the fits held may take: their documents' bytes and their count. A
// run of many small groups would otherwise hold a large share of its
// groups' documents before the first is collected.
constexpr std::size_t kHeldBytes = std::size_t{64} << 20;
constexpr std::size_t kHeldFits = 16384;

// Rows compared a block at a time while looking for a group's end.
constexpr std::size_t kKeyBlock = 4096;

}  // namespace

FitsAhead::FitsAhead(std::shared_ptr<const refhost::Table> table, std::vector<std::size_t> keyColumns,
                     GroupWorker& worker, const Fingerprinter& fingerprinter)
    : table_(std::move(table)), keyColumns_(std::move(keyColumns)), worker_(worker), fingerprinter_(fingerprinter)
{
}

bool FitsAhead::claim(std::size_t& index, std::size_t& first, std::size_t& count)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const std::size_t rows = table_->rowCount();
    if (nextRow_ >= rows || heldBytes_ >= kHeldBytes || held_.size() >= kHeldFits) return false;
    first = nextRow_;
    std::size_t end = first + 1;
    while (end < rows) {
        changed_.resize(std::min(kKeyBlock, rows - end));
        markKeyChanges(*table_, keyColumns_, end, changed_);
        const auto change = std::find(changed_.begin(), changed_.end(), 1);
        end += static_cast<std::size_t>(change - changed_.begin());
        if (change != changed_.end()) break;
    }
    index = nextIndex_++;
    count = end - first;
    nextRow_ = end;
    return true;
}

void FitsAhead::work(const std::shared_ptr<const std::string>& dataModel, const std::atomic<bool>& planned)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        dataModel_ = dataModel;
    }
    std::size_t index = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    while (!planned.load(std::memory_order_relaxed) && claim(index, first, count)) {
        refhost::WorkerJob job;
        job.groupIndex = index;
        job.records = refhost::TableRows(table_, first, count);
        job.dataModel = dataModel;
        Held held{first, count, {}};
        try {
            held.fit.fingerprint = fingerprinter_(job);
            held.fit.fitted = worker_.fit(job);
        } catch (...) {
            continue;  // the group's own job fails the same way
        }
        std::lock_guard<std::mutex> guard(mutex_);
        heldBytes_ += held.fit.fitted.output.statXml.size() + held.fit.fitted.output.pmml.size();
        ++made_;
        held_.emplace(index, std::move(held));
    }
}

std::optional<FitsAhead::Fit> FitsAhead::take(const refhost::WorkerJob& job)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = held_.find(job.groupIndex);
    if (found == held_.end()) return std::nullopt;
    Held held = std::move(found->second);
    held_.erase(found);
    heldBytes_ -= held.fit.fitted.output.statXml.size() + held.fit.fitted.output.pmml.size();
    const refhost::TableRows& records = job.records;
    if (!records.isView() || &records.table() != table_.get() || records.firstRow() != held.first ||
        records.rowCount() != held.count || job.dataModel != dataModel_)
        return std::nullopt;
    ++taken_;
    return std::move(held.fit);
}

std::size_t FitsAhead::made() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return made_;
}

std::size_t FitsAhead::taken() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return taken_;
}

}  // namespace splitrun

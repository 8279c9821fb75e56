// Summaries of a run's result.
#include "refhost/run.h"

#include <stdexcept>

#include "entry_store.h"

namespace refhost {

const RunOutputs::Named* RunOutputs::named(const std::string& container) const {
    const auto found = containers_.find(container);
    return found == containers_.end() ? nullptr : &found->second;
}

size_t RunOutputs::count(const std::string& container) const {
    const Named* entries = named(container);
    return entries == nullptr ? 0 : entries->order.size();
}

std::pair<const EntryStore*, size_t> RunOutputs::locate(const std::string& container, size_t index) const {
    const Named* entries = named(container);
    if (entries == nullptr || index >= entries->order.size())
        throw std::out_of_range("no entry " + std::to_string(index) + " in " + container);
    const auto [store, position] = entries->order[index];
    return {entries->stores[store].get(), position};
}

Entry RunOutputs::entry(const std::string& container, size_t index) const {
    const auto [store, position] = locate(container, index);
    return store->entry(position);
}

std::string RunOutputs::content(const std::string& container, size_t index) const {
    const auto [store, position] = locate(container, index);
    return store->data(store->at(position));
}

int64_t RunOutputs::sinkHandle(const std::string& container, size_t index) const {
    const auto [store, position] = locate(container, index);
    return store->at(position).handle;
}

std::vector<Entry> RunOutputs::entries(const std::string& container) const {
    std::vector<Entry> out;
    const size_t n = count(container);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out.push_back(entry(container, i));
    return out;
}

std::optional<size_t> RunOutputs::find(const std::string& container, const std::string& key) const {
    const Named* entries = named(container);
    if (entries == nullptr) return std::nullopt;
    const auto found = entries->firstComplete.find(key);
    if (found == entries->firstComplete.end()) return std::nullopt;
    return found->second;
}

void RunOutputs::add(const std::string& container, std::shared_ptr<const EntryStore> store) {
    if (!store) return;
    Named& entries = containers_[container];
    const auto storeIndex = static_cast<uint32_t>(entries.stores.size());
    entries.order.reserve(entries.order.size() + store->size());
    entries.firstComplete.reserve(entries.firstComplete.size() + store->size());
    for (size_t i = 0; i < store->size(); ++i) {
        const StoredEntry& stored = store->at(i);
        if (stored.complete) entries.firstComplete.emplace(stored.key, entries.order.size());
        entries.order.emplace_back(storeIndex, static_cast<uint32_t>(i));
    }
    entries.stores.push_back(std::move(store));
}

std::optional<StepStatus> RunResult::step(const std::string& name) const {
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (it->step == name) return *it;
    return std::nullopt;
}

bool RunResult::ok() const {
    for (const auto& s : steps)
        if (s.status != 0) return false;
    if (!taskFailures.empty()) return false;
    for (const auto& group : groups)
        if (group.outcome != 0 || group.collectStatus != 0) return false;
    return true;
}

}  // namespace refhost

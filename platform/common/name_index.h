// Positions of names in a list, found in constant time. Code that looks up
// every input of a model among every field of a file would otherwise scan
// the fields once per input, which grows with the square of a wide file's
// columns.
#ifndef SPLITRUN_NAME_INDEX_H
#define SPLITRUN_NAME_INDEX_H

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace splitrun {

// Views the names it is built from: the list must outlive the index and
// stay unchanged.
class NameIndex {
public:
    NameIndex() = default;
    // `nameOf(item)` gives an item's name; each name keeps its first
    // position, as a scan from the front finds it.
    template <typename Items, typename NameOf>
    NameIndex(const Items& items, NameOf nameOf)
    {
        positions_.reserve(items.size());
        std::size_t position = 0;
        for (const auto& item : items) positions_.emplace(std::string_view(nameOf(item)), position++);
    }

    std::optional<std::size_t> find(std::string_view name) const
    {
        const auto found = positions_.find(name);
        if (found == positions_.end()) return std::nullopt;
        return found->second;
    }
    bool contains(std::string_view name) const { return positions_.count(name) != 0; }

private:
    std::unordered_map<std::string_view, std::size_t> positions_;
};

}  // namespace splitrun

#endif

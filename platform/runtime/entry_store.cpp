// A container's keyed entries: bytes go to the spool when an entry is
// finished, or earlier when an unfinished one grows large, and are read
// back piece by piece.
#include "entry_store.h"

namespace refhost {

void EntryStore::append(StoredEntry& stored, const char* data, size_t length) {
    // A large write with nothing held before it goes to the spool as it is,
    // without a copy in memory first.
    if (stored.entry.data.empty() && length >= kSpillBytes && spillBytes(stored, data, length)) return;
    stored.entry.data.append(data, length);
    if (stored.entry.data.size() >= kSpillBytes) spill(stored);
}

void EntryStore::finish(StoredEntry& stored) {
    stored.entry.complete = true;
    spill(stored);
}

// Moves the bytes the entry holds in memory to the spool; they stay in
// memory when the spool cannot take them.
void EntryStore::spill(StoredEntry& stored) {
    if (stored.entry.data.empty()) return;
    if (spillBytes(stored, stored.entry.data.data(), stored.entry.data.size()))
        std::string().swap(stored.entry.data);
}

// Appends bytes to the spool as the entry's next piece; false when the
// spool cannot take them.
bool EntryStore::spillBytes(StoredEntry& stored, const char* data, size_t length) {
    if (!spool_) spool_ = std::make_unique<Spool>();
    uint64_t offset = 0;
    if (!spool_->append(data, length, &offset)) return false;
    // A piece that continues the previous one in the file extends it, so a
    // large entry written alone stays one piece.
    if (!stored.pieces.empty() &&
        stored.pieces.back().offset + stored.pieces.back().length == offset)
        stored.pieces.back().length += length;
    else
        stored.pieces.push_back({offset, length});
    stored.spooledLength += length;
    spooledBytes_ += length;
    return true;
}

std::string EntryStore::data(const StoredEntry& stored) const {
    if (stored.pieces.empty()) return stored.entry.data;
    std::string data;
    data.reserve(stored.spooledLength + stored.entry.data.size());
    for (const StoredEntry::Piece& piece : stored.pieces)
        if (!spool_ || !spool_->read(piece.offset, piece.length, data)) return std::string();
    data += stored.entry.data;
    return data;
}

Entry EntryStore::entry(size_t index) const {
    const StoredEntry& stored = entries_[index];
    Entry out{stored.entry.key, stored.entry.properties, std::string(), stored.entry.complete};
    out.data = data(stored);
    return out;
}

}  // namespace refhost

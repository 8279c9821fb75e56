// A container's keyed entries: bytes go to the spool when an entry is
// finished, or earlier when an unfinished one grows large, and are read
// back piece by piece; with a sink, a finished entry goes there instead.
#include "entry_store.h"

#include <algorithm>

namespace refhost {

size_t EntryStore::add(std::string key, const std::string& properties, bool complete) {
    auto known = std::find(properties_.begin(), properties_.end(), properties);
    if (known == properties_.end()) known = properties_.insert(properties_.end(), properties);
    StoredEntry& stored = entries_.emplace_back();
    stored.key = std::move(key);
    stored.properties = static_cast<uint32_t>(known - properties_.begin());
    stored.complete = complete;
    if (sink_) stored.seq = sink_->reserve(name_);
    return entries_.size() - 1;
}

void EntryStore::append(StoredEntry& stored, const char* data, size_t length) {
    if (stored.handle >= 0) takeBack(stored);
    if (stored.tail.empty() && length >= kSpillBytes) {
        // A large write into an empty entry goes to the sink as it is, as
        // the whole entry: a large entry (a run's root document) is written
        // in one piece, and the spool's copy in and out would cost more than
        // printing it. Without a sink it goes to the spool, without a copy
        // in memory first.
        if (sink_ && stored.first.length == 0) {
            stored.handle = sink_->store(name_, stored.seq, stored.key, properties(stored), length,
                                         std::string_view(data, length));
            if (stored.handle >= 0) return;
        }
        if (spillBytes(stored, data, length)) return;
    }
    stored.tail.append(data, length);
    if (stored.tail.size() >= kSpillBytes) spill(stored);
}

bool EntryStore::finish(StoredEntry& stored) {
    stored.complete = true;
    if (sink_) return stored.handle >= 0 || toSink(stored);
    spill(stored);
    return true;
}

// An entry stored whole from its first write grows: its bytes come back
// from the sink to be held as the entry's first, and the sink's copy goes.
// Should either step fail, the sink keeps the failure, which fails the run.
void EntryStore::takeBack(StoredEntry& stored) {
    std::string held;
    const bool read = sink_->read(stored.handle, held);
    sink_->withdraw(stored.handle);
    stored.handle = -1;
    if (read && spillBytes(stored, held.data(), held.size())) return;
    stored.tail = std::move(held);
}

void EntryStore::settle() {
    if (!sink_) return;
    for (StoredEntry& stored : entries_)
        if (!stored.complete && stored.handle < 0) toSink(stored);
}

// Stores the entry in the sink: from memory as one piece, or, when large
// parts of it went to the spool while it was written, copied from there a
// spill's worth at a time so that it is never whole in memory.
bool EntryStore::toSink(StoredEntry& stored) {
    if (stored.first.length == 0) {
        stored.handle = sink_->store(name_, stored.seq, stored.key, properties(stored), stored.tail.size(),
                                     stored.tail);
        if (stored.handle >= 0) std::string().swap(stored.tail);
        return stored.handle >= 0;
    }
    std::vector<StoredEntry::Piece> pieces{stored.first};
    pieces.insert(pieces.end(), stored.more.begin(), stored.more.end());
    uint64_t length = stored.tail.size();
    for (const StoredEntry::Piece& piece : pieces) length += piece.length;
    const int64_t handle = sink_->store(name_, stored.seq, stored.key, properties(stored), length, {});
    if (handle < 0) return false;
    uint64_t offset = 0;
    std::string chunk;
    for (const StoredEntry::Piece& piece : pieces)
        for (size_t done = 0; done < piece.length;) {
            const size_t n = std::min(kSpillBytes, piece.length - done);
            chunk.clear();
            if (!spool_->read(piece.offset + done, n, chunk)) {
                sink_->fail("the entry " + stored.key + " could not be read back from the spool");
                return false;
            }
            if (!sink_->write(handle, offset, chunk)) return false;
            done += n;
            offset += n;
        }
    if (!sink_->write(handle, offset, stored.tail)) return false;
    stored.handle = handle;
    stored.first = {};
    stored.more.clear();
    std::string().swap(stored.tail);
    return true;
}

// Moves the bytes the entry holds in memory to the spool; they stay in
// memory when the spool cannot take them.
void EntryStore::spill(StoredEntry& stored) {
    if (stored.tail.empty()) return;
    if (spillBytes(stored, stored.tail.data(), stored.tail.size())) std::string().swap(stored.tail);
}

// Appends bytes to the spool as the entry's next piece; false when the
// spool cannot take them.
bool EntryStore::spillBytes(StoredEntry& stored, const char* data, size_t length) {
    if (!spool_) spool_ = std::make_unique<Spool>();
    uint64_t offset = 0;
    if (!spool_->append(data, length, &offset)) return false;
    spooledBytes_ += length;
    StoredEntry::Piece& last = stored.more.empty() ? stored.first : stored.more.back();
    if (last.length == 0)
        last = {offset, length};
    else if (last.offset + last.length == offset)  // continues it in the file
        last.length += length;
    else
        stored.more.push_back({offset, length});
    return true;
}

std::string EntryStore::data(const StoredEntry& stored) const {
    if (stored.handle >= 0) {
        std::string data;
        if (!sink_->read(stored.handle, data)) data.clear();
        return data;
    }
    if (stored.first.length == 0) return stored.tail;
    size_t length = stored.first.length + stored.tail.size();
    for (const StoredEntry::Piece& piece : stored.more) length += piece.length;
    std::string data;
    data.reserve(length);
    if (!spool_ || !spool_->read(stored.first.offset, stored.first.length, data)) return std::string();
    for (const StoredEntry::Piece& piece : stored.more)
        if (!spool_->read(piece.offset, piece.length, data)) return std::string();
    data += stored.tail;
    return data;
}

Entry EntryStore::entry(size_t index) const {
    const StoredEntry& stored = entries_[index];
    return Entry{stored.key, properties(stored), data(stored), stored.complete};
}

}  // namespace refhost

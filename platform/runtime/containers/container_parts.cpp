// Record words of entry keys, key lists and streams: each forwards to its
// container, which owns the state.
#include "container_parts.h"

#include <iterator>
#include <new>

#include "refhost/container.h"

namespace refhost {

namespace {

EntryKeyObject* key(void* h) { return static_cast<EntryKeyObject*>(h); }
KeyListObject* list(void* h) { return static_cast<KeyListObject*>(h); }
StreamObject* stream(void* h) { return static_cast<StreamObject*>(h); }

cf_status setKeyTextWord(void* h, int kind, const char* text, size_t length, int* err) {
    return key(h)->owner().setKeyText(*key(h), kind, text, length, err);
}
cf_status getKeyTextWord(void* h, char* buffer, size_t size, size_t* needed, int* err) {
    return key(h)->owner().getKeyText(*key(h), buffer, size, needed, err);
}
cf_status firstKeyWord(void* h, CFEntryKey** out, int* err) {
    return list(h)->owner().firstKey(*list(h), out, err);
}
cf_status releaseKeysWord(void* h, int* err) { return list(h)->owner().releaseKeys(*list(h), err); }
cf_status readWord(void* h, char* buffer, size_t capacity, size_t* got, int* err) {
    return stream(h)->owner().readStream(*stream(h), buffer, capacity, got, err);
}
cf_status writeWord(void* h, const char* data, size_t length, int* err) {
    return stream(h)->owner().writeStream(*stream(h), data, length, err);
}
cf_status closeWord(void* h, int* err) { return stream(h)->owner().closeStream(*stream(h), err); }

}  // namespace

EntryKeyObject::EntryKeyObject(Container& owner, std::string keyText)
    : text(std::move(keyText)), hasText(!text.empty()), owner_(owner) {
    record_.handle = this;
    record_.setKeyText = &setKeyTextWord;
    record_.getKeyText = &getKeyTextWord;
}

KeyPool::~KeyPool() {
    for (Block& block : blocks_) {
        for (size_t i = block.used; i-- > 0;) block.keys[i].~EntryKeyObject();
        ::operator delete(block.keys);
    }
}

EntryKeyObject& KeyPool::add(Container& owner, std::string text) {
    if (blocks_.empty() || blocks_.back().used == kBlockKeys) {
        blocks_.reserve(blocks_.size() + 1);
        Block block;
        block.keys = static_cast<EntryKeyObject*>(::operator new(kBlockKeys * sizeof(EntryKeyObject)));
        byAddress_.emplace(reinterpret_cast<std::uintptr_t>(block.keys), blocks_.size());
        blocks_.push_back(block);
    }
    Block& block = blocks_.back();
    EntryKeyObject* key = new (block.keys + block.used) EntryKeyObject(owner, std::move(text));
    ++block.used;
    return *key;
}

EntryKeyObject* KeyPool::find(const CFEntryKey* record) const {
    const auto at = reinterpret_cast<std::uintptr_t>(record);
    auto next = byAddress_.upper_bound(at);
    if (next == byAddress_.begin()) return nullptr;
    const auto& [start, index] = *std::prev(next);
    const Block& block = blocks_[index];
    const size_t position = (at - start) / sizeof(EntryKeyObject);
    if (position >= block.used) return nullptr;
    EntryKeyObject* key = block.keys + position;
    return key->record() == record ? key : nullptr;
}

KeyListObject::KeyListObject(Container& owner, std::vector<EntryKeyObject*> listed)
    : keys(std::move(listed)), owner_(owner) {
    record_.handle = this;
    record_.firstKey = &firstKeyWord;
    record_.releaseKeys = &releaseKeysWord;
}

StreamObject::StreamObject(Container& owner, int openMode) : mode(openMode), owner_(owner) {
    record_.handle = this;
    record_.readStream = &readWord;
    record_.writeStream = &writeWord;
    record_.reserved3 = nullptr;
    record_.closeStream = &closeWord;
}

}  // namespace refhost

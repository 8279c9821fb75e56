// Host containers: a default entry plus keyed entries, reached by the module
// through the CFContainerFile record and the keys, key lists and streams it
// hands out.
#include "refhost/container.h"

#include <algorithm>
#include <cstring>

#include "container_parts.h"
#include "default_entry.h"
#include "entry_store.h"
#include "refhost/host.h"

namespace refhost {

namespace {

Container* self(void* h) { return static_cast<Container*>(h); }
cf_status createKeyWord(void* h, CFEntryKey** key, int* err) { return self(h)->createKey(key, err); }
cf_status getKeysWord(void* h, CFKeyList** keys, int* err) { return self(h)->getKeys(keys, err); }
cf_status openEntryWord(void* h, CFEntryKey* key, int mode, const char* properties,
                        CFStream** stream, int* err) {
    return self(h)->openEntry(key, mode, properties, stream, err);
}
cf_status closeWord(void* h, int* err) { return self(h)->closeContainer(err); }

}  // namespace

Container::Container(std::string name, std::shared_ptr<Faults> faults)
    : name_(std::move(name)),
      faults_(faults ? std::move(faults) : std::make_shared<Faults>()),
      store_(std::make_shared<EntryStore>()) {
    record_.handle = this;
    record_.createKey = &createKeyWord;
    record_.getKeys = &getKeysWord;
    record_.openEntry = &openEntryWord;
    record_.closeContainer = &closeWord;
}

Container::~Container() = default;

Container* Container::fromRecord(CFContainerFile* record) {
    if (record == nullptr || record->createKey != &createKeyWord) return nullptr;
    return self(record->handle);
}

void Container::setDefaultEntry(std::string data, std::string properties) {
    setDefaultEntry(std::make_shared<const std::string>(std::move(data)), std::move(properties));
}

void Container::setDefaultEntry(SharedBytes data, std::string properties) {
    std::lock_guard<std::mutex> guard(mutex_);
    default_ = std::make_unique<DefaultEntry>(std::move(data), std::move(properties));
}

void Container::expectDefaultEntry(SharedBytes bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    expectedDefault_ = std::move(bytes);
}

void Container::addEntry(std::string key, std::string data, std::string properties) {
    std::lock_guard<std::mutex> guard(mutex_);
    StoredEntry& stored = store_->at(store_->add(std::move(key), properties, false));
    store_->append(stored, data.data(), data.size());
    store_->finish(stored);
}

void Container::storeEntriesIn(EntrySink* sink) {
    std::lock_guard<std::mutex> guard(mutex_);
    sink_ = sink;
    store_ = std::make_shared<EntryStore>(sink_, name_);
    ++storeGeneration_;
}

void Container::clearEntries() {
    std::lock_guard<std::mutex> guard(mutex_);
    default_.reset();
    store_ = std::make_shared<EntryStore>(sink_, name_);
    ++storeGeneration_;
}

std::shared_ptr<const EntryStore> Container::takeEntries() {
    std::lock_guard<std::mutex> guard(mutex_);
    store_->settle();
    std::shared_ptr<const EntryStore> taken = std::move(store_);
    store_ = std::make_shared<EntryStore>(sink_, name_);
    ++storeGeneration_;
    return taken;
}

std::vector<Entry> Container::entries() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<Entry> out;
    out.reserve(store_->size());
    for (size_t i = 0; i < store_->size(); ++i) out.push_back(store_->entry(i));
    return out;
}

size_t Container::entryCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return store_->size();
}

size_t Container::spooledBytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return store_->spooledBytes();
}

std::optional<Entry> Container::defaultEntry() const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!default_) return std::nullopt;
    return Entry{"", default_->properties(), default_->text(), default_->complete()};
}

SharedBytes Container::defaultBytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return default_ ? default_->bytes() : nullptr;
}

SharedBytes Container::takeDefaultBytes() {
    std::lock_guard<std::mutex> guard(mutex_);
    SharedBytes bytes = default_ ? default_->bytes() : nullptr;
    default_.reset();
    return bytes;
}

std::string Container::defaultText() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return default_ ? default_->text() : std::string();
}

bool Container::isClosed() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return closed_;
}

size_t Container::openCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return opens_;
}

size_t Container::closeCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return closes_;
}

size_t Container::usesAfterClose() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return usesAfterClose_;
}

std::vector<size_t> Container::readSizes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return readSizes_;
}

std::vector<size_t> Container::readCapacities() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return readCapacities_;
}

size_t Container::openStreams() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<size_t>(std::count_if(streams_.begin(), streams_.end(),
                                             [](const auto& s) { return !s.second->closed; }));
}

void Container::noteOpened() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++opens_;
    closed_ = false;
}

bool Container::refused(const char* op, int* err, cf_status* status) {
    return faults_->check(op, err, status);
}

void Container::noteUseLocked() {
    if (closed_) ++usesAfterClose_;
}

EntryKeyObject* Container::knownKeyLocked(CFEntryKey* key) const {
    return keys_ ? keys_->find(key) : nullptr;
}

cf_status Container::createKey(CFEntryKey** key, int* err) {
    cf_status status = 0;
    if (refused("createKey", err, &status)) return status;
    if (key == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    noteUseLocked();
    if (!keys_) keys_ = std::make_unique<KeyPool>();
    *key = keys_->add(*this).record();
    return CF_OK;
}

cf_status Container::getKeys(CFKeyList** keys, int* err) {
    cf_status status = 0;
    if (refused("getKeys", err, &status)) return status;
    if (keys == nullptr) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    noteUseLocked();
    std::vector<EntryKeyObject*> listed;
    if (!keys_) keys_ = std::make_unique<KeyPool>();
    for (size_t i = 0; i < store_->size(); ++i) {
        const StoredEntry& stored = store_->at(i);
        if (!stored.complete) continue;
        EntryKeyObject& listedKey = keys_->add(*this, stored.key);
        listedKey.hasText = true;
        listed.push_back(&listedKey);
    }
    keyLists_.push_back(std::make_unique<KeyListObject>(*this, std::move(listed)));
    *keys = keyLists_.back()->record();
    return CF_OK;
}

cf_status Container::openEntry(CFEntryKey* key, int mode, const char* properties,
                               CFStream** stream, int* err) {
    cf_status status = 0;
    if (refused("openEntry", err, &status)) return status;
    if (stream == nullptr || (mode != CF_MODE_READ && mode != CF_MODE_WRITE)) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    noteUseLocked();
    EntryKeyObject* keyObject = nullptr;
    if (key != nullptr) {
        keyObject = knownKeyLocked(key);
        if (keyObject == nullptr || !keyObject->hasText) return CF_FAILED;
    }
    auto opened = std::make_unique<StreamObject>(*this, mode);
    if (mode == CF_MODE_READ) {
        if (keyObject == nullptr) {
            if (!default_ || !default_->complete()) return CF_FAILED;
            opened->data = default_->bytes();  // read in place, not copied
        } else {
            // The first complete entry under that key text.
            const StoredEntry* found = nullptr;
            for (size_t i = 0; i < store_->size() && found == nullptr; ++i)
                if (store_->at(i).complete && store_->at(i).key == keyObject->text) found = &store_->at(i);
            if (found == nullptr) return CF_FAILED;
            opened->data = std::make_shared<const std::string>(store_->data(*found));
        }
    } else {
        const std::string props = properties == nullptr ? std::string() : properties;
        if (keyObject == nullptr) {
            default_ = std::make_unique<DefaultEntry>(DefaultEntry::writing(props, expectedDefault_));
            opened->toDefault = true;
        } else {
            opened->storeGeneration = storeGeneration_;
            opened->entryIndex = store_->add(keyObject->text, props, false);
        }
    }
    *stream = opened->record();
    streams_.emplace(opened.get(), std::move(opened));
    return CF_OK;
}

cf_status Container::closeContainer(int* err) {
    cf_status status = 0;
    if (refused("closeContainer", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_) {
        ++usesAfterClose_;
        return CF_FAILED;
    }
    closed_ = true;
    ++closes_;
    return CF_OK;
}

cf_status Container::readStream(StreamObject& stream, char* buffer, size_t capacity, size_t* got,
                                int* err) {
    cf_status status = 0;
    if (refused("readStream", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    noteUseLocked();
    if (stream.closed || stream.mode != CF_MODE_READ || got == nullptr ||
        (buffer == nullptr && capacity > 0))
        return CF_FAILED;
    const std::string& data = *stream.data;
    const size_t count = std::min(capacity, data.size() - stream.position);
    if (count > 0) std::memcpy(buffer, data.data() + stream.position, count);
    stream.position += count;
    *got = count;
    // Only the first reads are recorded: the module reads an input
    // container for every group, in small chunks, and a record of every
    // read would grow with the groups times the input's size.
    if (readSizes_.size() < kRecordedReads) {
        readCapacities_.push_back(capacity);
        readSizes_.push_back(count);
    }
    return CF_OK;
}

cf_status Container::writeStream(StreamObject& stream, const char* data, size_t length,
                                 int* err) {
    cf_status status = 0;
    if (refused("writeStream", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    noteUseLocked();
    if (stream.closed || stream.mode != CF_MODE_WRITE || (data == nullptr && length > 0))
        return CF_FAILED;
    // A stream whose entries were cleared or taken meanwhile writes nowhere.
    if (stream.toDefault) {
        if (!default_ || default_->complete()) return CF_FAILED;
        default_->append(data, length);
        return CF_OK;
    }
    if (stream.storeGeneration != storeGeneration_) return CF_FAILED;
    store_->append(store_->at(stream.entryIndex), data, length);
    return CF_OK;
}

cf_status Container::closeStream(StreamObject& stream, int* err) {
    cf_status status = 0;
    if (refused("closeStream", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream.closed) return CF_FAILED;
    stream.closed = true;
    bool stored = true;
    if (stream.mode == CF_MODE_WRITE) {
        if (stream.toDefault) {
            if (default_) default_->finish();
        } else if (stream.storeGeneration == storeGeneration_) {
            stored = store_->finish(store_->at(stream.entryIndex));
        }
    }
    // The module never uses a stream after closing it: the stream goes,
    // so that a container of many entries does not keep one per entry.
    streams_.erase(&stream);
    return stored ? CF_OK : CF_FAILED;
}

cf_status Container::setKeyText(EntryKeyObject& key, int kind, const char* text, size_t length,
                                int* err) {
    cf_status status = 0;
    if (refused("setKeyText", err, &status)) return status;
    if (text == nullptr && length > 0) return CF_FAILED;
    std::lock_guard<std::mutex> guard(mutex_);
    key.kind = kind;
    key.text.assign(text == nullptr ? "" : text, length);
    key.hasText = true;
    return CF_OK;
}

cf_status Container::getKeyText(EntryKeyObject& key, char* buffer, size_t size, size_t* needed,
                                int* err) {
    cf_status status = 0;
    if (refused("getKeyText", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    return deliverText(key.text, buffer, size, needed);
}

cf_status Container::firstKey(KeyListObject& list, CFEntryKey** key, int* err) {
    cf_status status = 0;
    if (refused("firstKey", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    if (key == nullptr || list.released || list.keys.empty()) return CF_FAILED;
    *key = list.keys.front()->record();
    return CF_OK;
}

cf_status Container::releaseKeys(KeyListObject& list, int* err) {
    cf_status status = 0;
    if (refused("releaseKeys", err, &status)) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    if (list.released) return CF_FAILED;
    list.released = true;
    return CF_OK;
}

std::string readAll(CFStream* stream, size_t chunk, cf_status* status) {
    std::string text;
    *status = 0;
    if (stream == nullptr || stream->readStream == nullptr || chunk == 0) {
        *status = CF_FAILED;
        return text;
    }
    std::vector<char> buffer(chunk);
    for (;;) {
        size_t got = 0;
        int err = 0;
        cf_status s = stream->readStream(stream->handle, buffer.data(), chunk, &got, &err);
        if (s != 0) {
            *status = s;
            return text;
        }
        text.append(buffer.data(), std::min(got, chunk));
        if (got < chunk) return text;
    }
}

}  // namespace refhost

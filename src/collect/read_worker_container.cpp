// Reads the whole text of one of a completed worker's output containers:
// its default entry, or, when that yields nothing, the entry of its first
// key.
#include <cstring>

#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

namespace host = split::host;

namespace {

// Appends a stream's text in chunks of 1023 bytes; a chunk shorter than that
// ends the text. A chunk contributes its bytes up to its first zero byte. A
// failing read ends the text with what was read so far; it is not reported.
// Only the bytes the host reports are looked at, so the chunk need not be
// cleared before each read.
void ReadStreamText(CFStream* stream, std::string& text) {
    constexpr size_t kChunk = 1023;
    char chunk[kChunk];
    int readErr = 0;
    size_t count = 0;
    do {
        count = 0;
        if (host::ReadStream(stream, chunk, kChunk, &count, &readErr) != CF_OK) return;
        if (count > kChunk) count = kChunk;
        text.append(chunk, strnlen(chunk, count));
    } while (count == kChunk);
}

}  // namespace

uint32_t SplitCollectPeer::ReadWorkerContainer(CFWorker* worker, const std::string& name,
                                               std::string& text, int* err) {
    if (worker == nullptr) return CF_FAILED;
    CFContainerFile* container = nullptr;
    uint32_t status = host::OpenWorkerContainer(worker, name.c_str(), &container, err);
    if (status != CF_OK) return status;

    // Statuses of clean-up calls are not reported; they must not overwrite
    // the error number of the failure that led to them either.
    int cleanupErr = 0;
    std::string read;
    CFStream* stream = nullptr;
    int defaultErr = 0;
    if (host::OpenDefaultEntry(container, CF_MODE_READ, &stream, &defaultErr) == CF_OK) {
        ReadStreamText(stream, read);
        host::CloseStream(stream, &cleanupErr);
    }

    if (read.empty()) {
        CFKeyList* keys = nullptr;
        status = host::GetKeys(container, &keys, err);
        if (status != CF_OK) {
            host::CloseContainer(container, &cleanupErr);
            return status;
        }
        CFEntryKey* key = nullptr;
        status = host::FirstKey(keys, &key, err);
        if (status != CF_OK) {
            host::ReleaseKeys(keys, &cleanupErr);
            host::CloseContainer(container, &cleanupErr);
            return status;
        }
        stream = nullptr;
        status = host::OpenEntry(container, key, CF_MODE_READ, "", &stream, err);
        if (status != CF_OK) {
            host::ReleaseKeys(keys, &cleanupErr);
            host::CloseContainer(container, &cleanupErr);
            return status;
        }
        ReadStreamText(stream, read);
        host::CloseStream(stream, &cleanupErr);
        host::ReleaseKeys(keys, &cleanupErr);
    }

    host::CloseContainer(container, &cleanupErr);
    if (read.empty()) return CF_FAILED;
    text = std::move(read);
    return CF_OK;
}

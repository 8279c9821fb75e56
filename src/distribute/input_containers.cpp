// Copies of the component's input containers for workers.
#include <cstring>

#include "distribute/distribute_codes.h"
#include "distribute/growing_text.h"
#include "module/host_calls.h"
#include "distribute/split_distribute_peer.h"

using namespace split;

namespace {

struct ContainerCopy {
    const char* workerName;  // the name a worker asks for
    const char* inputName;   // the component input container copied
};

constexpr ContainerCopy kContainerCopies[] = {
    {"WorkerInputPMML", "InputPMML"},
    {"WorkerInputStatXML", "InputStatXML"},
};

constexpr size_t kChunk = 1023;

}  // namespace

uint32_t SplitDistributePeer::CopyInputContainer(CFWorker* /*worker*/, const char* name,
                                                 CFContainerFile** container, int* err) {
    const char* inputName = nullptr;
    for (const ContainerCopy& copy : kContainerCopies) {
        if (name != nullptr && std::strcmp(name, copy.workerName) == 0) inputName = copy.inputName;
    }
    if (inputName == nullptr) return CF_UNKNOWN_CONTAINER;
    if (container == nullptr) return CF_FAILED;
    return Guarded([&]() -> uint32_t {
        GrowingText text;
        if (uint32_t status = ReadContainerText(inputName, text, err); status != CF_OK) return status;
        if (uint32_t status = host::OpenContainer(context, name, CF_MODE_WRITE, container, err);
            status != CF_OK) {
            return status;
        }
        CFStream* stream = nullptr;
        uint32_t result = host::OpenDefaultEntry(*container, CF_MODE_WRITE, &stream, err);
        if (result == CF_OK) {
            result = host::WriteStream(stream, text.data(), text.size(), err);
            host::CloseStream(stream, err);
        }
        // The container handle stays in the caller's slot for the worker.
        host::CloseContainer(*container, err);
        return result;
    });
}

uint32_t SplitDistributePeer::ReadContainerText(const std::string& name, GrowingText& text,
                                                int* err) {
    CFContainerFile* container = nullptr;
    if (uint32_t status = host::OpenContainer(context, name.c_str(), CF_MODE_READ, &container, err);
        status != CF_OK) {
        return status;
    }
    CFStream* stream = nullptr;
    uint32_t result = host::OpenDefaultEntry(container, CF_MODE_READ, &stream, err);
    if (result == CF_OK) {
        char buffer[kChunk + 1];
        size_t got = 0;
        do {
            std::memset(buffer, 0, sizeof buffer);
            got = 0;
            result = host::ReadStream(stream, buffer, kChunk, &got, err);
            if (result != CF_OK) break;
            // Each chunk counts as text: it ends at its first zero byte.
            if (got > 0) text.append(buffer, strnlen(buffer, kChunk));
        } while (got == kChunk);
        host::CloseStream(stream, err);
    }
    host::CloseContainer(container, err);
    if (result != CF_OK) return result;
    if (text.empty()) return CF_FAILED;
    return CF_OK;
}

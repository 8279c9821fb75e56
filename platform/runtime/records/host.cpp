// The host record, its version text and the buffer protocol.
#include "refhost/host.h"

#include <cstring>

namespace refhost {

namespace {

cf_status hostVersionWord(void* h, char* buffer, size_t size, size_t* needed, int* err) {
    return static_cast<Host*>(h)->getHostVersion(buffer, size, needed, err);
}

}  // namespace

cf_status deliverText(const std::string& text, char* buffer, size_t size, size_t* needed) {
    const size_t required = text.size() + 1;
    if (needed != nullptr) *needed = required;
    if (buffer == nullptr || required > size) return CF_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return CF_OK;
}

Host::Host(Faults::Mode faults) : faults_(std::make_shared<Faults>(faults)) {
    record_.handle = this;
    record_.getHostVersion = &hostVersionWord;
}

Host* Host::fromRecord(CFHost* record) {
    return record == nullptr ? nullptr : static_cast<Host*>(record->handle);
}

const char* Host::version() { return "refhost 1.0"; }

cf_status Host::getHostVersion(char* buffer, size_t size, size_t* needed, int* err) {
    cf_status status = 0;
    if (faults_->check("getHostVersion", err, &status)) return status;
    return deliverText(version(), buffer, size, needed);
}

}  // namespace refhost

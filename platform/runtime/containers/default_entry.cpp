// A default entry's bytes: shared once complete, and, while written,
// matched against the bytes expected so that an exact copy is not stored.
#include "default_entry.h"

#include <cstring>

namespace refhost {

DefaultEntry::DefaultEntry(SharedBytes bytes, std::string properties)
    : properties_(std::move(properties)),
      bytes_(bytes ? std::move(bytes) : std::make_shared<const std::string>()),
      complete_(true) {}

DefaultEntry DefaultEntry::writing(std::string properties, SharedBytes expected) {
    DefaultEntry entry;
    entry.properties_ = std::move(properties);
    entry.expected_ = std::move(expected);
    return entry;
}

void DefaultEntry::append(const char* data, size_t length) {
    if (length == 0) return;
    if (expected_) {
        if (length <= expected_->size() - matched_ &&
            std::memcmp(expected_->data() + matched_, data, length) == 0) {
            matched_ += length;
            return;
        }
        diverge();
    }
    written_.append(data, length);
}

void DefaultEntry::finish() {
    if (complete_) return;
    if (expected_ && matched_ == expected_->size())
        bytes_ = std::move(expected_);
    else {
        diverge();
        bytes_ = std::make_shared<const std::string>(std::move(written_));
    }
    expected_.reset();
    written_ = std::string();
    complete_ = true;
}

std::string DefaultEntry::text() const {
    if (complete_) return *bytes_;
    if (expected_) return expected_->substr(0, matched_);
    return written_;
}

void DefaultEntry::diverge() {
    if (!expected_) return;
    written_.assign(expected_->data(), matched_);
    expected_.reset();
    matched_ = 0;
}

}  // namespace refhost

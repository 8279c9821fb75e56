// The first error message that any of several threads met: a record source
// keeps it because the host's iterator can only say that a pass failed.
#ifndef SPLITRUN_FIRST_ERROR_H
#define SPLITRUN_FIRST_ERROR_H

#include <mutex>
#include <string>

namespace splitrun {

class FirstError {
public:
    // Keeps `message` unless an earlier one is kept. Thread-safe.
    void note(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message_.empty()) message_ = message;
    }
    // The kept message, or empty. Thread-safe.
    std::string get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return message_;
    }

private:
    mutable std::mutex mutex_;
    std::string message_;
};

}  // namespace splitrun

#endif

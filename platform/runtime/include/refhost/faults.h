// Fault injection for the reference host: lets a test make the n-th call of
// any host record operation fail with a chosen status.
#ifndef REFHOST_FAULTS_H
#define REFHOST_FAULTS_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cf_records.h"

namespace refhost {

// Every operation of every host record calls check() with its own name
// before it does anything. Names are the record operation names:
// "createWorker", "createRecordSet", "releaseRecordSet", "addRecord",
// "getIterator", "openContainer", "openEntry", "readStream", "writeStream",
// "closeStream", "closeContainer", "createKey", "setKeyText", "getKeyText",
// "getKeys", "firstKey", "releaseKeys", "getTask", "getWorkerId",
// "openWorkerContainer", "lock", "unlock", "createLock", "destroyLock",
// "getThreadServices", "getThreadCount", "getInputDataModel",
// "getParameters", "getInputIterator", "getInputCount", "nextRecord",
// "rewind", "getRecordValue", "getFieldCount", "report", "getHostVersion".
// Thread-safe.
class Faults {
public:
    // From now on, the nth call (1-based) of op and the times-1 calls after
    // it return status without doing anything else; when err is non-zero it
    // is written into the caller's error slot. Rules accumulate; when two
    // rules cover one call the earlier one wins.
    void refuse(const std::string& op, uint64_t nth, cf_status status, int err = 0,
                uint64_t times = 1);
    // Drops every rule that has not fired yet; call counts stay.
    void clear();
    // Number of calls of op so far (refused ones included).
    uint64_t calls(const std::string& op) const;
    // Number of calls of op that were refused.
    uint64_t refused(const std::string& op) const;

    // Used by the record operations: counts the call and tells whether it
    // must be refused; if so, *status receives the status and err (when
    // non-null and the rule has one) the error number.
    bool check(const char* op, int* err, cf_status* status);

private:
    struct Rule {
        std::string op;
        uint64_t first;  // absolute call number of the first refused call
        uint64_t last;   // absolute call number of the last refused call
        cf_status status;
        int err;
    };
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t, std::less<>> calls_;
    std::map<std::string, uint64_t, std::less<>> refused_;
    std::vector<Rule> rules_;
};

}  // namespace refhost

#endif

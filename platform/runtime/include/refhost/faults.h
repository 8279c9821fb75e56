// Fault injection for the reference host: lets a test make the n-th call of
// any host record operation fail with a chosen status, and records from
// which places in the module each operation is called.
#ifndef REFHOST_FAULTS_H
#define REFHOST_FAULTS_H

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cf_records.h"

namespace refhost {

// One place in the module from which a host operation is called.
struct CallSite {
    std::string op;
    // Return addresses of the innermost frames that lie in the module,
    // innermost first, as offsets into the module file (the form addr2line
    // takes once 1 is subtracted to land inside the call instruction).
    // Calls that reach the host through a helper library (the XML and data
    // helpers, the peer base) start at the first frame in the module above
    // the helper.
    std::vector<uintptr_t> frames;
    uint64_t firstCall = 0;  // the operation's call number (as calls() counts) of the first call from here
    uint64_t calls = 0;      // calls from here while recording
};

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
// Thread-safe. With no rule pending and no recording, check() only counts
// the call: no lock is taken.
class Faults {
public:
    Faults();
    ~Faults();
    Faults(const Faults&) = delete;
    Faults& operator=(const Faults&) = delete;

    // From now on, the nth call (1-based) of op and the times-1 calls after
    // it return status without doing anything else; when err is non-zero it
    // is written into the caller's error slot. Rules accumulate; when two
    // rules cover one call the earlier one wins.
    void refuse(const std::string& op, uint64_t nth, cf_status status, int err = 0,
                uint64_t times = 1);
    // The same, except that the call throws std::runtime_error instead of
    // returning: a host whose operation lets an exception out.
    void raise(const std::string& op, uint64_t nth, uint64_t times = 1);
    // Drops every rule that has not fired yet; call counts stay.
    void clear();
    // Number of calls of op so far (refused ones included).
    uint64_t calls(const std::string& op) const;
    // Number of calls of op that were refused.
    uint64_t refused(const std::string& op) const;

    // Call-site recording. While on, every checked call made from the shared
    // object whose file name ends in `module` (directly, or through other
    // libraries it calls) is attributed to a CallSite keyed by the operation
    // and up to `depth` module frames. A call the host makes while serving
    // another call from the same module frame (a record set copying the
    // source's values during addRecord) is not the module's and is left out.
    // Starting again forgets the sites recorded before.
    void startRecording(const std::string& module = "libsplit.so", size_t depth = 4);
    void stopRecording();
    // The host marks, on its own thread, the span of a call into the module.
    // A recorded call there with no module frame was made by the module as a
    // tail call (optimised code keeps no frame for it): it is recorded as a
    // site without frames, one per operation.
    void enterModule();
    void leaveModule();
    // The sites, in the order of their first call.
    std::vector<CallSite> sites() const;
    // The module's file as the loader names it (empty until a call from it
    // was recorded).
    std::string modulePath() const;

    // Call log. While on, every checked call made on a thread inside a call
    // of the module (between enterModule and leaveModule) is logged as its
    // operation's name, with "!" appended when it was refused. takeLog()
    // hands out the calls logged so far and empties the log.
    void startLog();
    void stopLog();
    std::vector<std::string> takeLog();

    // Used by the record operations: counts the call and tells whether it
    // must be refused; if so, *status receives the status and err (when
    // non-null and the rule has one) the error number.
    bool check(const char* op, int* err, cf_status* status);

private:
    struct Counter;
    struct Rule {
        std::string op;
        uint64_t first;  // absolute call number of the first refused call
        uint64_t last;   // absolute call number of the last refused call
        uint64_t fired;  // calls refused so far (they may arrive out of order)
        cf_status status;
        int err;
        bool throws = false;
    };
    static constexpr size_t kSlots = 256;

    Counter& counter(const char* op);
    // counter() through a table keyed by the name's address: for names that
    // are string literals (every check() caller passes one), a hit is two
    // loads instead of a hash of the name and a comparison.
    static size_t literalHome(const char* op);
    Counter& literalCounter(const char* op);
    Counter& probeLiteralCounter(const char* op, size_t home);
    const Counter* find(const char* op) const;
    // check() beyond its common case: finds the counter and the thread's
    // shard however they stand.
    [[gnu::noinline]] bool checkFully(const char* op, int* err, cf_status* status);
    // check() once the call is to be numbered: counts it under the
    // numbering lock, records and logs it, and applies the rules.
    [[gnu::noinline]] bool checkNumbered(const char* op, Counter& counter,
                                         std::atomic<uint64_t>& mine, int* err,
                                         cf_status* status);
    bool applyRules(const char* op, Counter& counter, uint64_t call, int* err,
                    cf_status* status);
    void record(const char* op, uint64_t call);

    // Counters by name, open addressing; a slot is written once, under
    // mutex_, and read without it.
    std::array<std::atomic<Counter*>, kSlots> slots_{};
    static constexpr size_t kLiteralSlots = 256;
    std::array<std::atomic<const char*>, kLiteralSlots> literalKeys_{};
    std::array<std::atomic<Counter*>, kLiteralSlots> literalCounters_{};
    std::vector<std::unique_ptr<Counter>> counters_;
    std::atomic<size_t> pending_{0};  // rules not yet used up, and rules being added
    std::atomic<bool> recording_{false};
    std::atomic<bool> logging_{false};  // counts in pending_ while on, to leave the fast path
    std::atomic<uint64_t> generation_{0};  // recordings started so far

    // Serialises the numbering of calls while a rule is pending or recording
    // is on (never taken otherwise).
    std::mutex numbering_;
    mutable std::mutex mutex_;
    std::vector<Rule> rules_;
    std::string module_;
    size_t depth_ = 4;
    std::string modulePath_;
    std::vector<CallSite> sites_;
    std::vector<std::string> log_;
    std::map<std::pair<std::string, std::vector<uintptr_t>>, size_t> siteIndex_;
};

}  // namespace refhost

#endif

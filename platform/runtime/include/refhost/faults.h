// Fault injection for the reference host: lets a test make the n-th call of
// any host record operation fail with a chosen status, and records from
// which places in the module each operation is called.
#ifndef REFHOST_FAULTS_H
#define REFHOST_FAULTS_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cf_records.h"

namespace refhost {

namespace detail {
// The counter shard in which this thread counts its calls with a plain
// store, or 0 while it may not: before its first call, when the process
// has no cross-thread barrier, and while the thread is ending. Reached
// from check() in every caller, so it lives in the static TLS block (the
// host library is loaded with the program, never by dlopen): one load off
// the thread pointer.
extern __thread std::size_t faultsPlainShard __attribute__((tls_model("initial-exec")));
}  // namespace detail

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
// Thread-safe. With no rule pending, no recording and no log, check() only
// counts the call, inline in the caller: no lock and no call.
//
// A host that injects no faults (split-run's) makes its Faults off: check()
// then neither counts nor refuses, and asking it for a rule, a recording or
// a log is a programming error (std::logic_error).
class Faults {
public:
    enum class Mode { On, Off };
    explicit Faults(Mode mode = Mode::On);
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
    bool on() const { return on_; }

private:
    // Calls are counted in per-thread shards, each on a cache line of its
    // own, so threads calling the same operation do not contend for one
    // counter. The count is their sum. Shard 0 is shared by the threads
    // that found no shard of their own free.
    struct Counter {
        explicit Counter(std::string n) : name(std::move(n)) {}
        struct alignas(64) Shard {
            std::atomic<uint64_t> calls{0};
        };
        static constexpr size_t kShards = 32;
        const std::string name;
        std::array<Shard, kShards> shards{};
        std::atomic<uint64_t> refused{0};

        uint64_t total() const {
            uint64_t sum = 0;
            for (const Shard& shard : shards) sum += shard.calls.load();
            return sum;
        }
    };
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
    // loads instead of a hash of the name and a comparison. The home slot
    // mixes every bit of the address: the names lie next to one another
    // among the library's constant strings, several to an 8-byte step, so a
    // slot taken from the low bits alone would send the hot names to the
    // same home and every call after the first to the probe.
    static size_t literalHome(const char* op) {
        static_assert((kLiteralSlots & (kLiteralSlots - 1)) == 0, "a power of two");
        constexpr int kSlotBits = __builtin_ctzll(kLiteralSlots);
        return static_cast<size_t>((static_cast<uint64_t>(reinterpret_cast<uintptr_t>(op)) *
                                    0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
    }
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

    const bool on_;  // Mode::On: calls are counted and rules apply
    // Counters by name, open addressing; a slot is written once, under
    // mutex_, and read without it.
    std::array<std::atomic<Counter*>, kSlots> slots_{};
    static constexpr size_t kLiteralSlots = 256;
    std::array<std::atomic<const char*>, kLiteralSlots> literalKeys_{};
    std::array<std::atomic<Counter*>, kLiteralSlots> literalCounters_{};
    std::vector<std::unique_ptr<Counter>> counters_;
    // Rules not yet used up and rules being added, plus one each while
    // recording or logging is on: non-zero keeps every call off the inline
    // path, which only counts.
    std::atomic<size_t> pending_{0};
    std::atomic<bool> recording_{false};
    std::atomic<bool> logging_{false};
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

// The common call: a thread with its own shard, nothing pending, and a name
// found in its home slot. The call is counted before the second look at
// pending_: whoever adds a rule or starts a recording raises pending_ and
// then issues a process-wide barrier before reading the counts, so either
// this store is visible to that read (the call is numbered before the
// rule) or the second look sees pending_ raised and the call is taken back
// and numbered the slow way.
inline bool Faults::check(const char* op, int* err, cf_status* status) {
    if (!on_) return false;
    const size_t shard = detail::faultsPlainShard;
    if (shard != 0 && pending_.load(std::memory_order_relaxed) == 0) {
        const size_t home = literalHome(op);
        if (literalKeys_[home].load(std::memory_order_acquire) == op) {
            // Only this thread writes its shard.
            std::atomic<uint64_t>& mine =
                literalCounters_[home].load(std::memory_order_relaxed)->shards[shard].calls;
            mine.store(mine.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            if (pending_.load(std::memory_order_relaxed) == 0) return false;
            mine.store(mine.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
        }
    }
    return checkFully(op, err, status);
}

}  // namespace refhost

#endif

// Fault injection: per-operation call counters, refusal rules and call-site
// recording.
#include "refhost/faults.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace refhost {

namespace {
// Counter shards: one for each of up to 31 threads at a time, and a shared one.
constexpr size_t kShardCount = 32;
}  // namespace

namespace detail {
__thread size_t faultsPlainShard __attribute__((tls_model("initial-exec"))) = 0;
}  // namespace detail

namespace {

// FNV-1a over the name: names are short, so this costs a few dozen cycles.
size_t hashName(const char* op) {
    uint64_t hash = 1469598103934665603ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(op); *p != 0; ++p) {
        hash = (hash ^ *p) * 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

// The last call recorded on this thread: the module frame it came from and
// its operation. A different operation from the same frame can only be the
// host serving the first one (one call instruction calls one operation).
struct LastCall {
    const void* owner = nullptr;
    uint64_t generation = 0;
    uintptr_t frame = 0;
    std::string op;
};
thread_local LastCall lastCall;
// The Faults whose host is inside a call of the module on this thread.
thread_local const void* insideModule = nullptr;

// The host library is loaded with the program, never by dlopen, so its
// thread-locals can live in the static TLS block: reaching them is then one
// load off the thread pointer instead of a call to __tls_get_addr, which
// matters for a check made on every record operation.
#define REFHOST_FAST_TLS __attribute__((tls_model("initial-exec")))

// Shards are leased to threads, one each, and given back when the thread
// ends. A thread with a shard of its own counts with a plain load and store
// instead of a locked add: whoever adds a rule or starts a recording then
// issues one process-wide barrier (membarrier) before reading the counts,
// which makes every such store visible, and every thread that counts after
// the barrier sees the rule. Without that barrier every call uses the
// locked add, and so do the threads on the shared shard 0.
std::mutex leaseMutex;
std::array<bool, kShardCount> leased{};

size_t leaseShard() {
    std::lock_guard<std::mutex> guard(leaseMutex);
    for (size_t shard = 1; shard < leased.size(); ++shard) {
        if (leased[shard]) continue;
        leased[shard] = true;
        return shard;
    }
    return 0;
}

// Constant-initialised (no guard on each access); the thread's shard is
// chosen at its first check.
thread_local REFHOST_FAST_TLS size_t threadShardPlusOne = 0;

struct ShardLease {
    size_t shard = 0;
    ~ShardLease() {
        // A check made later in this thread's exit counts on the shared shard.
        threadShardPlusOne = 1;
        detail::faultsPlainShard = 0;
        if (shard == 0) return;
        std::lock_guard<std::mutex> guard(leaseMutex);
        leased[shard] = false;
    }
};
thread_local ShardLease lease;

bool registerBarrier() {
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}
const bool plainCounting = registerBarrier();

size_t threadShard() {
    if (threadShardPlusOne == 0) {
        lease.shard = leaseShard();
        threadShardPlusOne = lease.shard + 1;
        if (plainCounting) detail::faultsPlainShard = lease.shard;
    }
    return threadShardPlusOne - 1;
}

// Every thread of the process passes a full memory barrier.
void processBarrier() {
    if (plainCounting) syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
}

}  // namespace

Faults::Faults(Mode mode) : on_(mode == Mode::On) {
    static_assert(kShardCount == Counter::kShards, "one lease per counter shard");
}

namespace {
void requireOn(bool on) {
    if (!on) throw std::logic_error("refhost: fault injection is off in this host");
}
}  // namespace
Faults::~Faults() = default;

inline Faults::Counter& Faults::literalCounter(const char* op) {
    const size_t home = literalHome(op);
    if (literalKeys_[home].load(std::memory_order_acquire) == op)
        return *literalCounters_[home].load(std::memory_order_relaxed);
    return probeLiteralCounter(op, home);
}

// Open addressing over a few slots; a name that finds them all taken by
// others is looked up by its hash each time.
Faults::Counter& Faults::probeLiteralCounter(const char* op, size_t home) {
    constexpr size_t kProbes = 4;
    for (size_t i = 1; i < kProbes; ++i) {
        const size_t slot = (home + i) % kLiteralSlots;
        const char* key = literalKeys_[slot].load(std::memory_order_acquire);
        if (key == op) return *literalCounters_[slot].load(std::memory_order_relaxed);
        if (key == nullptr) break;
    }
    Counter& found = counter(op);
    std::lock_guard<std::mutex> guard(mutex_);
    for (size_t i = 0; i < kProbes; ++i) {
        const size_t slot = (home + i) % kLiteralSlots;
        const char* key = literalKeys_[slot].load(std::memory_order_relaxed);
        if (key == op) break;
        if (key != nullptr) continue;
        literalCounters_[slot].store(&found, std::memory_order_relaxed);
        literalKeys_[slot].store(op, std::memory_order_release);
        break;
    }
    return found;
}

Faults::Counter& Faults::counter(const char* op) {
    const size_t start = hashName(op);
    for (size_t i = 0; i < kSlots; ++i) {
        std::atomic<Counter*>& slot = slots_[(start + i) % kSlots];
        Counter* c = slot.load(std::memory_order_acquire);
        if (c == nullptr) {
            std::lock_guard<std::mutex> guard(mutex_);
            c = slot.load(std::memory_order_acquire);
            if (c == nullptr) {
                counters_.push_back(std::make_unique<Counter>(op));
                c = counters_.back().get();
                slot.store(c, std::memory_order_release);
                return *c;
            }
        }
        if (c->name == op) return *c;
    }
    // More distinct names than slots: they share one counter.
    static Counter overflow("");
    return overflow;
}

const Faults::Counter* Faults::find(const char* op) const {
    const size_t start = hashName(op);
    for (size_t i = 0; i < kSlots; ++i) {
        const Counter* c = slots_[(start + i) % kSlots].load(std::memory_order_acquire);
        if (c == nullptr) return nullptr;
        if (c->name == op) return c;
    }
    return nullptr;
}

void Faults::refuse(const std::string& op, uint64_t nth, cf_status status, int err,
                    uint64_t times) {
    requireOn(on_);
    if (nth == 0 || times == 0) return;
    Counter& c = counter(op.c_str());
    // Calls that start from now on see the rule pending before the base is
    // read: a call numbered after the base then finds the rule under the
    // mutex, which it can only take once the rule is in.
    pending_.fetch_add(1);
    processBarrier();
    std::lock_guard<std::mutex> guard(mutex_);
    const uint64_t base = c.total();
    rules_.push_back(Rule{op, base + nth, base + nth + times - 1, 0, status, err});
}

void Faults::raise(const std::string& op, uint64_t nth, uint64_t times) {
    refuse(op, nth, CF_FAILED, 0, times);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!rules_.empty()) rules_.back().throws = true;
}

void Faults::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    pending_.fetch_sub(rules_.size());
    rules_.clear();
}

uint64_t Faults::calls(const std::string& op) const {
    const Counter* c = find(op.c_str());
    return c == nullptr ? 0 : c->total();
}

uint64_t Faults::refused(const std::string& op) const {
    const Counter* c = find(op.c_str());
    return c == nullptr ? 0 : c->refused.load(std::memory_order_acquire);
}

bool Faults::checkFully(const char* op, int* err, cf_status* status) {
    Counter& c = literalCounter(op);
    const size_t shard = threadShard();
    std::atomic<uint64_t>& mine = c.shards[shard].calls;
    if (plainCounting && shard != 0 && pending_.load(std::memory_order_relaxed) == 0) {
        // As in check(), for a name not yet in its home slot.
        mine.store(mine.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (pending_.load(std::memory_order_relaxed) == 0) return false;
        mine.store(mine.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    } else if (pending_.load() == 0) {
        // The call is counted before the check of pending rules: a rule added
        // after that check then counts this call among those before it.
        mine.fetch_add(1);
        if (pending_.load() == 0) return false;
        mine.fetch_sub(1);
    }
    return checkNumbered(op, c, mine, err, status);
}

// With a rule pending or recording on, calls are numbered one at a time,
// so each gets the exact number rules and sites refer to.
bool Faults::checkNumbered(const char* op, Counter& c, std::atomic<uint64_t>& mine, int* err,
                           cf_status* status) {
    std::lock_guard<std::mutex> guard(numbering_);
    mine.fetch_add(1);
    const uint64_t call = c.total();
    if (recording_.load()) record(op, call);
    const bool refuse = pending_.load() != 0 && applyRules(op, c, call, err, status);
    if (logging_.load() && insideModule == this) {
        std::lock_guard<std::mutex> guard(mutex_);
        log_.push_back(refuse ? std::string(op) + "!" : std::string(op));
    }
    return refuse;
}

void Faults::startLog() {
    requireOn(on_);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        log_.clear();
    }
    // A pending count keeps every call off the fast path, which logs nothing.
    if (!logging_.exchange(true)) pending_.fetch_add(1);
    processBarrier();
}

void Faults::stopLog() {
    if (logging_.exchange(false)) pending_.fetch_sub(1);
}

std::vector<std::string> Faults::takeLog() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(log_, {});
}

bool Faults::applyRules(const char* op, Counter& c, uint64_t call, int* err,
                        cf_status* status) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        if (rule->op != op || call < rule->first || call > rule->last) continue;
        *status = rule->status;
        if (err != nullptr && rule->err != 0) *err = rule->err;
        c.refused.fetch_add(1, std::memory_order_acq_rel);
        const bool throws = rule->throws;
        // Concurrent calls may reach their rule out of order: a rule goes
        // once it refused as many calls as it covers.
        if (++rule->fired == rule->last - rule->first + 1) {
            rules_.erase(rule);
            pending_.fetch_sub(1);
        }
        if (throws) throw std::runtime_error(std::string("refhost: ") + op + " threw");
        return true;
    }
    return false;
}

void Faults::startRecording(const std::string& module, size_t depth) {
    requireOn(on_);
    std::lock_guard<std::mutex> guard(mutex_);
    module_ = module;
    depth_ = depth == 0 ? 1 : depth;
    sites_.clear();
    siteIndex_.clear();
    generation_.fetch_add(1, std::memory_order_acq_rel);
    // A pending count keeps every call off the inline path, which records
    // nothing.
    if (!recording_.exchange(true)) pending_.fetch_add(1);
    processBarrier();
}

void Faults::enterModule() {
    insideModule = this;
    lastCall.owner = nullptr;
}
void Faults::leaveModule() { insideModule = nullptr; }

void Faults::stopRecording() {
    if (recording_.exchange(false)) pending_.fetch_sub(1);
}

std::vector<CallSite> Faults::sites() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sites_;
}

std::string Faults::modulePath() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return modulePath_;
}

void Faults::record(const char* op, uint64_t call) {
    std::string module;
    size_t depth = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        module = module_;
        depth = depth_;
    }
    void* stack[64];
    const int n = backtrace(stack, 64);
    std::vector<uintptr_t> frames;
    std::string path;
    // Frame 0 is this function; the module's frames come after the host's
    // (and any helper library's) own.
    for (int i = 1; i < n && frames.size() < depth; ++i) {
        Dl_info info{};
        if (dladdr(stack[i], &info) == 0 || info.dli_fname == nullptr) continue;
        const size_t length = std::strlen(info.dli_fname);
        const bool inModule = length >= module.size() &&
                              module.compare(0, std::string::npos,
                                             info.dli_fname + length - module.size()) == 0;
        if (!inModule) continue;
        if (path.empty()) path = info.dli_fname;
        frames.push_back(reinterpret_cast<uintptr_t>(stack[i]) -
                         reinterpret_cast<uintptr_t>(info.dli_fbase));
    }
    // Without a module frame the call is the host's own, unless the host
    // is inside a call of the module: then the module made it as a tail call.
    if (frames.empty() && insideModule != this) return;

    const uint64_t generation = generation_.load(std::memory_order_acquire);
    const uintptr_t front = frames.empty() ? 0 : frames.front();
    if (lastCall.owner == this && lastCall.generation == generation && lastCall.frame == front &&
        lastCall.op != op) {
        return;  // the host serving the module's call from that frame
    }
    lastCall.owner = this;
    lastCall.generation = generation;
    lastCall.frame = front;
    lastCall.op = op;

    std::lock_guard<std::mutex> guard(mutex_);
    if (modulePath_.empty() && !path.empty()) modulePath_ = path;
    auto key = std::make_pair(std::string(op), std::move(frames));
    auto found = siteIndex_.find(key);
    if (found == siteIndex_.end()) {
        siteIndex_.emplace(key, sites_.size());
        sites_.push_back(CallSite{key.first, key.second, call, 1});
    } else {
        ++sites_[found->second].calls;
    }
}

}  // namespace refhost

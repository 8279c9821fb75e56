// Fuzzes the buffer protocol of every entry point that returns text. Each
// buffer has a guard region: status 0 means the terminated text fits and
// nothing beyond it changed; status 13 means nothing at all changed.
#include "fuzz_support.h"

namespace {

using namespace fuzzsupport;

constexpr char kFill = '\xA5';
constexpr size_t kGuard = 32;
constexpr size_t kUnset = static_cast<size_t>(-1);

// A caller's buffer (null allowed for size 0) with a guard region behind it.
class GuardedBuffer {
public:
    GuardedBuffer(size_t size, bool null) : size_(size), null_(null && size == 0), bytes_(size + kGuard, kFill) {}
    char* data() { return null_ ? nullptr : bytes_.data(); }
    size_t size() const { return size_; }
    bool untouchedFrom(size_t offset) const {
        for (size_t i = offset; i < bytes_.size(); ++i)
            if (bytes_[i] != kFill) return false;
        return true;
    }
    // The buffer protocol after a call that reported status and needed.
    void check(cf_status status, size_t needed) const {
        if (status == CF_BUFFER_TOO_SMALL) {
            FUZZ_CHECK(needed != kUnset && needed > size_);
            FUZZ_CHECK(untouchedFrom(0));
        } else if (status == CF_OK) {
            FUZZ_CHECK(needed != kUnset && needed >= 1 && needed <= size_);
            FUZZ_CHECK(bytes_[needed - 1] == '\0');
            FUZZ_CHECK(std::strlen(bytes_.data()) == needed - 1);
            FUZZ_CHECK(untouchedFrom(needed));
        } else {
            FUZZ_CHECK(untouchedFrom(0));
        }
    }
    std::string text() const { return std::string(bytes_.data()); }
    char front() const { return bytes_[0]; }

private:
    size_t size_;
    bool null_;
    std::vector<char> bytes_;
};

enum Call : uint8_t {
    kModuleInformation, kExecutionRequirements, kMessages, kWorkerTask, kDataModel, kRaiseMessages, kRestart, kCallCount
};

class Session {
public:
    Session() : api_(SharedModule().api()), context_(SharedHost()) {
        context_.setInput(SmallInput());
        context_.setDataModel(SmallDataModel());
        context_.setParameter("split_fields", {"region"});
        distribute_ = CreateComponent(context_, "split_distribute");
        FUZZ_CHECK(distribute_->configure() == 0 && distribute_->beginExecution() == 0);

        failing_.setDataModel(context_.dataModel());
        failing_.setParameter("split_fields", {"nowhere"});
        misconfigured_ = CreateComponent(failing_, "split_distribute");
        dataModel_ = context_.dataModel();
        information_ = SharedModule().moduleInformation();
        requirements_ = SharedModule().executionRequirements();
    }

    size_t chooseSize(ByteReader& reader, Call call) {
        switch (reader.below(4)) {
            case 0: return reader.below(16);
            case 1: {  // around the length needed last time
                const size_t last = lastNeeded_[call];
                const size_t delta = reader.below(5);
                return last + delta >= 2 ? last + delta - 2 : 0;
            }
            case 2: return reader.below(2048);
            default: return 0;
        }
    }

    void run(ByteReader& reader) {
        const Call call = static_cast<Call>(reader.below(kCallCount));
        const bool null = reader.flag();
        GuardedBuffer buffer(chooseSize(reader, call), null);
        size_t needed = kUnset;
        int err = 0;
        cf_status status = 0;
        const std::string* expected = nullptr;  // the text a call with status 0 must give
        switch (call) {
            case kModuleInformation:
                status = api_.cf_getModuleInformation(buffer.data(), buffer.size(), &needed, &err);
                expected = &information_;
                break;
            case kExecutionRequirements:
                status = api_.cf_component_getExecutionRequirements(reader.flag() ? distribute_->handle() : nullptr,
                                                                    buffer.data(), buffer.size(), &needed);
                expected = &requirements_;
                break;
            case kDataModel:
                status = api_.cf_distribute_getDataModel(distribute_->handle(), nullptr, reader.below(4),
                                                         buffer.data(), buffer.size(), &needed, &err);
                expected = &dataModel_;
                break;
            case kMessages: {
                const uint64_t which = reader.below(3);
                void* handle = which == 0 ? distribute_->handle() : which == 1 ? misconfigured_->handle() : nullptr;
                status = api_.cf_component_getMessages(handle, buffer.data(), buffer.size(), &needed, &err);
                FUZZ_CHECK(handle != nullptr || (status == CF_NO_RECORDS && buffer.untouchedFrom(0)));
                if (handle != nullptr) buffer.check(status, needed);
                std::vector<refhost::Message> messages;
                FUZZ_CHECK(handle == nullptr || status != CF_OK || refhost::parseMessages(buffer.text(), &messages));
                break;
            }
            case kWorkerTask:
                status = workerTask(reader, buffer, &needed);
                break;
            case kRaiseMessages:
                misconfigured_->configure();
                break;
            default:  // kRestart
                distribute_->endExecution();
                FUZZ_CHECK(distribute_->beginExecution() == 0);
        }
        if (expected != nullptr) {
            buffer.check(status, needed);
            FUZZ_CHECK(status != CF_OK || buffer.text() == *expected);
        }
        if (needed != kUnset && (status == CF_OK || status == CF_BUFFER_TOO_SMALL)) lastNeeded_[call] = needed;
    }

private:
    // The first text is always empty: at most a terminator, needed length 0.
    cf_status workerTask(ByteReader& reader, GuardedBuffer& second, size_t* secondNeeded) {
        const std::vector<refhost::Worker*> workers = context_.workers();
        refhost::Worker* worker = workers[reader.below(workers.size())];
        GuardedBuffer first(reader.below(4), reader.flag());
        size_t firstNeeded = kUnset;
        int err = 0;
        const cf_status status = api_.cf_distribute_getWorkerTask(
            distribute_->handle(), worker->record(), first.data(), first.size(), &firstNeeded,
            second.data(), second.size(), secondNeeded, &err);
        FUZZ_CHECK(status == CF_OK || status == CF_BUFFER_TOO_SMALL || status == CF_NO_WORKER_TASK);
        second.check(status, *secondNeeded);
        FUZZ_CHECK(first.untouchedFrom(1));
        if (status == CF_NO_WORKER_TASK || first.size() == 0) {
            FUZZ_CHECK(first.untouchedFrom(0));
        } else {
            FUZZ_CHECK(firstNeeded == 0 && first.front() == '\0');
        }
        return status;
    }

    const refhost::EntryPoints& api_;
    refhost::Context context_;
    refhost::Context failing_{SharedHost()};
    std::unique_ptr<refhost::Component> distribute_;
    std::unique_ptr<refhost::Component> misconfigured_;
    std::string information_, requirements_, dataModel_;
    size_t lastNeeded_[kCallCount] = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    Session session;
    for (int calls = 0; calls < 64 && !reader.empty(); ++calls) session.run(reader);
    return 0;
}

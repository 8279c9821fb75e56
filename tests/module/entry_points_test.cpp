// The module's exported entry points: symbols, null handles, the factory and start-up.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "distribute/harness.h"
#include "qor_peer.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/table.h"
#include "refhost/worker.h"

// Every block of this executable, the module's shared library included, is
// counted, to see what the module holds on to after a call; and an
// allocation can be made to fail, to see what a call leaves when one does.
std::atomic<long> liveBlocks{0};
std::atomic<long> allocationsUntilFailure{0};  // the nth allocation from now throws; 0: none
void* operator new(std::size_t size) {
    if (allocationsUntilFailure.load() > 0 && --allocationsUntilFailure == 0) throw std::bad_alloc();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}
void operator delete(void* block) noexcept {
    if (block != nullptr) liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
// The components are made by the nothrow form, which a sanitizer's runtime
// would otherwise serve on its own rather than through the forms above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try { return operator new(size); } catch (const std::bad_alloc&) { return nullptr; }
}
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }

namespace {

class EntryPoints : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(module.initialise(host), 0u); }
    const refhost::EntryPoints& api() { return module.api(); }

    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context context{host};
};

TEST_F(EntryPoints, AreExportedUnderTheirLookupNames) {
    size_t count = 0;
    const char* const* names = refhost::Module::symbolNames(&count);
    void* library = dlopen(SPLIT_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    for (size_t i = 0; i < count; ++i) EXPECT_NE(dlsym(library, names[i]), nullptr) << names[i];
    EXPECT_NE(dlsym(library, "_Z23cf_getModuleInformationPcmPmPi"), nullptr);
    EXPECT_EQ(dlsym(library, "cf_getModuleInformation"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN5split10moduleHostE"), nullptr);  // internals stay hidden
    dlclose(library);
}

TEST_F(EntryPoints, NullComponentIsAnsweredWithoutTouchingArguments) {
    char buffer[8] = "keep";
    size_t needed = 77;
    int64 count = 77;
    void* out = &count;
    auto* iterator = reinterpret_cast<CFIterator*>(out);
    auto* container = reinterpret_cast<CFContainerFile*>(out);
    refhost::Worker worker;
    CFWorker* w = worker.record();
    using Call = std::function<cf_status(const refhost::EntryPoints&, int*)>;
    const std::vector<std::tuple<const char*, cf_status, Call>> calls = {
        {"destroy", 0, [&](auto& a, int* e) { return a.cf_destroy_component(nullptr, e); }},
        {"configure", 2, [&](auto& a, int* e) { return a.cf_component_configure(nullptr, e); }},
        {"begin", 2, [&](auto& a, int* e) { return a.cf_component_beginExecution(nullptr, context.progress(), e); }},
        {"end", 2, [&](auto& a, int* e) { return a.cf_component_endExecution(nullptr, e); }},
        {"next", 2, [&](auto& a, int* e) { return a.cf_component_nextRecord(nullptr, e); }},
        {"value", 2, [&](auto& a, int* e) { return a.cf_component_getRecordValue(nullptr, 0, &out, &needed, e); }},
        {"messages", 9, [&](auto& a, int* e) { return a.cf_component_getMessages(nullptr, buffer, 8, &needed, e); }},
        {"iterReq", 2, [&](auto& a, int* e) { return a.cf_component_getIteratorRequirements(nullptr, &count, nullptr, &count, e); }},
        {"task", 2, [&](auto& a, int* e) { return a.cf_distribute_getWorkerTask(nullptr, w, buffer, 8, &needed, buffer, 8, &needed, e); }},
        {"taskNumber", 0, [&](auto& a, int* e) { return a.cf_distribute_getWorkerTaskNumber(nullptr, &count, e); }},
        {"dataModel", 2, [&](auto& a, int* e) { return a.cf_distribute_getDataModel(nullptr, w, 0, buffer, 8, &needed, e); }},
        {"iterator", 2, [&](auto& a, int* e) { return a.cf_distribute_getIterator(nullptr, w, 0, &iterator, e); }},
        {"container", 2, [&](auto& a, int* e) { return a.cf_distribute_getContainer(nullptr, w, "WorkerInputPMML", &container, e); }},
        {"started", 0, [&](auto& a, int* e) { return a.cf_collect_startedWorkerTask(nullptr, w, e); }},
        {"completed", 2, [&](auto& a, int* e) { return a.cf_collect_completedWorkerTask(nullptr, w, e); }},
    };
    for (const auto& [name, status, call] : calls) {
        int err = 12345;
        EXPECT_EQ(call(api(), &err), status) << name;
        EXPECT_EQ(err, 12345) << name;
        EXPECT_TRUE(std::string(buffer) == "keep" && needed == 77 && count == 77 && out == &count &&
                    static_cast<void*>(iterator) == out && static_cast<void*>(container) == out) << name;
    }
}

// Without a context a component still exists, for messages and destroy; calls needing the context fail.
TEST_F(EntryPoints, FactoryMatchesNamesExactlyWithOrWithoutContext) {
    for (const char* name : {"split_distribute", "split_collect", "split", "Split_Distribute",
                             "SPLIT_COLLECT", "split_distribute ", " split_collect", ""}) {
        const bool known = std::string(name) == "split_distribute" || std::string(name) == "split_collect";
        void* component = &host;
        int err = 0;
        EXPECT_EQ(api().cf_create_component(context.record(), name, &component, &err), known ? 0u : 1u) << name;
        if (known) {
            EXPECT_NE(component, static_cast<void*>(&host));
            EXPECT_EQ(api().cf_destroy_component(component, &err), 0u);
            component = nullptr;
            ASSERT_EQ(api().cf_create_component(nullptr, name, &component, &err), 0u) << name;
            ASSERT_NE(component, nullptr) << name;
            EXPECT_EQ(api().cf_component_configure(component, &err), 1u) << name;
            EXPECT_NE(api().cf_component_beginExecution(component, context.progress(), &err), 0u) << name;
            size_t needed = 0;
            EXPECT_EQ(api().cf_component_getMessages(component, nullptr, 0, &needed, &err), 13u) << name;
            EXPECT_EQ(api().cf_destroy_component(component, &err), 0u) << name;
        } else {
            EXPECT_EQ(err, 240001) << name;
            EXPECT_EQ(component, static_cast<void*>(&host)) << name;  // slot unwritten
        }
    }
}

// A call of one kind of component made on the other kind is refused.
TEST_F(EntryPoints, CallsMeantForTheOtherKindOfComponentAreRefused) {
    refhost::Worker worker;
    CFIterator* iterator = nullptr;
    for (const std::string name : {"split_distribute", "split_collect"}) {
        void* component = nullptr;
        int err = 0;
        ASSERT_EQ(api().cf_create_component(context.record(), name.c_str(), &component, &err), 0u);
        EXPECT_EQ(name == "split_distribute"
                      ? api().cf_collect_completedWorkerTask(component, worker.record(), &err)
                      : api().cf_distribute_getIterator(component, worker.record(), 0, &iterator, &err), 1u) << name;
        EXPECT_EQ(iterator, nullptr);
        EXPECT_EQ(api().cf_destroy_component(component, &err), 0u);
    }
}

TEST_F(EntryPoints, InitialiseKeepsThePreviousHostOnNull) {
    EXPECT_EQ(api().cf_initialise(nullptr), 2u);
    cf_status status = 99;
    module.moduleInformation(&status);
    EXPECT_EQ(status, 0u);  // still bound to the host given first
    refhost::Host other;
    EXPECT_EQ(api().cf_initialise(other.record()), 0u);
    EXPECT_EQ(api().cf_cleanup(), 0u);
    module.executionRequirements(&status);
    EXPECT_EQ(status, 0u);  // cleanup keeps the host
    EXPECT_EQ(module.initialise(host), 0u);
}

// The documents behind the module's texts are disposed once written, also
// when an allocation fails on the way; what an execution planned (worker
// table, data helper) is let go at its end: a component then gives back on
// destruction what a configured one does.
TEST_F(EntryPoints, NothingOutlivesTheCallOrExecutionThatMadeIt) {
    splittest::DistributeHarness configured(splittest::ThreeGroups(), {"k"}), ran(splittest::ThreeGroups(), {"k"});
    char buffer[512];
    size_t needed = 0;
    int err = 0;
    const std::function<cf_status()> calls[] = {
        [&] { return api().cf_getModuleInformation(buffer, sizeof buffer, &needed, &err); },
        [&] { return api().cf_component_getExecutionRequirements(ran.component->handle(), buffer, sizeof buffer, &needed); }};
    for (const auto& call : calls) {
        call();  // the first call may set up what every call shares
        for (long failAt = 1, status = 1; status != 0; ++failAt) {  // each allocation of the call fails in turn
            const long before = liveBlocks.load();
            allocationsUntilFailure = failAt;
            status = call();
            allocationsUntilFailure = 0;
            EXPECT_EQ(liveBlocks.load(), before) << failAt;
        }
    }
    ASSERT_EQ(configured.component->configure(&err), 0u);
    ran.RunOnce();
    auto heldBy = [&](splittest::DistributeHarness& run) {  // what destroying the component gives back
        const long before = liveBlocks.load();
        EXPECT_EQ(run.component->destroy(&err), 0u);
        return before - liveBlocks.load();
    };
    EXPECT_EQ(heldBy(ran), heldBy(configured));
}

// Entry points reach a peer's operations by virtual-table slot: a pointer to a virtual member holds one
// plus the slot's byte offset, and the destructor takes the first two slots.
TEST(QorPeerSlots, VirtualOperationsKeepTheirOrder) {
    using QorCF_940::QorPeer;
    auto slot = [](auto member) {
        static_assert(sizeof member == 2 * sizeof(uintptr_t));
        uintptr_t word;
        std::memcpy(&word, &member, sizeof word);
        return (word - 1) / sizeof(void*);
    };
    using SingleBegin = uint32_t (QorPeer::*)(CFIterator*, CFProgress*, int*);
    using ListBegin = uint32_t (QorPeer::*)(const std::vector<CFIterator*>&, CFProgress*, int*);
    const size_t slots[] = {
        slot(&QorPeer::Configure), slot(&QorPeer::GetDataModel), slot(&QorPeer::GetExecutionRequirements),
        slot(&QorPeer::GetInputIterator), slot(static_cast<ListBegin>(&QorPeer::BeginExecution)),
        slot(static_cast<SingleBegin>(&QorPeer::BeginExecution)), slot(&QorPeer::EndExecution),
        slot(&QorPeer::CancelExecution), slot(&QorPeer::NextRecord), slot(&QorPeer::GetRecordValue),
        slot(&QorPeer::GetErrorDetail), slot(&QorPeer::GetPSMControlInformation), slot(&QorPeer::PSMMerge),
        slot(&QorPeer::GetWorkerTask), slot(&QorPeer::GetWorkerDataModel), slot(&QorPeer::GetWorkerIterator),
        slot(&QorPeer::ReadWorkerInputContainer), slot(&QorPeer::FollowOnTaskStartExe),
        slot(&QorPeer::FollowOnTaskEndExe), slot(&QorPeer::GetIteratorRequirements),
        slot(&QorPeer::GetInputFieldsFixed), slot(&QorPeer::GetRecordSynchronizedProcessing),
        slot(&QorPeer::GetWorkerTaskNumber), slot(&QorPeer::MakeSettings)};
    for (size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(slots[i], i + 2) << "operation " << i + 2;
}


// A host operation that throws while a component is destroyed: the other
// clean-up steps still run, and the host learns of it as status 1, err 240003.
TEST(Destruction, ThatThrowsIsReportedAfterEverythingElseIsGivenBack) {
    // nth: among the calls of op made by the destruction
    const struct { const char* component; const char* op; uint64_t nth; size_t liveRecordSets, liveLocks; } cases[] = {
        {"split_distribute", "destroyLock", 1, 0, 1},       // the record sets are still released
        {"split_distribute", "releaseRecordSet", 1, 1, 0},  // the second set and the lock still go
        {"split_collect", "destroyLock", 1, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.component) + " " + c.op);
        splittest::DistributeHarness run(
            splittest::MakeTable({{"k", 1, 3}}, {{refhost::Cell::integer(1)}, {refhost::Cell::integer(2)}}), {"k"},
            c.component);
        int err = 0;
        if (std::string(c.component) == "split_distribute") {
            ASSERT_EQ(run.Begin(), 0u);
            for (refhost::Worker* worker : run.context.workers()) ASSERT_EQ(run.Task(*worker, &err), 0u);
            ASSERT_EQ(run.context.liveRecordSets(), 2u);
        }
        run.host.faults().raise(c.op, c.nth);
        EXPECT_EQ(run.component->destroy(&err), 1u);
        EXPECT_EQ(err, 240003);
        EXPECT_EQ(run.context.liveRecordSets(), c.liveRecordSets);
        const refhost::LockStats locks = run.context.lockStats();
        EXPECT_EQ(locks.created - locks.destroyed, c.liveLocks);
    }
}

}  // namespace

// The module's exported entry points: symbols, null handles, the factory and
// start-up.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"

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
    ASSERT_GT(count, 0u);
    void* library = dlopen(SPLIT_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    for (size_t i = 0; i < count; ++i) EXPECT_NE(dlsym(library, names[i]), nullptr) << names[i];
    EXPECT_NE(dlsym(library, "_Z23cf_getModuleInformationPcmPmPi"), nullptr);
    EXPECT_EQ(dlsym(library, "cf_getModuleInformation"), nullptr);
    // Internals stay hidden.
    EXPECT_EQ(dlsym(library, "_ZN5split11moduleHostE"), nullptr);
    dlclose(library);
}

// A call on a null component and the status it must give.
struct NullCall {
    const char* name;
    cf_status status;
    std::function<cf_status(const refhost::EntryPoints&, int*)> call;
};

TEST_F(EntryPoints, NullComponentIsRefusedWithoutTouchingArguments) {
    constexpr int kSentinel = 12345;
    char buffer[8] = "keep";
    size_t needed = 77;
    int64 count = 77;
    void* value = &count;
    CFIterator* iterator = reinterpret_cast<CFIterator*>(&count);
    CFContainerFile* container = reinterpret_cast<CFContainerFile*>(&count);
    refhost::Worker worker;
    CFWorker* w = worker.record();
    const std::vector<NullCall> calls = {
        {"destroy", 0, [&](auto& a, int* e) { return a.cf_destroy_component(nullptr, e); }},
        {"configure", 2, [&](auto& a, int* e) { return a.cf_component_configure(nullptr, e); }},
        {"beginExecution", 2,
         [&](auto& a, int* e) {
             return a.cf_component_beginExecution(nullptr, context.progress(), e);
         }},
        {"endExecution", 2, [&](auto& a, int* e) { return a.cf_component_endExecution(nullptr, e); }},
        {"nextRecord", 2, [&](auto& a, int* e) { return a.cf_component_nextRecord(nullptr, e); }},
        {"getRecordValue", 2,
         [&](auto& a, int* e) {
             return a.cf_component_getRecordValue(nullptr, 0, &value, &needed, e);
         }},
        {"getMessages", 9,
         [&](auto& a, int* e) {
             return a.cf_component_getMessages(nullptr, buffer, sizeof buffer, &needed, e);
         }},
        {"getIteratorRequirements", 2,
         [&](auto& a, int* e) {
             int64* b = &count;
             return a.cf_component_getIteratorRequirements(nullptr, &count, &b, &count, e);
         }},
        {"getWorkerTask", 2,
         [&](auto& a, int* e) {
             return a.cf_distribute_getWorkerTask(nullptr, w, buffer, sizeof buffer, &needed,
                                                  buffer, sizeof buffer, &needed, e);
         }},
        {"getWorkerTaskNumber", 0,
         [&](auto& a, int* e) { return a.cf_distribute_getWorkerTaskNumber(nullptr, &count, e); }},
        {"getDataModel", 2,
         [&](auto& a, int* e) {
             return a.cf_distribute_getDataModel(nullptr, w, 0, buffer, sizeof buffer, &needed, e);
         }},
        {"getIterator", 2,
         [&](auto& a, int* e) { return a.cf_distribute_getIterator(nullptr, w, 0, &iterator, e); }},
        {"getContainer", 2,
         [&](auto& a, int* e) {
             return a.cf_distribute_getContainer(nullptr, w, "WorkerInputPMML", &container, e);
         }},
        {"startedWorkerTask", 0,
         [&](auto& a, int* e) { return a.cf_collect_startedWorkerTask(nullptr, w, e); }},
        {"completedWorkerTask", 2,
         [&](auto& a, int* e) { return a.cf_collect_completedWorkerTask(nullptr, w, e); }},
    };
    for (const NullCall& c : calls) {
        int err = kSentinel;
        EXPECT_EQ(c.call(api(), &err), c.status) << c.name;
        EXPECT_EQ(err, kSentinel) << c.name;
        EXPECT_STREQ(buffer, "keep") << c.name;
        EXPECT_EQ(needed, 77u) << c.name;
        EXPECT_EQ(count, 77) << c.name;
        EXPECT_EQ(value, &count) << c.name;
        EXPECT_EQ(static_cast<void*>(iterator), static_cast<void*>(&count)) << c.name;
        EXPECT_EQ(static_cast<void*>(container), static_cast<void*>(&count)) << c.name;
    }
}

TEST_F(EntryPoints, FactoryMatchesNamesExactly) {
    struct Case {
        const char* name;
        cf_status status;
    };
    for (const Case& c : {Case{"split_distribute", 0}, Case{"split_collect", 0}, Case{"split", 1},
                          Case{"Split_Distribute", 1}, Case{"SPLIT_COLLECT", 1},
                          Case{"split_distribute ", 1}, Case{" split_collect", 1},
                          Case{"split_distributex", 1}, Case{"", 1}}) {
        void* component = &host;
        int err = 0;
        EXPECT_EQ(api().cf_create_component(context.record(), c.name, &component, &err), c.status)
            << c.name;
        if (c.status == 0) {
            EXPECT_NE(component, static_cast<void*>(&host)) << c.name;
            EXPECT_EQ(api().cf_destroy_component(component, &err), 0u) << c.name;
        } else {
            EXPECT_EQ(err, 240001) << c.name;
            EXPECT_EQ(component, static_cast<void*>(&host)) << c.name;  // slot unwritten
        }
    }
    void* component = &host;
    int err = 0;
    EXPECT_EQ(api().cf_create_component(context.record(), nullptr, &component, &err), 1u);
    EXPECT_EQ(err, 240001);
}

TEST_F(EntryPoints, InitialiseKeepsThePreviousHostOnNull) {
    EXPECT_EQ(api().cf_initialise(nullptr), 2u);
    cf_status status = 99;
    EXPECT_FALSE(module.moduleInformation(&status).empty());
    EXPECT_EQ(status, 0u);  // still bound to the host given first

    refhost::Host other;
    EXPECT_EQ(api().cf_initialise(other.record()), 0u);
    EXPECT_EQ(api().cf_cleanup(), 0u);
    EXPECT_FALSE(module.executionRequirements(&status).empty());
    EXPECT_EQ(status, 0u);  // cleanup keeps the host
    EXPECT_EQ(module.initialise(host), 0u);
}

TEST_F(EntryPoints, StartedWorkerTaskAcceptsAnything) {
    refhost::Component collect(module, context, "split_collect");
    refhost::Worker worker;
    int err = 5;
    EXPECT_EQ(api().cf_collect_startedWorkerTask(collect.handle(), worker.record(), &err), 0u);
    EXPECT_EQ(api().cf_collect_startedWorkerTask(nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(api().cf_collect_startedWorkerTask(&err, reinterpret_cast<CFWorker*>(&err), &err),
              0u);
    EXPECT_EQ(err, 5);
}

TEST_F(EntryPoints, ComponentSpecificCallsRefuseTheOtherComponent) {
    refhost::Component distribute(module, context, "split_distribute");
    refhost::Component collect(module, context, "split_collect");
    refhost::Worker worker;
    CFIterator* iterator = nullptr;
    CFContainerFile* container = nullptr;
    int err = 0;
    EXPECT_EQ(api().cf_distribute_getIterator(collect.handle(), worker.record(), 0, &iterator, &err),
              1u);
    EXPECT_EQ(api().cf_distribute_getContainer(collect.handle(), worker.record(),
                                               "WorkerInputPMML", &container, &err),
              1u);
    EXPECT_EQ(api().cf_collect_completedWorkerTask(distribute.handle(), worker.record(), &err), 1u);
    // The distribute calls that dispatch virtually reach the base on a collect.
    std::string first;
    std::string second;
    EXPECT_EQ(collect.getWorkerTask(worker, &first, &second, &err), 30u);
}

}  // namespace

// Completed worker tasks delivered from many threads at once through the
// module's entry point: every group is recorded once, sections never
// interleave and every output entry is whole.
#include <set>
#include <thread>

#include "collect_support.h"
#include "refhost/module.h"

using namespace collecttest;

namespace {

constexpr size_t kTasks = 1000;
constexpr size_t kThreads = 8;

using Concurrency = PeerFixture;

TEST_F(Concurrency, ThousandTasksFromEightThreads) {
    refhost::Module module(SPLIT_MODULE_PATH);
    ASSERT_EQ(module.initialise(host), 0u);
    refhost::Component collect(module, *context, "split_collect");
    ASSERT_EQ(collect.configure() + collect.beginExecution(), 0u);
    for (size_t i = 0; i < kTasks; ++i) {
        const std::string n = std::to_string(i);
        AddWorker({{"region", "g" + n}, {"channel", "c" + n}}, WorkerStatXML("m" + n, "b" + n), WorkerPMML("t" + n));
    }
    std::vector<uint32_t> statuses(kTasks, 99);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < kTasks; i += kThreads) {
                int err = 0;
                statuses[i] = collect.completedWorkerTask(*workers[i], 0, &err);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(statuses, std::vector<uint32_t>(kTasks, 0));
    ASSERT_EQ(collect.endExecution(), 0u);
    EXPECT_TRUE(collect.messages().empty());
    EXPECT_EQ(context->lockStats().held + context->lockStats().misuses, 0u);

    // Every group entry is whole and holds its own group's texts: its value
    // g<n> and its build setting b<n> or model name t<n>.
    for (const auto& [name, own] : {std::pair{"StatXML", "\"b"}, std::pair{"PMML", "\"t"}}) {
        const std::vector<refhost::Entry> entries = context->container(name).entries();
        ASSERT_EQ(entries.size(), kTasks + 1);
        std::set<std::string> keys;
        for (size_t e = 0; e < kTasks; ++e) {
            ASSERT_TRUE(entries[e].complete);
            keys.insert(entries[e].key);
            const std::string n = entries[e].key.substr(1), text = entries[e].data;
            EXPECT_NE(Outline(text), "");  // parses
            for (const std::string& value : {"\"g" + n + "\"", own + n + "\""})
                EXPECT_NE(text.find(value), std::string::npos) << name << " " << value;
        }
        EXPECT_EQ(keys.size(), kTasks) << name;
    }

    // Every group appears once in the combined document, each section whole.
    const std::string root = context->container("StatXML").entries().back().data;
    EXPECT_EQ(root, context->container("PMML").entries().back().data);
    XMLDocument combined = Parse(root);
    EXPECT_EQ(combined.getElementsDirect("BuildSettings").count(), 1u);
    EXPECT_EQ(combined.getElementsDirect("SplitGroup").count(), kTasks);
    std::set<std::string> seen;
    for (auto groups = combined.getElementsDirect("SplitGroup"); groups.hasMore();) {
        const XMLElement group = groups.next();
        const std::string n = group.getElementsDirect("SplitField").next().getAttribute("value").substr(1);
        EXPECT_EQ(Outline(group, 2), "SplitGroup(SplitField{name=region value=g" + n + " isNull=false} SplitField{"
                                     "name=channel value=c" + n + " isNull=false} ModelSummary{modelID=m" + n +
                                     " segmentID=s1}(PredictiveSummary{name=accuracy value=0.9} PredictiveSummary{"
                                     "name=auc value=0.8}))");
        seen.insert(n);
    }
    EXPECT_EQ(seen.size(), kTasks);
}

}  // namespace

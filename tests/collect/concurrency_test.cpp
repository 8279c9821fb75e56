// Completed worker tasks delivered from many threads at once through the
// module's entry point: every group is recorded once, sections never
// interleave and every output entry is whole.
#include <map>
#include <set>
#include <thread>

#include "collect_support.h"
#include "refhost/component.h"
#include "refhost/module.h"

using namespace collecttest;
using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;

namespace {

constexpr size_t kTasks = 1000;
constexpr size_t kThreads = 8;

// Reads one attribute of the first element met along a path of direct
// children.
std::string AttributeAt(const XMLElement& from, const std::vector<std::string>& path,
                        const std::string& attribute) {
    XMLElement element = from;
    for (const std::string& name : path) {
        auto children = element.getElementsDirect(name);
        if (!children.hasMore()) return "<missing " + name + ">";
        element = children.next();
    }
    return element.getAttribute(attribute);
}

TEST(Concurrency, ThousandTasksFromEightThreads) {
    refhost::Host host;
    refhost::Module module(SPLIT_MODULE_PATH);
    ASSERT_EQ(module.initialise(host), 0u);
    refhost::Context context(host);
    context.setDataModel(InputDataModel());
    refhost::Component collect(module, context, "split_collect");
    ASSERT_EQ(collect.configure(), 0u);
    ASSERT_EQ(collect.beginExecution(), 0u);

    std::vector<std::unique_ptr<refhost::Worker>> workers;
    for (size_t i = 0; i < kTasks; ++i) {
        workers.push_back(std::make_unique<refhost::Worker>(static_cast<int64_t>(i)));
        const std::string n = std::to_string(i);
        workers[i]->setTask("", TaskDocument({{"region", "g" + n}, {"channel", "c" + n}}));
        workers[i]->container("WorkerStatXML").setDefaultEntry(WorkerStatXML("m" + n, "b" + n));
        workers[i]->container("WorkerPMML").setDefaultEntry(WorkerPMML("t" + n));
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
    for (size_t i = 0; i < kTasks; ++i) ASSERT_EQ(statuses[i], 0u) << i;
    ASSERT_EQ(collect.endExecution(), 0u);
    EXPECT_TRUE(collect.messages().empty());
    const refhost::LockStats locks = context.lockStats();
    EXPECT_EQ(locks.held, 0u);
    EXPECT_EQ(locks.misuses, 0u);

    CfCppHelperV1::HostHelper helper(host.record());
    // Every group entry is whole and belongs to its key.
    for (const char* name : {"StatXML", "PMML"}) {
        SCOPED_TRACE(name);
        const std::vector<refhost::Entry> entries = context.container(name).entries();
        ASSERT_EQ(entries.size(), kTasks + 1);
        std::set<std::string> keys;
        for (size_t e = 0; e < kTasks; ++e) {
            const refhost::Entry& entry = entries[e];
            ASSERT_TRUE(entry.complete);
            keys.insert(entry.key);
            const std::string n = entry.key.substr(1);
            XMLDocument document = helper.createFromContents(entry.data);
            if (std::string(name) == "StatXML") {
                EXPECT_EQ(AttributeAt(document, {"SplitGroup", "SplitField"}, "value"), "g" + n);
                EXPECT_EQ(AttributeAt(document, {"BuildSettings"}, "algorithm"), "b" + n);
            } else {
                EXPECT_EQ(AttributeAt(document, {"MiningBuildTask", "Extension", "DataField", "Value"}, "value"),
                          "g" + n);
                EXPECT_EQ(AttributeAt(document, {"TreeModel"}, "modelName"), "t" + n);
            }
            document.dispose();
        }
        EXPECT_EQ(keys.size(), kTasks);
    }

    // Every group appears once in the combined document, each section whole.
    const std::string root = context.container("StatXML").entries().back().data;
    EXPECT_EQ(root, context.container("PMML").entries().back().data);
    XMLDocument combined = helper.createFromContents(root);
    auto groups = combined.getElementsDirect("SplitGroup");
    EXPECT_EQ(groups.count(), kTasks);
    std::set<std::string> seen;
    while (groups.hasMore()) {
        XMLElement group = groups.next();
        auto fields = group.getElementsDirect("SplitField");
        ASSERT_EQ(fields.count(), 2u);
        const std::string n = fields.next().getAttribute("value").substr(1);
        EXPECT_EQ(fields.next().getAttribute("value"), "c" + n);
        EXPECT_EQ(AttributeAt(group, {"ModelSummary"}, "modelID"), "m" + n);
        EXPECT_EQ(group.getElementsDirect("ModelSummary").next().getElementsDirect("PredictiveSummary").count(), 2u);
        EXPECT_EQ(group.getElementsDirect("").count(), 3u);
        seen.insert(n);
    }
    EXPECT_EQ(seen.size(), kTasks);
    EXPECT_EQ(combined.getElementsDirect("BuildSettings").count(), 1u);
    combined.dispose();
}

}  // namespace

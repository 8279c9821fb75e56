// Hostile documents in every collect parse (data model, task, StatXML, PMML), each on a fresh component on a small stack
// after a regular group: it ends in its own status and section (or none), the regular group and deep parts stay whole,
// and the next execution runs. Only texts that do not parse or need undone declarations are refused.
#include <optional>

#include "collect_support.h"
#include "common/small_stack.h"
#include "refhost/module.h"

using namespace collecttest;
using namespace smallstack;

namespace {

// Status of the hand-in (of configure and begin for a data model), the group's section, whether its PMML is stored.
struct Outcome { uint32_t status; const char* section; bool pmmlStored; };
constexpr Outcome kRefused{5, "failure", false}, kAccepted{0, "summary", true};

constexpr size_t kHugeBytes = kUnderTsan ? 4 << 20 : 24 << 20;

const std::string kBomb = "<!DOCTYPE d [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
                          "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]>";
const std::string kDtd = R"(<!DOCTYPE StatXML SYSTEM "file:///etc/passwd">)";
const std::string kModel = R"(<PMMLModel modelID="m" modelType="TreeModel" isActive="true">)"
                           R"(<PredictiveSummary name="auc" value="0.8"/></PMMLModel>)";
std::string StatXML(const std::string& body) { return R"(<StatXML version="1.0">)" + body + "</StatXML>"; }
std::string Huge(const std::string& body = "") { return "<Note text=\"" + std::string(kHugeBytes, 'x') + "\"/>" + body; }
std::string Descriptive(size_t depth) { return "<DescriptiveModel>" + Nested(depth) + "</DescriptiveModel>"; }
std::string DataModelWith(const std::string& prolog, const std::string& formats) {
    std::string text = kInputDataModel;
    return prolog + text.insert(text.find("<FieldFormats>") + 14, formats);
}

// name: also the group's region value, unless the task or filedUnder names another; statXML, pmml:
// nullopt when the worker has no such container; task, dataModel: empty for the regular ones; deepPath:
// names leading from the combined document's root (the last of each name) to what nests the deep part.
struct HostileCase {
    const char* name; std::optional<std::string> statXML = WorkerStatXML("m"), pmml = WorkerPMML("t");
    std::string task = "", dataModel = ""; Outcome outcome = kRefused; std::string filedUnder = "";
    std::vector<std::string> deepPath = {};
};

std::vector<HostileCase> Cases() {
    const std::string statXML = WorkerStatXML("m");
    std::string zeroByte = statXML;
    zeroByte[statXML.find("<PMMLModel") + 3] = '\0';
    const std::string deepTask = R"(<SplitFields><SplitField name="region" value="deep task" isNull="false"><More>)" +
                                 Nested(kDeep) + "</More></SplitField></SplitFields>";
    const std::string deepPart = Nested(kDeep, "<end/>");  // kDeep + 1 levels
    const std::string forged = R"(<SplitGroup><SplitField name="region" value="forged" isNull="false"/></SplitGroup>)";
    return {
        {.name = "bomb in the data model", .dataModel = DataModelWith(kBomb, "<F v='&d;'/>")},
        {.name = "zero byte in the data model", .dataModel = DataModelWith("", std::string("<F v='\0'/>", 10))},
        {.name = "deep data model", .dataModel = DataModelWith("", deepPart), .outcome = kAccepted,
         .deepPath = {"DataModel", "FieldFormats"}},
        {.name = "deep task", .task = deepTask, .outcome = kAccepted},
        {.name = "task with DTD", .task = kDtd + TaskDocument({{"region", "task with DTD"}}), .outcome = kAccepted},
        {.name = "task Latin-1", .task = TaskDocument({{"region", "task M\xFCnchen\x01"}}), .outcome = kAccepted},
        {.name = "task bomb", .task = kBomb + TaskDocument({{"region", "&d;"}}), .outcome = {5, nullptr, false}},
        {.name = "huge split value", .task = TaskDocument({{"region", std::string(kHugeBytes, 'v')}}), .outcome = kAccepted},
        {.name = "unexpected group", .task = TaskDocument({{"region", "unexpected group"}, {"channel", "zzz"}}),
         .outcome = kAccepted},
        {.name = "no documents", .statXML = std::nullopt, .pmml = std::nullopt, .outcome = {1, "failure", false}},
        {.name = "success without PMML", .pmml = std::nullopt, .outcome = {1, "summary", false}},
        {.name = "bomb in the StatXML", .statXML = kBomb + "<StatXML><PMMLModel v='&d;'/></StatXML>"},
        {.name = "huge", .statXML = StatXML(Huge(kModel)), .pmml = "<PMML>" + Huge() + "</PMML>", .outcome = kAccepted},
        {.name = "deep StatXML", .statXML = StatXML("<BuildSettings>" + deepPart + R"(</BuildSettings><PMMLModel )"
             R"(modelID="m" isActive="true"><PredictiveSummary name="auc">)" + deepPart + "</PredictiveSummary></PMMLModel>"),
         .outcome = kAccepted, .deepPath = {"SplitGroup", "ModelSummary", "PredictiveSummary"}},
        {.name = "PMML nested 200,000 deep", .pmml = "<PMML>" + Descriptive(200000) + "</PMML>", .outcome = kAccepted},
        {.name = "nested unclosed", .statXML = StatXML(Descriptive(200000)).substr(0, 600000)},
        {.name = "zero byte", .statXML = zeroByte},
        // The group's section copies the worker's first split group, here the worker's own.
        {.name = "worker's own split group", .statXML = StatXML(forged + kModel), .outcome = kAccepted, .filedUnder = "forged"},
        {.name = "StatXML as PMML", .pmml = statXML, .outcome = kAccepted},
    };
}

class HostileDocuments : public PeerFixture {
protected:
    Strings SectionsOf(const XMLDocument& combined, const std::string& region) {
        Strings kinds;
        for (auto groups = combined.getElementsDirect("SplitGroup"); groups.hasMore();) {
            const XMLElement group = groups.next();
            if (group.getElementsDirect("SplitField").next().getAttribute("value") != region) continue;
            const std::string names = ChildNames(group);
            kinds.push_back(names.ends_with("ModelSummary") ? "summary" : names.ends_with("Message") ? "failure" : names);
        }
        return kinds;
    }
    refhost::Worker& Regular(const std::string& r) { return AddWorker({{"region", r}, {"channel", "c"}}, WorkerStatXML(r), WorkerPMML(r)); }
    std::optional<refhost::Entry> Keyed(const char* container, const std::string& key) {
        for (const refhost::Entry& entry : context->container(container).entries())
            if (entry.key == key) return entry;
        return std::nullopt;
    }

    void Run(refhost::Module& module, const HostileCase& c) {
        SCOPED_TRACE(c.name);  // the trace of the calling thread does not reach this one
        const Outcome& o = c.outcome;
        if (!c.dataModel.empty()) context->setDataModel(c.dataModel);
        refhost::Component collect(module, *context, "split_collect");
        uint32_t begun = collect.configure();
        if (begun == 0 && (begun = collect.beginExecution()) != 0) collect.endExecution();  // releases what begin made
        EXPECT_EQ(begun, c.dataModel.empty() ? 0u : o.status);
        if (begun != 0) return;

        refhost::Worker& hostile = AddWorker({{"region", c.name}, {"channel", "c"}}, "", "");
        if (!c.task.empty()) hostile.setTask("", c.task);
        if (c.statXML) hostile.container("WorkerStatXML").setDefaultEntry(*c.statXML);
        if (c.pmml) hostile.container("WorkerPMML").setDefaultEntry(*c.pmml);
        EXPECT_EQ(collect.completedWorkerTask(Regular("good"), 0), 0u);
        int err = 0;
        EXPECT_EQ(collect.completedWorkerTask(hostile, 0, &err), c.dataModel.empty() ? o.status : 0u);
        ASSERT_EQ(collect.endExecution(), 0u);
        for (const refhost::Message& message : collect.messages()) ADD_FAILURE() << refhost::Host::describe(message);

        const std::string root = context->container("StatXML").entries().back().data;
        EXPECT_EQ(root, context->container("PMML").entries().back().data);
        XMLDocument combined = Parse(root);
        const std::string region = !c.filedUnder.empty()                 ? c.filedUnder
                                   : !o.section || c.task.empty() ? c.name
                                   : Parse(c.task).getElementsDirect("SplitField").next().getAttribute("value");
        EXPECT_EQ(SectionsOf(combined, region), o.section ? Strings{o.section} : Strings{});
        EXPECT_EQ(Keyed("StatXML", "m").has_value(), o.section && std::string(o.section) == "summary");
        const std::optional<refhost::Entry> storedPMML = Keyed("PMML", "m");
        EXPECT_EQ(storedPMML.has_value(), o.pmmlStored);
        EXPECT_TRUE(!storedPMML || Parse(storedPMML->data).getElementsDirect("MiningBuildTask").count() == 1u);
        // The regular group: one summary, and whole entries of its own.
        EXPECT_EQ(SectionsOf(combined, "good"), Strings{"summary"});
        for (const std::string name : {"StatXML", "PMML"}) {
            const std::optional<refhost::Entry> good = Keyed(name.c_str(), "good");
            ASSERT_TRUE(good && good->complete) << name;
            const char* own = name == "PMML" ? "TreeModel{modelName=good " : "SplitField{name=region value=good ";
            EXPECT_NE(Outline(good->data).find(own), std::string::npos) << name;
        }
        XMLElement deep = combined;
        for (const std::string& name : c.deepPath)
            for (auto last = deep.getElementsDirect(name); last.hasMore();) deep = last.next();
        EXPECT_EQ(c.deepPath.empty() ? kDeep + 1 : DepthBelow(deep), kDeep + 1);

        ASSERT_EQ(collect.beginExecution(), 0u);  // the component carries on
        EXPECT_EQ(collect.completedWorkerTask(Regular("next"), 0), 0u);
        ASSERT_EQ(collect.endExecution(), 0u);
        EXPECT_EQ(Keys("StatXML"), (Strings{"next", "rootStatXML"}));
        EXPECT_EQ(context->lockStats().held + context->lockStats().misuses, 0u);
    }
};

TEST_F(HostileDocuments, EachEndsInItsGroupsOwnStatusAndSection) {
    refhost::Module module(SPLIT_MODULE_PATH);
    ASSERT_EQ(module.initialise(host), 0u);
    for (const HostileCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        OnSmallStack([&] { Run(module, c); });
        Reset();
    }
}

}  // namespace

// Hostile and unusual documents in everything the collect component parses:
// the input data model, the worker task and the worker's StatXML and PMML.
// Each case runs a fresh component through the module's entry points on a
// thread with a small stack (a walk that recurses per level fails there):
// the case's group is handed in after a regular one, and it must end in its
// status and its own section (or none) while the regular group stays whole,
// deep parts copied into the combined document stay whole, and the next
// execution runs. Well-formed texts are processed however deep they nest and
// whatever bytes their values hold; only texts that do not parse, or that
// need declarations this host's parser does not apply, are refused.
#include <optional>

#include "collect_support.h"
#include "common/small_stack.h"
#include "refhost/module.h"

using namespace collecttest;
using namespace smallstack;

namespace {

enum class Section { None, Failure, Summary };

// Huge texts: tens of megabytes, fewer under ThreadSanitizer.
constexpr size_t kHugeBytes = kUnderTsan ? 4 << 20 : 24 << 20;

const std::string kBomb = "<!DOCTYPE d [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
                          "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]>";
const std::string kDtd = R"(<!DOCTYPE StatXML SYSTEM "file:///etc/passwd">)";
const std::string kModel = R"(<PMMLModel modelID="m" modelType="TreeModel" isActive="true">)"
                           R"(<PredictiveSummary name="auc" value="0.8"/></PMMLModel>)";
std::string StatXML(const std::string& body) { return R"(<StatXML version="1.0">)" + body + "</StatXML>"; }
std::string Huge(const std::string& body = "") {  // a note of kHugeBytes bytes, then body
    return "<Note text=\"" + std::string(kHugeBytes, 'x') + "\"/>" + body;
}
std::string Descriptive(size_t depth) { return "<DescriptiveModel>" + Nested(depth) + "</DescriptiveModel>"; }
// Build settings and the chosen model's summary nested depth deep; both are
// copied into the combined document.
std::string DeepStatXML(size_t depth) {
    return StatXML("<BuildSettings>" + Nested(depth, "<end/>") + R"(</BuildSettings><PMMLModel modelID="m" )"
                   R"(isActive="true"><PredictiveSummary name="auc">)" + Nested(depth, "<end/>") +
                   "</PredictiveSummary></PMMLModel>");
}
// The input data model with something placed inside its FieldFormats.
std::string DataModelWith(const std::string& prolog, const std::string& formats) {
    std::string text = kInputDataModel;
    return prolog + text.insert(text.find("<FieldFormats>") + 14, formats);
}

struct HostileCase {
    const char* name;  // also the group's region value, unless the task names another
    std::optional<std::string> statXML = WorkerStatXML("m");  // nullopt: the worker has no such container
    std::optional<std::string> pmml = WorkerPMML("t");
    std::string task = "";        // empty: the group's regular task
    uint32_t status = 5;          // of the hand-in; with a data model, of configure and begin
    Section section = Section::Failure;
    bool pmmlStored = false;
    std::string dataModel = "";   // empty: the regular input data model
    std::string filedUnder = "";  // the value the section is filed under, when not the group's own
    // Names leading from the root output's root (the last element of each
    // name) to an element whose first children must nest the whole deep part,
    // and the levels they take.
    std::vector<std::string> deepPath = {};
    size_t deepLevels = 0;
};

std::vector<HostileCase> Cases() {
    const std::string statXML = WorkerStatXML("m"), pmml = WorkerPMML("t");
    std::string zeroByte = statXML, hugeCut = StatXML(Huge(kModel));
    zeroByte[statXML.find("<PMMLModel") + 3] = '\0';
    hugeCut.resize(hugeCut.size() - 20);
    const std::string deepTask = R"(<SplitFields><SplitField name="region" value="deep task" isNull="false"><More>)" +
                                 Nested(kDeep) + "</More></SplitField></SplitFields>";
    const std::string forged = R"(<SplitGroup><SplitField name="region" value="forged" isNull="false"/></SplitGroup>)";
    return {
        {.name = "bomb in the data model", .dataModel = DataModelWith(kBomb, "<F v='&d;'/>")},
        {.name = "zero byte in the data model", .dataModel = DataModelWith("", std::string("<F v='\0'/>", 10))},
        {.name = "deep data model", .status = 0, .section = Section::Summary, .pmmlStored = true,
         .dataModel = DataModelWith("", Nested(kDeep, "<end/>")), .deepPath = {"DataModel", "FieldFormats"},
         .deepLevels = kDeep + 1},
        {.name = "deep task", .task = deepTask, .status = 0, .section = Section::Summary, .pmmlStored = true},
        {.name = "task with DTD", .task = kDtd + TaskDocument({{"region", "task with DTD"}}), .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "task Latin-1", .task = TaskDocument({{"region", "task M\xFCnchen\x01"}}), .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "task bomb", .task = kBomb + TaskDocument({{"region", "&d;"}}), .section = Section::None},
        {.name = "huge split value", .task = TaskDocument({{"region", std::string(kHugeBytes, 'v')}}), .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "unknown split field", .task = TaskDocument({{"region", "unknown split field"}, {"planet", "mars"}})},
        {.name = "unexpected group", .task = TaskDocument({{"region", "unexpected group"}, {"channel", "zzz"}}),
         .status = 0, .section = Section::Summary, .pmmlStored = true},
        {.name = "malformed", .statXML = "<StatXML><PMMLModel modelID=\"m\""},
        {.name = "no documents", .statXML = std::nullopt, .pmml = std::nullopt, .status = 1},
        {.name = "empty documents", .statXML = "", .pmml = "", .status = 1},
        {.name = "success without PMML", .pmml = std::nullopt, .status = 1, .section = Section::Summary},
        {.name = "bomb in the StatXML", .statXML = kBomb + "<StatXML><PMMLModel v='&d;'/></StatXML>"},
        {.name = "huge", .statXML = StatXML(Huge(kModel)), .pmml = "<PMML>" + Huge() + "</PMML>", .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "huge cut short", .statXML = hugeCut},
        {.name = "deep StatXML", .statXML = DeepStatXML(kDeep), .status = 0, .section = Section::Summary,
         .pmmlStored = true, .deepPath = {"SplitGroup", "ModelSummary", "PredictiveSummary"},
         .deepLevels = kDeep + 1},
        {.name = "PMML nested 200,000 deep", .pmml = "<PMML>" + Descriptive(200000) + "</PMML>", .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "nested unclosed", .statXML = StatXML(Descriptive(200000)).substr(0, 600000)},
        {.name = "DTD in PMML", .pmml = kDtd + pmml, .status = 0, .section = Section::Summary, .pmmlStored = true},
        {.name = "not UTF-8", .statXML = StatXML(R"(<Note text="bad )" "\xC3\x28\xFF" R"("/>)" + kModel),
         .status = 0, .section = Section::Summary, .pmmlStored = true},
        {.name = "declared Latin-1", .statXML = "<?xml version='1.0' encoding='ISO-8859-1'?>" +
                                                StatXML("<Note text='M\xFCnchen'/>" + kModel),
         .status = 0, .section = Section::Summary, .pmmlStored = true},
        {.name = "zero byte", .statXML = zeroByte},
        {.name = "control character", .statXML = StatXML("<Note text=\"bell \x07\"/>" + kModel), .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        {.name = "PMML control character", .pmml = "<PMML><Header copyright=\"\x1b[2J\"/></PMML>", .status = 0,
         .section = Section::Summary, .pmmlStored = true},
        // The group's section copies the worker's first split group, which
        // here is the worker's own.
        {.name = "worker's own split group", .statXML = StatXML(forged + kModel), .status = 0,
         .section = Section::Summary, .pmmlStored = true, .filedUnder = "forged"},
        {.name = "PMML as StatXML", .statXML = pmml},
        {.name = "StatXML as PMML", .pmml = statXML, .status = 0, .section = Section::Summary, .pmmlStored = true},
    };
}

class HostileDocuments : public PeerFixture {
protected:
    // The kinds of the sections of the combined document for this region.
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
    std::optional<refhost::Entry> Keyed(const char* container, const std::string& key) {
        for (const refhost::Entry& entry : context->container(container).entries())
            if (entry.key == key) return entry;
        return std::nullopt;
    }

    void Run(refhost::Module& module, const HostileCase& c) {
        SCOPED_TRACE(c.name);  // the trace of the calling thread does not reach this one
        if (!c.dataModel.empty()) context->setDataModel(c.dataModel);
        refhost::Component collect(module, *context, "split_collect");
        uint32_t begun = collect.configure();
        if (begun == 0) {
            begun = collect.beginExecution();
            if (begun != 0) collect.endExecution();  // releases what the begin made
        }
        EXPECT_EQ(begun, c.dataModel.empty() ? 0u : c.status);
        if (begun != 0) return;

        refhost::Worker& hostile = AddWorker({{"region", c.name}, {"channel", "c"}}, "", "");
        if (!c.task.empty()) hostile.setTask("", c.task);
        if (c.statXML) hostile.container("WorkerStatXML").setDefaultEntry(*c.statXML);
        if (c.pmml) hostile.container("WorkerPMML").setDefaultEntry(*c.pmml);
        EXPECT_EQ(collect.completedWorkerTask(AddWorker({{"region", "good"}, {"channel", "c"}},
                                                        WorkerStatXML("good"), WorkerPMML("good")), 0), 0u);
        int err = 0;
        EXPECT_EQ(collect.completedWorkerTask(hostile, 0, &err), c.dataModel.empty() ? c.status : 0u);
        ASSERT_EQ(collect.endExecution(), 0u);
        for (const refhost::Message& message : collect.messages()) ADD_FAILURE() << refhost::Host::describe(message);

        const std::vector<refhost::Entry> statXML = context->container("StatXML").entries();
        XMLDocument combined = Parse(statXML.back().data);
        EXPECT_EQ(statXML.back().data, context->container("PMML").entries().back().data);
        const std::string region = !c.filedUnder.empty()                 ? c.filedUnder
                                   : c.section == Section::None || c.task.empty() ? c.name
                                   : Parse(c.task).getElementsDirect("SplitField").next().getAttribute("value");
        const char* const kinds[] = {nullptr, "failure", "summary"};
        EXPECT_EQ(SectionsOf(combined, region),
                  c.section == Section::None ? Strings{} : Strings{kinds[static_cast<int>(c.section)]});
        EXPECT_EQ(Keyed("StatXML", "m").has_value(), c.section == Section::Summary);
        const std::optional<refhost::Entry> storedPMML = Keyed("PMML", "m");
        EXPECT_EQ(storedPMML.has_value(), c.pmmlStored);
        if (storedPMML) {
            EXPECT_EQ(Parse(storedPMML->data).getElementsDirect("MiningBuildTask").count(), 1u);
        }
        // The regular group: one summary, and whole entries of its own.
        EXPECT_EQ(SectionsOf(combined, "good"), Strings{"summary"});
        for (const std::string name : {"StatXML", "PMML"}) {
            const std::optional<refhost::Entry> good = Keyed(name.c_str(), "good");
            ASSERT_TRUE(good && good->complete) << name;
            EXPECT_NE(Outline(good->data).find(name == "PMML" ? "TreeModel{modelName=good "
                                                              : "SplitField{name=region value=good "),
                      std::string::npos) << name;
        }
        XMLElement deep = combined;
        for (const std::string& name : c.deepPath)
            for (auto last = deep.getElementsDirect(name); last.hasMore();) deep = last.next();
        if (!c.deepPath.empty()) {
            EXPECT_EQ(DepthBelow(deep), c.deepLevels);
        }

        ASSERT_EQ(collect.beginExecution(), 0u);  // the component carries on
        EXPECT_EQ(collect.completedWorkerTask(AddWorker({{"region", "next"}, {"channel", "c"}}, WorkerStatXML("next"),
                                                        WorkerPMML("next")), 0), 0u);
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
        PeerFixture::TearDown();
        PeerFixture::SetUp();
    }
}

}  // namespace

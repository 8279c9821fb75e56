// Worker outputs written to do harm, handed in through the module's entry
// point among well-behaved groups: each ends as its own group's failure
// section (or is refused before it names a group) while the other groups'
// models stay whole, and the component goes on to the next execution.
#include <optional>

#include "collect_support.h"
#include "refhost/module.h"

using namespace collecttest;

namespace {

enum class Section { None, Failure, Summary };

// Huge worker texts: tens of megabytes, but fewer under ThreadSanitizer,
// which checks every byte of each copy.
#if defined(__SANITIZE_THREAD__)
#define HOSTILE_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HOSTILE_UNDER_TSAN 1
#endif
#endif
#ifdef HOSTILE_UNDER_TSAN
constexpr size_t kHugeBytes = 4 << 20;
#else
constexpr size_t kHugeBytes = 24 << 20;
#endif

// A document of about `bytes` bytes whose bulk is one attribute of a note.
std::string Huge(const std::string& open, const std::string& model, const std::string& close, size_t bytes) {
    return open + "<Note text=\"" + std::string(bytes, 'x') + "\"/>" + model + close;
}
// `depth` nested elements inside a descriptive model.
std::string Deep(size_t depth) {
    std::string nest;
    nest.reserve(depth * 7);
    for (size_t i = 0; i < depth; ++i) nest += "<n>";
    for (size_t i = 0; i < depth; ++i) nest += "</n>";
    return "<DescriptiveModel>" + nest + "</DescriptiveModel>";
}

const std::string kModel = R"(<PMMLModel modelID="m" modelType="TreeModel" isActive="true">)"
                           R"(<PredictiveSummary name="auc" value="0.8"/></PMMLModel>)";
const std::string kStatXMLOpen = R"(<StatXML version="1.0">)";
std::string StatXML(const std::string& body) { return kStatXMLOpen + body + "</StatXML>"; }

struct HostileCase {
    const char* name;  // also the group's region value
    std::optional<std::string> statXML;  // nullopt: the worker has no such container
    std::optional<std::string> pmml;
    std::optional<std::string> task = std::nullopt;  // nullopt: the group's regular task
    uint32_t status = 5;
    Section section = Section::Failure;
    bool pmmlStored = false;
};

std::vector<HostileCase> HostileCases() {
    const std::string statXML = WorkerStatXML("m"), pmml = WorkerPMML("t");
    const std::string laughs = R"(<?xml version="1.0"?><!DOCTYPE StatXML [<!ENTITY a "aaaaaaaaaa">)"
                               R"(<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;">]>)";
    const std::string external = R"(<!DOCTYPE StatXML SYSTEM "file:///etc/passwd">)";
    std::string zeroByte = statXML;
    zeroByte[statXML.find("<PMMLModel") + 3] = '\0';
    std::string hugeCut = Huge(kStatXMLOpen, kModel, "</StatXML>", kHugeBytes);
    hugeCut.resize(hugeCut.size() - 20);
    return {
        {"malformed", "<StatXML><PMMLModel modelID=\"m\"", pmml},
        {"no documents", std::nullopt, std::nullopt, std::nullopt, 1},
        {"empty documents", "", "", std::nullopt, 1},
        {"huge", Huge(kStatXMLOpen, kModel, "</StatXML>", kHugeBytes), Huge("<PMML>", "", "</PMML>", kHugeBytes),
         std::nullopt, 0, Section::Summary, true},
        {"huge cut short", hugeCut, pmml},
        {"nested 900 deep", StatXML(Deep(900) + kModel), "<PMML>" + Deep(900) + "</PMML>", std::nullopt, 0,
         Section::Summary, true},
        {"nested 200,000 deep", StatXML(Deep(200000) + kModel), pmml},
        {"PMML nested 200,000 deep", statXML, "<PMML>" + Deep(200000) + "</PMML>", std::nullopt, 5, Section::Summary},
        {"nested unclosed", kStatXMLOpen + Deep(200000).substr(0, 600000), pmml},
        {"entity expansion", laughs + StatXML("<Note text=\"&c;\"/>" + kModel), pmml},
        {"external entity", external + statXML, pmml},
        {"DTD in PMML", statXML, external + pmml, std::nullopt, 5, Section::Summary},
        {"undefined entity", StatXML("<Note text=\"&xxe;\"/>" + kModel), pmml},
        {"invalid UTF-8", StatXML(R"(<Note text="bad )" "\xC3\x28\xFF" R"("/>)" + kModel), pmml},
        {"zero byte", zeroByte, pmml},
        {"control character", StatXML("<Note text=\"bell \x07\"/>" + kModel), pmml},
        {"PMML control character", statXML, "<PMML><Header copyright=\"\x1b[2J\"/></PMML>", std::nullopt, 5,
         Section::Summary},
        {"forged split group", StatXML(R"(<SplitGroup><SplitField name="region" value="forged" isNull="false"/>)"
                                       R"(</SplitGroup>)" + kModel), pmml, std::nullopt, 0, Section::Summary, true},
        {"text outside the root", statXML + "trailing", pmml},
        {"two roots", statXML + statXML, pmml},
        {"PMML as StatXML", pmml, pmml},
        {"StatXML as PMML", statXML, statXML, std::nullopt, 0, Section::Summary, true},
        {"success without PMML", statXML, std::nullopt, std::nullopt, 1, Section::Summary},
        {"unknown split field", statXML, pmml,
         TaskDocument({{"region", "unknown split field"}, {"planet", "mars"}})},
        {"unexpected group", statXML, pmml, TaskDocument({{"region", "unexpected group"}, {"channel", "zzz"}}), 0,
         Section::Summary, true},
        {"task unparsable", statXML, pmml, "<SplitFields><SplitField name=\"region\"", 5, Section::None},
        {"task with DTD", statXML, pmml, external + TaskDocument({{"region", "task with DTD"}}), 5, Section::None},
        {"task without fields", statXML, pmml, "<Other/>", 5, Section::None},
        {"task invalid UTF-8", statXML, pmml, TaskDocument({{"region", "task invalid UTF-8\xC0\xAF"}}), 5,
         Section::None},
    };
}

class HostileOutputs : public PeerFixture {
protected:
    refhost::Worker& AddHostile(const HostileCase& c, const std::string& modelId) {
        refhost::Worker& worker = AddWorker({{"region", c.name}, {"channel", "c"}}, "", "");
        if (c.task) worker.setTask("", *c.task);
        auto fill = [&](const char* container, const std::optional<std::string>& text) {
            if (!text) return;
            std::string data = *text;
            for (size_t at = data.find("modelID=\"m\""); at != std::string::npos; at = data.find("modelID=\"m\"", at + 1))
                data.replace(at, 11, "modelID=\"" + modelId + "\"");
            worker.container(container).setDefaultEntry(std::move(data));
        };
        fill("WorkerStatXML", c.statXML);
        fill("WorkerPMML", c.pmml);
        return worker;
    }
    // The sections of the combined document whose region is this value.
    std::vector<std::string> SectionsOf(XMLDocument& combined, const std::string& region) {
        std::vector<std::string> kinds;
        for (auto groups = combined.getElementsDirect("SplitGroup"); groups.hasMore();) {
            const XMLElement group = groups.next();
            if (group.getElementsDirect("SplitField").next().getAttribute("value") != region) continue;
            const std::string names = ChildNames(group);
            kinds.push_back(names.ends_with("ModelSummary") ? "summary" : names.ends_with("Message") ? "failure" : names);
        }
        return kinds;
    }
};

TEST_F(HostileOutputs, EachEndsAsItsGroupsFailureWhileTheOthersStayWhole) {
    refhost::Module module(SPLIT_MODULE_PATH);
    ASSERT_EQ(module.initialise(host), 0u);
    refhost::Component collect(module, *context, "split_collect");
    ASSERT_EQ(collect.configure() + collect.beginExecution(), 0u);

    // A regular group before and after every hostile one.
    const std::vector<HostileCase> cases = HostileCases();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string n = std::to_string(i);
        EXPECT_EQ(collect.completedWorkerTask(AddWorker({{"region", "good" + n}, {"channel", "c"}},
                                                        WorkerStatXML("good" + n), WorkerPMML("good" + n)), 0),
                  0u);
        int err = 0;
        EXPECT_EQ(collect.completedWorkerTask(AddHostile(cases[i], "hostile" + n), 0, &err), cases[i].status);
    }
    ASSERT_EQ(collect.endExecution(), 0u);
    for (const refhost::Message& message : collect.messages()) ADD_FAILURE() << refhost::Host::describe(message);

    const std::vector<refhost::Entry> statXML = context->container("StatXML").entries();
    const std::vector<refhost::Entry> pmml = context->container("PMML").entries();
    XMLDocument combined = Parse(statXML.back().data);
    auto keyed = [](const std::vector<refhost::Entry>& entries, const std::string& key) -> const refhost::Entry* {
        for (const refhost::Entry& entry : entries)
            if (entry.key == key) return &entry;
        return nullptr;
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const HostileCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string n = std::to_string(i);
        const char* kind[] = {nullptr, "failure", "summary"};
        EXPECT_EQ(SectionsOf(combined, c.name),
                  c.section == Section::None ? Strings{} : Strings{kind[static_cast<int>(c.section)]});
        EXPECT_EQ(keyed(statXML, "hostile" + n) != nullptr, c.section == Section::Summary);
        EXPECT_EQ(keyed(pmml, "hostile" + n) != nullptr, c.pmmlStored);
        // The neighbouring regular group: one summary, and whole entries
        // holding its own texts.
        EXPECT_EQ(SectionsOf(combined, "good" + n), Strings{"summary"});
        const refhost::Entry* good = keyed(statXML, "good" + n);
        ASSERT_TRUE(good != nullptr && good->complete);
        EXPECT_NE(Outline(good->data).find("SplitField{name=region value=good" + n + " "), std::string::npos);
        good = keyed(pmml, "good" + n);
        ASSERT_TRUE(good != nullptr && good->complete);
        EXPECT_NE(Outline(good->data).find("TreeModel{modelName=good" + n + " "), std::string::npos);
    }
    // What hostile groups got stored is a document with the group's marks;
    // a split group a worker wrote itself names no group.
    for (size_t i = 0; i < cases.size(); ++i) {
        const refhost::Entry* entry = keyed(pmml, "hostile" + std::to_string(i));
        if (entry == nullptr) continue;
        XMLDocument document = Parse(entry->data);
        EXPECT_EQ(document.getElementsDirect("MiningBuildTask").count(), 1u) << cases[i].name;
    }
    EXPECT_EQ(SectionsOf(combined, "forged"), Strings{});
    EXPECT_EQ(statXML.back().data, pmml.back().data);

    // The component carries on with the next execution.
    ASSERT_EQ(collect.beginExecution(), 0u);
    EXPECT_EQ(collect.completedWorkerTask(AddWorker({{"region", "next"}, {"channel", "c"}}, WorkerStatXML("next"),
                                                    WorkerPMML("next")), 0),
              0u);
    ASSERT_EQ(collect.endExecution(), 0u);
    EXPECT_EQ(Keys("StatXML"), (Strings{"next", "rootStatXML"}));
    EXPECT_EQ(Keys("PMML"), (Strings{"next", "rootPMML"}));
    EXPECT_EQ(context->lockStats().held + context->lockStats().misuses, 0u);
}

}  // namespace

// Hostile XML in every document the collect component parses: the input
// data model at begin execution, the worker task document, and worker
// outputs whose deep parts are copied into the combined document and
// written at end execution. Each case ends in a clean status (and a failure
// section or none), or in whole outputs that read back; all of it runs on a
// thread with a small stack, so a walk that recurses per level fails.
#include <pthread.h>

#include <functional>

#include "collect_support.h"

using namespace collecttest;

namespace {

constexpr size_t kDeep = 100000;

// The huge split value, smaller under ThreadSanitizer (nothing here runs on
// two threads at once; the sanitizer would only add time and memory).
#if defined(__SANITIZE_THREAD__)
constexpr size_t kHugeMb = 2;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr size_t kHugeMb = 2;
#else
constexpr size_t kHugeMb = 16;
#endif
#else
constexpr size_t kHugeMb = 16;
#endif

void OnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 512 * 1024), 0);
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

std::string Nested(size_t depth = kDeep) {
    std::string text;
    text.reserve(depth * 7 + 8);
    for (size_t i = 0; i < depth; ++i) text += "<n>";
    text += "<end/>";
    for (size_t i = 0; i < depth; ++i) text += "</n>";
    return text;
}

size_t DepthOf(const XMLElement& element) {
    size_t depth = 0;
    for (XMLElement at = element.getElementsDirect("").next(); !at.isEmpty(); at = at.getElementsDirect("").next())
        ++depth;
    return depth;
}

const std::string kBomb = "<!DOCTYPE d [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
                          "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]>";
const std::string kExternal = "<!DOCTYPE d [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>";

// The input data model with something placed inside its FieldFormats.
std::string DataModelWith(const std::string& prolog, const std::string& formats) {
    std::string text = kInputDataModel;
    const std::string anchor = R"(<FieldFormats>)";
    text.insert(text.find(anchor) + anchor.size(), formats);
    return prolog + text;
}

enum class Ends { Refused, Failure, Summary };

struct HostileCase {
    const char* name;
    std::string dataModel;   // empty: the regular input data model
    std::string task;        // empty: the regular task of region "north"
    std::string statXML;     // empty: the regular worker StatXML
    uint32_t beginStatus;    // of configure, else of begin execution
    uint32_t intakeStatus;
    Ends ends;
    // Names leading from the root output's root to an element whose first
    // children must nest the whole deep part, and the levels they take.
    std::vector<std::string> deepPath = {};
    size_t deepLevels = 0;
};

std::vector<HostileCase> Cases() {
    const std::string huge(kHugeMb << 20, 'v');
    const std::string north = TaskDocument({{"region", "north"}});
    std::string hugeTask = north;
    hugeTask.replace(hugeTask.find("north"), 5, huge);
    const std::string deepTask = R"(<SplitFields><SplitField name="region" value="north" isNull="false"><More>)" +
                                 Nested(kDeep) + "</More></SplitField></SplitFields>";
    // Worker documents may nest 1,000 deep, the root included.
    auto statXML = [](size_t depth) {
        return R"(<StatXML version="1.0"><BuildSettings>)" + Nested(depth) +
               R"(</BuildSettings><PMMLModel modelID="m" isActive="true"><PredictiveSummary name="auc">)" +
               Nested(depth) + R"(</PredictiveSummary></PMMLModel></StatXML>)";
    };
    return {
        {"bomb in the data model", DataModelWith(kBomb, "<F v='&d;'/>"), "", "", 5, 0, Ends::Refused},
        {"external entity in the data model", DataModelWith(kExternal, "<F v='&x;'/>"), "", "", 5, 0, Ends::Refused},
        {"zero byte in the data model", DataModelWith("", std::string("<F v='\0'/>", 10)), "", "", 5, 0, Ends::Refused},
        {"deep data model", DataModelWith("", Nested()), "", "", 0, 0, Ends::Summary, {"DataModel", "FieldFormats"},
         kDeep + 1},
        {"bomb in the task", "", kBomb + "<SplitFields><SplitField name='region' value='&d;'/></SplitFields>", "", 0, 5,
         Ends::Refused},
        {"external entity in the task", "", kExternal + north, "", 0, 5, Ends::Refused},
        {"deep task", "", deepTask, "", 0, 5, Ends::Refused},
        {"huge split value", "", hugeTask, "", 0, 0, Ends::Summary},
        {"malformed UTF-8 split value", "", TaskDocument({{"region", "\xFF\xC3("}}), "", 0, 5, Ends::Refused},
        {"bomb in the worker StatXML", "", "", kBomb + "<StatXML><PMMLModel v='&d;'/></StatXML>", 0, 5, Ends::Failure},
        {"deep worker StatXML", "", "", statXML(kDeep), 0, 5, Ends::Failure},
        {"worker parts copied into the combined document at the deepest", "", "", statXML(996), 0, 0,
         Ends::Summary, {"BuildSettings"}, 997},
    };
}

class HostileXml : public PeerFixture {
protected:
    void Run(const HostileCase& c) {
        SCOPED_TRACE(c.name);  // the trace of the calling thread does not reach this one
        if (!c.dataModel.empty()) context->setDataModel(c.dataModel);
        peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
        uint32_t status = peer_->Configure(&err);
        if (status == 0) status = peer_->BeginExecution(nullptr, context->progress(), &err);
        EXPECT_EQ(status, c.beginStatus);
        if (status != 0) return;

        refhost::Worker& worker = AddWorker({{"region", "north"}}, c.statXML.empty() ? WorkerStatXML("m") : c.statXML,
                                            WorkerPMML("t"));
        if (!c.task.empty()) worker.setTask("", c.task);
        EXPECT_EQ(Complete(worker), c.intakeStatus);
        const std::string sections = ChildNames(combined());
        const bool failure = sections.find("SplitGroup") != std::string::npos &&
                             ChildNames(combined().getElementsDirect("SplitGroup").next()).ends_with("Message");
        EXPECT_EQ(failure, c.ends == Ends::Failure);
        if (c.ends == Ends::Refused) {
            EXPECT_EQ(sections.find("SplitGroup"), std::string::npos);
        }
        if (c.ends != Ends::Summary) return;

        ASSERT_EQ(peer_->EndExecution(&err), 0u);
        const std::vector<refhost::Entry> entries = context->container("StatXML").entries();
        ASSERT_EQ(entries.size(), 2u);
        XMLDocument root = Parse(entries.back().data);
        EXPECT_EQ(entries.back().key, "rootStatXML");
        XMLElementIterator groups = root.getElementsDirect("SplitGroup");
        ASSERT_TRUE(groups.hasMore());
        const std::string value = groups.next().getElementsDirect("SplitField").next().getAttribute("value");
        const std::string expected = Parse(c.task.empty() ? TaskDocument({{"region", "north"}}) : c.task)
                                         .getElementsDirect("SplitField").next().getAttribute("value");
        EXPECT_EQ(value, expected);
        if (c.deepPath.empty()) return;
        XMLElement deep = root;
        for (const std::string& name : c.deepPath) deep = deep.getElementsDirect(name).next();
        EXPECT_EQ(DepthOf(deep), c.deepLevels);
    }
};

TEST_F(HostileXml, EachDocumentEndsCleanly) {
    for (const HostileCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        OnSmallStack([&] { Run(c); });
        PeerFixture::TearDown();
        PeerFixture::SetUp();
    }
}

}  // namespace

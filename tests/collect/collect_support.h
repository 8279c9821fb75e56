// Collect tests' shared pieces: a peer on a reference host, its state, sample documents, outlines.
#ifndef SPLIT_TESTS_COLLECT_SUPPORT_H
#define SPLIT_TESTS_COLLECT_SUPPORT_H

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "collect/split_collect_peer.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/worker.h"

// Reaches the collect peer's state (a friend of the peer).
class SplitCollectPeerTestAccess {
public:
    static CfCppHelperV1::XMLDocument& combined(SplitCollectPeer& p) { return p.combinedStatXML; }
    static CfCppHelperV1::XMLDocument& inputModel(SplitCollectPeer& p) { return p.inputDataModel; }
    static std::vector<std::string>& splitFields(SplitCollectPeer& p) { return p.splitFieldNames; }
    static std::vector<std::string>& targets(SplitCollectPeer& p) { return p.targetFieldList; }
    static std::vector<std::string>& inputs(SplitCollectPeer& p) { return p.inputFieldList; }
    static bool hasLock(SplitCollectPeer& p) { return p.hostLock != nullptr; }
    static bool containersOpen(SplitCollectPeer& p) { return p.statXMLContainer || p.pmmlContainer; }
};
using Access = SplitCollectPeerTestAccess;

namespace collecttest {

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
using Strings = std::vector<std::string>;

// The data model the collect tests' host gives, with a field of each kind and region's two values.
inline const std::string kInputDataModel = [] {
    std::ostringstream text;
    text << std::ifstream(SPLIT_SOURCE_ROOT "/tests/collect/input_data_model.xml").rdbuf();
    return text.str();
}();
inline const std::string kFormats = "FieldFormats(Format{field=amount decimals=2})";
inline const std::string kRegionSplit = "Field{name=region storage=string measure=nominal role=split maxStringLength=5 "
                                        "displayLabel=Region}(Value{value=north} Value{value=south})";
inline const std::string kChannelSplit = "Field{name=channel storage=string measure=flag maxStringLength=3 role=split}";
inline const std::string kCombinedRoot =
    "StatXML{xmlns=http://www.morvi.org/statxml/ext xmlns:xsi=http://www.w3.org/2001/XMLSchema-instance version=1.0 "
    "xsi:schemaLocation=http://www.morvi.org/statxml/ext http://www.morvi.org/statxml/ext/StatXML_7.0.xsd}";

struct TaskField { std::string name, value, isNull = "false"; };
inline std::string TaskDocument(const std::vector<TaskField>& fields) {
    std::string text = "<SplitFields>";
    for (const TaskField& f : fields)
        text += "<SplitField name=\"" + f.name + "\" value=\"" + f.value + "\" isNull=\"" + f.isNull + "\"/>";
    return text + "</SplitFields>";
}
inline std::string WorkerStatXML(const std::string& modelId, const std::string& buildSetting = "tree") {
    return R"(<StatXML version="1.0"><BuildSettings algorithm=")" + buildSetting + R"("/><DescriptiveModel modelID="d"/>)"
           R"(<PMMLModel modelID=")" + modelId + R"(" segmentID="s1" modelType="TreeModel" isActive="true">)"
           R"(<PredictiveSummary name="accuracy" value="0.9"/><PredictiveSummary name="auc" value="0.8"/>)"
           R"(</PMMLModel></StatXML>)";
}
inline std::string WorkerPMML(const std::string& modelName) {
    return R"(<PMML version="4.4"><Header/><DataDictionary numberOfFields="1"><DataField name="amount" )"
           R"(optype="continuous" dataType="double"/></DataDictionary><TreeModel modelName=")" + modelName +
           R"(" functionName="regression"/></PMML>)";
}

// name{attribute=value ...}(child ...) down to depth levels; texts are ignored.
inline std::string Outline(const XMLElement& element, int depth = 99) {
    std::string out = element.getName();
    const Strings names = element.getAttributeNames();
    for (size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "{" : " ") + names[i] + "=" + element.getAttribute(names[i]) + (i + 1 == names.size() ? "}" : "");
    XMLElementIterator children = element.getElementsDirect("");
    if (depth == 0 || !children.hasMore()) return out;
    for (char separator = '('; children.hasMore(); separator = ' ') out += separator + Outline(children.next(), depth - 1);
    return out + ')';
}
inline std::string Outline(const std::string& text, int depth = 99) {
    XMLDocument document = CfCppHelperV1::HostHelper(nullptr).createFromContents(text);
    const std::string outline = Outline(document, depth);
    document.dispose();
    return outline;
}
inline std::string ChildNames(const XMLElement& element) {
    std::string names;
    for (XMLElementIterator c = element.getElementsDirect(""); c.hasMore();)
        names += (names.empty() ? "" : " ") + c.next().getName();
    return names;
}
// "name=role" of each Field of a Fields element, "-" for none.
inline std::string Roles(const XMLElement& fields) {
    std::string roles;
    for (XMLElementIterator f = fields.getElementsDirect("Field"); f.hasMore();) {
        const XMLElement field = f.next();
        roles += (roles.empty() ? "" : " ") + field.getAttribute("name") + "=" +
                 (field.hasAttribute("role") ? field.getAttribute("role") : "-");
    }
    return roles;
}

class PeerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        context = std::make_unique<refhost::Context>(host);
        context->setDataModel(kInputDataModel);
    }
    void TearDown() override {
        int endErr = 0;  // as a host does: only end execution releases its documents
        if (peer_) peer_->EndExecution(&endErr);
        peer_.reset();
        for (XMLDocument& document : parsed) document.dispose();
        parsed.clear();
        workers.clear();
    }
    void Start() {  // creates, configures and begins the peer
        peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
        ASSERT_EQ(peer_->Configure(&err), 0u);
        ASSERT_EQ(peer_->BeginExecution(nullptr, context->progress(), &err), 0u);
    }
    void Reset() { PeerFixture::TearDown(); PeerFixture::SetUp(); }  // a fresh host and context, no peer
    void Restart() { Reset(); Start(); }
    SplitCollectPeer& peer() { return *peer_; }
    XMLDocument& combined() { return Access::combined(*peer_); }
    // The messages delivered, as "type/code[/argument...]", space-separated.
    std::string Messages() {
        size_t needed = 0;
        int detailErr = 0;
        peer_->GetErrorDetail(nullptr, 0, &needed, &detailErr);
        std::string buffer(needed, '\0'), text;
        EXPECT_EQ(peer_->GetErrorDetail(buffer.data(), buffer.size(), &needed, &detailErr), 0u);
        std::vector<refhost::Message> messages;
        EXPECT_TRUE(refhost::parseMessages(buffer.c_str(), &messages));
        for (const refhost::Message& m : messages) {
            text += (text.empty() ? "" : " ") + std::to_string(m.type) + "/" + std::to_string(m.code);
            for (const std::string& argument : m.args) text += "/" + argument;
        }
        return text;
    }
    // A worker with its task document, and its StatXML and PMML unless empty.
    refhost::Worker& AddWorker(const std::vector<TaskField>& fields, const std::string& statXML, const std::string& pmml) {
        workers.push_back(std::make_unique<refhost::Worker>(static_cast<int64_t>(workers.size())));
        workers.back()->setTask("", TaskDocument(fields));
        if (!statXML.empty()) workers.back()->container("WorkerStatXML").setDefaultEntry(statXML);
        if (!pmml.empty()) workers.back()->container("WorkerPMML").setDefaultEntry(pmml);
        return *workers.back();
    }
    uint32_t Complete(refhost::Worker& worker, int outcome = 0) {  // outcome: *err on entry
        return peer_->CompletedWorkerTask(worker.record(), &outcome);
    }
    XMLDocument Parse(const std::string& text) {  // disposed at tear-down
        parsed.push_back(helper.createFromContents(text));
        return parsed.back();
    }
    Strings Keys(const char* container) {  // of the component's container
        Strings keys;
        if (!context->hasContainer(container)) return keys;
        for (const refhost::Entry& entry : context->container(container).entries()) keys.push_back(entry.key);
        return keys;
    }

    int err = 0;  // an error slot for the calls of the tests
    refhost::Host host;
    std::unique_ptr<refhost::Context> context;
    std::unique_ptr<SplitCollectPeer> peer_;
    std::vector<std::unique_ptr<refhost::Worker>> workers;
    std::vector<XMLDocument> parsed;
    CfCppHelperV1::HostHelper helper{host.record()};
};

class StartedFixture : public PeerFixture {
protected:
    void SetUp() override { PeerFixture::SetUp(); Start(); }
};

}  // namespace collecttest

#endif

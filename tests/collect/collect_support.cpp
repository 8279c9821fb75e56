#include "collect_support.h"

#include <sstream>

#include "refhost/component.h"

using CfCppHelperV1::HostHelper;
using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;

namespace collecttest {

std::string InputDataModel() {
    return R"(<DataModel version="1.0">
  <FieldFormats><Format field="amount" decimals="2"/></FieldFormats>
  <RecordCounts total="10"/>
  <Fields caseSensitive="true" count="4">
    <Field name="region" storage="string" measure="nominal" role="none" maxStringLength="5" displayLabel="Region">
      <Value value="north"/><Value value="south"/>
    </Field>
    <Field name="channel" storage="string" measure="flag" maxStringLength="3"/>
    <Field name="age" storage="integer" measure="continuous" role="input"/>
    <Field name="amount" storage="real" measure="continuous" role="target"/>
  </Fields>
</DataModel>)";
}

std::string TaskDocument(const std::vector<TaskField>& fields) {
    std::string text = "<SplitFields>";
    for (const TaskField& field : fields)
        text += "<SplitField name=\"" + field.name + "\" value=\"" + field.value +
                "\" isNull=\"" + field.isNull + "\"/>";
    return text + "</SplitFields>";
}

std::string WorkerStatXML(const std::string& modelId, const std::string& buildSetting) {
    return R"(<StatXML version="1.0"><BuildSettings algorithm=")" + buildSetting +
           R"("/><DescriptiveModel modelID="d"/><PMMLModel modelID=")" + modelId +
           R"(" segmentID="s1" modelType="TreeModel" isActive="true">)"
           R"(<PredictiveSummary name="accuracy" value="0.9"/>)"
           R"(<PredictiveSummary name="auc" value="0.8"/></PMMLModel></StatXML>)";
}

std::string WorkerPMML(const std::string& modelName) {
    return R"(<PMML version="4.4"><Header/><DataDictionary numberOfFields="1">)"
           R"(<DataField name="amount" optype="continuous" dataType="double"/></DataDictionary>)"
           R"(<TreeModel modelName=")" + modelName + R"(" functionName="regression"/></PMML>)";
}

SplitFieldEntry Entry(const std::string& name, int32_t storage, int32_t measure,
                      const std::string& value, const std::string& isNull) {
    SplitFieldEntry entry;
    entry.name = name;
    entry.storage = storage;
    entry.measure = measure;
    entry.value = value;
    entry.isNull = isNull;
    return entry;
}

namespace {

// Describes the first difference between two trees, or nothing.
std::string Difference(const XMLElement& a, const XMLElement& b, const std::string& path) {
    const std::string here = path + "/" + a.getName();
    if (a.getName() != b.getName()) return here + ": element " + a.getName() + " vs " + b.getName();
    const std::vector<std::string> an = a.getAttributeNames();
    const std::vector<std::string> bn = b.getAttributeNames();
    if (an != bn) {
        std::ostringstream out;
        out << here << ": attributes [";
        for (const std::string& n : an) out << n << ' ';
        out << "] vs [";
        for (const std::string& n : bn) out << n << ' ';
        out << ']';
        return out.str();
    }
    for (const std::string& n : an)
        if (a.getAttribute(n) != b.getAttribute(n))
            return here + ": @" + n + " '" + a.getAttribute(n) + "' vs '" + b.getAttribute(n) + "'";
    if (a.getText() != b.getText()) return here + ": text '" + a.getText() + "' vs '" + b.getText() + "'";
    XMLElementIterator ac = a.getElementsDirect("");
    XMLElementIterator bc = b.getElementsDirect("");
    if (ac.count() != bc.count())
        return here + ": " + std::to_string(ac.count()) + " children vs " + std::to_string(bc.count());
    while (ac.hasMore()) {
        std::string d = Difference(ac.next(), bc.next(), here);
        if (!d.empty()) return d;
    }
    return "";
}

}  // namespace

std::string Serialise(const XMLElement& element) {
    std::string text;
    element.doc2string(text);
    return text;
}

::testing::AssertionResult SameTree(const XMLElement& actual, const std::string& expected) {
    HostHelper helper(nullptr);
    XMLDocument want = helper.createFromContents(expected);
    std::string difference = Difference(actual, want, "");
    want.dispose();
    if (difference.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << difference << "\nactual document:\n" << Serialise(actual);
}

::testing::AssertionResult SameTree(const std::string& actual, const std::string& expected) {
    HostHelper helper(nullptr);
    XMLDocument got;
    try {
        got = helper.createFromContents(actual);
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "does not parse: " << e.what() << "\n" << actual;
    }
    ::testing::AssertionResult result = SameTree(static_cast<const XMLElement&>(got), expected);
    got.dispose();
    return result;
}

void PeerFixture::SetUp() {
    context = std::make_unique<refhost::Context>(host);
    context->setDataModel(InputDataModel());
}

void PeerFixture::TearDown() {
    peer_.reset();
    for (XMLDocument& document : parsed) document.dispose();
    parsed.clear();
    workers.clear();
}

void PeerFixture::Start() {
    peer_ = std::make_unique<SplitCollectPeer>(context->record(), host.record());
    int err = 0;
    ASSERT_EQ(peer_->Configure(&err), 0u);
    ASSERT_EQ(peer_->BeginExecution(nullptr, context->progress(), &err), 0u);
}

std::vector<refhost::Message> PeerFixture::Messages() {
    size_t needed = 0;
    int err = 0;
    peer_->GetErrorDetail(nullptr, 0, &needed, &err);
    std::string buffer(needed, '\0');
    EXPECT_EQ(peer_->GetErrorDetail(buffer.data(), buffer.size(), &needed, &err), 0u);
    std::vector<refhost::Message> messages;
    EXPECT_TRUE(refhost::parseMessages(buffer.c_str(), &messages));
    return messages;
}

std::vector<int> PeerFixture::MessageCodes() {
    std::vector<int> codes;
    for (const refhost::Message& message : Messages()) codes.push_back(message.code);
    return codes;
}

refhost::Worker& PeerFixture::AddWorker(const std::vector<TaskField>& fields,
                                        const std::string& statXML, const std::string& pmml) {
    workers.push_back(std::make_unique<refhost::Worker>(static_cast<int64_t>(workers.size())));
    refhost::Worker& worker = *workers.back();
    worker.setTask("", TaskDocument(fields));
    if (!statXML.empty()) worker.container("WorkerStatXML").setDefaultEntry(statXML);
    if (!pmml.empty()) worker.container("WorkerPMML").setDefaultEntry(pmml);
    return worker;
}

uint32_t PeerFixture::Complete(refhost::Worker& worker, int outcome, int* errOut) {
    int err = outcome;
    uint32_t status = peer_->CompletedWorkerTask(worker.record(), &err);
    if (errOut != nullptr) *errOut = err;
    return status;
}

XMLDocument PeerFixture::Parse(const std::string& text) {
    parsed.push_back(helper.createFromContents(text));
    return parsed.back();
}

}  // namespace collecttest

// Shared pieces of the collect tests: a collect peer built directly on a
// reference host context, access to its state, sample documents, and a
// structural comparison of XML trees.
#ifndef SPLIT_TESTS_COLLECT_SUPPORT_H
#define SPLIT_TESTS_COLLECT_SUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "collect/split_collect_peer.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/worker.h"

// Reaches the collect peer's state (a friend of the peer).
class SplitCollectPeerTestAccess {
public:
    static CfCppHelperV1::XMLDocument& combined(SplitCollectPeer& peer) {
        return peer.combinedStatXML;
    }
    static CfCppHelperV1::XMLDocument& inputDataModel(SplitCollectPeer& peer) {
        return peer.inputDataModel;
    }
    static std::vector<std::string>& splitFieldNames(SplitCollectPeer& peer) {
        return peer.splitFieldNames;
    }
    static std::vector<std::string>& targetFieldList(SplitCollectPeer& peer) {
        return peer.targetFieldList;
    }
    static std::vector<std::string>& inputFieldList(SplitCollectPeer& peer) {
        return peer.inputFieldList;
    }
    static bool hasLock(SplitCollectPeer& peer) { return peer.hostLock != nullptr; }
    static bool containersOpen(SplitCollectPeer& peer) {
        return peer.statXMLContainer != nullptr || peer.pmmlContainer != nullptr;
    }
};
using Access = SplitCollectPeerTestAccess;

namespace collecttest {

// The input data model of the tests: region and channel (strings), age
// (integer, role input) and amount (real, role target).
std::string InputDataModel();

// A worker task document naming the given (name, value, isNull) fields.
struct TaskField {
    std::string name;
    std::string value;
    std::string isNull = "false";
};
std::string TaskDocument(const std::vector<TaskField>& fields);

// A worker StatXML with build settings, a descriptive model and one active
// model with two predictive summaries.
std::string WorkerStatXML(const std::string& modelId, const std::string& buildSetting = "tree");
std::string WorkerPMML(const std::string& modelName);

SplitFieldEntry Entry(const std::string& name, int32_t storage, int32_t measure,
                      const std::string& value, const std::string& isNull = "false");

// Parses both texts and compares their trees: element names, attribute
// names and values in order, texts and child order.
::testing::AssertionResult SameTree(const std::string& actual, const std::string& expected);
// The same for an element of a live document.
::testing::AssertionResult SameTree(const CfCppHelperV1::XMLElement& actual,
                                    const std::string& expected);
std::string Serialise(const CfCppHelperV1::XMLElement& element);

// A collect peer on a reference host context, configured and begun.
class PeerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the peer, configures it and begins an execution; statuses are
    // expected to be 0.
    void Start();
    SplitCollectPeer& peer() { return *peer_; }
    std::vector<refhost::Message> Messages();
    std::vector<int> MessageCodes();
    // A worker whose task document, StatXML and PMML are in place.
    refhost::Worker& AddWorker(const std::vector<TaskField>& fields, const std::string& statXML,
                               const std::string& pmml);
    // CompletedWorkerTask with *err = outcome on entry.
    uint32_t Complete(refhost::Worker& worker, int outcome = 0, int* errOut = nullptr);
    CfCppHelperV1::XMLDocument Parse(const std::string& text);

public:
    refhost::Host host;
    std::unique_ptr<refhost::Context> context;
    std::unique_ptr<SplitCollectPeer> peer_;
    std::vector<std::unique_ptr<refhost::Worker>> workers;
    std::vector<CfCppHelperV1::XMLDocument> parsed;
    CfCppHelperV1::HostHelper helper{host.record()};
};

}  // namespace collecttest

#endif

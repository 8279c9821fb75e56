// A hand-made component context answering by the buffer protocol, and a
// minimal derived peer that exposes the base's protected services.
#ifndef SPLIT_TESTS_PEER_PEER_FIXTURE_H
#define SPLIT_TESTS_PEER_PEER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>

#include "qor_peer.h"

struct FakeContext {
    std::string parameters;
    uint32_t failure = 0;  // returned instead of any text when non-zero

    uint32_t answer(const std::string& text, char* buffer, size_t size, size_t* needed) {
        if (failure) return failure;
        *needed = text.size() + 1;
        if (*needed > size) return CF_BUFFER_TOO_SMALL;
        std::memcpy(buffer, text.c_str(), *needed);
        return CF_OK;
    }
    static uint32_t getParameters(void* h, char* buffer, size_t size, size_t* needed, int*) {
        auto* self = static_cast<FakeContext*>(h);
        return self->answer(self->parameters, buffer, size, needed);
    }
};

class TestPeer : public QorCF_940::QorPeer {
public:
    using QorPeer::QorPeer;
    // The base lets a peer's destructor throw; this one does not, so that a
    // fixture holding it keeps the non-throwing destructor of its own base.
    ~TestPeer() noexcept override {}
    using QorPeer::CollectedMessages, QorPeer::CollectMsgs, QorPeer::ScanParameters;
    uint32_t Configure(int*) override { return 0; }
    uint32_t BeginExecution(CFIterator*, CFProgress*, int*) override { return 0; }
    uint32_t MakeSettings(CfCppHelperV1::XMLDocument& document, int* err) override {
        return QorCommon_940::QorSettingsFactory::MakeModelSettings(document, settings, err);
    }
    QorXML_940::QorSettings settings;
};

class PeerTest : public ::testing::Test {
protected:
    FakeContext fake;
    CFContext context = [this] {
        CFContext record{};
        record.handle = &fake;
        record.getParameters = FakeContext::getParameters;
        return record;
    }();
    CFHost host{};
    TestPeer peer{&context, &host};
    int err = 0;
};

#endif

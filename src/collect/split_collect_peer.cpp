// Construction, destruction and configuration of the collect peer.
#include "collect/split_collect_peer.h"

#include <utility>

#include "collect/no_throw.h"
#include "module/cleanup_steps.h"
#include "module/host_calls.h"

using CfCppHelperV1::XMLDocument;

SplitCollectPeer::SplitCollectPeer(CFContext* context, CFHost* host) : QorPeer(context, host) {
    // Concurrent intakes need a lock; a context without thread services
    // leaves the peer without one, and the host then calls one at a time.
    int localErr = 0;
    CFThreadServices* services = nullptr;
    if (split::host::GetThreadServices(context, &services, &localErr) != CF_OK) return;
    threadServices = services;
    hostLock = split::host::CreateLock(threadServices, &localErr);
}

SplitCollectPeer::~SplitCollectPeer() noexcept(false) {
    split::CleanupSteps steps;
    int localErr = 0;
    if (CFLock* lock = std::exchange(hostLock, nullptr))
        steps.Run([&] { split::host::DestroyLock(threadServices, lock, &localErr); });
    for (CFContainerFile** container : {&statXMLContainer, &pmmlContainer}) {
        if (CFContainerFile* open = std::exchange(*container, nullptr))
            steps.Run([&] { split::host::CloseContainer(open, &localErr); });
    }
    steps.Finish();
    // The documents are not disposed here: end execution disposes them,
    // whatever its outcome, and a host ends every execution it began before
    // it destroys the component (a begin execution that failed included).
}

uint32_t SplitCollectPeer::MakeSettings(XMLDocument& document, int* err) {
    return StatusWithoutThrow([&] {
        return QorCommon_940::QorSettingsFactory::MakeModelSettings(document, settings, err);
    });
}

uint32_t SplitCollectPeer::Configure(int* err) {
    return StatusWithoutThrow([&]() -> uint32_t {
        uint32_t status = ScanParameters(err);
        if (status != CF_OK) return status;
        status = ParseDataModel(err, false, 1);
        if (status != CF_OK) return status;
        targetFieldList.clear();
        settings.GetSettingValByName("TargetFieldList", targetFieldList);
        inputFieldList.clear();
        settings.GetSettingValByName("InputFieldList", inputFieldList);
        return CF_OK;
    });
}

void SplitCollectPeer::DisposeDocuments() {
    if (!combinedStatXML.isEmpty()) combinedStatXML.dispose();
    combinedStatXML = XMLDocument();
    if (!inputDataModel.isEmpty()) inputDataModel.dispose();
    inputDataModel = XMLDocument();
}

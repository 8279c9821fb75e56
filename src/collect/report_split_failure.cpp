// Records a failed split group in the combined StatXML document: its split
// fields and an error message whose text the reader looks up by key.
#include "collect/host_lock_scope.h"
#include "collect/split_collect_peer.h"

using CfCppHelperV1::XMLElement;
namespace XMLAttributes = CfCppHelperV1::XMLAttributes;
namespace XMLEntities = CfCppHelperV1::XMLEntities;

uint32_t SplitCollectPeer::ReportSplitFailure(const std::vector<SplitFieldEntry>& entries,
                                              int* err) {
    HostLockScope lock(hostLock);
    uint32_t status = lock.Take(err);
    if (status != CF_OK) {
        CollectMsgs(QorCF_940::MsgError, 280012, err);
        return status;
    }

    XMLElement group = combinedStatXML.addElement("SplitGroup");
    for (const SplitFieldEntry& entry : entries) {
        XMLElement field = group.addElement("SplitField");
        field.addAttribute(XMLAttributes::Name, entry.name);
        field.addAttribute(XMLAttributes::Value, entry.value);
        field.addAttribute("isNull", entry.isNull);
    }
    XMLElement message = group.addElement("Message");
    message.addAttribute(XMLAttributes::Type, XMLEntities::Error);
    XMLElement printable = message.addElement("PrintableList");
    printable.addAttribute("pattern", "kSPLIT_SplitFailedErr_0");
    printable.addAttribute("isKey", XMLEntities::True);

    status = lock.Release(err);
    if (status != CF_OK) CollectMsgs(QorCF_940::MsgError, 280013, err);
    return status;
}

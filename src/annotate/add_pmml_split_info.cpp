// Marks a worker's PMML with the split group its model was built for: a new
// "MiningBuildTask" holding a "split-info" extension that lists the group's
// split fields with their operational type, data type and, when present,
// value. The text is replaced only when the whole annotation succeeds.
#include "collect/host_lock_scope.h"
#include "collect/scoped_document.h"
#include "collect/split_collect_peer.h"

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
namespace XMLAttributes = CfCppHelperV1::XMLAttributes;
namespace XMLElements = CfCppHelperV1::XMLElements;
namespace XMLEntities = CfCppHelperV1::XMLEntities;

namespace {

const char* const kExtender = "morvi-split";

// PMML operational type of a measure code; null for a code outside 1 to 5.
const char* OptypeOf(int32_t measure) {
    switch (measure) {
        case 1: return "continuous";
        case 2:
        case 3:
        case 5: return "categorical";
        case 4: return "ordinal";
        default: return nullptr;
    }
}

// PMML data type of a storage code; null for a code outside 1 to 6.
const char* DataTypeOf(int32_t storage) {
    switch (storage) {
        case 1: return "integer";
        case 2: return "double";
        case 3: return "string";
        case 4: return "dateDaysSince[1970]";
        case 5: return "timeSeconds";
        case 6: return "dateTimeSecondsSince[1970]";
        default: return nullptr;
    }
}

}  // namespace

// Records a message with one argument; the message list is shared with
// other intakes, so recording happens under the host lock. The lock's
// statuses do not matter here.
void SplitCollectPeer::RaiseLocked(QorCF_940::MsgType type, int code, const std::string& argument,
                                   int* err) {
    int lockErr = 0;
    HostLockScope lock(hostLock);
    lock.TakeIgnoringStatus(&lockErr);
    CollectMsgs(type, code, std::vector<std::string>{argument}, err);
    lock.Release(&lockErr);
}

uint32_t SplitCollectPeer::AddPMMLSplitInfo(std::string& pmmlText,
                                            const std::vector<SplitFieldEntry>& entries,
                                            int* err) {
    if (hostHelper == nullptr) return CF_FAILED;
    ScopedDocument pmml;
    try {
        pmml.document = hostHelper->createFromContents(pmmlText);
    } catch (...) {
        return CF_BAD_XML;
    }

    XMLElement& root = pmml.document;
    XMLElementIterator dictionaries = root.getElementsDirect("DataDictionary");
    XMLElement task = dictionaries.hasMore()
                          ? root.insertElementBefore("MiningBuildTask", dictionaries.next())
                          : root.addElement("MiningBuildTask");

    XMLElement extension = task.addElement("Extension");
    extension.addAttribute(XMLAttributes::Name, "split-info");
    extension.addAttribute("extender", kExtender);

    const std::string falseText = XMLEntities::False;
    for (const SplitFieldEntry& entry : entries) {
        XMLElement field = extension.addElement("DataField");
        field.addAttribute(XMLAttributes::Name, entry.name);

        const char* optype = OptypeOf(entry.measure);
        if (optype == nullptr) {
            RaiseLocked(QorCF_940::MsgWarning, 280016, entry.name, err);
            optype = "categorical";
        }
        field.addAttribute("optype", optype);

        const char* dataType = DataTypeOf(entry.storage);
        if (dataType == nullptr) {
            RaiseLocked(QorCF_940::MsgError, 280010, entry.name, err);
            if (err != nullptr) *err = 280010;
            return CF_FAILED;
        }
        field.addAttribute("dataType", dataType);

        if (entry.isNull == falseText)
            field.addElement(XMLElements::Value).addAttribute(XMLAttributes::Value, entry.value);
    }

    pmml.document.doc2string(pmmlText);
    return CF_OK;
}

// Reads which split group a completed worker handled from its task document
// and completes each split field with its codes from the input data model.
#include <cstring>
#include <string>

#include "collect/scoped_document.h"
#include "collect/split_collect_peer.h"
#include "module/host_calls.h"

using CfCppHelperV1::BufferHelper;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
namespace XMLAttributes = CfCppHelperV1::XMLAttributes;

namespace {

// The first field of the parsed input data model with exactly this name.
const QorCF_940::FieldInfo* FindField(const std::vector<QorCF_940::FieldInfo*>& fields,
                                      const std::string& name) {
    for (const QorCF_940::FieldInfo* field : fields)
        if (field != nullptr && field->GetFieldName() == name) return field;
    return nullptr;
}

}  // namespace

uint32_t SplitCollectPeer::ReadSplitFields(CFWorker* worker, std::vector<SplitFieldEntry>& entries,
                                           int* err) {
    if (worker == nullptr || hostHelper == nullptr) return CF_FAILED;

    // The first text is not used; the second is the task document.
    BufferHelper first(8192);
    BufferHelper second(8192);
    size_t firstNeeded = 0;
    size_t secondNeeded = 0;
    uint32_t status = split::host::GetTask(worker, first, first.size(), &firstNeeded, second,
                                           second.size(), &secondNeeded, err);
    if (status == CF_BUFFER_TOO_SMALL) {
        first.resize(firstNeeded);
        second.resize(secondNeeded);
        status = split::host::GetTask(worker, first, first.size(), &firstNeeded, second,
                                      second.size(), &secondNeeded, err);
    }
    if (status != CF_OK) return status;
    if (second.size() == 0) return CF_BAD_XML;

    ScopedDocument task;
    try {
        task.document = hostHelper->createFromContents(
            std::string(static_cast<const char*>(second), strnlen(second, second.size())));
    } catch (...) {
        return CF_BAD_XML;
    }

    XMLElementIterator fields = task.document.getElementsDirect("SplitField");
    if (!fields.hasMore()) return CF_BAD_XML;

    entries.clear();
    while (fields.hasMore()) {
        XMLElement element = fields.next();
        SplitFieldEntry entry;
        entry.name = element.getAttribute(XMLAttributes::Name);
        entry.storage = 0;
        entry.measure = 6;
        if (const QorCF_940::FieldInfo* field = FindField(fieldInfos, entry.name)) {
            entry.storage = field->GetStorage();
            entry.measure = field->GetMeasure();
        }
        entry.value = element.getAttribute(XMLAttributes::Value);
        entry.isNull = element.getAttribute("isNull");
        entries.push_back(std::move(entry));
    }
    return CF_OK;
}

// Marks a worker's StatXML as belonging to one split group: a "SplitGroup"
// element listing the group's split fields and values goes ahead of the
// models, and the document's data model learns which fields are the split
// fields, with their definitions taken from the component's input data
// model. A worker document without a data model receives one holding the
// split field group and the split fields only.
#include <vector>

#include "collect/split_collect_peer.h"

using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
namespace XMLAttributes = CfCppHelperV1::XMLAttributes;
namespace XMLElements = CfCppHelperV1::XMLElements;
namespace XMLEntities = CfCppHelperV1::XMLEntities;

namespace {

// The first direct child of that name, or an empty element.
XMLElement FirstChild(const XMLElement& parent, const std::string& name) {
    return parent.getElementsDirect(name).next();
}

// The first field element below fields with that name, or an empty element.
XMLElement FindField(const XMLElement& fields, const std::string& name) {
    try {
        return fields.getElementByAttribute(XMLElements::Field, XMLAttributes::Name, name);
    } catch (const CfCppHelperV1::XMLException&) {
        return XMLElement();
    }
}

// The same element as FindField, found by walking the tree instead of
// through the lookup: used where the field is usually absent (a worker's
// data model seldom lists the split fields), since a failed lookup throws,
// and unwinding that exception costs some ten times the walk. The walk is
// in document order, parents before their children, as the lookup's, and
// keeps its pending levels on the heap, so a deep document cannot exhaust
// the stack.
XMLElement FindOptionalField(const XMLElement& fields, const std::string& name) {
    std::vector<XMLElementIterator> pending{fields.getElementsDirect("")};
    while (!pending.empty()) {
        if (!pending.back().hasMore()) {
            pending.pop_back();
            continue;
        }
        XMLElement element = pending.back().next();
        if (element.getName() == XMLElements::Field && element.hasAttribute(XMLAttributes::Name) &&
            element.getAttribute(XMLAttributes::Name) == name)
            return element;
        pending.push_back(element.getElementsDirect(""));
    }
    return XMLElement();
}

// Copies an attribute of the input field onto the worker field when the
// input field's value is not empty.
void CopyIfNotEmpty(const XMLElement& from, XMLElement& to, const char* attribute) {
    const std::string value = from.getAttribute(attribute);
    if (!value.empty()) to.addAttribute(attribute, value);
}

}  // namespace

uint32_t SplitCollectPeer::AddStatXMLSplitGroup(XMLDocument* document,
                                                const std::vector<SplitFieldEntry>& entries) {
    if (document == nullptr || document->isEmpty() || entries.empty()) return CF_FAILED;
    XMLElement& root = *document;

    XMLElement models = FirstChild(root, "PMMLModel");
    if (models.isEmpty()) models = FirstChild(root, "DescriptiveModel");
    XMLElement splitGroup = models.isEmpty() ? root.addElement("SplitGroup")
                                             : root.insertElementBefore("SplitGroup", models);
    for (const SplitFieldEntry& entry : entries) {
        XMLElement field = splitGroup.addElement("SplitField");
        field.addAttribute(XMLAttributes::Name, entry.name);
        field.addAttribute(XMLAttributes::Value, entry.value);
        field.addAttribute("isNull", entry.isNull);
    }

    XMLElement workerDataModel = FirstChild(root, XMLElements::DataModel);
    if (!workerDataModel.isEmpty()) return AnnotateWorkerDataModel(workerDataModel, entries);
    return AddWorkerDataModel(root, splitGroup, entries);
}

// The worker document has a data model: its split fields are brought in
// line with the input data model and marked as split fields; fields it
// lacks are copied in. Its field groups are left alone.
uint32_t SplitCollectPeer::AnnotateWorkerDataModel(XMLElement& workerDataModel,
                                                   const std::vector<SplitFieldEntry>& entries) {
    XMLElement workerFields = FirstChild(workerDataModel, XMLElements::Fields);
    if (workerFields.isEmpty()) return CF_BAD_XML;
    if (inputDataModel.isEmpty()) return CF_BAD_XML;
    XMLElement inputFields = FirstChild(inputDataModel, XMLElements::Fields);
    if (inputFields.isEmpty()) return CF_BAD_XML;

    for (const SplitFieldEntry& entry : entries) {
        XMLElement inputField = FindField(inputFields, entry.name);
        if (inputField.isEmpty()) return CF_BAD_XML;
        XMLElement workerField = FindOptionalField(workerFields, entry.name);
        if (workerField.isEmpty()) {
            workerFields.copyElement(inputField).addAttribute(XMLAttributes::Role,
                                                              XMLEntities::Split);
            continue;
        }
        CopyIfNotEmpty(inputField, workerField, XMLAttributes::Measure);
        CopyIfNotEmpty(inputField, workerField, XMLAttributes::Storage);
        workerField.addAttribute(XMLAttributes::Role, XMLEntities::Split);
        CopyIfNotEmpty(inputField, workerField, XMLAttributes::MaxStringLength);
        CopyIfNotEmpty(inputField, workerField, XMLAttributes::DisplayLabel);
    }

    const int64_t count =
        static_cast<int64_t>(workerFields.getElementsDirect(XMLElements::Field).count());
    workerFields.addAttribute(XMLAttributes::Count, count);
    return CF_OK;
}

// The worker document has no data model: a new one, placed before the
// split group, holds the input's field formats, the split field group and
// copies of the split fields.
uint32_t SplitCollectPeer::AddWorkerDataModel(XMLElement& workerRoot, XMLElement& splitGroup,
                                              const std::vector<SplitFieldEntry>& entries) {
    XMLElement dataModel = workerRoot.insertElementBefore(XMLElements::DataModel, splitGroup);
    const XMLElement inputRoot = inputDataModel;

    XMLElement formats = inputRoot.isEmpty() ? XMLElement()
                                             : FirstChild(inputRoot, XMLElements::FieldFormats);
    if (!formats.isEmpty()) dataModel.copyElement(formats);

    XMLElement group = dataModel.addElement(XMLElements::FieldGroups)
                           .addElement(XMLElements::FieldGroup);
    group.addAttribute(XMLAttributes::GroupType, XMLEntities::SplitGroup);
    group.addAttribute(XMLAttributes::Name, "");
    for (const SplitFieldEntry& entry : entries)
        group.addElement(XMLElements::FieldName).addAttribute(XMLAttributes::Name, entry.name);

    XMLElement inputFields =
        inputRoot.isEmpty() ? XMLElement() : FirstChild(inputRoot, XMLElements::Fields);
    if (inputFields.isEmpty()) return CF_BAD_XML;

    XMLElement fields = dataModel.addElement(XMLElements::Fields);
    const std::string caseSensitive = inputFields.getAttribute(XMLAttributes::CaseSensitive);
    if (!caseSensitive.empty()) fields.addAttribute(XMLAttributes::CaseSensitive, caseSensitive);
    fields.addAttribute(XMLAttributes::Count, static_cast<int64_t>(entries.size()));

    for (const SplitFieldEntry& entry : entries) {
        XMLElement inputField = FindField(inputFields, entry.name);
        if (inputField.isEmpty()) return CF_BAD_XML;
        fields.copyElement(inputField).addAttribute(XMLAttributes::Role, XMLEntities::Split);
    }
    return CF_OK;
}

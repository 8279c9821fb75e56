// Adds the data model section to the combined StatXML document: a copy of
// the component's input data model, extended by the split field group, with
// the split fields marked as such and the fields named by the target and
// input settings given those roles. Target and input roles that a non-empty
// setting no longer names are reset to none. Where a field is named by
// several lists the last marking wins: input over target over split.
#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "collect/split_collect_peer.h"

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
namespace XMLAttributes = CfCppHelperV1::XMLAttributes;
namespace XMLElements = CfCppHelperV1::XMLElements;
namespace XMLEntities = CfCppHelperV1::XMLEntities;

namespace {

XMLElement FirstChild(const XMLElement& parent, const std::string& name) {
    return parent.getElementsDirect(name).next();
}

// The fields by name, for data models with many fields: looking each listed
// name up in the document would cost a walk over the section per name. It
// finds what that lookup finds: the first Field element below the fields
// section, in document order and at any depth, that carries the name
// attribute with that value.
class FieldIndex {
public:
    explicit FieldIndex(const XMLElement& fields) {
        // A pre-order walk with a stack of its own: a deep section costs
        // memory, not the call stack.
        std::vector<XMLElement> pending;
        PushChildren(fields, pending);
        while (!pending.empty()) {
            XMLElement element = pending.back();
            pending.pop_back();
            if (element.getName() == XMLElements::Field && element.hasAttribute(XMLAttributes::Name))
                byName_.emplace(element.getAttribute(XMLAttributes::Name), element);
            PushChildren(element, pending);
        }
    }

    // The field named `name`; throws XMLException when there is none.
    XMLElement find(const std::string& name) const {
        const auto found = byName_.find(name);
        if (found == byName_.end()) throw CfCppHelperV1::XMLException("no field " + name);
        return found->second;
    }

private:
    // The element's children, so that the first is taken next.
    static void PushChildren(const XMLElement& parent, std::vector<XMLElement>& pending) {
        const size_t first = pending.size();
        for (XMLElementIterator children = parent.getElementsDirect(""); children.hasMore();)
            pending.push_back(children.next());
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
    }

    std::unordered_map<std::string, XMLElement> byName_;
};

// Sets the role of every listed field; false at the first name that no
// field carries (roles set before it stay).
bool MarkFields(const FieldIndex& index, const std::vector<std::string>& names, const char* role) {
    for (const std::string& name : names) {
        XMLElement field;
        try {
            field = index.find(name);
        } catch (const CfCppHelperV1::XMLException&) {
            return false;
        }
        field.addAttribute(XMLAttributes::Role, role);
    }
    return true;
}

// Resets to none the fields that still carry role but are no longer listed.
void ResetStaleRoles(XMLElement& fields, const std::vector<std::string>& names, const char* role) {
    if (names.empty()) return;
    const std::unordered_set<std::string> listed(names.begin(), names.end());
    const std::string roleText = role;
    XMLElementIterator children = fields.getElementsDirect(XMLElements::Field);
    while (children.hasMore()) {
        XMLElement field = children.next();
        if (field.getAttribute(XMLAttributes::Role) != roleText) continue;
        if (listed.count(field.getAttribute(XMLAttributes::Name)) == 0)
            field.addAttribute(XMLAttributes::Role, XMLEntities::None);
    }
}

// The section's field groups: the first existing one, else a new one placed
// before the record counts, else before the fields, else last.
XMLElement FieldGroupsOf(XMLElement& section) {
    XMLElement groups = FirstChild(section, XMLElements::FieldGroups);
    if (!groups.isEmpty()) return groups;
    XMLElement before = FirstChild(section, XMLElements::RecordCounts);
    if (before.isEmpty()) before = FirstChild(section, XMLElements::Fields);
    if (before.isEmpty()) return section.addElement(XMLElements::FieldGroups);
    return section.insertElementBefore(XMLElements::FieldGroups, before);
}

// Adds the split field group unless the field groups already have one.
void EnsureSplitFieldGroup(XMLElement& groups, const std::vector<std::string>& splitFieldNames) {
    try {
        groups.getElementByAttribute(XMLElements::FieldGroup, XMLAttributes::GroupType,
                                     XMLEntities::SplitGroup);
        return;
    } catch (const CfCppHelperV1::XMLException&) {
    }
    XMLElement group = groups.addElement(XMLElements::FieldGroup);
    group.addAttribute(XMLAttributes::GroupType, XMLEntities::SplitGroup);
    group.addAttribute(XMLAttributes::Name, "");
    for (const std::string& name : splitFieldNames)
        group.addElement(XMLElements::FieldName).addAttribute(XMLAttributes::Name, name);
    int64_t count = 0;
    if (groups.getAttribute(XMLAttributes::Count, count))
        groups.addAttribute(XMLAttributes::Count, count + 1);
}

}  // namespace

uint32_t SplitCollectPeer::BuildCollectedDataModel() {
    // Without both documents (no execution began) there is no section to
    // build.
    if (combinedStatXML.isEmpty() || inputDataModel.isEmpty()) return CF_BAD_XML;

    XMLElement firstGroup = FirstChild(combinedStatXML, "SplitGroup");
    XMLElement section = firstGroup.isEmpty()
                             ? combinedStatXML.copyElement(inputDataModel)
                             : combinedStatXML.copyElementBefore(inputDataModel, firstGroup);

    XMLElement groups = FieldGroupsOf(section);
    EnsureSplitFieldGroup(groups, splitFieldNames);

    XMLElement fields = FirstChild(section, XMLElements::Fields);
    if (fields.isEmpty()) return CF_BAD_XML;
    const FieldIndex index(fields);
    if (!MarkFields(index, splitFieldNames, XMLEntities::Split)) return CF_BAD_XML;
    if (!MarkFields(index, targetFieldList, XMLEntities::Target)) return CF_BAD_XML;
    ResetStaleRoles(fields, targetFieldList, XMLEntities::Target);
    if (!MarkFields(index, inputFieldList, XMLEntities::Input)) return CF_BAD_XML;
    ResetStaleRoles(fields, inputFieldList, XMLEntities::Input);
    return CF_OK;
}

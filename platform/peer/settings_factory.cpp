// Settings from a parameter document:
//   <Parameters><Parameter name="n"><Value value="v"/>...</Parameter>...</Parameters>
#include "qor_settings.h"

namespace QorCommon_940 {

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;

namespace {

std::vector<std::string> parameterValues(const XMLElement& parameter) {
    std::vector<std::string> values;
    XMLElementIterator items = parameter.getElementsDirect(CfCppHelperV1::XMLElements::Value);
    while (items.hasMore()) values.push_back(items.next().getAttribute("value"));
    return values;
}

}  // namespace

// The previous settings are replaced only when the document is a parameter
// document. A Parameter without a name is skipped; when a name repeats, the
// last Parameter of that name wins.
uint32_t QorSettingsFactory::MakeModelSettings(CfCppHelperV1::XMLDocument& document,
                                               QorXML_940::QorSettings& settings, int* /*err*/) {
    if (document.isEmpty() || document.getName() != "Parameters") return CF_BAD_XML;
    settings.Clear();
    XMLElementIterator parameters = document.getElementsDirect("Parameter");
    while (parameters.hasMore()) {
        XMLElement parameter = parameters.next();
        if (!parameter.hasAttribute("name")) continue;
        settings.SetSettingVal(parameter.getAttribute("name"), parameterValues(parameter));
    }
    return CF_OK;
}

}  // namespace QorCommon_940

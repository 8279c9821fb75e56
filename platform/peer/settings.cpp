// A component's settings: each name maps to its list of values.
#include "qor_settings.h"

namespace QorXML_940 {

QorSettings::QorSettings() = default;
QorSettings::~QorSettings() = default;

bool QorSettings::GetSettingValByName(const std::string& name,
                                      std::vector<std::string>& values) const {
    auto found = values_.find(name);
    if (found == values_.end()) return false;
    values = found->second;
    return true;
}

void QorSettings::SetSettingVal(const std::string& name, const std::vector<std::string>& values) {
    values_[name] = values;
}

void QorSettings::Clear() { values_.clear(); }

size_t QorSettings::Size() const { return values_.size(); }

}  // namespace QorXML_940

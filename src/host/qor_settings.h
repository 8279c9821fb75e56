// Settings of a component, read from its parameter document.
#ifndef SPLIT_HOST_QOR_SETTINGS_H
#define SPLIT_HOST_QOR_SETTINGS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cf_cpp_helper.h"

namespace QorXML_940 {

// Values by setting name. Reads may overlap each other; writes need
// external synchronisation.
class QorSettings {
public:
    QorSettings();
    ~QorSettings();
    // True and the setting's values (replacing the list's contents) when the
    // setting exists.
    bool GetSettingValByName(const std::string& name, std::vector<std::string>& values) const;
    void SetSettingVal(const std::string& name, const std::vector<std::string>& values);
    void Clear();
    size_t Size() const;

private:
    std::map<std::string, std::vector<std::string>> values_;
};

}  // namespace QorXML_940

namespace QorCommon_940 {

class QorSettingsFactory {
public:
    // Fills settings from a parameter document; 0 on success, 5 when the
    // document is not a parameter document.
    static uint32_t MakeModelSettings(CfCppHelperV1::XMLDocument& document,
                                      QorXML_940::QorSettings& settings, int* err);
};

}  // namespace QorCommon_940

#endif

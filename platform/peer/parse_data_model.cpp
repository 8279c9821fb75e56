// Reading the input data model into the FieldInfo table.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "host_text.h"
#include "qor_peer.h"

namespace QorCF_940 {

namespace {

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
namespace Names = CfCppHelperV1::XMLElements;
namespace Attrs = CfCppHelperV1::XMLAttributes;

// Position in the table is the code; texts are compared exactly.
int32_t codeOf(const std::string& text, const std::array<const char*, 7>& texts) {
    for (size_t code = 1; code < texts.size(); ++code)
        if (texts[code] && text == texts[code]) return static_cast<int32_t>(code);
    return 0;
}

// A decimal integer that fits 32 bits, or false.
bool readInteger(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 11) return false;
    size_t digits = text[0] == '-' ? 1 : 0;
    if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    const long long parsed = std::stoll(text);
    if (parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// A storage is named, or given by its code when it has no name (a host may
// know storages beyond the six named ones).
int32_t storageCode(const std::string& text) {
    static const std::array<const char*, 7> texts = {nullptr,  "integer", "real",     "string",
                                                     "date",   "time",    "timestamp"};
    int32_t code = 0;
    if (readInteger(text, code)) return code;
    return codeOf(text, texts);
}

int32_t measureCode(const std::string& text) {
    static const std::array<const char*, 7> texts = {
        nullptr, "continuous", "flag", "nominal", "ordinal", "categorical", nullptr};
    return codeOf(text, texts);
}

// The number of categories is that of the field's Value children, unless a
// "categories" attribute states it (a count the host knows without listing
// the values; it is taken as it is, even when negative).
std::unique_ptr<FieldInfo> describeField(const XMLElement& field) {
    int32_t categories = 0;
    if (!readInteger(field.getAttribute("categories"), categories))
        categories = static_cast<int32_t>(field.getElementsDirect(Names::Value).count());
    return std::make_unique<FieldInfo>(field.getAttribute(Attrs::Name),
                                       storageCode(field.getAttribute(Attrs::Storage)),
                                       measureCode(field.getAttribute(Attrs::Measure)),
                                       categories);
}

// The field table of a data model document, or status 5 when it has no
// Fields element.
uint32_t readFields(CfCppHelperV1::XMLDocument& document,
                    std::vector<std::unique_ptr<FieldInfo>>& table) {
    XMLElementIterator sections = document.getElementsDirect(Names::Fields);
    if (!sections.hasMore()) return CF_BAD_XML;
    XMLElementIterator fields = sections.next().getElementsDirect(Names::Field);
    while (fields.hasMore()) table.push_back(describeField(fields.next()));
    return CF_OK;
}

}  // namespace

// Components here read one input, so the model of input 0 always replaces
// the whole table: keepPrevious and inputCount are accepted for the callers'
// sake and not used. On any failure the previous table stays as it was.
uint32_t QorPeer::ParseDataModel(int* err, bool /*keepPrevious*/, int /*inputCount*/) {
    if (!context || !context->getInputDataModel || !hostHelper) return CF_FAILED;
    std::string text;
    uint32_t status = qorpeer::ReadHostText(
        [&](char* buffer, size_t size, size_t* needed) {
            return context->getInputDataModel(context->handle, 0, buffer, size, needed, err);
        },
        text);
    if (status != CF_OK) return status;

    CfCppHelperV1::XMLDocument document;
    try {
        document = hostHelper->createFromContents(text);
    } catch (const CfCppHelperV1::XMLException&) {
        return CF_BAD_XML;
    }
    std::vector<std::unique_ptr<FieldInfo>> table;
    status = readFields(document, table);
    document.dispose();
    if (status != CF_OK) return status;

    ClearFieldInfos();
    fieldInfos.reserve(table.size());
    for (auto& info : table) fieldInfos.push_back(info.release());
    return CF_OK;
}

}  // namespace QorCF_940

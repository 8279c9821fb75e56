// The worker task document: one SplitField element per split field, naming
// the field and its value in the first record of the group next in line.
#include <cstring>

#include "distribute/distribute_codes.h"
#include "distribute/split_distribute_peer.h"
#include "distribute/storage_kind.h"
#include "distribute/value_text.h"

using namespace split;
using namespace CfCppHelperV1;

namespace {

// An 8-byte number from a value; a host reporting fewer bytes gets the rest
// zeroed rather than read past its value.
template <class Number>
Number ReadNumber(const char* bytes, size_t length) {
    Number number{};
    std::memcpy(&number, bytes, length < sizeof number ? length : sizeof number);
    return number;
}

// The value text of a present value by its storage code.
std::string PresentValueText(StorageKind kind, const void* value, size_t length) {
    const char* bytes = static_cast<const char*>(value);
    switch (kind) {
        case StorageKind::Integer:
            return IntegerText(ReadNumber<int64_t>(bytes, length));
        case StorageKind::Real:
            return RealText(ReadNumber<double>(bytes, length));
        case StorageKind::String:
            return StringText(bytes, length);
        default:
            return std::string();
    }
}

}  // namespace

uint32_t SplitDistributePeer::BuildTaskDocument(std::string& text, int* err) {
    if (!recordsRemain) return CF_NO_RECORDS;
    if (hostHelper == nullptr || dataHelper == nullptr) return CF_FAILED;
    XMLDocument doc = hostHelper->createNew("SplitFields");
    // The document is disposed on every way out, an exception's included.
    struct Disposer {
        XMLDocument& doc;
        ~Disposer() { doc.dispose(); }
    } disposer{doc};

    for (size_t i = 0; i < splitFieldNames.size(); ++i) {
        XMLElement field = doc.addElement("SplitField");
        field.addAttribute(XMLAttributes::Name, splitFieldNames[i]);

        const QorCF_940::FieldInfo* info = SplitFieldInfo(i);
        if (info == nullptr) return CF_FAILED;  // not resolved by Configure
        void* value = nullptr;
        size_t length = 0;
        if (uint32_t status = dataHelper->getRecordValue(splitFieldIndices[i], &value, &length, err);
            status != CF_OK) {
            RaiseError(kMsgSplitValueUnreadable);  // err stays as the reader set it
            return status;
        }
        std::string valueText;
        const char* nullText = XMLEntities::False;
        if (value == nullptr) {
            nullText = XMLEntities::True;
        } else {
            const StorageKind kind = KindOfStorage(info->GetStorage());
            if (kind == StorageKind::Unusable) {
                RaiseError(kMsgUnusableStorage, splitFieldNames[i]);
                SetErr(err, kMsgUnusableStorage);
                return CF_FAILED;
            }
            valueText = PresentValueText(kind, value, length);
        }
        field.addAttribute(XMLAttributes::Value, valueText);
        field.addAttribute("isNull", nullText);
    }
    doc.doc2string(text);
    return CF_OK;
}

// Configuration of the distribute peer and the planning answers it gives
// before execution: its data model and its worker task number.
#include "distribute/distribute_codes.h"
#include "module/host_calls.h"
#include "distribute/split_distribute_peer.h"

using namespace split;

uint32_t SplitDistributePeer::Configure(int* err) {
    return Guarded([&]() -> uint32_t {
        if (uint32_t status = ScanParameters(err); status != CF_OK) return status;
        if (uint32_t status = ParseDataModel(err, false, 1); status != CF_OK) return status;
        dataModelParsed = true;
        if (!settings.GetSettingValByName("split_fields", splitFieldNames) ||
            splitFieldNames.empty()) {
            RaiseError(kMsgNoSplitFields);
            SetErr(err, kMsgNoSplitFields);
            return CF_FAILED;
        }
        return ResolveSplitFields(err);
    });
}

uint32_t SplitDistributePeer::ResolveSplitFields(int* err) {
    splitFieldIndices.clear();
    // Only a missing data model fails silently; a parsed one without fields
    // names the split field it lacks, like any other.
    if (!dataModelParsed) return CF_FAILED;
    for (const std::string& name : splitFieldNames) {
        // Exact match: same bytes, case-sensitive, no trimming; first field wins.
        uint64_t position = 0;
        while (position < fieldInfos.size() &&
               (fieldInfos[position] == nullptr || fieldInfos[position]->GetFieldName() != name)) {
            ++position;
        }
        if (position == fieldInfos.size()) {
            RaiseError(kMsgUnknownSplitField, name);
            SetErr(err, kMsgUnknownSplitField);
            return CF_FAILED;
        }
        splitFieldIndices.push_back(position);
    }
    return CF_OK;
}

uint32_t SplitDistributePeer::GetDataModel(int /*index*/, char* buffer, size_t size,
                                           size_t* needed, int* err) {
    // The component passes its input data model on unchanged, to every worker.
    return host::GetInputDataModel(context, 0, buffer, size, needed, err);
}

uint32_t SplitDistributePeer::GetWorkerTaskNumber(int64* count, int* err) {
    // The number of category combinations of the split fields (1 without
    // split fields); a field not in the data model counts 0 categories. The
    // product is a signed 32-bit one, as the host forms it, widened to 64
    // bits; a negative category count goes into it as it is. A product
    // beyond 32 bits wraps as the host's would (computed unsigned, so the
    // wrap is defined).
    uint32_t product = 1;
    for (size_t i = 0; i < splitFieldIndices.size(); ++i) {
        const QorCF_940::FieldInfo* info = SplitFieldInfo(i);
        const int32_t categories = info != nullptr ? info->GetNumberOfCategories() : 0;
        product *= static_cast<uint32_t>(categories);
    }
    if (count != nullptr) *count = static_cast<int64>(static_cast<int32_t>(product));
    SetErr(err, 0);
    return CF_OK;
}

// Configuration of the distribute peer and the planning answers it gives
// before execution: its data model and its worker task number.
#include <limits>

#include "distribute/distribute_codes.h"
#include "distribute/host_calls.h"
#include "distribute/split_distribute_peer.h"

using namespace split;

uint32_t SplitDistributePeer::Configure(int* err) {
    return Guarded([&]() -> uint32_t {
        if (uint32_t status = ScanParameters(err); status != CF_OK) return status;
        if (uint32_t status = ParseDataModel(err, false, 1); status != CF_OK) return status;
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
    if (fieldInfos.empty()) return CF_FAILED;
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
    // split fields). A field without categories, or not in the data model,
    // makes it 0. The product is formed in 64 bits and held at the largest
    // count rather than wrapping: a count beyond 32 bits is still a count.
    int64 product = 1;
    for (size_t i = 0; i < splitFieldIndices.size(); ++i) {
        const QorCF_940::FieldInfo* info = SplitFieldInfo(i);
        const int64 categories = info != nullptr ? info->GetNumberOfCategories() : 0;
        if (categories <= 0) {
            product = 0;
            break;
        }
        product = product > std::numeric_limits<int64>::max() / categories
                      ? std::numeric_limits<int64>::max()
                      : product * categories;
    }
    if (count != nullptr) *count = product;
    SetErr(err, 0);
    return CF_OK;
}

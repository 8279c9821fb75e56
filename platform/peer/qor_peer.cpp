// The peer base: construction, destruction and the operations that reach the
// component's context directly.
#include "qor_peer.h"

namespace QorCF_940 {

QorPeer::QorPeer(CFContext* context, CFHost* host)
    : context(context),
      host(host),
      hostHelper(CfCppHelperV1::HostHelper::create(host)),
      dataHelper(nullptr),
      progress(nullptr),
      executing(false) {}

// The DataHelper belongs to the derived peer that installed it, so it is not
// deleted here.
QorPeer::~QorPeer() noexcept(false) {
    ClearFieldInfos();
    delete hostHelper;
}

void QorPeer::ClearFieldInfos() {
    for (FieldInfo* info : fieldInfos) delete info;
    fieldInfos.clear();
}

uint32_t QorPeer::GetDataModel(int index, char* buffer, size_t size, size_t* needed, int* err) {
    if (!context || !context->getInputDataModel) return CF_FAILED;
    return context->getInputDataModel(context->handle, index, buffer, size, needed, err);
}

uint32_t QorPeer::GetInputIterator(int index, CFIterator** iterator, int* err) {
    if (!context || !context->getInputIterator) return CF_FAILED;
    return context->getInputIterator(context->handle, index, iterator, err);
}

// Peers read a single input; the vector form hands them the first one.
uint32_t QorPeer::BeginExecution(const std::vector<CFIterator*>& inputs, CFProgress* progress,
                                 int* err) {
    return BeginExecution(inputs.empty() ? nullptr : inputs.front(), progress, err);
}

uint32_t QorPeer::EndExecution(int* /*err*/) {
    executing = false;
    return CF_OK;
}

// There is nothing running in the base to stop.
uint32_t QorPeer::CancelExecution(int* /*err*/) { return CF_OK; }

}  // namespace QorCF_940

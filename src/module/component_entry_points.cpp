// Per-component entry points shared by both components: each forwards to the
// peer's virtual operation and returns its status unchanged.
#include "module/cf_entry_points.h"
#include "module/component_factory.h"

using split::PeerOf;

extern "C" {

uint32_t cf_component_configure(void* component, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->Configure(err);
}

uint32_t cf_component_beginExecution(void* component, CFProgress* progress, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    QorCF_940::QorPeer* peer = PeerOf(component);
    // A refused input reaches BeginExecution as a null input, which it rejects.
    CFIterator* input = nullptr;
    peer->GetInputIterator(0, &input, err);
    return peer->BeginExecution(input, progress, err);
}

uint32_t cf_component_endExecution(void* component, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->EndExecution(err);
}

uint32_t cf_component_nextRecord(void* component, int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->NextRecord(err);
}

uint32_t cf_component_getRecordValue(void* component, size_t field, void** value, size_t* length,
                                     int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->GetRecordValue(field, value, length, err);
}

uint32_t cf_component_getMessages(void* component, char* buffer, size_t size, size_t* needed,
                                  int* err) {
    if (component == nullptr) return CF_NO_RECORDS;  // this call answers a null component with 9, not 2
    return PeerOf(component)->GetErrorDetail(buffer, size, needed, err);
}

uint32_t cf_component_getIteratorRequirements(void* component, int64* a, int64** b, int64* c,
                                              int* err) {
    if (component == nullptr) return CF_NULL_COMPONENT;
    return PeerOf(component)->GetIteratorRequirements(a, b, c, err);
}

}  // extern "C"

// Module-wide entry points: start-up, shut-down, the factory and the two
// documents that need no component.
#include "module/cf_entry_points.h"
#include "module/component_factory.h"
#include "module/module_documents.h"
#include "module/module_host.h"

uint32_t cf_getModuleInformation(char* buffer, size_t size, size_t* needed, int* /*err*/) {
    return split::WriteModuleInformation(buffer, size, needed);
}

extern "C" {

uint32_t cf_initialise(CFHost* host) {
    if (host == nullptr) return CF_NULL_COMPONENT;
    split::moduleHost = host;
    return CF_OK;
}

uint32_t cf_cleanup() {
    // The host handle stays: components may still be alive.
    return CF_OK;
}

uint32_t cf_create_component(CFContext* context, const char* name, void** component, int* err) {
    return split::CreateComponent(context, name, component, err);
}

uint32_t cf_destroy_component(void* component, int* err) {
    return split::DestroyComponent(component, err);
}

uint32_t cf_component_getExecutionRequirements(void* /*component*/, char* buffer, size_t size,
                                               size_t* needed) {
    return split::WriteExecutionRequirements(buffer, size, needed);
}

}  // extern "C"

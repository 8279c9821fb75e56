/* The functions the host looks up in the module. The component handle is the
   peer object made by cf_create_component, opaque to the host. The header is
   usable from C and C++; the installed package documents every function in
   share/doc/split/host-contract.md. */
#ifndef SPLIT_MODULE_CF_ENTRY_POINTS_H
#define SPLIT_MODULE_CF_ENTRY_POINTS_H

#include <stddef.h>
#include <stdint.h>

#include "cf_records.h"

#define SPLIT_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
/* Exported under its C++ (type-decorated) name, which hosts look up:
   _Z23cf_getModuleInformationPcmPmPi. A C host declares a function pointer of
   the same type and finds it by that name with dlsym. */
SPLIT_EXPORT uint32_t cf_getModuleInformation(char* buffer, size_t size, size_t* needed, int* err);

extern "C" {
#endif

SPLIT_EXPORT uint32_t cf_initialise(CFHost* host);
SPLIT_EXPORT uint32_t cf_cleanup(void);
SPLIT_EXPORT uint32_t cf_create_component(CFContext* context, const char* name, void** component,
                                          int* err);
SPLIT_EXPORT uint32_t cf_destroy_component(void* component, int* err);

SPLIT_EXPORT uint32_t cf_component_configure(void* component, int* err);
SPLIT_EXPORT uint32_t cf_component_beginExecution(void* component, CFProgress* progress, int* err);
SPLIT_EXPORT uint32_t cf_component_endExecution(void* component, int* err);
SPLIT_EXPORT uint32_t cf_component_nextRecord(void* component, int* err);
SPLIT_EXPORT uint32_t cf_component_getRecordValue(void* component, size_t field, void** value,
                                                  size_t* length, int* err);
SPLIT_EXPORT uint32_t cf_component_getMessages(void* component, char* buffer, size_t size,
                                               size_t* needed, int* err);
SPLIT_EXPORT uint32_t cf_component_getIteratorRequirements(void* component, int64* a, int64** b,
                                                           int64* c, int* err);
SPLIT_EXPORT uint32_t cf_component_getExecutionRequirements(void* component, char* buffer,
                                                            size_t size, size_t* needed);

SPLIT_EXPORT uint32_t cf_distribute_getWorkerTask(void* component, CFWorker* worker, char* first,
                                                  size_t firstSize, size_t* firstNeeded,
                                                  char* second, size_t secondSize,
                                                  size_t* secondNeeded, int* err);
SPLIT_EXPORT uint32_t cf_distribute_getWorkerTaskNumber(void* component, int64* count, int* err);
SPLIT_EXPORT uint32_t cf_distribute_getDataModel(void* component, CFWorker* worker, size_t index,
                                                 char* buffer, size_t size, size_t* needed,
                                                 int* err);
SPLIT_EXPORT uint32_t cf_distribute_getIterator(void* component, CFWorker* worker, size_t index,
                                                CFIterator** iterator, int* err);
SPLIT_EXPORT uint32_t cf_distribute_getContainer(void* component, CFWorker* worker,
                                                 const char* name, CFContainerFile** container,
                                                 int* err);

/* Ignores its arguments; hosts may pass what they like. */
SPLIT_EXPORT uint32_t cf_collect_startedWorkerTask(void* component, CFWorker* worker, int* err);
SPLIT_EXPORT uint32_t cf_collect_completedWorkerTask(void* component, CFWorker* worker, int* err);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif

// Calls of host record operations. A record or operation the host left null
// fails with status 1 instead of crashing the host's process.
#ifndef SPLIT_DISTRIBUTE_HOST_CALLS_H
#define SPLIT_DISTRIBUTE_HOST_CALLS_H

#include <cstdint>

#include "cf_records.h"

namespace split::host {

inline uint32_t GetThreadServices(CFContext* c, CFThreadServices** out, int* err) {
    if (!c || !c->getThreadServices) return CF_FAILED;
    return c->getThreadServices(c->handle, out, err);
}
inline CFLock* CreateLock(CFThreadServices* t, int* err) {
    if (!t || !t->createLock) return nullptr;
    return t->createLock(t->handle, err);
}
// destroyLock takes the lock record itself in place of the services' handle.
inline uint32_t DestroyLock(CFThreadServices* t, CFLock* lock, int* err) {
    if (!t || !t->destroyLock) return CF_FAILED;
    return t->destroyLock(lock, err);
}
inline uint32_t Lock(CFLock* l, int* err) {
    if (!l || !l->lock) return CF_FAILED;
    return l->lock(l->handle, err);
}
inline uint32_t Unlock(CFLock* l, int* err) {
    if (!l || !l->unlock) return CF_FAILED;
    return l->unlock(l->handle, err);
}
inline uint32_t GetInputDataModel(CFContext* c, int index, char* buffer, size_t size,
                                  size_t* needed, int* err) {
    if (!c || !c->getInputDataModel) return CF_FAILED;
    return c->getInputDataModel(c->handle, index, buffer, size, needed, err);
}
inline uint32_t CreateWorker(CFContext* c, CFWorker** out, int* err) {
    if (!c || !c->createWorker) return CF_FAILED;
    return c->createWorker(c->handle, out, err);
}
// Record sets are always created without a name.
inline uint32_t CreateRecordSet(CFContext* c, CFRecordSet** out, int* err) {
    if (!c || !c->createRecordSet) return CF_FAILED;
    return c->createRecordSet(c->handle, out, err, "");
}
inline uint32_t ReleaseRecordSet(CFContext* c, CFRecordSet* records, int* err) {
    if (!c || !c->releaseRecordSet) return CF_FAILED;
    return c->releaseRecordSet(c->handle, records, err);
}
inline uint32_t AddRecord(CFRecordSet* r, CFIterator* source, int* err) {
    if (!r || !r->addRecord) return CF_FAILED;
    return r->addRecord(r->handle, source, err);
}
inline uint32_t GetIterator(CFRecordSet* r, CFIterator** out, int* err) {
    if (!r || !r->getIterator) return CF_FAILED;
    return r->getIterator(r->handle, out, err);
}
inline uint32_t OpenContainer(CFContext* c, const char* name, int mode, CFContainerFile** out,
                              int* err) {
    if (!c || !c->openContainer) return CF_FAILED;
    return c->openContainer(c->handle, name, mode, out, err);
}
// The container's default entry, with no properties.
inline uint32_t OpenDefaultEntry(CFContainerFile* f, int mode, CFStream** out, int* err) {
    if (!f || !f->openEntry) return CF_FAILED;
    return f->openEntry(f->handle, nullptr, mode, "", out, err);
}
inline uint32_t CloseContainer(CFContainerFile* f, int* err) {
    if (!f || !f->closeContainer) return CF_FAILED;
    return f->closeContainer(f->handle, err);
}
inline uint32_t ReadStream(CFStream* s, char* buffer, size_t capacity, size_t* got, int* err) {
    if (!s || !s->readStream) return CF_FAILED;
    return s->readStream(s->handle, buffer, capacity, got, err);
}
inline uint32_t WriteStream(CFStream* s, const char* data, size_t length, int* err) {
    if (!s || !s->writeStream) return CF_FAILED;
    return s->writeStream(s->handle, data, length, err);
}
inline uint32_t CloseStream(CFStream* s, int* err) {
    if (!s || !s->closeStream) return CF_FAILED;
    return s->closeStream(s->handle, err);
}

}  // namespace split::host

#endif

// Calls of host record operations, for both components.
//
// A host that breaks its side of a record does not crash the process: a
// record or operation left null fails the call with status 1, as does a
// call that reports success (status 0) without the record it was to yield,
// when the module would go on to use that record. The caller then treats
// the call as refused. The error slot is left as the host left it.
#ifndef SPLIT_MODULE_HOST_CALLS_H
#define SPLIT_MODULE_HOST_CALLS_H

#include <cstddef>
#include <cstdint>

#include "cf_records.h"

namespace split::host {

// The status of a call that was to yield `out`: 1 in place of 0 when it
// yielded nothing.
template <class Record>
inline uint32_t Yielded(uint32_t status, Record* const* out) {
    return status == CF_OK && (out == nullptr || *out == nullptr) ? uint32_t{CF_FAILED} : status;
}

// Context.
inline uint32_t GetThreadServices(CFContext* c, CFThreadServices** out, int* err) {
    if (!c || !c->getThreadServices) return CF_FAILED;
    return Yielded(c->getThreadServices(c->handle, out, err), out);
}
inline uint32_t GetInputDataModel(CFContext* c, int index, char* buffer, size_t size,
                                  size_t* needed, int* err) {
    if (!c || !c->getInputDataModel) return CF_FAILED;
    return c->getInputDataModel(c->handle, index, buffer, size, needed, err);
}
// The worker handle is only handed back to the host, so a null one stands.
inline uint32_t CreateWorker(CFContext* c, CFWorker** out, int* err) {
    if (!c || !c->createWorker) return CF_FAILED;
    return c->createWorker(c->handle, out, err);
}
// Record sets are always created without a name.
inline uint32_t CreateRecordSet(CFContext* c, CFRecordSet** out, int* err) {
    if (!c || !c->createRecordSet) return CF_FAILED;
    return Yielded(c->createRecordSet(c->handle, out, err, ""), out);
}
inline uint32_t ReleaseRecordSet(CFContext* c, CFRecordSet* records, int* err) {
    if (!c || !c->releaseRecordSet) return CF_FAILED;
    return c->releaseRecordSet(c->handle, records, err);
}
inline uint32_t OpenContainer(CFContext* c, const char* name, int mode, CFContainerFile** out,
                              int* err) {
    if (!c || !c->openContainer) return CF_FAILED;
    return Yielded(c->openContainer(c->handle, name, mode, out, err), out);
}

// Thread services and locks.
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

// Record sets. The iterator is only handed on to the host.
inline uint32_t AddRecord(CFRecordSet* r, CFIterator* source, int* err) {
    if (!r || !r->addRecord) return CF_FAILED;
    return r->addRecord(r->handle, source, err);
}
inline uint32_t GetIterator(CFRecordSet* r, CFIterator** out, int* err) {
    if (!r || !r->getIterator) return CF_FAILED;
    return r->getIterator(r->handle, out, err);
}

// Containers, their keys and streams.
inline uint32_t CreateKey(CFContainerFile* f, CFEntryKey** out, int* err) {
    if (!f || !f->createKey) return CF_FAILED;
    return Yielded(f->createKey(f->handle, out, err), out);
}
inline uint32_t GetKeys(CFContainerFile* f, CFKeyList** out, int* err) {
    if (!f || !f->getKeys) return CF_FAILED;
    return Yielded(f->getKeys(f->handle, out, err), out);
}
// key null: the container's default entry.
inline uint32_t OpenEntry(CFContainerFile* f, CFEntryKey* key, int mode, const char* properties,
                          CFStream** out, int* err) {
    if (!f || !f->openEntry) return CF_FAILED;
    return Yielded(f->openEntry(f->handle, key, mode, properties, out, err), out);
}
// The container's default entry, with no properties.
inline uint32_t OpenDefaultEntry(CFContainerFile* f, int mode, CFStream** out, int* err) {
    return OpenEntry(f, nullptr, mode, "", out, err);
}
inline uint32_t CloseContainer(CFContainerFile* f, int* err) {
    if (!f || !f->closeContainer) return CF_FAILED;
    return f->closeContainer(f->handle, err);
}
inline uint32_t SetKeyText(CFEntryKey* k, const char* text, size_t length, int* err) {
    if (!k || !k->setKeyText) return CF_FAILED;
    return k->setKeyText(k->handle, 0, text, length, err);
}
inline uint32_t FirstKey(CFKeyList* l, CFEntryKey** out, int* err) {
    if (!l || !l->firstKey) return CF_FAILED;
    return Yielded(l->firstKey(l->handle, out, err), out);
}
inline uint32_t ReleaseKeys(CFKeyList* l, int* err) {
    if (!l || !l->releaseKeys) return CF_FAILED;
    return l->releaseKeys(l->handle, err);
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

// Workers.
inline uint32_t GetTask(CFWorker* w, char* first, size_t firstSize, size_t* firstNeeded,
                        char* second, size_t secondSize, size_t* secondNeeded, int* err) {
    if (!w || !w->getTask) return CF_FAILED;
    return w->getTask(w->handle, first, firstSize, firstNeeded, second, secondSize, secondNeeded,
                      err);
}
inline uint32_t OpenWorkerContainer(CFWorker* w, const char* name, CFContainerFile** out,
                                    int* err) {
    if (!w || !w->openWorkerContainer) return CF_FAILED;
    return Yielded(w->openWorkerContainer(w->handle, name, out, err), out);
}

}  // namespace split::host

#endif

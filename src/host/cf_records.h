// Host records: the tables of operations through which the host framework
// hands the module its contexts, workers, containers, streams, record sets,
// iterators and thread services.
//
// Every record is a sequence of pointer-sized words. Word 0 is an opaque
// handle that is passed back as the first argument of every operation; the
// following words are operations. Unless noted otherwise an operation
// returns an unsigned status (0 for success) and takes the caller's error
// slot last. Words marked "reserved" are not called by the module; a host may
// leave them null.
//
// Ownership: the host owns every record it hands the module and keeps it
// valid for as long as each record's comment says; the module never frees
// one (it gives record sets back with releaseRecordSet and locks with
// destroyLock). Texts the module passes to an operation (names, key texts,
// properties, data) are valid only during the call.
//
// Threads: the module calls a context's and a container's operations from
// whichever host thread called into it, and from several at once where the
// host lets calls overlap (see "Thread safety" in host-contract.md, which the
// package installs under share/doc/split/); the host makes those operations
// safe for that. One iterator, stream or key list is never used by two
// threads at once.
#ifndef SPLIT_HOST_CF_RECORDS_H
#define SPLIT_HOST_CF_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int64_t int64;
typedef uint32_t cf_status;

/* Status values shared by the module and the host. */
enum {
    CF_OK = 0,
    CF_FAILED = 1,
    CF_NULL_COMPONENT = 2,
    CF_NOT_SUPPORTED = 3,
    CF_BAD_XML = 5,
    CF_NO_INPUT_OR_PROGRESS = 8,
    CF_NO_RECORDS = 9,
    CF_BUFFER_TOO_SMALL = 13,
    CF_UNKNOWN_CONTAINER = 29,
    CF_NO_WORKER_TASK = 30
};

/* Container and entry open modes. */
enum { CF_MODE_READ = 0, CF_MODE_WRITE = 1 };

typedef struct CFIterator CFIterator;
typedef struct CFWorker CFWorker;

/* The host itself, handed to cf_initialise; must stay valid until the last
   component is destroyed. The module does not call getHostVersion. */
typedef struct CFHost {
    void* handle;
    /* Host version text by the buffer protocol. */
    cf_status (*getHostVersion)(void* h, char* buffer, size_t size, size_t* needed, int* err);
} CFHost;

/* Progress reporting of an execution. Required by begin execution and kept
   until it ends; the module does not call report. */
typedef struct CFProgress {
    void* handle;
    cf_status (*report)(void* h, uint64_t done, uint64_t total, int* err);
} CFProgress;

/* A forward iterator over records of typed fields.
   nextRecord sets *more to 1 when a record became current, 0 at the end.
   getRecordValue yields a pointer to the value's bytes (null for a missing
   value) that stays valid until the iterator moves. The input iterator of
   the distribute component must stay valid from begin to end of execution;
   the module rewinds it and reads it again while it hands out groups. */
struct CFIterator {
    void* handle;
    cf_status (*nextRecord)(void* h, int* more, int* err);
    cf_status (*rewind)(void* h, int* err);
    cf_status (*getRecordValue)(void* h, size_t field, void** value, size_t* length, int* err);
    cf_status (*getFieldCount)(void* h, size_t* count, int* err);
};

/* A host lock, held by one thread at a time; the module never takes it
   twice on one thread and always unlocks on the thread that locked. */
typedef struct CFLock {
    void* handle;
    cf_status (*lock)(void* h, int* err);
    cf_status (*unlock)(void* h, int* err);
} CFLock;

/* Thread services of a context. createLock returns a lock record or null;
   destroyLock takes the lock record itself in place of the handle. The
   module does not call getThreadCount. Each
   component asks once, at creation, and destroys its lock when destroyed;
   without services or a lock the host must not overlap the calls the lock
   would serialise. */
typedef struct CFThreadServices {
    void* handle;
    cf_status (*getThreadCount)(void* h, size_t* count, int* err);
    void* reserved2;
    CFLock* (*createLock)(void* h, int* err);
    cf_status (*destroyLock)(CFLock* lock, int* err);
} CFThreadServices;

/* A stream on one container entry. readStream fills up to capacity bytes;
   a count below capacity means the entry has ended. The module closes each
   stream it opened once, and uses it no more. */
typedef struct CFStream {
    void* handle;
    cf_status (*readStream)(void* h, char* buffer, size_t capacity, size_t* got, int* err);
    cf_status (*writeStream)(void* h, const char* data, size_t length, int* err);
    void* reserved3;
    cf_status (*closeStream)(void* h, int* err);
} CFStream;

/* The key of a container entry. kind 0 is a text key, the only kind the
   module uses. Keys belong to their container and live as long as it. */
typedef struct CFEntryKey {
    void* handle;
    cf_status (*setKeyText)(void* h, int kind, const char* text, size_t length, int* err);
    cf_status (*getKeyText)(void* h, char* buffer, size_t size, size_t* needed, int* err);
} CFEntryKey;

/* The keys of a container's keyed entries, in write order. firstKey fails
   on an empty list. Valid until releaseKeys. */
typedef struct CFKeyList {
    void* handle;
    cf_status (*firstKey)(void* h, CFEntryKey** key, int* err);
    cf_status (*releaseKeys)(void* h, int* err);
} CFKeyList;

/* A container: a default entry (key null) plus keyed entries with a
   properties text. The module calls closeContainer once per container it
   opened and then uses it no more; the host keeps the entries, since the
   outputs are read after the run and a copy handed to a worker is closed
   before the worker reads it. */
typedef struct CFContainerFile {
    void* handle;
    cf_status (*createKey)(void* h, CFEntryKey** key, int* err);
    cf_status (*getKeys)(void* h, CFKeyList** keys, int* err);
    cf_status (*openEntry)(void* h, CFEntryKey* key, int mode, const char* properties,
                           CFStream** stream, int* err);
    cf_status (*closeContainer)(void* h, int* err);
} CFContainerFile;

/* A record set: copies of records, in the order added. addRecord copies the
   source's current record (the source may move on afterwards). The set is
   the host's until the module releases it with releaseRecordSet, after
   which the module does not touch it or its iterators. */
typedef struct CFRecordSet {
    void* handle;
    cf_status (*addRecord)(void* h, CFIterator* source, int* err);
    cf_status (*getIterator)(void* h, CFIterator** iterator, int* err);
} CFRecordSet;

/* A worker: one unit of work that the host runs between the components.
   getTask replays exactly the two texts cf_distribute_getWorkerTask gave
   for this worker (the first is empty). openWorkerContainer gives the
   worker's own containers ("WorkerStatXML", "WorkerPMML", the only names the
   module asks for); it may return the same record each time if that record
   stays readable after closeContainer. The module does not call getWorkerId:
   it tells workers apart by the record's address. A worker must
   stay valid until the distribute component's execution has ended and its
   cf_collect_completedWorkerTask has returned. */
struct CFWorker {
    void* handle;
    cf_status (*getWorkerId)(void* h, int64* id, int* err);
    cf_status (*getTask)(void* h, char* first, size_t firstSize, size_t* firstNeeded,
                         char* second, size_t secondSize, size_t* secondNeeded, int* err);
    cf_status (*openWorkerContainer)(void* h, const char* name, CFContainerFile** container,
                                     int* err);
};

/* The context of one component; must outlive the component. The distribute
   component reads parameters, data model and input, creates workers and
   record sets and opens the input containers and the workers' copies; the
   collect component reads parameters and data model and opens its output
   containers. Inputs are numbered from 0; both components have one input and
   pass index 0, and neither calls getInputCount. createRecordSet's name is
   always the empty string. */
typedef struct CFContext {
    void* handle;
    /* The parameter document (XML text) by the buffer protocol. */
    cf_status (*getParameters)(void* h, char* buffer, size_t size, size_t* needed, int* err);
    cf_status (*getInputIterator)(void* h, int index, CFIterator** iterator, int* err);
    cf_status (*getInputDataModel)(void* h, int index, char* buffer, size_t size, size_t* needed,
                                   int* err);
    cf_status (*getInputCount)(void* h, size_t* count, int* err);
    void* reserved5;
    void* reserved6;
    void* reserved7;
    void* reserved8;
    void* reserved9;
    void* reserved10;
    void* reserved11;
    void* reserved12;
    void* reserved13;
    void* reserved14;
    void* reserved15;
    cf_status (*createWorker)(void* h, CFWorker** worker, int* err);
    void* reserved17;
    cf_status (*openContainer)(void* h, const char* name, int mode, CFContainerFile** container,
                               int* err);
    void* reserved19;
    cf_status (*createRecordSet)(void* h, CFRecordSet** records, int* err, const char* name);
    cf_status (*releaseRecordSet)(void* h, CFRecordSet* records, int* err);
    void* reserved22;
    void* reserved23;
    cf_status (*getThreadServices)(void* h, CFThreadServices** services, int* err);
} CFContext;

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define CF_WORD(type, member, n) \
    static_assert(offsetof(type, member) == (n) * sizeof(void*), #type "." #member " must be word " #n)

CF_WORD(CFContext, handle, 0);
CF_WORD(CFContext, getParameters, 1);
CF_WORD(CFContext, getInputIterator, 2);
CF_WORD(CFContext, getInputDataModel, 3);
CF_WORD(CFContext, createWorker, 16);
CF_WORD(CFContext, openContainer, 18);
CF_WORD(CFContext, createRecordSet, 20);
CF_WORD(CFContext, releaseRecordSet, 21);
CF_WORD(CFContext, getThreadServices, 24);
CF_WORD(CFThreadServices, createLock, 3);
CF_WORD(CFThreadServices, destroyLock, 4);
CF_WORD(CFLock, lock, 1);
CF_WORD(CFLock, unlock, 2);
CF_WORD(CFContainerFile, createKey, 1);
CF_WORD(CFContainerFile, getKeys, 2);
CF_WORD(CFContainerFile, openEntry, 3);
CF_WORD(CFContainerFile, closeContainer, 4);
CF_WORD(CFEntryKey, setKeyText, 1);
CF_WORD(CFKeyList, firstKey, 1);
CF_WORD(CFKeyList, releaseKeys, 2);
CF_WORD(CFStream, readStream, 1);
CF_WORD(CFStream, writeStream, 2);
CF_WORD(CFStream, closeStream, 4);
CF_WORD(CFWorker, getTask, 2);
CF_WORD(CFWorker, openWorkerContainer, 3);
CF_WORD(CFRecordSet, addRecord, 1);
CF_WORD(CFRecordSet, getIterator, 2);
CF_WORD(CFIterator, nextRecord, 1);
CF_WORD(CFIterator, rewind, 2);
CF_WORD(CFIterator, getRecordValue, 3);
CF_WORD(CFProgress, report, 1);
#undef CF_WORD
#endif

#endif

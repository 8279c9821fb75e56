// The engine over MPI processes. Rank 0 runs the host; a thread of its own
// does all of rank 0's communication, so the run's pool threads only queue
// jobs and wait for their outputs. Each worker rank's main thread does its
// communication and runs the jobs on a pool of worker threads.
//
// A job's documents (its data model and input texts) are the same for every
// group of a run and may be large, so they do not travel with the job: each
// is sent to a worker rank once, before the first job that needs it there,
// and the job names it by a number.
#include "refhost/mpi_engine.h"

#include <mpi.h>

#include <array>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "refhost/thread_pool.h"
#include "refhost/wire.h"

namespace refhost {

namespace {

// kDocument carries a document's number; the document's bytes follow in
// the next message, tagged kDocumentBytes.
enum Tag : int { kSetup = 1, kJob = 2, kResult = 3, kStop = 4, kDocument = 5, kDocumentBytes = 6 };

// A job message: the job's id, the numbers of its data model, input PMML and
// input StatXML (0 for none), then the job without those documents.
constexpr size_t kDocumentSlots = 3;
constexpr size_t kJobHeader = 8 * (1 + kDocumentSlots);

// How long a communication loop waits when there is nothing to do before
// it looks for messages again: long enough not to take a core from the
// workers on a shared machine, short beside a heavy group's fit.
constexpr auto kIdle = std::chrono::milliseconds(1);

std::string mpiError(int code) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    if (MPI_Error_string(code, text, &length) != MPI_SUCCESS) return "MPI error " + std::to_string(code);
    return std::string(text, static_cast<size_t>(length));
}

// Messages start with the job's 64-bit id, little-endian; a job message
// has its documents' numbers in the slots after it.
void putId(std::string& message, uint64_t id, size_t slot = 0) {
    for (size_t i = 0; i < 8; ++i) message[8 * slot + i] = static_cast<char>(id >> (8 * i));
}

uint64_t getId(std::string_view message, size_t slot = 0) {
    uint64_t id = 0;
    for (size_t i = 0; i < 8; ++i) id |= uint64_t{static_cast<uint8_t>(message[8 * slot + i])} << (8 * i);
    return id;
}

using SharedText = std::shared_ptr<const std::string>;

// Receives the message a probe found.
int receive(const MPI_Status& probed, std::string* message) {
    int count = 0;
    int rc = MPI_Get_count(&probed, MPI_BYTE, &count);
    if (rc != MPI_SUCCESS) return rc;
    message->assign(static_cast<size_t>(count), '\0');
    return MPI_Recv(message->data(), count, MPI_BYTE, probed.MPI_SOURCE, probed.MPI_TAG, MPI_COMM_WORLD,
                    MPI_STATUS_IGNORE);
}

// Messages being sent without blocking: a blocking send could wait for a
// peer that is itself blocked sending to this rank.
class Sends {
public:
    // Starts sending the message, which is kept until the send completes.
    int post(std::string message, int target, int tag) {
        return post(std::make_shared<const std::string>(std::move(message)), target, tag);
    }
    // The same for a text shared with others (a document sent to several
    // ranks is not copied for each).
    int post(SharedText message, int target, int tag) {
        pending_.emplace_back(MPI_REQUEST_NULL, std::move(message));
        auto& [request, bytes] = pending_.back();
        return MPI_Isend(bytes->data(), static_cast<int>(bytes->size()), MPI_BYTE, target, tag, MPI_COMM_WORLD,
                         &request);
    }
    // Drops the sends that completed.
    int progress() {
        for (auto it = pending_.begin(); it != pending_.end();) {
            int complete = 0;
            const int rc = MPI_Test(&it->first, &complete, MPI_STATUS_IGNORE);
            if (rc != MPI_SUCCESS) return rc;
            it = complete ? pending_.erase(it) : std::next(it);
        }
        return MPI_SUCCESS;
    }
    bool empty() const { return pending_.empty(); }

private:
    std::list<std::pair<MPI_Request, SharedText>> pending_;
};

// Sends each document a job needs to the rank the job goes to, unless the
// rank has it already.
int postDocuments(Sends& sends, std::string_view job, const std::map<uint64_t, SharedText>& documents,
                  std::set<uint64_t>& held, int target) {
    for (size_t slot = 1; slot <= kDocumentSlots; ++slot) {
        const uint64_t number = getId(job, slot);
        if (number == 0 || !held.insert(number).second) continue;
        std::string header(8, '\0');
        putId(header, number);
        int rc = sends.post(std::move(header), target, kDocument);
        if (rc == MPI_SUCCESS) rc = sends.post(documents.at(number), target, kDocumentBytes);
        if (rc != MPI_SUCCESS) return rc;
    }
    return MPI_SUCCESS;
}

}  // namespace

struct MpiEngine::Impl {
    int rank = 0;
    int size = 1;
    size_t threadsPerRank = 1;
    bool started = false;
    std::thread communicator;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<uint64_t, std::string>> outbox;  // job id, message
    std::map<uint64_t, std::promise<std::string>> waiting;
    std::vector<size_t> busy;  // jobs running on each rank
    uint64_t nextId = 0;
    bool stopping = false;
    std::string failure;
    // The documents of the run's jobs by number (from 1), and the numbers
    // each rank has been sent.
    std::map<uint64_t, SharedText> documents;
    std::vector<std::set<uint64_t>> held;

    void communicate();
    uint64_t documentNumberLocked(const SharedText& shared, std::string_view text);
    int firstIdle() const;
    void failLocked(const std::string& why);
};

int MpiEngine::Impl::firstIdle() const {
    for (int r = 1; r < size; ++r)
        if (busy[static_cast<size_t>(r)] < threadsPerRank) return r;
    return -1;
}

// Every job still waiting fails with the engine's failure, and so does
// every later one.
void MpiEngine::Impl::failLocked(const std::string& why) {
    if (failure.empty()) failure = why;
    for (auto& [id, promise] : waiting) promise.set_exception(std::make_exception_ptr(EngineFailure(failure)));
    waiting.clear();
    outbox.clear();
}

// The number of a document with these bytes, given the first time they are
// met. A shared text is first looked up by its address, so that a large
// input text is not compared byte by byte for every job.
uint64_t MpiEngine::Impl::documentNumberLocked(const SharedText& shared, std::string_view text) {
    if (shared)
        for (const auto& [number, document] : documents)
            if (document == shared) return number;
    for (const auto& [number, document] : documents)
        if (*document == text) return number;
    const uint64_t number = documents.size() + 1;
    documents.emplace(number, shared ? shared : std::make_shared<const std::string>(text));
    return number;
}

void MpiEngine::Impl::communicate() {
    Sends sends;
    std::unique_lock<std::mutex> lock(mutex);
    while (failure.empty()) {
        bool acted = false;
        for (int target = firstIdle(); !outbox.empty() && target > 0; target = firstIdle()) {
            std::string message = std::move(outbox.front().second);
            outbox.pop_front();
            ++busy[static_cast<size_t>(target)];
            int rc = postDocuments(sends, message, documents, held[static_cast<size_t>(target)], target);
            lock.unlock();
            if (rc == MPI_SUCCESS) rc = sends.post(std::move(message), target, kJob);
            lock.lock();
            if (rc != MPI_SUCCESS) {
                failLocked("sending a group to rank " + std::to_string(target) + " failed: " + mpiError(rc));
                return;
            }
            acted = true;
        }

        lock.unlock();
        int found = 0;
        MPI_Status status;
        std::string reply;
        int rc = sends.progress();
        if (rc == MPI_SUCCESS) rc = MPI_Iprobe(MPI_ANY_SOURCE, kResult, MPI_COMM_WORLD, &found, &status);
        if (rc == MPI_SUCCESS && found) rc = receive(status, &reply);
        lock.lock();
        if (rc != MPI_SUCCESS) {
            failLocked("the connection to a worker rank failed: " + mpiError(rc));
            return;
        }
        if (found) {
            const int source = status.MPI_SOURCE;
            if (source > 0 && source < size && busy[static_cast<size_t>(source)] > 0)
                --busy[static_cast<size_t>(source)];
            const auto it = reply.size() >= 8 ? waiting.find(getId(reply)) : waiting.end();
            if (it == waiting.end()) {
                failLocked("rank " + std::to_string(source) + " sent an output for no group sent to it");
                return;
            }
            it->second.set_value(std::move(reply));
            waiting.erase(it);
            continue;
        }
        if (stopping && waiting.empty() && sends.empty()) return;
        if (!acted) wake.wait_for(lock, kIdle);
    }
}

std::unique_ptr<MpiEngine> MpiEngine::open(size_t threadsPerRank) {
    int initialised = 0;
    MPI_Initialized(&initialised);
    if (!initialised) {
        int provided = 0;
        const int rc = MPI_Init_thread(nullptr, nullptr, MPI_THREAD_SERIALIZED, &provided);
        if (rc != MPI_SUCCESS) throw EngineFailure("MPI could not start: " + mpiError(rc));
        if (provided < MPI_THREAD_SERIALIZED) {
            MPI_Finalize();
            throw EngineFailure("the MPI library does not support calls from more than one thread");
        }
    }
    // Errors come back as return codes, so that the run can end with its
    // own message.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    auto impl = std::make_unique<Impl>();
    MPI_Comm_rank(MPI_COMM_WORLD, &impl->rank);
    MPI_Comm_size(MPI_COMM_WORLD, &impl->size);
    impl->threadsPerRank = threadsPerRank == 0 ? 1 : threadsPerRank;
    impl->busy.assign(static_cast<size_t>(impl->size), 0);
    impl->held.resize(static_cast<size_t>(impl->size));
    return std::unique_ptr<MpiEngine>(new MpiEngine(std::move(impl)));
}

MpiEngine::MpiEngine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MpiEngine::~MpiEngine() {
    Impl& impl = *impl_;
    if (impl.started) {
        {
            std::lock_guard<std::mutex> guard(impl.mutex);
            impl.stopping = true;
        }
        impl.wake.notify_all();
        impl.communicator.join();
    }
    // After a failure a rank may be gone: sending to it or ending MPI
    // could wait for ever. The launcher ends the others when this process
    // exits.
    if (!impl.failure.empty()) return;
    if (impl.rank == 0)
        for (int r = 1; r < impl.size; ++r) MPI_Send(nullptr, 0, MPI_BYTE, r, kStop, MPI_COMM_WORLD);
    MPI_Finalize();
}

int MpiEngine::rank() const { return impl_->rank; }
int MpiEngine::size() const { return impl_->size; }

void MpiEngine::start(const std::string& setup) {
    Impl& impl = *impl_;
    if (setup.size() > static_cast<size_t>(INT_MAX)) throw EngineFailure("the run's setup is too large to send");
    for (int r = 1; r < impl.size; ++r) {
        const int rc =
            MPI_Send(setup.data(), static_cast<int>(setup.size()), MPI_BYTE, r, kSetup, MPI_COMM_WORLD);
        if (rc != MPI_SUCCESS) {
            impl.failure = "sending the setup to rank " + std::to_string(r) + " failed: " + mpiError(rc);
            throw EngineFailure(impl.failure);
        }
    }
    impl.started = true;
    impl.communicator = std::thread([&impl] { impl.communicate(); });
}

size_t MpiEngine::concurrency() const {
    return 2 * static_cast<size_t>(std::max(impl_->size - 1, 1)) * impl_->threadsPerRank;
}

WorkerOutput MpiEngine::run(const WorkerJob& job, const WorkerFunction&) {
    WireWriter out;
    out.bytes().assign(kJobHeader, '\0');
    encodeJobWithoutDocuments(out, job);
    std::string message = out.take();
    if (message.size() > static_cast<size_t>(INT_MAX))
        throw std::runtime_error("the group is too large to send to a worker rank (" +
                                 std::to_string(message.size()) + " bytes, at most 2 GiB)");
    for (const std::string* text : {job.dataModel.get(), job.inputPmml.get(), job.inputStatXml.get()})
        if (text != nullptr && text->size() > static_cast<size_t>(INT_MAX))
            throw std::runtime_error("an input document is too large to send to a worker rank (" +
                                     std::to_string(text->size()) + " bytes, at most 2 GiB)");
    std::future<std::string> reply;
    {
        std::lock_guard<std::mutex> guard(impl_->mutex);
        if (!impl_->failure.empty()) throw EngineFailure(impl_->failure);
        if (!impl_->started) throw EngineFailure("the MPI engine was not started");
        const uint64_t id = impl_->nextId++;
        putId(message, id);
        if (job.dataModel) putId(message, impl_->documentNumberLocked(job.dataModel, *job.dataModel), 1);
        if (job.inputPmml) putId(message, impl_->documentNumberLocked(job.inputPmml, *job.inputPmml), 2);
        if (job.inputStatXml) putId(message, impl_->documentNumberLocked(job.inputStatXml, *job.inputStatXml), 3);
        reply = impl_->waiting[id].get_future();
        impl_->outbox.emplace_back(id, std::move(message));
    }
    impl_->wake.notify_all();
    const std::string answer = reply.get();
    return decodeOutput(std::string_view(answer).substr(8));
}

std::string MpiEngine::failure() const {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    return impl_->failure;
}

void MpiEngine::serve(const std::function<WorkerFunction(const std::string& setup)>& makeWorker) {
    Impl& impl = *impl_;
    auto lost = [&impl](const std::string& what, int rc) {
        impl.failure = what + ": " + mpiError(rc);
        throw EngineFailure(impl.failure);
    };
    MPI_Status status;
    std::string setup;
    int rc = MPI_Probe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    if (rc == MPI_SUCCESS) rc = receive(status, &setup);
    if (rc != MPI_SUCCESS) lost("waiting for rank 0 failed", rc);
    if (status.MPI_TAG == kStop) return;
    const WorkerFunction worker = makeWorker(setup);

    std::mutex mutex;
    std::condition_variable done;
    std::deque<std::string> replies;
    size_t running = 0;
    bool stop = false;
    ThreadPool pool(impl.threadsPerRank);
    std::map<uint64_t, SharedText> documents;  // as rank 0 numbered them
    // The job a message holds, with the documents it names.
    auto jobOf = [](const std::string& message, const std::array<SharedText, kDocumentSlots>& named) {
        WorkerJob job = decodeJob(std::string_view(message).substr(kJobHeader));
        if (named[0]) job.dataModel = named[0];
        job.inputPmml = named[1];
        job.inputStatXml = named[2];
        return job;
    };
    auto work = [&](const std::string& message, const std::array<SharedText, kDocumentSlots>& named) {
        WorkerOutput output;
        try {
            for (size_t slot = 1; slot <= kDocumentSlots; ++slot)
                if (getId(message, slot) != 0 && !named[slot - 1])
                    throw WireError("a group names a document that was not sent");
            output = worker(jobOf(message, named));
        } catch (const std::exception& error) {
            output = WorkerOutput{1, error.what(), "", "", ""};
        }
        std::string reply(8, '\0');
        putId(reply, getId(message));
        reply += encodeOutput(output);
        std::lock_guard<std::mutex> guard(mutex);
        replies.push_back(std::move(reply));
        --running;
        done.notify_all();
    };
    Sends sends;
    for (;;) {
        std::deque<std::string> ready;
        {
            std::lock_guard<std::mutex> guard(mutex);
            ready.swap(replies);
        }
        for (std::string& reply : ready) {
            rc = sends.post(std::move(reply), 0, kResult);
            if (rc != MPI_SUCCESS) lost("sending a group's output to rank 0 failed", rc);
        }
        rc = sends.progress();
        if (rc != MPI_SUCCESS) lost("sending a group's output to rank 0 failed", rc);
        std::unique_lock<std::mutex> lock(mutex);
        if (stop && running == 0 && replies.empty() && sends.empty()) break;
        int found = 0;
        std::string message;
        if (!stop) {
            lock.unlock();
            rc = MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &found, &status);
            if (rc == MPI_SUCCESS && found) rc = receive(status, &message);
            if (rc != MPI_SUCCESS) lost("receiving from rank 0 failed", rc);
            lock.lock();
        }
        if (found && status.MPI_TAG == kStop) {
            stop = true;
        } else if (found && status.MPI_TAG == kDocument && message.size() == 8) {
            lock.unlock();
            // The bytes were sent right after the number, so they are next.
            std::string bytes;
            rc = MPI_Probe(0, kDocumentBytes, MPI_COMM_WORLD, &status);
            if (rc == MPI_SUCCESS) rc = receive(status, &bytes);
            if (rc != MPI_SUCCESS) lost("receiving a document from rank 0 failed", rc);
            documents[getId(message)] = std::make_shared<const std::string>(std::move(bytes));
        } else if (found && status.MPI_TAG == kJob && message.size() >= kJobHeader) {
            std::array<SharedText, kDocumentSlots> named;
            for (size_t slot = 1; slot <= kDocumentSlots; ++slot)
                if (const auto it = documents.find(getId(message, slot)); it != documents.end())
                    named[slot - 1] = it->second;
            ++running;
            lock.unlock();
            pool.submit([work, message = std::move(message), named = std::move(named)] { work(message, named); });
        } else if (!found) {
            done.wait_for(lock, kIdle, [&] { return !replies.empty(); });
        }
    }
    pool.wait();
}

}  // namespace refhost

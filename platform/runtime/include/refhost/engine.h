// Where a run's worker functions execute: on threads of the host process,
// or on other processes (see mpi_engine.h). The module and the models never
// know which; the run hands every group's job to its engine.
#ifndef REFHOST_ENGINE_H
#define REFHOST_ENGINE_H

#include <cstddef>
#include <stdexcept>
#include <string>

#include "refhost/run.h"

namespace refhost {

// A failure of the engine itself (a process or connection lost), as opposed
// to a group that failed to fit: the run cannot give a complete result.
class EngineFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Engine {
public:
    virtual ~Engine() = default;
    // How many groups the run prepares and hands out at once: its pool
    // threads, and so the bound on groups in flight.
    virtual size_t concurrency() const = 0;
    // Runs one group's job and returns the worker's output. Called from
    // several pool threads at once. `local` is the worker function as it
    // runs in this process. Throws EngineFailure when the engine fails;
    // any other exception counts as a failed group.
    virtual WorkerOutput run(const WorkerJob& job, const WorkerFunction& local) = 0;
};

// The worker function on `threads` threads of this process.
class ThreadEngine : public Engine {
public:
    explicit ThreadEngine(size_t threads) : threads_(threads == 0 ? 1 : threads) {}
    size_t concurrency() const override { return threads_; }
    WorkerOutput run(const WorkerJob& job, const WorkerFunction& local) override { return local(job); }

private:
    size_t threads_;
};

}  // namespace refhost

#endif

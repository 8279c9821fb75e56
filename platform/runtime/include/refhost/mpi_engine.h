// The engine over MPI processes: rank 0 hosts the run, ranks 1..N-1 run
// the worker function on the jobs rank 0 sends them.
#ifndef REFHOST_MPI_ENGINE_H
#define REFHOST_MPI_ENGINE_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "refhost/engine.h"

namespace refhost {

class MpiEngine : public Engine {
public:
    // Initialises MPI in this process. Throws EngineFailure when this build
    // has no MPI ("the MPI engine is not available in this build") or MPI
    // cannot start. threadsPerRank: worker threads of each worker rank.
    static std::unique_ptr<MpiEngine> open(size_t threadsPerRank);
    // Rank 0: tells every worker rank to stop (after the run), then ends
    // MPI. After a failure it leaves MPI as it is; the launcher then ends
    // the other ranks.
    ~MpiEngine() override;

    int rank() const;
    int size() const;

    // Rank 0: sends `setup` to every worker rank (what it needs to make its
    // worker function) and starts handing out jobs.
    void start(const std::string& setup);
    // Twice the worker threads of all worker ranks: each has one group
    // running and one waiting on rank 0.
    size_t concurrency() const override;
    // Rank 0: sends the job to the first worker rank with an idle thread
    // and waits for its output. `local` is not called.
    WorkerOutput run(const WorkerJob& job, const WorkerFunction& local) override;
    // The first engine failure of the run; empty when there was none.
    std::string failure() const;

    // Ranks 1..N-1: waits for the setup, makes the worker function from it
    // and runs every job rank 0 sends on threadsPerRank threads, until rank
    // 0 says stop. An exception of the worker function fails that group.
    void serve(const std::function<WorkerFunction(const std::string& setup)>& makeWorker);

    struct Impl;

private:
    explicit MpiEngine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace refhost

#endif

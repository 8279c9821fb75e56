// platform/runtime/engines: split-run's side of the engines that run
// workers. Owns the choice between threads and MPI (this header), the worker
// function that fits one group's model (group_worker.h), the remote side of an
// MPI build (remote_groups.h) and the reading of a worker's task document
// (task_document.h), and an incremental build's reuse of the previous
// build's groups: their fingerprints (fingerprint.h), the engine that
// answers unchanged groups (reusing_engine.h) and the stored form of a
// worker's output (stored_output.h). The engines themselves (refhost::ThreadEngine,
// refhost::MpiEngine) live in the host library, runtime/runs. May include
// platform/grouping, platform/csv, platform/common, refhost/ and splitmodels/;
// never output or commands.
//
// The engine a build runs its groups on, as --engine chose it.
#ifndef SPLITRUN_BUILD_ENGINE_H
#define SPLITRUN_BUILD_ENGINE_H

#include <memory>
#include <string>

#include <refhost/engine.h>
#include <refhost/mpi_engine.h>


namespace splitrun {

class BuildEngine {
public:
    // With `mpi` (--engine mpi), starts MPI in this process (throws
    // RunError when the build has no MPI engine or MPI does not start). An
    // MPI launch of a single process runs on threads. `threads` is per
    // process.
    BuildEngine(bool mpi, unsigned threads);

    // This process reads the input and writes the outputs: always with
    // threads, and rank 0 of an MPI launch.
    bool hostsRun() const { return !mpi_ || mpi_->rank() == 0; }
    // Ranks 1..N-1 of an MPI launch: fit the groups rank 0 sends until it
    // says stop. Throws RunError when the connection to rank 0 is lost.
    void serveGroups();
    // Whether the workers' fits run in this process: with threads, or an
    // MPI launch of one process.
    bool local() const { return !mpi_ || mpi_->size() == 1; }
    // The engine for the run; `setup` (see encodeRemoteSetup) goes to every
    // worker rank first.
    refhost::Engine& start(const std::string& setup);
    // Throws RunError when the engine failed during the run (a rank or the
    // connection to it lost): the run's results are incomplete.
    void checkFailure() const;

private:
    std::unique_ptr<refhost::MpiEngine> mpi_;
    refhost::ThreadEngine threads_;
};

}  // namespace splitrun

#endif

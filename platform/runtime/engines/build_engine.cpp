#include "build_engine.h"

#include "errors.h"
#include "remote_groups.h"

namespace splitrun {

namespace {

std::unique_ptr<refhost::MpiEngine> openMpi(bool mpi, unsigned threads)
{
    if (!mpi) return nullptr;
    try {
        return refhost::MpiEngine::open(threads);
    } catch (const refhost::EngineFailure& error) {
        throw RunError(std::string("--engine mpi: ") + error.what());
    }
}

}  // namespace

BuildEngine::BuildEngine(bool mpi, unsigned threads) : mpi_(openMpi(mpi, threads)), threads_(threads) {}

void BuildEngine::serveGroups()
{
    try {
        mpi_->serve(remoteWorkerFunction);
    } catch (const refhost::EngineFailure& error) {
        throw RunError(std::string("worker rank ") + std::to_string(mpi_->rank()) + ": " + error.what());
    }
}

refhost::Engine& BuildEngine::start(const std::string& setup)
{
    if (!mpi_ || mpi_->size() == 1) return threads_;
    try {
        mpi_->start(setup);
    } catch (const refhost::EngineFailure& error) {
        throw RunError(std::string("--engine mpi: ") + error.what());
    }
    return *mpi_;
}

void BuildEngine::checkFailure() const
{
    if (!mpi_) return;
    const std::string failure = mpi_->failure();
    if (!failure.empty())
        throw RunError("--engine mpi: the run was lost (" + failure + "); no output was written");
}

}  // namespace splitrun

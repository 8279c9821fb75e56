// The MPI engine of a build made without MPI: it cannot be opened.
#include "refhost/mpi_engine.h"

namespace refhost {

struct MpiEngine::Impl {};

std::unique_ptr<MpiEngine> MpiEngine::open(size_t) {
    throw EngineFailure("the MPI engine is not available in this build (it was built without MPI)");
}

MpiEngine::MpiEngine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MpiEngine::~MpiEngine() = default;
int MpiEngine::rank() const { return 0; }
int MpiEngine::size() const { return 1; }
void MpiEngine::start(const std::string&) {}
size_t MpiEngine::concurrency() const { return 1; }
WorkerOutput MpiEngine::run(const WorkerJob& job, const WorkerFunction& local) { return local(job); }
std::string MpiEngine::failure() const { return {}; }
void MpiEngine::serve(const std::function<WorkerFunction(const std::string&)>&) {}

}  // namespace refhost

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <iostream>

#include "commands.h"
#include "kept_to_exit.h"

namespace {

// A standard descriptor the caller closed (`<&-`, `>&-`) is reserved with
// /dev/null opened the other way round, so that using it still fails as on
// a closed descriptor (EBADF), while no file or pipe the run opens takes its
// number: standard input would read the run's own pipe and wait for ever,
// and a report written to standard output would land in an output file.
void reserveClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int reserved = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (reserved >= 0 && reserved != fd) {
            ::dup2(reserved, fd);
            ::close(reserved);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    reserveClosedStandardDescriptors();
    // Past a file size limit (ulimit -f) a write fails with EFBIG, which
    // names the file and is cleaned up as any failed write, instead of the
    // signal killing the run with its working files in place.
    std::signal(SIGXFSZ, SIG_IGN);
    // Each group's work allocates and frees blocks of a few hundred
    // kilobytes; keeping them in the heap instead of mapping and unmapping
    // each one (and trimming the heap after every free) saves the page
    // faults of touching fresh memory again and again.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // The process ends with the command: what a run leaves behind is given
    // back by the exit, not freed block by block.
    splitrun::keepLetGoObjectsToExit();
    return splitrun::runCommandLine(argc, argv, std::cout, std::cerr);
}

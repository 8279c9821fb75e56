// Error kinds of split-run and the exit statuses they map to.
#ifndef SPLITRUN_ERRORS_H
#define SPLITRUN_ERRORS_H

#include <stdexcept>
#include <string>

namespace splitrun {

// Exit statuses of the command.
enum ExitStatus : int {
    kExitModelsBuilt = 0,   // at least one group produced a model (or the command succeeded)
    kExitNoModel = 1,       // the run completed, but no model, or a component failed
    kExitInputError = 2,    // bad usage or bad input
};

// A problem with the command line or the input files. The text names what
// is wrong, where, and what to do about it; it ends the command with exit 2.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure of the run itself (module, host or output), ending with exit 1.
class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace splitrun

#endif

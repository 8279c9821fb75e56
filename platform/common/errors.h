// platform/common: what every folder of split-run shares: the error kinds and
// their exit statuses (errors.h), parsing of numbers, dates and times from text
// (value_parsing.h), text made safe to show (visible_text.h), the first error
// that any of several threads met (first_error.h) and the removal of temporary
// files when a run is interrupted (interrupt_cleanup.h). The bottom folder: it
// includes only the standard library and the system headers.
//
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

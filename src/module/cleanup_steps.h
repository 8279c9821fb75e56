// The clean-up steps of a peer's destructor, which call the host and may
// meet an operation that throws.
#ifndef SPLIT_MODULE_CLEANUP_STEPS_H
#define SPLIT_MODULE_CLEANUP_STEPS_H

#include <exception>

namespace split {

// Runs every step even when one throws, and rethrows the first exception
// once all have run: what the host lent is given back whatever happens, and
// cf_destroy_component still learns that destruction failed (240003).
class CleanupSteps {
public:
    template <class Step>
    void Run(Step&& step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    // Not while another exception unwinds the stack: a second one would end
    // the process.
    void Finish() {
        if (first_ && std::uncaught_exceptions() == 0) std::rethrow_exception(first_);
    }

private:
    std::exception_ptr first_;
};

}  // namespace split

#endif

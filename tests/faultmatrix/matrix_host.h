// A small host that runs both components through whole executions, one call
// at a time, and records the status, error slot and messages of every entry
// point call, what the workers were handed, what the collect component wrote,
// and what was left open at the end.
#ifndef SPLIT_TESTS_FAULTMATRIX_MATRIX_HOST_H
#define SPLIT_TESTS_FAULTMATRIX_MATRIX_HOST_H

#include <memory>
#include <string>
#include <vector>

#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"

namespace faultmatrix {

// How the host and its workers behave in a run.
enum class Variant {
    Main,        // three groups: the first two produce models (the second's outputs
                 // under a key, not the default entry), the third fails
    Irregular,   // an unplanned worker and a repeated task; collect begins twice;
                 // the last execution is not ended before destruction
    NoMeasure,   // the integer split field has no usable measure
    NoModelIds,  // every worker's model has an empty ID
    Integers,    // one integer split field, "band", of values 5, 5, 7
    Keys,        // six split fields, one of each storage, with missing values, -0,
                 // NaN, texts equal up to a zero byte, a key that comes back after
                 // another and a group of one record; the data models carry field
                 // groups and record counts, one worker StatXML its own data model
    OneGroup,    // every record in one group
    NoRecords,   // an input without records
};

// One entry point call. name: "d.task", "c.completed" ...: component and entry point; messages: raised
// by the call; watchedCalls: calls of the watched operation after it; calls: host operations it
// called, "op!" when refused.
struct Step {
    std::string name; cf_status status = 0; int err = 0; std::vector<refhost::Message> messages;
    uint64_t watchedCalls = 0; std::vector<std::string> calls;
};

// What nobody gave back after destruction.
struct Leaks {
    long containers = 0, streams = 0, recordSets = 0, locks = 0, keyLists = 0;
    long heldLocks = 0, lockMisuses = 0;
    bool operator==(const Leaks&) const = default;
};
std::string Describe(const Leaks& leaks);

// lastExecution: index of the first step of the last execution; lastOutput: what the last execution
// handed out and wrote; outputs: the same of every execution, in order.
struct RunLog {
    std::vector<Step> steps; size_t lastExecution = 0; std::string lastOutput; std::vector<std::string> outputs; Leaks leaks;
};

// A refusal: the nth call of op, with status kRefused and err kHostErr.
struct Refusal { std::string op; uint64_t nth = 0; };
constexpr cf_status kRefused = 1;
constexpr int kHostErr = 4242;

// Creates both components on a fresh host, runs the variant's execution and
// then two more, and destroys the components. Recording (of call sites in
// the module) covers the whole run when asked for.
RunLog RunMatrixHost(refhost::Module& module, Variant variant, const std::vector<Refusal>& refusals,
                     const std::string& watchOp, std::vector<refhost::CallSite>* sites = nullptr,
                     std::string* modulePath = nullptr);

}  // namespace faultmatrix

#endif

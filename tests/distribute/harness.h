// A reference host driving one split_distribute component, with helpers to
// read back what each worker was given.
#ifndef SPLIT_TESTS_DISTRIBUTE_HARNESS_H
#define SPLIT_TESTS_DISTRIBUTE_HARNESS_H

#include <memory>
#include <string>
#include <vector>

#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace splittest {

// One SplitField element of a worker task document.
struct TaskField {
    std::string name;
    std::string value;
    std::string isNull;
    bool operator==(const TaskField&) const = default;
};

// What one worker received.
struct WorkerResult {
    cf_status status = 0;
    std::vector<TaskField> task;
    refhost::Table records;
};

// Parses a worker task document; fails the test when it is not one.
std::vector<TaskField> ParseTask(const std::string& text);

// A table with the given columns and rows.
refhost::Table MakeTable(std::vector<refhost::Column> columns,
                         std::vector<std::vector<refhost::Cell>> rows);

class DistributeHarness {
public:
    // The component reads input with the table's data model (or dataModel
    // when given) and split_fields set to splitFields (no parameter when
    // splitFields is empty).
    DistributeHarness(refhost::Table input, std::vector<std::string> splitFields,
                      std::string dataModel = "");

    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context context{host};
    std::unique_ptr<refhost::Component> component;

    refhost::Faults& faults() { return context.faults(); }
    // Refuses the call of op after the next `after` ones with status and err.
    void RefuseNext(const std::string& op, cf_status status, int err = 0, uint64_t after = 0);

    // Hands out the worker's task and reads back its records.
    WorkerResult Serve(refhost::Worker& worker);
    // Serve for every worker from the given creation index on, in creation order.
    std::vector<WorkerResult> ServeAll(size_t from = 0);
    // Configure, begin, serve every worker, end; asserts every status is 0.
    std::vector<WorkerResult> RunOnce();
    // The messages delivered since the last call.
    std::vector<refhost::Message> Messages();
    // The raw getWorkerTask entry point with the given buffer sizes.
    cf_status RawTask(refhost::Worker& worker, std::string& first, size_t firstSize,
                      size_t* firstNeeded, std::string& second, size_t secondSize,
                      size_t* secondNeeded, int* err);
};

// The rows of the table as readable texts, one per row ("1|a|2.5").
std::vector<std::string> RowTexts(const refhost::Table& table);

}  // namespace splittest

#endif

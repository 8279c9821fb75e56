// A reference host driving one split_distribute component, and what each worker was handed.
#ifndef SPLIT_TESTS_DISTRIBUTE_HARNESS_H
#define SPLIT_TESTS_DISTRIBUTE_HARNESS_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cf_cpp_helper.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace splittest {

using refhost::Cell;

struct TaskField { std::string name, value, isNull; bool operator==(const TaskField&) const = default; };

struct WorkerResult { cf_status status = 0; std::vector<TaskField> task; refhost::TableRows records; };

// The SplitField elements of a worker task document, checking its shape.
inline std::vector<TaskField> ParseTask(const std::string& text) {
    refhost::Host host;
    CfCppHelperV1::XMLDocument doc = CfCppHelperV1::HostHelper(host.record()).createFromContents(text);
    EXPECT_EQ(doc.getName(), "SplitFields");
    std::vector<TaskField> fields;
    for (auto it = doc.getElementsDirect(""); it.hasMore();) {
        CfCppHelperV1::XMLElement field = it.next();
        EXPECT_EQ(field.getName(), "SplitField");
        EXPECT_EQ(field.getAttributeNames(), (std::vector<std::string>{"name", "value", "isNull"}));
        fields.push_back({field.getAttribute("name"), field.getAttribute("value"), field.getAttribute("isNull")});
    }
    doc.dispose();
    return fields;
}

inline refhost::Table MakeTable(std::vector<refhost::Column> columns, std::vector<std::vector<Cell>> rows) {
    refhost::Table table(std::move(columns));
    for (auto& row : rows) table.addRow(std::move(row));
    return table;
}

// One text per row ("a|1"), to compare record sequences.
inline std::vector<std::string> RowTexts(const refhost::TableRows& table) {
    std::vector<std::string> texts;
    for (const auto& row : table.rows()) {
        std::string text;
        for (const Cell& cell : row) text += cell.toString() + "|";
        texts.push_back(text);
    }
    return texts;
}

// Three groups: a (2 records), b (1), c (2).
inline refhost::Table ThreeGroups() {
    return MakeTable({{"k", 3, 3}, {"seq", 1, 1}},
                     {{Cell::text("a"), Cell::integer(0)}, {Cell::text("a"), Cell::integer(1)},
                      {Cell::text("b"), Cell::integer(2)}, {Cell::text("c"), Cell::integer(3)},
                      {Cell::text("c"), Cell::integer(4)}});
}

struct DistributeHarness {
    // split_fields is set only when splitFields is not empty; kind names the component made.
    DistributeHarness(refhost::Table input, std::vector<std::string> splitFields,
                      const char* kind = "split_distribute") {
        context.setDataModel(refhost::dataModelXml(input));
        context.setInput(std::move(input));
        if (!splitFields.empty()) context.setParameter("split_fields", std::move(splitFields));
        EXPECT_EQ(module.initialise(host), 0u);
        component = std::make_unique<refhost::Component>(module, context, kind);
    }

    refhost::Worker& worker(size_t i) { return *context.workers().at(i); }

    cf_status Begin() {
        int err = 0;
        EXPECT_EQ(component->configure(&err), 0u);
        return component->beginExecution(&err);
    }
    cf_status Task(refhost::Worker& w, int* err, std::string* second = nullptr) {
        std::string first, text;
        cf_status status = component->getWorkerTask(w, &first, second ? second : &text, err);
        EXPECT_EQ(first, "");
        return status;
    }
    // The worker's task and the records of its iterator.
    WorkerResult Serve(refhost::Worker& w) {
        WorkerResult result;
        std::string second;
        int err = 0;
        if ((result.status = Task(w, &err, &second)) != 0) return result;
        result.task = ParseTask(second);
        CFIterator* iterator = nullptr;
        EXPECT_EQ(component->getIterator(&w, 0, &iterator, &err), 0u);
        cf_status status = 0;
        result.records = refhost::readTable(iterator, context.input()->columns(), &status);
        EXPECT_EQ(status, 0u);
        return result;
    }
    std::vector<WorkerResult> ServeAll(size_t from = 0) {
        std::vector<WorkerResult> results;
        for (size_t i = from; i < context.workers().size(); ++i) results.push_back(Serve(worker(i)));
        return results;
    }
    // Configure, begin, serve every worker of this execution, end.
    std::vector<WorkerResult> RunOnce() {
        const size_t before = context.workers().size();
        EXPECT_EQ(Begin(), 0u);
        std::vector<WorkerResult> results = ServeAll(before);
        int err = 0;
        EXPECT_EQ(component->endExecution(&err), 0u);
        return results;
    }
    std::vector<refhost::Message> Messages() {
        cf_status status = 0;
        std::vector<refhost::Message> messages = component->messages(&status);
        EXPECT_EQ(status, 0u);
        return messages;
    }

    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context context{host};
    std::unique_ptr<refhost::Component> component;
};

}  // namespace splittest

#endif

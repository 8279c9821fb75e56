#include "distribute/harness.h"

#include <gtest/gtest.h>

#include "cf_cpp_helper.h"

namespace splittest {

std::vector<TaskField> ParseTask(const std::string& text) {
    using namespace CfCppHelperV1;
    std::vector<TaskField> fields;
    refhost::Host host;
    HostHelper helper(host.record());
    XMLDocument doc = helper.createFromContents(text);
    EXPECT_EQ(doc.getName(), "SplitFields");
    EXPECT_TRUE(doc.getAttributeNames().empty());
    XMLElementIterator children = doc.getElementsDirect("");
    while (children.hasMore()) {
        XMLElement field = children.next();
        EXPECT_EQ(field.getName(), "SplitField");
        EXPECT_EQ(field.getAttributeNames(), (std::vector<std::string>{"name", "value", "isNull"}));
        fields.push_back({field.getAttribute("name"), field.getAttribute("value"),
                          field.getAttribute("isNull")});
    }
    doc.dispose();
    return fields;
}

refhost::Table MakeTable(std::vector<refhost::Column> columns,
                         std::vector<std::vector<refhost::Cell>> rows) {
    refhost::Table table(std::move(columns));
    for (auto& row : rows) table.addRow(std::move(row));
    return table;
}

DistributeHarness::DistributeHarness(refhost::Table input, std::vector<std::string> splitFields,
                                     std::string dataModel) {
    context.setDataModel(dataModel.empty() ? refhost::dataModelXml(input) : dataModel);
    context.setInput(std::move(input));
    if (!splitFields.empty()) context.setParameter("split_fields", std::move(splitFields));
    EXPECT_EQ(module.initialise(host), 0u);
    component = std::make_unique<refhost::Component>(module, context, "split_distribute");
}

void DistributeHarness::RefuseNext(const std::string& op, cf_status status, int err,
                                   uint64_t after) {
    faults().refuse(op, 1 + after, status, err);
}

WorkerResult DistributeHarness::Serve(refhost::Worker& worker) {
    WorkerResult result;
    std::string first;
    std::string second;
    int err = 0;
    result.status = component->getWorkerTask(worker, &first, &second, &err);
    if (result.status != 0) return result;
    EXPECT_EQ(first, "");
    result.task = ParseTask(second);
    CFIterator* iterator = nullptr;
    EXPECT_EQ(component->getIterator(&worker, 0, &iterator, &err), 0u);
    cf_status readStatus = 0;
    result.records = refhost::readTable(iterator, context.input()->columns(), &readStatus);
    EXPECT_EQ(readStatus, 0u);
    return result;
}

std::vector<WorkerResult> DistributeHarness::ServeAll(size_t from) {
    std::vector<WorkerResult> results;
    auto workers = context.workers();
    for (size_t i = from; i < workers.size(); ++i) results.push_back(Serve(*workers[i]));
    return results;
}

std::vector<WorkerResult> DistributeHarness::RunOnce() {
    int err = 0;
    EXPECT_EQ(component->configure(&err), 0u);
    const size_t before = context.workers().size();
    EXPECT_EQ(component->beginExecution(&err), 0u);
    std::vector<WorkerResult> results = ServeAll(before);
    EXPECT_EQ(component->endExecution(&err), 0u);
    return results;
}

std::vector<refhost::Message> DistributeHarness::Messages() {
    cf_status status = 0;
    std::vector<refhost::Message> messages = component->messages(&status);
    EXPECT_EQ(status, 0u);
    return messages;
}

cf_status DistributeHarness::RawTask(refhost::Worker& worker, std::string& first,
                                     size_t firstSize, size_t* firstNeeded, std::string& second,
                                     size_t secondSize, size_t* secondNeeded, int* err) {
    first.assign(firstSize, 'x');
    second.assign(secondSize, 'x');
    return module.api().cf_distribute_getWorkerTask(
        component->handle(), worker.record(), firstSize ? first.data() : nullptr, firstSize,
        firstNeeded, secondSize ? second.data() : nullptr, secondSize, secondNeeded, err);
}

std::vector<std::string> RowTexts(const refhost::Table& table) {
    std::vector<std::string> texts;
    for (const auto& row : table.rows()) {
        std::string text;
        for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + row[i].toString();
        texts.push_back(text);
    }
    return texts;
}

}  // namespace splittest

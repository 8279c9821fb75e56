// A split run over a CSV file read pass by pass gives the loaded table's output
// wherever blocks cut groups; a value a column cannot hold fails and is located.
#include <gtest/gtest.h>
#include <refhost/host.h>
#include <refhost/module.h>
#include <refhost/run.h>

#include <cstdio>

#include "cli_harness.h"
#include "errors.h"
#include "csv_table.h"
#include "group_worker.h"
#include "streamed_csv_source.h"

namespace {

// Fits y on x and c per group g, over the loaded table or, when given, over `source`.
refhost::RunResult runOver(const splitrun::CsvTable& data, std::shared_ptr<const refhost::RecordSource> source)
{
    splitmodels::ModelSpec request;
    request.target = "y";
    request.inputs = {"x", "c"};
    splitrun::GroupWorker worker(request);
    refhost::RunConfig config;
    refhost::DataModelOptions roles;
    roles.roles = {{"g", "split"}, {"y", "target"}, {"x", "input"}, {"c", "input"}};
    config.dataModel = refhost::dataModelXml(data.table, roles);
    if (source) config.source = std::move(source);
    else config.sharedInput = std::make_shared<const refhost::Table>(data.table);
    config.splitFields = {"g"}, config.targetFields = {"y"}, config.inputFields = {"x", "c"};
    config.worker = [&worker](const refhost::WorkerJob& job) { return worker(job); };
    config.threads = 2;
    refhost::Module module;
    refhost::Host host;
    return refhost::runSplit(module, host, config);
}

TEST(StreamedSource, RunMatchesTheLoadedTableAndABadValueIsLocated)
{
    // Groups of 5 to 40 records in file order; c is a category with a quoted value.
    std::string csv = "g,x,c,y\n";
    for (int g = 0; g < 30; ++g)
        for (int i = 0; i < 5 + (g * 7) % 36; ++i)
            csv += "grp" + std::to_string(g) + "," + std::to_string(i * 0.5) + "," +
                   (i % 3 == 0 ? "\"a,1\"" : i % 3 == 1 ? "b" : "c") + "," + std::to_string(g + 2.0 * i + (i % 5) * 0.1) + "\n";
    const std::string path = (clitest::freshDir("streamed_source") / "in.csv").string();
    clitest::writeFile(path, csv);
    const splitrun::CsvTable data = splitrun::readCsvTable(path, "");
    const refhost::RunResult loaded = runOver(data, nullptr);
    ASSERT_TRUE(loaded.ok() && loaded.groups.size() == 30u);
    const std::vector<std::size_t> fields{0, 1, 2, 3};
    for (std::size_t blockRecords : {1, 7, 4096}) {
        auto source = std::make_shared<splitrun::StreamedCsvSource>(path, splitrun::CsvFormat{},
                                                                    data.table.columns(), fields, blockRecords);
        const refhost::RunResult streamed = runOver(data, source);
        EXPECT_TRUE(streamed.ok() && source->error().empty()) << source->error();
        for (const char* container : {"PMML", "StatXML"}) {
            const auto expected = loaded.outputs.entries(container), got = streamed.outputs.entries(container);
            ASSERT_EQ(got.size(), expected.size()) << container;
            for (std::size_t i = 0; i < expected.size(); ++i)
                EXPECT_TRUE(got[i].key == expected[i].key && got[i].data == expected[i].data)
                    << container << " entry " << i << ", blocks of " << blockRecords;
        }
    }
    // Column c read as numbers: its first value, on line 2, is text.
    std::vector<refhost::Column> columns = data.table.columns();
    columns[2].storage = 2, columns[2].measure = 1;
    auto source = std::make_shared<splitrun::StreamedCsvSource>(path, splitrun::CsvFormat{}, columns, fields);
    EXPECT_FALSE(runOver(data, source).ok());
    EXPECT_EQ(source->error().rfind(path + ":2:3 (field 'c'): the value 'a,1' is not a number", 0), 0u)
        << source->error();
}

// Every pass reads the descriptor opened first: a file renamed over the path
// is not seen, while a file rewritten in place, before a pass or in the
// middle of one, stops that pass instead of being read as the old columns.
TEST(StreamedSource, PassesReadOneDescriptorAndStopWhenTheFileChanges)
{
    const clitest::fs::path dir = clitest::freshDir("streamed_changes");
    const std::string path = (dir / "in.csv").string();
    std::string wide = "g,x,c,y\n";
    for (int i = 0; i < 6000; ++i) wide += "g" + std::to_string(i % 3) + "," + std::to_string(i) + ",c,1.5\n";
    const std::string narrow = "g\ng1\n";
    struct Case {
        const char* name;
        bool midPass;                            // change after the first block, not before the pass
        void (*change)(const std::string& path, const std::string& text);
        const char* error;                       // expected start of the error, or nullptr
    };
    const auto inPlace = [](const std::string& file, const std::string& text) { clitest::writeFile(file, text); };
    const auto renamed = [](const std::string& file, const std::string& text) {
        clitest::writeFile(file + ".new", text);
        std::rename((file + ".new").c_str(), file.c_str());
    };
    const Case cases[] = {
        {"replaced by rename", false, renamed, nullptr},
        {"narrower in place", false, inPlace, "changed while it was read"},
        {"narrower in place mid-pass", true, inPlace, "changed while it was read"},
    };
    for (const Case& c : cases) {
        clitest::writeFile(path, wide);
        const splitrun::CsvTable data = splitrun::readCsvTable(path, "");
        auto file = std::make_shared<const splitrun::InputFile>(path, "--data");
        splitrun::StreamedCsvSource source(file, splitrun::CsvFormat{}, data.table.columns(), {0, 1, 2, 3}, 16);
        std::size_t rows = 0;
        std::string error;
        try {
            const auto pass = source.open();
            refhost::Table block;
            if (!c.midPass) c.change(path, narrow);
            while (pass->next(block)) {
                rows += block.rowCount();
                if (c.midPass && rows == 16) c.change(path, narrow);
            }
            const auto again = source.open();
            while (again->next(block)) rows += block.rowCount();
        } catch (const splitrun::InputError& e) {
            error = e.what();
        }
        if (c.error == nullptr) {
            EXPECT_EQ(error, "") << c.name;
            EXPECT_EQ(rows, 12000u) << c.name;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
            EXPECT_EQ(source.error(), error) << c.name;
            EXPECT_LE(rows, 6000u) << c.name;
        }
    }
}

}  // namespace

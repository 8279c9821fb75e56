// A split run over a CSV file read pass by pass gives what the same run over
// the loaded table gives, with blocks that cut groups anywhere; a value the
// columns cannot hold fails the group's reading and the source says where.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <refhost/host.h>
#include <refhost/module.h>
#include <refhost/run.h>

#include "csv_table.h"
#include "group_worker.h"
#include "streamed_csv_source.h"

namespace fs = std::filesystem;

namespace {

// Fits y on x per group g through the module, over `input` or, when given,
// over `source` with the loaded table's columns and data model.
refhost::RunResult runOver(const splitrun::CsvTable& data,
                           std::shared_ptr<const refhost::RecordSource> source)
{
    splitmodels::ModelSpec spec;
    spec.target = "y";
    spec.inputs = {"x", "c"};
    splitrun::GroupWorker worker(spec);
    refhost::Module module;
    refhost::Host host;
    refhost::RunConfig config;
    refhost::DataModelOptions roles;
    roles.roles = {{"g", "split"}, {"y", "target"}, {"x", "input"}, {"c", "input"}};
    config.dataModel = refhost::dataModelXml(data.table, roles);
    if (source)
        config.source = std::move(source);
    else
        config.sharedInput = std::make_shared<const refhost::Table>(data.table);
    config.splitFields = {"g"};
    config.targetFields = {"y"};
    config.inputFields = {"x", "c"};
    config.worker = [&worker](const refhost::WorkerJob& job) { return worker(job); };
    config.threads = 2;
    return refhost::runSplit(module, host, config);
}

class StreamedSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("streamed_source_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        // Groups of 5 to 40 records, in file order; c is a category with a
        // quoted value among them.
        std::ofstream out(dir_ / "in.csv", std::ios::binary);
        out << "g,x,c,y\n";
        for (int g = 0; g < 30; ++g)
            for (int i = 0; i < 5 + (g * 7) % 36; ++i)
                out << "grp" << g << "," << i * 0.5 << "," << (i % 3 == 0 ? "\"a,1\"" : i % 3 == 1 ? "b" : "c")
                    << "," << g + 2.0 * i + (i % 5) * 0.1 << "\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

TEST_F(StreamedSource, RunGivesTheLoadedTablesOutputWhereverBlocksCutGroups)
{
    const std::string path = (dir_ / "in.csv").string();
    const splitrun::CsvTable data = splitrun::readCsvTable(path, "");
    const refhost::RunResult loaded = runOver(data, nullptr);
    ASSERT_TRUE(loaded.ok());
    ASSERT_EQ(loaded.groups.size(), 30u);
    for (std::size_t blockRecords : {1, 7, 4096}) {
        auto source = std::make_shared<splitrun::StreamedCsvSource>(
            path, splitrun::CsvFormat{}, data.table.columns(), std::vector<std::size_t>{0, 1, 2, 3}, blockRecords);
        const refhost::RunResult streamed = runOver(data, source);
        EXPECT_TRUE(streamed.ok()) << source->error();
        EXPECT_EQ(source->error(), "");
        for (const char* container : {"PMML", "StatXML"}) {
            const auto expected = loaded.outputs.entries(container);
            const auto got = streamed.outputs.entries(container);
            ASSERT_EQ(got.size(), expected.size()) << container;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(got[i].key, expected[i].key);
                EXPECT_EQ(got[i].data, expected[i].data) << container << ", blocks of " << blockRecords;
            }
        }
    }
}

TEST_F(StreamedSource, ValueTheColumnCannotHoldFailsTheReadingAndIsNamed)
{
    const std::string path = (dir_ / "in.csv").string();
    const splitrun::CsvTable data = splitrun::readCsvTable(path, "");
    // Column c read as numbers: its first value, on line 2, is text.
    std::vector<refhost::Column> columns = data.table.columns();
    columns[2].storage = 2;
    columns[2].measure = 1;
    auto source = std::make_shared<splitrun::StreamedCsvSource>(path, splitrun::CsvFormat{}, columns,
                                                                std::vector<std::size_t>{0, 1, 2, 3});
    const refhost::RunResult streamed = runOver(data, source);
    EXPECT_FALSE(streamed.ok());
    EXPECT_EQ(source->error().rfind(path + ":2:3 (field 'c'): the value 'a,1' is not a number", 0), 0u)
        << source->error();
}

}  // namespace

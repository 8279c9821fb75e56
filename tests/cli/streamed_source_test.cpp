// A CSV file read pass by pass through one descriptor, and stopped when the
// file changes under it. (That a run over such passes writes what the loaded
// table gives, and locates a bad value, is checked end to end: MemoryLimit and
// InputErrors.)
#include <gtest/gtest.h>

#include <cstdio>

#include "cli_harness.h"
#include "errors.h"
#include "csv_table.h"
#include "streamed_csv_source.h"

namespace {

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
    // midPass: changed after the first block, not before the pass; error: its expected start, or nullptr
    struct Case { const char* name; bool midPass; void (*change)(const std::string&, const std::string&); const char* error; };
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

// A file profiled and read pass by pass, as one over the memory limit is,
// reads with a data model as the loaded file does: a value the model's
// storage refuses is reported with the advice to correct either, plain or
// gzip-compressed, and a file of no records keeps the model's storages.
TEST(StreamedSource, ReadsWithADataModelAsTheLoadedFileDoes)
{
    const clitest::fs::path dir = clitest::freshDir("streamed_model");
    const std::string model = clitest::writeFile(dir / "model.xml",
                                                 "<DataModel><Fields><Field name=\"n\" storage=\"integer\"/>"
                                                 "<Field name=\"t\" storage=\"integer\"/></Fields></DataModel>")
                                  .string();
    const std::string advice = "correct the value or the field's storage in --data-model";
    for (const bool gzip : {false, true}) {
        SCOPED_TRACE(gzip ? "gzip" : "plain");
        const std::string path = (dir / (gzip ? "in.csv.gz" : "in.csv")).string();
        const auto write = [&](const std::string& text) {
            if (gzip) clitest::writeGzip(path, text);
            else clitest::writeFile(path, text);
        };
        write("n,t\n1,2\n2,a\n");
        for (const bool loaded : {true, false}) {
            try {
                if (loaded) splitrun::readCsvTable(path, model);
                else splitrun::profileCsvFile(path, model, {}, splitrun::readStreamedCsv);
                ADD_FAILURE() << "a value the model refuses was read";
            } catch (const splitrun::InputError& e) {
                const std::string message = e.what();
                EXPECT_NE(message.find(":3:2 (field 't'): the value 'a'"), std::string::npos) << message;
                EXPECT_EQ(message.substr(message.size() - advice.size()), advice) << message;
            }
        }
        write("n,t\n");
        const splitrun::CsvTable loaded = splitrun::readCsvTable(path, model);
        const splitrun::CsvTable profiled = splitrun::profileCsvFile(path, model, {}, splitrun::readStreamedCsv);
        for (const splitrun::CsvTable* table : {&loaded, &profiled}) {
            ASSERT_EQ(table->table.columns().size(), 2u);
            for (const refhost::Column& column : table->table.columns())
                EXPECT_EQ(column.storage, static_cast<int>(splitrun::Storage::Integer)) << column.name;
        }
        EXPECT_EQ(loaded.table.rowCount(), 0u);
        EXPECT_EQ(profiled.recordCount(), 0u);
    }
}

}  // namespace

// split-run export: a build's containers written out as the files and indexes of one directory per
// container, byte for byte, and single entries to standard output.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "output_dir.h"

using namespace clitest;

namespace {

struct Stored {
    std::string key, mimeType, typeId, content;
};

// Entries whose keys, properties and bytes need care: bytes outside the safe set, a leading dot, a
// key written twice, TSV escapes, binary content, and one entry larger than any buffer.
std::vector<Stored> trickyEntries()
{
    return {
        {"model-0001", "application/pmml+xml", "SPLITpmml.xml", "<PMML/>\n"},
        {"a/b c%", "text/plain", "t", std::string("bin\0\xff\r\n", 7)}, {".hidden", "x\ty", "back\\slash", ""},
        {std::string("nul\0key", 7), "m\rline", "t", "n"},
        {"model-0001", "application/pmml+xml", "SPLITpmml.xml", "<second/>"},
        {"big", "m", "t", std::string(3 << 20, 'z')}, {"rootPMML", "application/pmml+xml", "SPLITpmml.xml", "<root/>"},
    };
}

fs::path storeWith(const std::vector<Stored>& entries)
{
    const fs::path out = freshDir("export") / "out";
    fs::create_directories(out);
    splitrun::NamedEntries pmml{"PMML", entries.size(), [&entries](std::size_t i) {
                                    return splitrun::ContainerEntry{
                                        entries[i].key, "mimeType=" + entries[i].mimeType + "\ntypeId=" + entries[i].typeId,
                                        entries[i].content};
                                }};
    splitrun::NamedEntries stat{"StatXML", 1, [](std::size_t) {
                                    return splitrun::ContainerEntry{"rootStatXML", "mimeType=s\ntypeId=u", "<s/>"};
                                }};
    splitrun::writeContainerStore(out / splitrun::kContainerStoreName, {stat, pmml});
    return out;
}

TEST(Export, WritesEachEntryByteForByteInTheFileLayout)
{
    const std::vector<Stored> entries = trickyEntries();
    const fs::path out = storeWith(entries);
    const fs::path files = out.parent_path() / "files";
    const RunOutput run = runSplitRun({"export", out.string(), "--to", files.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Exported 8 entries of PMML, StatXML to " + files.string() + "\n");
    EXPECT_EQ(readFile(files / "PMML" / "entries.tsv"),
              "key\tfile\tmimeType\ttypeId\n"
              "model-0001\tmodel-0001.xml\tapplication/pmml+xml\tSPLITpmml.xml\n"
              "a/b c%\ta%2Fb%20c%25.xml\ttext/plain\tt\n"
              ".hidden\t%2Ehidden.xml\tx\\ty\tback\\\\slash\n" +
                  std::string("nul\0key", 7) + "\tnul%00key.xml\tm\\rline\tt\n"
              "model-0001\tmodel-0001~2.xml\tapplication/pmml+xml\tSPLITpmml.xml\n"
              "big\tbig.xml\tm\tt\n"
              "rootPMML\trootPMML.xml\tapplication/pmml+xml\tSPLITpmml.xml\n");
    const char* names[] = {"model-0001.xml", "a%2Fb%20c%25.xml", "%2Ehidden.xml", "nul%00key.xml",
                           "model-0001~2.xml", "big.xml", "rootPMML.xml"};
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(readFile(files / "PMML" / names[i]), entries[i].content) << names[i];
    EXPECT_EQ(treeContents(files).size(), entries.size() + 3);   // PMML's files and index, StatXML's root and index

    // One entry to standard output, exactly; the first of a key written twice.
    for (const std::size_t i : {1u, 2u, 0u}) {
        const RunOutput one = runSplitRun({"export", out.string(), "--container", "PMML", "--key", entries[i].key, "--to", "-"});
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(one.out, entries[i].content) << entries[i].key;
    }
}

// A database that is a FIFO (opening it would block) or that changed since
// its build listed it is refused, and nothing is written.
TEST(Export, RefusesADatabaseItCannotTrustAndWritesNothing)
{
    const fs::path out = storeWith(trickyEntries());
    const fs::path dir = freshDir("export-refused");
    fs::create_directories(dir / "fifo");
    ASSERT_EQ(::mkfifo((dir / "fifo" / "containers.db").c_str(), 0600), 0);
    fs::create_directories(dir / "edited");
    fs::copy_file(out / "containers.db", dir / "edited" / "containers.db");
    writeFile(dir / "edited" / ".split-run-files", "# build .out.split-run-new-1\n" +
                  std::to_string(fs::file_size(out / "containers.db")) + "\t0123456789abcdef\tcontainers.db\n");
    const std::pair<const char*, const char*> cases[] = {
        {"fifo", "is not a regular file"}, {"edited", "was changed after split-run wrote it"}};
    for (const auto& [source, message] : cases) {
        const RunOutput run =
            runSplitRun({"export", (dir / source).string(), "--to", (dir / "to").string(), "--container", "PMML"});
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir / "to"));
    }
}

// Keys the entries above do not hold: dot names and bytes beyond ASCII.
TEST(OutputDir, EntryFileNamesAreSafeAndDistinct)
{
    EXPECT_EQ(splitrun::entryFileName(".."), "%2E..xml");
    EXPECT_EQ(splitrun::entryFileName("K\xC3\xB6ln"), "K%C3%B6ln.xml");
    EXPECT_EQ(splitrun::entryFileName("a_b-c.d"), "a_b-c.d.xml");
    EXPECT_EQ(splitrun::propertyValue("", "typeId"), "");
}

}  // namespace

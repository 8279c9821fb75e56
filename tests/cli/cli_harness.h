// Running the split-run binary from tests, and small file helpers.
#ifndef SPLIT_TESTS_CLI_HARNESS_H
#define SPLIT_TESTS_CLI_HARNESS_H

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

struct RunOutput {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs split-run with the arguments; standard output and error are captured.
RunOutput runSplitRun(const std::vector<std::string>& args);

// A fresh, empty directory for one test.
fs::path freshDir(const std::string& name);

std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& text);

// Every regular file below `dir`, by path relative to it, with its bytes.
std::map<std::string, std::string> treeContents(const fs::path& dir);

// examples/sales.csv of the source tree.
fs::path salesCsv();

// The PMML 4.4 schema, or an empty path when it is not there.
fs::path pmmlSchema();
// xmllint's verdict on `file` against `schema`: empty when valid, else its output.
std::string schemaErrors(const fs::path& file, const fs::path& schema);
bool haveXmllint();

}  // namespace clitest

#endif

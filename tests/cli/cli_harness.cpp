#include "cli_harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace clitest {

namespace {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

fs::path scratchRoot()
{
    static const fs::path root =
        fs::temp_directory_path() / ("split-cli-tests-" + std::to_string(getpid()));
    return root;
}

int exitStatus(int raw)
{
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
}

}  // namespace

RunOutput runSplitRun(const std::vector<std::string>& args)
{
    static int counter = 0;
    const fs::path dir = scratchRoot() / "runs";
    fs::create_directories(dir);
    const fs::path out = dir / ("out" + std::to_string(counter));
    const fs::path err = dir / ("err" + std::to_string(counter++));
    std::string command = shellQuote(SPLIT_RUN_PATH);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(out.string()) + " 2>" + shellQuote(err.string()) + " </dev/null";
    RunOutput result;
    result.status = exitStatus(std::system(command.c_str()));
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

fs::path freshDir(const std::string& name)
{
    const fs::path dir = scratchRoot() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::map<std::string, std::string> treeContents(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), dir).string()] = readFile(entry.path());
    return files;
}

fs::path salesCsv() { return fs::path(SPLIT_SOURCE_ROOT) / "examples" / "sales.csv"; }

fs::path pmmlSchema()
{
    const fs::path schema = fs::path(SPLIT_SOURCE_ROOT) / ".." / "shared" / "pmml" / "pmml-4-4.xsd";
    return fs::exists(schema) ? schema : fs::path();
}

bool haveXmllint() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

std::string schemaErrors(const fs::path& file, const fs::path& schema)
{
    const fs::path log = scratchRoot() / "xmllint.log";
    const std::string command = "xmllint --noout --schema " + shellQuote(schema.string()) + " " +
                                shellQuote(file.string()) + " >" + shellQuote(log.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    return status == 0 ? std::string() : readFile(log);
}

}  // namespace clitest

#include "cli_harness.h"

#include <atomic>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "csv_reader.h"

namespace clitest {

namespace {

// The test program's scratch directory, removed when the program ends with
// every test passed (kept after a failure, to look at). Forked children end
// with _exit and the owner check keeps any other exit from removing it.
class ScratchRoot {
public:
    ScratchRoot() : path_(fs::temp_directory_path() / ("split-cli-tests-" + std::to_string(getpid()))) {}
    ~ScratchRoot()
    {
        std::error_code ignored;
        if (getpid() == owner_ && ::testing::UnitTest::GetInstance()->Passed()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    pid_t owner_ = getpid();
    fs::path path_;
};

const fs::path& scratchRoot()
{
    static const ScratchRoot root;
    return root.path();
}

}  // namespace

RunOutput runSplitRun(const std::vector<std::string>& args, const fs::path& stdinFile, const Environment& environment)
{
    static std::atomic<int> counter{0};  // runs may come from several threads at once
    const int run = counter++;
    const fs::path dir = scratchRoot() / "runs";
    fs::create_directories(dir);
    const fs::path out = dir / ("out" + std::to_string(run));
    const fs::path err = dir / ("err" + std::to_string(run));
    // Spawned directly, without a shell in between: the command tests start
    // split-run hundreds of times.
    std::vector<std::string> words = {SPLIT_RUN_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // The child's environment is passed whole rather than set in this process,
    // which other threads may be starting runs from.
    std::vector<std::string> settings;
    for (char** setting = environ; *setting != nullptr; ++setting) {
        const std::string text = *setting;
        if (environment.count(text.substr(0, text.find('='))) == 0) settings.push_back(text);
    }
    for (const auto& [name, value] : environment) settings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);
    // A redirection that cannot be set up fails the run rather than letting
    // the child write into the test's own streams.
    posix_spawn_file_actions_t actions;
    int spawned = posix_spawn_file_actions_init(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start split-run: ") + std::strerror(spawned));
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    for (const auto& [fd, path, mode] : {std::tuple{0, &stdinFile, O_RDONLY}, {1, &out, flags}, {2, &err, flags}})
        if (spawned == 0) spawned = posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), mode, 0644);
    pid_t pid = -1;
    int raw = -1;
    if (spawned == 0) spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start split-run: ") + std::strerror(spawned));
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {}
    RunOutput result{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0), readFile(out),
                     readFile(err)};
    // Under the sanitizers a leak is reported at exit without changing a
    // failed run's status: every run's report is checked here.
    EXPECT_EQ(result.err.find("Sanitizer:"), std::string::npos) << result.err;
    return result;
}

RunOutput runBuild(const fs::path& data, const fs::path& out, const std::vector<std::string>& args,
                   const Environment& environment)
{
    std::vector<std::string> all = {"build", "--data", data.string(), "--out", out.string()};
    all.insert(all.end(), args.begin(), args.end());
    return runSplitRun(all, "/dev/null", environment);
}

RunOutput runScore(const fs::path& model, const fs::path& data, const fs::path& out,
                   const std::vector<std::string>& extra, const Environment& environment)
{
    std::vector<std::string> args = {"score", "--model", model.string(), "--data", data.string(), "--out", out.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runSplitRun(args, "/dev/null", environment);
}

fs::path freshDir(const std::string& name, const std::map<std::string, std::string>& files)
{
    const fs::path dir = scratchRoot() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [file, text] : files) writeFile(dir / file, text);
    return dir;
}

std::string readFile(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

fs::path writeFile(const fs::path& path, const std::string& text)
{
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

fs::path writeGzip(const fs::path& path, const std::string& text, bool append)
{
    gzFile out = gzopen(path.c_str(), append ? "ab" : "wb");
    const bool written = out != nullptr && gzwrite(out, text.data(), static_cast<unsigned>(text.size())) ==
                                               static_cast<int>(text.size());
    if (out == nullptr || gzclose(out) != Z_OK || !written) throw std::runtime_error("cannot write " + path.string());
    return path;
}

std::map<std::string, std::string> treeContents(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename() != ".split-run-files")
            files[fs::relative(entry.path(), dir).string()] = readFile(entry.path());
    return files;
}

BuildOutcome buildOutcome(const fs::path& out, const std::vector<std::string>& args, const fs::path& stdinFile)
{
    std::vector<std::string> all = {"build", "--out", out.string()};
    all.insert(all.end(), args.begin(), args.end());
    const RunOutput run = runSplitRun(all, stdinFile);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string text = run.out;
    for (std::size_t at; (at = text.find(out.string())) != std::string::npos;) text.replace(at, out.string().size(), "OUT");
    return {text, treeContents(out)};
}

fs::path example(const std::string& name) { return fs::path(SPLIT_SOURCE_ROOT) / "examples" / name; }

fs::path exportedFiles(const fs::path& outDir)
{
    const fs::path files = outDir.parent_path() / (outDir.filename().string() + ".files");
    fs::remove_all(files);
    const RunOutput run = runSplitRun({"export", outDir.string(), "--to", files.string()});
    if (run.status != 0) throw std::runtime_error("split-run export " + outDir.string() + ": " + run.err);
    return files;
}

std::vector<GroupFit> readGroupFits(const fs::path& outDir)
{
    std::vector<GroupFit> fits;
    const fs::path files = exportedFiles(outDir) / "PMML";
    std::istringstream index(readFile(files / "entries.tsv"));
    std::string line;
    std::getline(index, line);   // the column names
    while (std::getline(index, line)) {
        GroupFit fit;
        std::string key, file;
        std::istringstream(line) >> key >> file;   // neither holds white space
        if (key == "rootPMML") continue;
        fit.file = files / file;
        pugi::xml_document doc;
        doc.load_string(readFile(fit.file).c_str());
        const pugi::xml_node root = doc.document_element();
        const pugi::xml_node info =
            root.child("MiningBuildTask").find_child_by_attribute("Extension", "name", "split-info");
        for (pugi::xml_node field : info.children("DataField")) {
            const pugi::xml_node value = field.child("Value");
            fit.split[field.attribute("name").value()] =
                value ? std::optional<std::string>(value.attribute("value").value()) : std::nullopt;
        }
        const pugi::xml_node table = root.child("RegressionModel").child("RegressionTable");
        fit.intercept = table.attribute("intercept").as_double();
        fit.event = table.attribute("targetCategory").value();
        for (pugi::xml_node p : table.children("NumericPredictor"))
            fit.coefficients[p.attribute("name").value()] = p.attribute("coefficient").as_double();
        for (pugi::xml_node p : table.children("CategoricalPredictor"))
            fit.coefficients[std::string(p.attribute("name").value()) + "=" + p.attribute("value").value()] =
                p.attribute("coefficient").as_double();
        fits.push_back(std::move(fit));
    }
    return fits;
}

const GroupFit* fitFor(const std::vector<GroupFit>& fits, const Record& record)
{
    for (const GroupFit& fit : fits) {
        bool same = true;
        for (const auto& [field, value] : fit.split) {
            const auto it = record.find(field);
            same = same && (it == record.end() ? !value : value == it->second);
        }
        if (same) return &fit;
    }
    return nullptr;
}

double linearPredictor(const GroupFit& fit, const Record& record)
{
    double eta = fit.intercept;
    for (const auto& [name, coefficient] : fit.coefficients) {
        const auto eq = name.find('=');
        if (eq == std::string::npos)
            eta += coefficient * std::stod(record.at(name));
        else if (record.at(name.substr(0, eq)) == name.substr(eq + 1))
            eta += coefficient;
    }
    return eta;
}

std::vector<Record> readCsvRecords(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    splitrun::CsvReader reader(in, path.string());
    std::vector<Record> records;
    splitrun::CsvRecord record;
    while (reader.next(record)) {
        Record fields;
        for (std::size_t i = 0; i < record.fields.size(); ++i)
            if (!record.fields[i].isMissing()) fields[reader.header()[i]] = record.fields[i].value;
        records.push_back(std::move(fields));
    }
    return records;
}

}  // namespace clitest

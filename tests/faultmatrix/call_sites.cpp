// Source scan for host calls and return-address mapping through addr2line.
#include "faultmatrix/call_sites.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace faultmatrix {
namespace {

namespace fs = std::filesystem;

// Files whose bodies only forward to the host: their callers are the sites.
// The data helper forwards each record call from its header.
const std::set<std::string> kWrappers = {"host_calls.h", "host_lock_scope.h", "cf_cpp_helper.h"};

// Calls that reach a host operation, by the text that names them.
// op: empty: the operation is the first capture
struct Pattern { std::regex regex; std::string op; };

const std::vector<Pattern>& Patterns() {
    static const std::vector<Pattern> patterns = [] {
        const char* const recordWords =
            "getThreadServices|createLock|destroyLock|lock|unlock|getInputDataModel|createWorker|"
            "openContainer|createRecordSet|releaseRecordSet|addRecord|getIterator|createKey|getKeys|"
            "openEntry|closeContainer|setKeyText|firstKey|releaseKeys|readStream|writeStream|"
            "closeStream|getTask|openWorkerContainer|getParameters|nextRecord|rewind|getRecordValue";
        std::vector<Pattern> p;
        // Record words and the record reader: "->word(" (dataHelper's own
        // getIterator() is an accessor, not a host call: it takes no argument).
        p.push_back({std::regex(std::string("->(") + recordWords + ")\\((?!\\))"), ""});
        p.push_back({std::regex("->(nextRecord|rewind)\\(\\)"), ""});
        // The host:: wrappers, each named for its operation with a capital letter.
        for (const std::string name : {"GetThreadServices", "CreateLock", "DestroyLock", "Lock", "Unlock",
                                       "GetInputDataModel", "CreateWorker", "CreateRecordSet", "ReleaseRecordSet",
                                       "AddRecord", "GetIterator", "OpenContainer", "CloseContainer", "ReadStream",
                                       "WriteStream", "CloseStream", "CreateKey", "GetKeys", "OpenEntry", "SetKeyText",
                                       "FirstKey", "ReleaseKeys", "GetTask", "OpenWorkerContainer"})
            p.push_back({std::regex("host::" + name + "\\("), char(std::tolower(name[0])) + name.substr(1)});
        p.push_back({std::regex("host::OpenDefaultEntry\\("), "openEntry"});
        p.push_back({std::regex("\\.Take(IgnoringStatus)?\\("), "lock"});
        p.push_back({std::regex("\\.Release\\("), "unlock"});
        p.push_back({std::regex("\\bScanParameters\\("), "getParameters"});
        p.push_back({std::regex("\\bParseDataModel\\("), "getInputDataModel"});
        p.push_back({std::regex("->GetInputIterator\\("), "getInputIterator"});
        return p;
    }();
    return patterns;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

std::vector<SourceSite> ScanSources(const std::string& root) {
    std::vector<SourceSite> sites;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(root) / "src")) {
        const fs::path& path = entry.path();
        const std::string relative = fs::relative(path, root).generic_string();
        if (!entry.is_regular_file() || relative.rfind("src/host/", 0) == 0 ||
            kWrappers.count(path.filename().string()) || (path.extension() != ".cpp" && path.extension() != ".h"))
            continue;
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            const std::string code = Trim(line.substr(0, line.find("//")));
            for (const Pattern& pattern : Patterns())
                for (std::sregex_iterator m(code.begin(), code.end(), pattern.regex), end; m != end; ++m)
                    sites.push_back({pattern.op.empty() ? (*m)[1].str() : pattern.op, relative, number, 0, Trim(line)});
        }
    }
    std::sort(sites.begin(), sites.end());
    std::map<std::pair<std::string, std::string>, int> ordinals;
    for (SourceSite& site : sites) site.ordinal = ordinals[{site.op, site.file}]++;
    return sites;
}

std::vector<const SourceSite*> MapSites(const std::vector<refhost::CallSite>& sites, const std::string& modulePath,
                                        const std::vector<SourceSite>& sources, std::vector<std::string>* unmatched) {
    // One addr2line run for every frame: "-a" heads each address's group of
    // places, "-i" unfolds inlined calls innermost first.
    std::set<uintptr_t> addresses;
    for (const refhost::CallSite& site : sites)
        for (uintptr_t frame : site.frames) addresses.insert(frame - 1);
    std::ostringstream command;
    command << "addr2line -a -i -e '" << modulePath << "'";
    for (uintptr_t a : addresses) command << " 0x" << std::hex << a;
    std::map<uintptr_t, std::vector<std::pair<std::string, int>>> places;
    if (FILE* pipe = popen(command.str().c_str(), "r")) {
        char buffer[4096];
        uintptr_t current = 0;
        while (fgets(buffer, sizeof buffer, pipe)) {
            std::string line = Trim(std::string(buffer).substr(0, std::string(buffer).find('\n')));
            if (line.rfind("0x", 0) == 0) {
                current = std::stoull(line, nullptr, 16);
                continue;
            }
            const size_t colon = line.rfind(':');
            if (colon == std::string::npos) continue;
            places[current].push_back({line.substr(0, colon), std::atoi(line.c_str() + colon + 1)});
        }
        pclose(pipe);
    }

    std::vector<const SourceSite*> mapped;
    for (const refhost::CallSite& site : sites) {
        const SourceSite* found = nullptr;
        std::string where;
        if (site.frames.empty()) {
            // A tail call: the one place that returns what that operation
            // returns stands for it.
            where = "a tail call";
            int candidates = 0;
            for (const SourceSite& s : sources)
                if (s.op == site.op && s.text.rfind("return ", 0) == 0) found = ++candidates == 1 ? &s : nullptr;
        }
        for (uintptr_t frame : site.frames) {
            for (const auto& [file, line] : places[frame - 1]) {
                const std::string base = fs::path(file).filename().string();
                if (kWrappers.count(base)) continue;
                where = file + ":" + std::to_string(line);
                // The call may be written over several lines: the site is the
                // closest one starting at most three lines before.
                for (const SourceSite& s : sources) {
                    const bool sameFile = file.size() >= s.file.size() &&
                                          file.compare(file.size() - s.file.size(), s.file.size(), s.file) == 0;
                    if (s.op != site.op || !sameFile || s.line > line || line - s.line > 3)
                        continue;
                    if (!found || s.line > found->line) found = &s;
                }
                break;
            }
            if (!where.empty()) break;
        }
        if (!found && unmatched) unmatched->push_back(site.op + " at " + (where.empty() ? "?" : where));
        mapped.push_back(found);
    }
    return mapped;
}

}  // namespace faultmatrix

// The file `score` writes its results to, chosen by what stands at the path:
//
// - "-": standard output.
// - nothing, or a regular file: the results go to a fresh temporary file in
//   the same directory (a name no existing file has, so never an input's)
//   which replaces the path only on commit, with the file's permissions and
//   owner; without a commit the temporary file is removed and the path
//   keeps what it held. A later run removes the temporary files of runs
//   killed outright. A file of another owner that cannot be given to that
//   owner is written in place instead.
// - a read-only file: refused, as the shell would.
// - a symlink to a file, a device or a pipe: written through, never replaced.
// - a directory, or a file the run reads (the data, the model): refused
//   before any work is done.
#ifndef SPLITRUN_OUTPUT_FILE_H
#define SPLITRUN_OUTPUT_FILE_H

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace splitrun {

class OutputFile {
public:
    // The files a run reads, each with the option that names it ("--data",
    // "--model"); "-" stands for standard input.
    using Inputs = std::vector<std::pair<std::string, std::string>>;

    // Opens the output for `path`, given by `option`. The output must not be
    // one of `inputs`. Throws InputError naming the option, the path, the OS
    // reason and the fix.
    OutputFile(const std::string& path, const Inputs& inputs, const std::string& option = "--out");
    // Refuses, as the constructor does, a path that is one of `inputs`;
    // creates nothing, so that a run can check before any work.
    static void refuseInput(const std::string& path, const Inputs& inputs, const std::string& option);
    // Without a commit: removes the temporary file, if any.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The stream to write the results to; buffered.
    std::ostream& stream();
    // True when the results go to standard output.
    bool isStandardOutput() const;
    // Flushes and closes the output and, for a temporary file, moves it to
    // the path. Throws RunError naming the path and the OS reason when a
    // write failed (a full disk, a closed pipe); the path is then unchanged.
    void commit();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace splitrun

#endif

// The commands of split-run.
#ifndef SPLITRUN_COMMANDS_H
#define SPLITRUN_COMMANDS_H

#include <ostream>

#include "options.h"

namespace splitrun {

// Parses the command line, runs the command, and turns errors into their
// messages and exit statuses (0, 1 or 2).
int runCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Each command returns its exit status and throws InputError or RunError.
int runBuild(const BuildOptions& options, std::ostream& out, std::ostream& err);
int runScore(const ScoreOptions& options, std::ostream& out, std::ostream& err);
int runExport(const ExportOptions& options, std::ostream& out);
int runInfo(std::ostream& out);

}  // namespace splitrun

#endif

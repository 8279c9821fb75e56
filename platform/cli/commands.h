// platform/cli: the split-run command. Owns the command line (options.h),
// the build, score and info commands (this header), what they print
// (report.h, progress_bar.h), the fields a build uses (model_fields.h,
// data_model_text.h) and the scoring loop (score_stream.h). The top folder:
// it may include every folder of split-run (output, runtime/engines,
// runtime/sources, grouping, csv, common), refhost/ and splitmodels/; nothing
// includes it.
//
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

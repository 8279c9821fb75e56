#include "commands.h"

#include <exception>

#include "errors.h"

namespace splitrun {

int runCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const CommandLine line = parseCommandLine(argc, argv, out, err);
    if (line.exitStatus) return *line.exitStatus;
    try {
        switch (line.command) {
        case Command::Build: return runBuild(line.build, out, err);
        case Command::Score: return runScore(line.score, out, err);
        case Command::Info: return runInfo(out);
        }
    } catch (const InputError& e) {
        out.flush();
        err << "split-run: error: " << e.what() << "\n";
        return kExitInputError;
    } catch (const std::exception& e) {
        out.flush();
        err << "split-run: run failed: " << e.what() << "\n";
        return kExitNoModel;
    }
    return kExitNoModel;
}

}  // namespace splitrun

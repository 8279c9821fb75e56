#include "commands.h"

#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

#include "errors.h"
#include "visible_text.h"

namespace splitrun {

int runCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const CommandLine line = parseCommandLine(argc, argv, out, err);
    if (line.exitStatus) return *line.exitStatus;
    try {
        switch (line.command) {
        case Command::Build: {
            const int status = runBuild(line.build, out, err);
            // The report is the build's account of every group; a report that
            // could not be written (a full disk, /dev/full) is a failed run.
            if (!out.flush()) {
                err << "split-run: run failed: the report could not be written to standard output; "
                       "the outputs in --out " << visibleText(line.build.outDir)
                    << " stand as the run left them; read DIR/groups.csv, or send the report elsewhere\n";
                return kExitNoModel;
            }
            return status;
        }
        case Command::Score: return runScore(line.score, out, err);
        case Command::Export: return runExport(line.exportEntries, out);
        case Command::Info: return runInfo(out);
        }
    } catch (const InputError& e) {
        out.flush();
        // Messages quote values from the data; their control characters
        // are shown, not sent to the terminal.
        err << "split-run: error: " << visibleText(e.what()) << "\n";
        return kExitInputError;
    } catch (const std::bad_alloc&) {
        out.flush();
        err << "split-run: run failed: out of memory; use a smaller file, fewer inputs or fewer "
               "--threads\n";
        return kExitNoModel;
    } catch (const std::filesystem::filesystem_error& e) {
        out.flush();
        err << "split-run: run failed: cannot use " << visibleText(e.path1().string()) << " ("
            << e.code().message() << ")\n";
        return kExitNoModel;
    } catch (const std::system_error& e) {
        // Starting a thread is the one place the standard library raises this.
        out.flush();
        err << "split-run: run failed: the system refused a resource (" << e.code().message()
            << "); try fewer --threads\n";
        return kExitNoModel;
    } catch (const std::exception& e) {
        out.flush();
        err << "split-run: run failed: " << visibleText(e.what()) << "\n";
        return kExitNoModel;
    }
    return kExitNoModel;
}

}  // namespace splitrun

// The places in the module's sources that call host operations, and the
// mapping of recorded call sites (return addresses) onto them.
#ifndef SPLIT_TESTS_FAULTMATRIX_CALL_SITES_H
#define SPLIT_TESTS_FAULTMATRIX_CALL_SITES_H

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "refhost/faults.h"

namespace faultmatrix {

// One call of a host operation written in the sources. file: the path below the source root,
// "src/collect/..."; ordinal: among the calls of op in that file, in line order; text: the source
// line, trimmed.
struct SourceSite {
    std::string op, file; int line = 0, ordinal = 0; std::string text;
    std::string name() const { return op + " at " + file + ":" + std::to_string(line); }
    bool operator<(const SourceSite& o) const { return std::tie(file, line, op) < std::tie(o.file, o.line, o.op); }
};

// Every call of a host operation in the module's sources under root/src:
// calls through record words, through the host-call wrappers and the lock
// scope, and through the helper and peer-base functions that reach the host
// (the record reader, parameter scan, data model parse, input iterator).
// The wrappers' own bodies are not sites: their callers are.
std::vector<SourceSite> ScanSources(const std::string& root);

// The source site each recorded site belongs to: the first place in its
// frames (inlined calls unfolded) that is not a wrapper, matched with the
// site of that operation in that file that starts at most a few lines
// before it. A site without frames (a tail call) is the one place that
// returns the operation's result. Unmatched sites map to null, with their places in *unmatched.
std::vector<const SourceSite*> MapSites(const std::vector<refhost::CallSite>& sites, const std::string& modulePath,
                                        const std::vector<SourceSite>& sources, std::vector<std::string>* unmatched);

}  // namespace faultmatrix

#endif

// A document told by what it shares with another text (its base: the
// group's entry that the collect component made of it). The two share all
// but a few lines, so the document is kept as the length of the prefix and
// the suffix it shares with the base, and the bytes between as pieces: runs
// of its own bytes, and runs of whole lines it shares with the base's
// middle (the lines the collect component wrote around them, such as a
// data model with the split fields added, are usually the only ones that
// differ).
#ifndef SPLITRUN_ENTRY_DIFF_H
#define SPLITRUN_ENTRY_DIFF_H

#include <optional>
#include <string>
#include <string_view>

#include "compact_bytes.h"

namespace splitrun {

// Appends `document` told against `base` to `out`. Deterministic: the same
// two texts always give the same bytes.
void appendEntryDiff(std::string& out, std::string_view document, std::string_view base);

// The document that appendEntryDiff wrote, read from `in` and rebuilt from
// `base`; nullopt when a shared part does not fit the base. Throws
// refhost::WireError when the bytes do not decode.
std::optional<std::string> readEntryDiff(CompactReader& in, std::string_view base);

}  // namespace splitrun

#endif

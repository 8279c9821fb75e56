// The chunk loader's scanning steps (plain_csv_loader.h): a field's
// delimiter, and a plain line's end once its line feed is found (from the
// line feeds' masks, byte_masks.h, which the block reader's plain lines
// are split by too). A line these steps decline (a quote, a lone carriage
// return, a line cut off by the end of the buffer) is left to the block
// reader's quoted path, which knows every rule and describes every problem.
#ifndef SPLITRUN_CSV_SCAN_H
#define SPLITRUN_CSV_SCAN_H

#include <cstddef>
#include <cstring>

namespace splitrun::csvscan {

// The next delimiter in [p, end), or null. Fields are mostly short, so the
// first bytes are looked at one by one before memchr takes over.
inline const char* findDelimiter(const char* p, const char* end, char delimiter)
{
    const char* const near = end - p > 16 ? p + 16 : end;
    for (; p != near; ++p)
        if (*p == delimiter) return p;
    return p == end ? nullptr
                    : static_cast<const char*>(std::memchr(p, delimiter, static_cast<std::size_t>(end - p)));
}

enum class LineScan {
    Plain,       // a complete line: LF or CRLF ends it, no other CR in it
    Incomplete,  // no LF before the end of the bytes
    Irregular,   // a CR inside the line (a line end of its own): not plain
};

// The line that starts at `p` and ends at the LF at `newline` (null: no LF
// follows): sets *lineEnd to the end of its text (a CR before the LF
// excluded) and *next past its LF. A caller that knows the line holds no CR
// passes mayHoldCr = false and saves a scan. The caller checks for quotes
// itself, usually over a whole buffer at once.
inline LineScan endLine(const char* p, const char* newline, bool mayHoldCr, const char** lineEnd,
                        const char** next)
{
    if (newline == nullptr) return LineScan::Incomplete;
    const char* end = newline;
    if (mayHoldCr) {
        if (end > p && end[-1] == '\r') --end;
        if (std::memchr(p, '\r', static_cast<std::size_t>(end - p)) != nullptr) return LineScan::Irregular;
    }
    *lineEnd = end;
    *next = newline + 1;
    return LineScan::Plain;
}

}  // namespace splitrun::csvscan

#endif

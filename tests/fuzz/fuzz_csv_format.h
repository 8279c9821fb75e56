// The CSV layout the CSV fuzz targets read, chosen by the low five bits of
// their first byte.
#ifndef SPLIT_TESTS_FUZZ_CSV_FORMAT_H
#define SPLIT_TESTS_FUZZ_CSV_FORMAT_H

#include <cstdint>

#include "csv_format.h"

namespace fuzzsupport {

// Bits 0-1: the delimiter (',' ';' or tab); bit 2: a decimal comma (where
// the comma is not the delimiter); bit 3: other missing-value tokens, one
// of them a number with a decimal comma; bit 4: a 16-byte line and field limit.
inline splitrun::CsvFormat csvFormatOf(uint8_t flags)
{
    splitrun::CsvFormat format;
    format.delimiter = (flags & 3) == 1 ? ';' : (flags & 3) == 2 ? '\t' : ',';
    if ((flags & 4) != 0 && format.delimiter != ',') format.decimal = ',';
    if ((flags & 8) != 0) format.naValues = {"-999", "NULL", "-0,5"};
    if ((flags & 16) != 0) format.maxFieldSize = 16;
    return format;
}

}  // namespace fuzzsupport

#endif

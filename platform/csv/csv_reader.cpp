#include "csv_reader.h"

namespace splitrun {

CsvReader::CsvReader(std::istream& in, std::string sourceName, CsvFormat format)
    : stream_(in, std::move(sourceName), std::move(format))
{
}

bool CsvReader::next(CsvRecord& record)
{
    // One record per block, so an error further on is not raised early.
    if (!stream_.next(block_, 1)) return false;
    record.line = block_.line(0);
    record.fields.resize(block_.width());
    for (std::size_t i = 0; i < block_.width(); ++i) {
        CsvField& field = record.fields[i];
        field.value.assign(block_.value(0, i));
        field.quoted = block_.isQuoted(0, i);
        field.missing = block_.isMissing(0, i);
    }
    return true;
}

}  // namespace splitrun

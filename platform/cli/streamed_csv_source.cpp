#include "streamed_csv_source.h"

#include <exception>

#include "csv_stream.h"
#include "csv_table.h"
#include "errors.h"
#include "input_source.h"

namespace splitrun {

class StreamedCsvSource::Pass : public refhost::RecordPass {
public:
    explicit Pass(const StreamedCsvSource& source)
        : source_(source), input_(source.path_, "--data", source.format_.latin1),
          stream_(input_.stream(), source.path_ == "-" ? "<stdin>" : source.path_, source.format_)
    {
    }

    bool next(refhost::Table& block) override
    {
        try {
            if (!stream_.next(records_, source_.blockRecords_)) return false;
            const std::vector<refhost::Column>& columns = source_.columns_;
            std::vector<refhost::ColumnValues> values;
            values.reserve(columns.size());
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::size_t from = source_.csvColumns_[i];
                values.emplace_back(refhost::ColumnValues::kindFor(columns[i].storage));
                refhost::ColumnValues& column = values.back();
                for (std::size_t r = 0; r < records_.size(); ++r)
                    appendTypedValue(column, records_.value(r, from), records_.isMissing(r, from),
                                     static_cast<Storage>(columns[i].storage), stream_.sourceName(),
                                     records_.line(r), from, columns[i].name);
            }
            block = refhost::Table(columns, std::move(values));
            return true;
        } catch (const std::exception& e) {
            source_.noteError(e.what());
            throw;
        }
    }

private:
    const StreamedCsvSource& source_;
    InputSource input_;
    CsvStream stream_;
    CsvBlock records_;
};

StreamedCsvSource::StreamedCsvSource(std::string path, CsvFormat format, std::vector<refhost::Column> columns,
                                     std::vector<std::size_t> csvColumns, std::size_t blockRecords)
    : path_(std::move(path)), format_(std::move(format)), columns_(std::move(columns)),
      csvColumns_(std::move(csvColumns)), blockRecords_(blockRecords)
{
}

std::unique_ptr<refhost::RecordPass> StreamedCsvSource::open() const
{
    try {
        return std::make_unique<Pass>(*this);
    } catch (const std::exception& e) {
        noteError(e.what());
        throw;
    }
}

std::string StreamedCsvSource::error() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void StreamedCsvSource::noteError(const std::string& message) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = message;
}

}  // namespace splitrun

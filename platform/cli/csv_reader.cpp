#include "csv_reader.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "errors.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

constexpr int kEof = std::char_traits<char>::eof();

bool isBlank(const CsvRecord& record)
{
    return record.fields.size() == 1 && !record.fields[0].quoted && record.fields[0].value.empty();
}

// "3,25" as "3.25" when that reads as a number; other texts stay as they are.
void useDecimalPoint(std::string& value)
{
    const std::size_t comma = value.find(',');
    if (comma == std::string::npos || value.find_first_of(",.", comma + 1) != std::string::npos ||
        value.find('.') != std::string::npos)
        return;
    std::string candidate = value;
    candidate[comma] = '.';
    if (parseReal(candidate)) value = std::move(candidate);
}

std::string describeByte(int c)
{
    if (c >= 0x20 && c < 0x7f) return std::string("'") + static_cast<char>(c) + "'";
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c) & 0xffu);
    return text;
}

}  // namespace

CsvReader::CsvReader(std::istream& in, std::string sourceName, CsvFormat format)
    : buf_(in.rdbuf()), source_(std::move(sourceName)), format_(std::move(format))
{
    // A UTF-8 byte order mark before the header is not part of the first name.
    static const char bom[] = "\xEF\xBB\xBF";
    if (buf_->sgetc() == static_cast<unsigned char>(bom[0])) {
        buf_->sbumpc();
        if (buf_->sbumpc() != static_cast<unsigned char>(bom[1]) ||
            buf_->sbumpc() != static_cast<unsigned char>(bom[2]))
            fail(1, 1, "the file starts with a broken byte order mark; save it as plain UTF-8");
    }
    CsvRecord head;
    if (!readRaw(head) || isBlank(head))
        fail(1, 1, "the header row is missing; the first line must name the fields, "
                   "separated by the delimiter");
    std::set<std::string> seen;
    for (std::size_t i = 0; i < head.fields.size(); ++i) {
        const std::string& name = head.fields[i].value;
        if (name.empty())
            fail(1, i + 1, "the header names no field in this column; give every column a name");
        if (!seen.insert(name).second)
            fail(1, i + 1, "the field name '" + name + "' appears twice in the header; "
                           "field names must be unique");
        header_.push_back(name);
    }
}

bool CsvReader::next(CsvRecord& record)
{
    for (;;) {
        if (!readRaw(record)) return false;   // blank lines at the very end are ignored
        if (header_.size() > 1 && isBlank(record)) {
            if (blankLine_ == 0) blankLine_ = record.line;
            continue;
        }
        if (blankLine_ != 0)
            fail(blankLine_, 1, "the line is empty but the header has " +
                                std::to_string(header_.size()) +
                                " fields; remove the empty line or fill in its fields");
        if (record.fields.size() != header_.size()) {
            std::string what = "the record has " + std::to_string(record.fields.size()) +
                               " fields but the header has " + std::to_string(header_.size()) +
                               "; every row must have one value per header field (leave a "
                               "value empty between commas when it is missing)";
            fail(record.line, std::min(record.fields.size(), header_.size()) + 1, what);
        }
        return true;
    }
}

bool CsvReader::readRaw(CsvRecord& record)
{
    if (buf_->sgetc() == kEof) return false;
    record.fields.clear();
    record.line = line_;
    recordBytes_ = 0;
    for (;;) {
        record.fields.emplace_back();
        CsvField& field = record.fields.back();
        const std::uint64_t column = record.fields.size();
        if (buf_->sgetc() == '"')
            readQuoted(field, column);
        else
            readUnquoted(field, column);
        field.missing = !field.quoted && format_.isMissingToken(field.value);
        if (format_.decimal == ',' && !field.missing) useDecimalPoint(field.value);
        recordBytes_ += field.value.size() + 1;
        const int c = buf_->sgetc();
        if (c == format_.delimiter) {
            buf_->sbumpc();
            continue;
        }
        if (c == kEof || consumeLineEnd()) return true;
        fail(line_, column, "unexpected character " + describeByte(c) +
                            " after the closing quote; a quoted field must end at a delimiter "
                            "or a line end (write a quote inside a quoted field as \"\")");
    }
}

void CsvReader::readQuoted(CsvField& field, std::uint64_t column)
{
    const std::uint64_t startLine = line_;
    buf_->sbumpc();   // the opening quote
    field.quoted = true;
    for (;;) {
        const int c = buf_->sbumpc();
        if (c == kEof)
            fail(startLine, column, "the quoted field that starts here is never closed; "
                                    "add the closing quote (and double any quote inside it)");
        if (c == '"') {
            if (buf_->sgetc() != '"') return;
            buf_->sbumpc();
        } else if (c == '\n') {
            ++line_;
        } else if (c == '\r' && buf_->sgetc() != '\n') {
            ++line_;
        }
        field.value.push_back(static_cast<char>(c));
        checkSize(field, column);
    }
}

void CsvReader::readUnquoted(CsvField& field, std::uint64_t column)
{
    for (;;) {
        const int c = buf_->sgetc();
        if (c == kEof || c == format_.delimiter || c == '\n' || c == '\r') return;
        if (c == '"')
            fail(line_, column, "a quote appears inside an unquoted field; enclose the whole "
                                "field in quotes and write the quote as \"\"");
        field.value.push_back(static_cast<char>(buf_->sbumpc()));
        checkSize(field, column);
    }
}

bool CsvReader::consumeLineEnd()
{
    const int c = buf_->sgetc();
    if (c == '\n') {
        buf_->sbumpc();
    } else if (c == '\r') {
        buf_->sbumpc();
        if (buf_->sgetc() == '\n') buf_->sbumpc();
    } else {
        return false;
    }
    ++line_;
    return true;
}

void CsvReader::checkSize(const CsvField& field, std::uint64_t column) const
{
    if (field.value.size() + recordBytes_ > format_.maxFieldSize)
        fail(line_, column, "the line or its field is longer than " +
                            std::to_string(format_.maxFieldSize) +
                            " bytes; check that this is a CSV file with the right --delimiter, "
                            "or raise the limit with --max-field-size BYTES");
}

void CsvReader::fail(std::uint64_t line, std::uint64_t column, const std::string& what) const
{
    std::string where = source_ + ":" + std::to_string(line) + ":" + std::to_string(column);
    if (column >= 1 && column <= header_.size())
        where += " (field '" + header_[column - 1] + "')";
    throw InputError(where + ": " + what);
}

}  // namespace splitrun

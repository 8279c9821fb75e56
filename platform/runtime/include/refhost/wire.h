// A compact binary encoding of what travels between the host process and
// worker processes: a group's job (task text, records, data model, input
// container texts) and the worker's output. Numbers are little-endian and
// fixed-width, reals their exact 64-bit patterns, texts length-prefixed
// bytes, so a job decodes to records equal to the ones encoded.
#ifndef REFHOST_WIRE_H
#define REFHOST_WIRE_H

#include <bit>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/run.h"
#include "refhost/table.h"

namespace refhost {

// Input that is truncated, too long or not an encoding of what was asked for.
class WireError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WireWriter {
public:
    void u8(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void u32(uint32_t value);
    void u64(uint64_t value) {
        // Little-endian: on such a host, the value's own bytes.
        if constexpr (std::endian::native == std::endian::little) {
            bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
        } else {
            char bytes[8];
            for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
            bytes_.append(bytes, sizeof bytes);
        }
    }
    void i64(int64_t value) { u64(static_cast<uint64_t>(value)); }
    void f64(double value);
    void text(std::string_view value);
    void optionalText(const std::optional<std::string>& value);
    std::string& bytes() { return bytes_; }
    std::string take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

// Reads what a WireWriter wrote; every read throws WireError past the end.
class WireReader {
public:
    explicit WireReader(std::string_view bytes) : bytes_(bytes) {}
    uint8_t u8();
    uint32_t u32();
    uint64_t u64();
    int64_t i64() { return static_cast<int64_t>(u64()); }
    double f64();
    std::string text();
    std::optional<std::string> optionalText();
    // A count of items that each take at least `itemBytes` bytes; refused
    // when the rest of the input cannot hold that many.
    size_t count(size_t itemBytes);
    bool atEnd() const { return position_ == bytes_.size(); }
    size_t left() const { return bytes_.size() - position_; }
    // Throws WireError unless everything was read.
    void expectEnd() const;
    // The next `length` bytes as they are (a block of numbers read at once).
    std::string_view take(size_t length);

private:

    std::string_view bytes_;
    size_t position_ = 0;
};

// Encodes a table; a column whose entry in `carried` is false is written
// as missing in every row, in a few bytes (columns past its end, and all
// of them when it is empty, are written as they are). A column that is
// missing in every row anyway takes as few.
void encodeTable(WireWriter& out, const Table& table, const std::vector<bool>& carried = {});
Table decodeTable(WireReader& in);

// A whole job, its group index included (the model ID derives from it).
std::string encodeJob(const WorkerJob& job);
WorkerJob decodeJob(std::string_view bytes);
// Appends the job with an empty data model and no input texts, for an
// engine that sends those documents once to each process; decodeJob reads it.
void encodeJobWithoutDocuments(WireWriter& out, const WorkerJob& job);

std::string encodeOutput(const WorkerOutput& output);
WorkerOutput decodeOutput(std::string_view bytes);

}  // namespace refhost

#endif

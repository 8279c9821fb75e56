#include "fingerprint.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <span>
#include <string_view>

#include <splitmodels/group_model.h>

#include "fast_xxh3.h"

namespace splitrun {

namespace {

// XXH3-128 over a sequence of length-prefixed parts, so that no two
// different sequences hash the same stream of bytes.
class Hasher {
public:
    Hasher() : state_(XXH3_createState())
    {
        if (!state_ || XXH3_128bits_reset(state_) != XXH_OK) throw std::bad_alloc();
    }
    ~Hasher() { XXH3_freeState(state_); }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // Short parts gather in a buffer and go to the hash together (the
    // digest depends only on the bytes): a call into the streaming hash
    // per part cost more than the parts.
    void raw(const void* bytes, std::size_t size)
    {
        if (used_ + size > sizeof buffer_) {
            flush();
            if (size > sizeof buffer_) {
                XXH3_128bits_update(state_, bytes, size);
                return;
            }
        }
        std::memcpy(buffer_ + used_, bytes, size);
        used_ += size;
    }
    void number(std::uint64_t value) { raw(&value, sizeof value); }
    void text(std::string_view value)
    {
        number(value.size());
        raw(value.data(), value.size());
    }
    std::string digest()
    {
        flush();
        XXH128_canonical_t canonical;
        XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_));
        return std::string(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest);
    }

private:
    void flush()
    {
        if (used_ > 0) XXH3_128bits_update(state_, buffer_, used_);
        used_ = 0;
    }

    XXH3_state_t* state_;
    unsigned char buffer_[512];
    std::size_t used_ = 0;
};

// Type tags of hashed values.
enum : unsigned char { kMissing = 0, kInteger = 1, kReal = 2, kText = 3 };

// Hashes each value as its tag, length and bytes. The parts are gathered
// in a block and handed to the hash a block at a time: the digest depends
// only on the bytes, and three calls into the streaming hash per value
// cost more than the rest of the fingerprint. Columns of one kind are
// read straight from their typed storage, a number's 17 bytes written in
// one step; only a column of mixed cells asks each value for its bytes.
class ValueBlock {
public:
    explicit ValueBlock(Hasher& hash) : hash_(hash) {}
    ~ValueBlock() { hash_.raw(block_, used_); }
    ValueBlock(const ValueBlock&) = delete;
    ValueBlock& operator=(const ValueBlock&) = delete;

    void missing()
    {
        room(1);
        block_[used_++] = kMissing;
    }
    // A number: its tag, the length 8 and its 8 bytes.
    void number(unsigned char tag, const void* bytes)
    {
        constexpr std::uint64_t kEight = 8;
        room(17);
        block_[used_] = tag;
        std::memcpy(block_ + used_ + 1, &kEight, 8);
        std::memcpy(block_ + used_ + 9, bytes, 8);
        used_ += 17;
    }
    // number() for each of `count` values of 8 bytes lying one after
    // another, none missing: the same bytes, with one check for room per
    // block rather than per value.
    void numbers(unsigned char tag, const void* first, std::size_t count)
    {
        constexpr std::uint64_t kEight = 8;
        const unsigned char* in = static_cast<const unsigned char*>(first);
        while (count > 0) {
            room(17);
            const std::size_t fit = std::min(count, (kBlock - used_) / 17);
            unsigned char* out = block_ + used_;
            for (std::size_t i = 0; i < fit; ++i, out += 17, in += 8) {
                out[0] = tag;
                std::memcpy(out + 1, &kEight, 8);
                std::memcpy(out + 9, in, 8);
            }
            used_ += fit * 17;
            count -= fit;
        }
    }
    void value(unsigned char tag, const void* bytes, std::size_t length)
    {
        const std::uint64_t length64 = length;
        // A short value (a key's text) in one step, with one check for room.
        if (length <= kBlock - 9) {
            room(9 + length);
            unsigned char* out = block_ + used_;
            out[0] = tag;
            std::memcpy(out + 1, &length64, 8);
            std::memcpy(out + 9, bytes, length);
            used_ += 9 + length;
            return;
        }
        put(&tag, 1);
        put(&length64, sizeof length64);
        put(bytes, length);
    }

private:
    static constexpr std::size_t kBlock = 16384;

    void room(std::size_t size)
    {
        if (used_ + size <= kBlock) return;
        hash_.raw(block_, used_);
        used_ = 0;
    }
    void put(const void* bytes, std::size_t size)
    {
        if (used_ + size > kBlock) {
            hash_.raw(block_, used_);
            used_ = 0;
            if (size > kBlock) {
                hash_.raw(bytes, size);
                return;
            }
        }
        std::memcpy(block_ + used_, bytes, size);
        used_ += size;
    }

    Hasher& hash_;
    unsigned char block_[kBlock];
    std::size_t used_ = 0;
};

void hashValues(Hasher& hash, const refhost::ColumnSlice& values)
{
    using Kind = refhost::ColumnValues::Kind;
    ValueBlock block(hash);
    const std::size_t rows = values.size();
    switch (values.kind()) {
    case Kind::Integer:
        if (!values.hasMissing()) {
            block.numbers(kInteger, values.integers().data(), rows);
            return;
        }
        for (std::size_t r = 0; r < rows; ++r) {
            if (values.isMissing(r)) block.missing();
            else block.number(kInteger, &values.integers()[r]);
        }
        return;
    case Kind::Real:
        if (!values.hasMissing()) {
            block.numbers(kReal, values.reals().data(), rows);
            return;
        }
        for (std::size_t r = 0; r < rows; ++r) {
            if (values.isMissing(r)) block.missing();
            else block.number(kReal, &values.reals()[r]);
        }
        return;
    case Kind::Text: {
        // A group's text keys are mostly one value over and over: its text
        // is looked up once per run of equal codes.
        const std::span<const std::uint32_t> codes = values.codes();
        const bool anyMissing = values.hasMissing();
        std::uint32_t lastCode = 0;
        std::string_view text;
        bool looked = false;
        for (std::size_t r = 0; r < rows; ++r) {
            if (anyMissing && values.isMissing(r)) {
                block.missing();
                continue;
            }
            if (!looked || codes[r] != lastCode) {
                lastCode = codes[r];
                text = values.dictionary().at(lastCode);
                looked = true;
            }
            block.value(kText, text.data(), text.size());
        }
        return;
    }
    case Kind::Cells:
        for (std::size_t r = 0; r < rows; ++r) {
            const refhost::Cell& cell = values.cells()[r];
            if (cell.isMissing()) {
                block.missing();
                continue;
            }
            std::size_t length = 0;
            const void* bytes = values.bytes(r, &length);
            block.value(cell.isText() ? kText : cell.isInteger() ? kInteger : kReal, bytes, length);
        }
        return;
    }
}

}  // namespace

Fingerprinter::Fingerprinter(const splitmodels::ModelSpec& request, std::string settings,
                             std::vector<std::string> splitFields)
    : settings_(std::move(settings)), splitFields_(std::move(splitFields))
{
    usedFields_.push_back(request.target);
    usedFields_.insert(usedFields_.end(), request.inputs.begin(), request.inputs.end());
    for (const std::string* field : {&request.weights, &request.offset})
        if (!field->empty()) usedFields_.push_back(*field);
    // A formula's response may read fields beyond the target (cbind's two
    // counts, say): their data model counts as well.
    splitmodels::FormulaFields formula;
    if (!request.formula.empty() && !splitmodels::checkFormula(request.formula, formula))
        usedFields_.insert(usedFields_.end(), formula.responseFields.begin(), formula.responseFields.end());
    used_.insert(usedFields_.begin(), usedFields_.end());
    usedOrSplit_ = used_;
    usedOrSplit_.insert(splitFields_.begin(), splitFields_.end());
}

std::string Fingerprinter::usedFieldsHash(const std::string& dataModel) const
{
    const std::uint64_t whole = XXH3_64bits(dataModel.data(), dataModel.size());
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (const auto found = dataModels_.find(whole); found != dataModels_.end()) return found->second;
    }
    Hasher hash;
    for (const splitmodels::FieldDef& def : splitmodels::parseDataModelFields(dataModel)) {
        if (!used_.count(def.name)) continue;
        hash.text(def.name);
        hash.number(static_cast<std::uint64_t>(def.storage));
        hash.number(static_cast<std::uint64_t>(def.measure));
        hash.text(def.role);
        hash.number(def.categories.size());
        for (const std::string& category : def.categories) hash.text(category);
    }
    std::string digest = hash.digest();
    std::lock_guard<std::mutex> guard(mutex_);
    dataModels_.emplace(whole, digest);
    return digest;
}

std::string Fingerprinter::usedFieldsHash(const std::shared_ptr<const std::string>& dataModel) const
{
    static const std::string kNone;
    if (!dataModel) return usedFieldsHash(kNone);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (dataModel == lastDataModel_) return lastHash_;
    }
    std::string digest = usedFieldsHash(*dataModel);
    std::lock_guard<std::mutex> guard(mutex_);
    lastDataModel_ = dataModel;
    lastHash_ = digest;
    return digest;
}

std::string Fingerprinter::operator()(const refhost::WorkerJob& job) const
{
    Hasher hash;
    hash.number(static_cast<std::uint64_t>(kModelCodeVersion));
    hash.text(settings_);
    hash.text(usedFieldsHash(job.dataModel));
    const refhost::TableRows& records = job.records;
    hash.number(records.columns().size());
    hash.number(records.rowCount());
    for (std::size_t c = 0; c < records.columns().size(); ++c) {
        const refhost::Column& column = records.columns()[c];
        hash.text(column.name);
        hash.number(static_cast<std::uint64_t>(column.storage));
        hash.number(static_cast<std::uint64_t>(column.measure));
        if (usedOrSplit_.count(column.name)) hashValues(hash, records.values(c));
    }
    return hash.digest();
}

}  // namespace splitrun

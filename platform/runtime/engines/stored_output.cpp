#include "stored_output.h"

#include <algorithm>
#include <cstring>

#include <refhost/wire.h>
#include <xxhash.h>

#include "remote_groups.h"

namespace splitrun {

namespace {

enum : unsigned char { kWhole = 0, kAgainstEntry = 1 };

// The documents and their entries share all but a few hundred of their
// thousands of bytes, so the shared ends are compared a block at a time
// (memcmp) and only the block that differs byte by byte.
constexpr std::size_t kBlock = 64;

std::size_t commonPrefix(const char* a, const char* b, std::size_t length)
{
    std::size_t at = 0;
    while (length - at >= kBlock && std::memcmp(a + at, b + at, kBlock) == 0) at += kBlock;
    while (at < length && a[at] == b[at]) ++at;
    return at;
}

// The length of the common suffix of the texts ending at `aEnd` and `bEnd`,
// at most `length`.
std::size_t commonSuffix(const char* aEnd, const char* bEnd, std::size_t length)
{
    std::size_t at = 0;
    while (length - at >= kBlock && std::memcmp(aEnd - at - kBlock, bEnd - at - kBlock, kBlock) == 0) at += kBlock;
    while (at < length && aEnd[-1 - static_cast<std::ptrdiff_t>(at)] == bEnd[-1 - static_cast<std::ptrdiff_t>(at)])
        ++at;
    return at;
}

void writeDocument(refhost::WireWriter& out, const std::string& document, const std::string* entry)
{
    if (!entry || document.empty()) {
        out.u8(kWhole);
        out.text(document);
        return;
    }
    const std::size_t shorter = std::min(document.size(), entry->size());
    const std::size_t prefix = commonPrefix(document.data(), entry->data(), shorter);
    const std::size_t suffix =
        commonSuffix(document.data() + document.size(), entry->data() + entry->size(), shorter - prefix);
    out.u8(kAgainstEntry);
    out.u64(prefix);
    out.u64(suffix);
    out.text(std::string_view(document).substr(prefix, document.size() - prefix - suffix));
    out.u64(XXH3_64bits(document.data(), document.size()));
}

// A document kept against an entry, as it is stored.
struct KeptDocument {
    std::uint64_t prefix = 0;
    std::uint64_t suffix = 0;
    std::string middle;
    std::uint64_t hash = 0;
};

KeptDocument readKept(refhost::WireReader& in)
{
    KeptDocument kept;
    kept.prefix = in.u64();
    kept.suffix = in.u64();
    kept.middle = in.text();
    kept.hash = in.u64();
    return kept;
}

// The document rebuilt from `base`; nullopt when it does not come back
// exactly (the base is too short, or the whole does not hash as it did).
std::optional<std::string> rebuild(const KeptDocument& kept, const std::string& base)
{
    if (kept.prefix > base.size() || kept.suffix > base.size() - kept.prefix) return std::nullopt;
    std::string document;
    document.reserve(kept.prefix + kept.middle.size() + kept.suffix);
    document.append(base, 0, kept.prefix).append(kept.middle).append(base, base.size() - kept.suffix, kept.suffix);
    if (XXH3_64bits(document.data(), document.size()) != kept.hash) return std::nullopt;
    return document;
}

std::string readDocument(refhost::WireReader& in, const char* container, const EntryLookup& entry)
{
    if (in.u8() == kWhole) return in.text();
    const KeptDocument kept = readKept(in);
    const std::string* base = entry(container);
    std::optional<std::string> document;
    if (base) document = rebuild(kept, *base);
    if (!document)
        throw refhost::WireError(std::string("the stored ") + container + " document does not come back exactly");
    return std::move(*document);
}

// True when writeDocument would write what `in` holds next for the
// document it holds against `entry` (null for none).
bool writtenAlike(refhost::WireReader& in, const std::string* entry)
{
    if (in.u8() == kWhole) return in.text().empty() || !entry;
    const KeptDocument kept = readKept(in);
    if (!entry) return false;
    const std::optional<std::string> document = rebuild(kept, *entry);
    if (!document) return false;
    // The shared ends must also be the longest ones, as writeDocument
    // finds them.
    const std::size_t shorter = std::min(document->size(), entry->size());
    return commonPrefix(document->data(), entry->data(), shorter) == kept.prefix &&
           commonSuffix(document->data() + document->size(), entry->data() + entry->size(),
                        shorter - kept.prefix) == kept.suffix;
}

// Where the value of the first ` attribute="value"` in a document starts;
// npos when it is not there. The attribute is the first of its name in a
// group's documents, and a quote within an attribute value is always
// escaped, so the first match is the attribute itself.
std::size_t valueAt(const std::string& document, const std::string& attribute, const std::string& value)
{
    const std::size_t at = document.find(" " + attribute + "=\"" + value + "\"");
    return at == std::string::npos ? at : at + attribute.size() + 3;
}

}  // namespace

bool renameModel(refhost::WorkerOutput& output, const std::string& from, const std::string& to)
{
    if (from == to) return true;
    const std::size_t inStatXml = valueAt(output.statXml, "modelID", from);
    const std::size_t inPmml = valueAt(output.pmml, "modelName", from);
    if ((!output.statXml.empty() && inStatXml == std::string::npos) ||
        (!output.pmml.empty() && inPmml == std::string::npos))
        return false;
    if (!output.statXml.empty()) output.statXml.replace(inStatXml, from.size(), to);
    if (!output.pmml.empty()) output.pmml.replace(inPmml, from.size(), to);
    return true;
}

void encodeWorkerTexts(const refhost::WorkerOutput& output, std::string& appendTo)
{
    refhost::WireWriter out;
    out.bytes().swap(appendTo);
    out.i64(output.outcome);
    out.text(output.reason);
    out.text(output.statXml);
    out.text(output.pmml);
    out.bytes().swap(appendTo);
}

refhost::WorkerOutput decodeWorkerTexts(std::string_view bytes)
{
    refhost::WireReader in(bytes);
    refhost::WorkerOutput output;
    output.outcome = static_cast<int>(in.i64());
    output.reason = in.text();
    output.statXml = in.text();
    output.pmml = in.text();
    in.expectEnd();
    return output;
}

std::string encodeStoredOutput(const refhost::WorkerOutput& texts, const std::string& kept,
                               const std::string* statXmlEntry, const std::string* pmmlEntry)
{
    refhost::WireWriter out;
    out.i64(texts.outcome);
    out.text(texts.reason);
    writeDocument(out, texts.statXml, statXmlEntry);
    writeDocument(out, texts.pmml, pmmlEntry);
    out.text(kept);
    return out.take();
}

refhost::WorkerOutput decodeStoredOutput(std::string_view stored, const EntryLookup& entry, GroupWorker::Kept& kept)
{
    refhost::WireReader in(stored);
    refhost::WorkerOutput output;
    output.outcome = static_cast<int>(in.i64());
    output.reason = in.text();
    output.statXml = readDocument(in, "StatXML", entry);
    output.pmml = readDocument(in, "PMML", entry);
    kept = decodeKept(in.text());
    in.expectEnd();
    return output;
}

bool storedAlike(std::string_view stored, const std::string* statXmlEntry, const std::string* pmmlEntry)
{
    try {
        refhost::WireReader in(stored);
        in.i64();
        in.text();
        if (!writtenAlike(in, statXmlEntry) || !writtenAlike(in, pmmlEntry)) return false;
        in.text();
        in.expectEnd();
        return true;
    } catch (const refhost::WireError&) {
        return false;
    }
}

}  // namespace splitrun

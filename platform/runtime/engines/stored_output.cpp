#include "stored_output.h"

#include <algorithm>
#include <cstring>

#include <refhost/wire.h>

#include "compact_bytes.h"
#include "entry_diff.h"
#include "fast_xxh3.h"
#include "remote_groups.h"

namespace splitrun {

namespace {

// How a document is kept: whole, or told against its entry (see
// entry_diff.h) with a hash of the whole that a reader checks.
enum : unsigned char { kWhole = 0, kAgainstEntry = 1 };

void writeDocument(std::string& out, const std::string& document, const std::string* entry)
{
    if (!entry || document.empty()) {
        out.push_back(static_cast<char>(kWhole));
        appendCompactText(out, document);
        return;
    }
    out.push_back(static_cast<char>(kAgainstEntry));
    appendEntryDiff(out, document, *entry);
    const std::uint64_t hash = XXH3_64bits(document.data(), document.size());
    char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(hash >> (8 * i));
    out.append(bytes, sizeof bytes);
}

std::uint64_t readHash(CompactReader& in)
{
    const std::string_view bytes = in.take(8);
    std::uint64_t hash = 0;
    for (int i = 0; i < 8; ++i) hash |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return hash;
}

// A document kept against an entry, rebuilt from `entry`; nullopt when it
// does not come back exactly (a shared part does not fit the entry, or the
// whole does not hash as it did).
std::optional<std::string> rebuild(CompactReader& in, const std::string* entry)
{
    std::optional<std::string> document;
    if (entry)
        document = readEntryDiff(in, *entry);
    else
        readEntryDiff(in, std::string_view());
    const std::uint64_t hash = readHash(in);
    if (document && XXH3_64bits(document->data(), document->size()) != hash) return std::nullopt;
    return document;
}

std::string readDocument(CompactReader& in, const char* container, const EntryLookup& entry)
{
    if (in.byte() == kWhole) return std::string(in.text());
    std::optional<std::string> document = rebuild(in, entry(container));
    if (!document)
        throw refhost::WireError(std::string("the stored ") + container + " document does not come back exactly");
    return std::move(*document);
}

// True when writeDocument would write what `in` holds next for the
// document it holds against `entry` (null for none).
bool writtenAlike(CompactReader& in, const std::string* entry)
{
    const std::size_t start = in.offset();
    if (in.byte() == kWhole) return in.text().empty() || !entry;
    const std::optional<std::string> document = rebuild(in, entry);
    if (!document) return false;
    std::string again;
    writeDocument(again, *document, entry);
    return again == in.consumedSince(start);
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
    std::string out;
    out.reserve(kept.size() + 256);
    appendVarint(out, static_cast<std::uint32_t>(texts.outcome));
    appendCompactText(out, texts.reason);
    writeDocument(out, texts.statXml, statXmlEntry);
    writeDocument(out, texts.pmml, pmmlEntry);
    appendZeroPacked(out, kept);
    return out;
}

refhost::WorkerOutput decodeStoredOutput(std::string_view stored, const EntryLookup& entry, GroupWorker::Kept& kept)
{
    CompactReader in(stored);
    refhost::WorkerOutput output;
    output.outcome = static_cast<int>(static_cast<std::uint32_t>(in.varint()));
    output.reason = in.text();
    output.statXml = readDocument(in, "StatXML", entry);
    output.pmml = readDocument(in, "PMML", entry);
    kept = decodeKept(in.zeroUnpacked());
    in.expectEnd();
    return output;
}

bool storedAlike(std::string_view stored, const std::string* statXmlEntry, const std::string* pmmlEntry)
{
    try {
        CompactReader in(stored);
        in.varint();
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

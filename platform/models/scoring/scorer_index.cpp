// Finding a row's segment: hash lookup over the segments that test equality
// on one set of fields, merged with an ordered scan of the others, so that
// the first segment in document order whose predicate holds is selected.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "scorer_model.h"

namespace splitmodels::detail {

namespace {

using Op = Predicate::Op;

// One test of an indexable predicate: the field, and its value (missing for
// an isMissing test).
struct KeyTest {
  int field;
  const Datum* value;  // null for isMissing
};

bool isKeyTest(const Predicate& predicate) {
  return predicate.kind == Predicate::Kind::Simple && (predicate.op == Op::Equal || predicate.op == Op::IsMissing);
}

// The tests of a conjunction of equality and isMissing tests on distinct
// fields, ordered by field; nothing for a predicate of another shape.
std::optional<std::vector<KeyTest>> keyTests(const Predicate& predicate) {
  std::vector<KeyTest> tests;
  const auto add = [&](const Predicate& test) {
    tests.push_back({test.field, test.op == Op::Equal ? &test.value : nullptr});
  };
  if (isKeyTest(predicate)) {
    add(predicate);
  } else if (predicate.kind == Predicate::Kind::Compound && predicate.op == Op::And) {
    for (const Predicate& child : predicate.children) {
      if (!isKeyTest(child)) return std::nullopt;
      add(child);
    }
  } else {
    return std::nullopt;
  }
  std::sort(tests.begin(), tests.end(), [](const KeyTest& a, const KeyTest& b) { return a.field < b.field; });
  for (std::size_t i = 1; i < tests.size(); ++i)
    if (tests[i].field == tests[i - 1].field) return std::nullopt;  // two tests of one field: scanned
  return tests;
}

// The keys of a segment's predicate over its fields: one key for a
// conjunction of key tests, one per alternative for an "or" of them (a
// group with several keys); nothing for any other shape, or when the
// alternatives test different fields.
std::optional<std::pair<std::vector<int>, std::vector<std::string>>> segmentKeys(const Predicate& predicate) {
  std::vector<const Predicate*> alternatives;
  if (predicate.kind == Predicate::Kind::Compound && predicate.op == Op::Or)
    for (const Predicate& child : predicate.children) alternatives.push_back(&child);
  else
    alternatives.push_back(&predicate);
  std::vector<int> fields;
  std::vector<std::string> keys;
  for (const Predicate* alternative : alternatives) {
    const std::optional<std::vector<KeyTest>> tests = keyTests(*alternative);
    if (!tests) return std::nullopt;
    std::vector<int> tested;
    std::string key;
    for (const KeyTest& test : *tests) {
      tested.push_back(test.field);
      if (test.value)
        appendIndexKey(*test.value, key);
      else
        key += 'm';
    }
    if (keys.empty()) fields = tested;
    if (tested != fields) return std::nullopt;
    keys.push_back(std::move(key));
  }
  return std::make_pair(std::move(fields), std::move(keys));
}

constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;

std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * kMix;
  return hash ^ (hash >> 29);
}

std::uint64_t load(const char* bytes, std::size_t size) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, size);
  return word;
}

// The hash of one part of a key, as appendIndexKey writes it: a tag ('m',
// 'i', 'd', 's'), then 8 bytes for a number or the length, then a text's
// bytes. Both the stored keys and the rows' data are hashed through here.
std::uint64_t hashPart(std::uint64_t hash, char tag, std::uint64_t word, std::string_view text) {
  hash = mix(hash, static_cast<unsigned char>(tag));
  if (tag == 'm') return hash;
  hash = mix(hash, word);
  for (std::size_t i = 0; i < text.size(); i += 8) hash = mix(hash, load(text.data() + i, std::min<std::size_t>(8, text.size() - i)));
  return hash;
}

// Walks a key written by appendIndexKey (and 'm' for a missing value) part
// by part.
template <class OnPart>
void forEachPart(std::string_view key, OnPart&& part) {
  std::size_t at = 0;
  while (at < key.size()) {
    const char tag = key[at++];
    if (tag == 'm') {
      part(tag, 0, std::string_view());
      continue;
    }
    const std::uint64_t word = load(key.data() + at, 8);
    at += 8;
    const std::size_t length = tag == 's' ? static_cast<std::size_t>(word) : 0;
    part(tag, word, key.substr(at, length));
    at += length;
  }
}

// The part a present, valid datum makes (see appendIndexKey).
char datumPart(const Datum& datum, std::uint64_t& word) {
  if (datum.integral) {
    std::memcpy(&word, &datum.integer, 8);
    return 'i';
  }
  if (datum.numeric) {
    const double value = datum.number == 0.0 ? 0.0 : datum.number;
    std::memcpy(&word, &value, 8);
    return 'd';
  }
  word = datum.text.size();
  return 's';
}

}  // namespace

SegmentIndex indexSegments(const std::vector<Segment>& segments) {
  SegmentIndex index;
  std::unordered_map<std::string, std::size_t> first;  // key -> first segment with it
  bool keyed = false;
  for (std::size_t position = 0; position < segments.size(); ++position) {
    auto keys = segmentKeys(segments[position].predicate);
    if (keys && !keyed) {
      index.fields = keys->first;
      keyed = true;
    }
    if (!keys || keys->first != index.fields) {
      index.scanned.push_back(position);
      continue;
    }
    for (std::string& key : keys->second)
      first.emplace(std::move(key), position);  // a duplicate key keeps its first segment
  }
  if (first.empty()) return index;
  std::size_t capacity = 16;
  while (capacity < 2 * first.size()) capacity *= 2;
  index.slots.resize(capacity);
  for (const auto& [key, position] : first) {
    std::uint64_t hash = 0;
    forEachPart(key, [&](char tag, std::uint64_t word, std::string_view text) { hash = hashPart(hash, tag, word, text); });
    std::size_t at = static_cast<std::size_t>(hash) & (capacity - 1);
    while (index.slots[at].segment != static_cast<std::size_t>(-1)) at = (at + 1) & (capacity - 1);
    index.slots[at] = {hash, static_cast<std::uint32_t>(index.keys.size()), static_cast<std::uint32_t>(key.size()),
                       position};
    index.keys += key;
  }
  return index;
}

namespace {

// The first keyed segment whose key the row's data make, or -1 (as
// segments.size() would be, once clamped by the caller).
std::size_t lookUp(const SegmentIndex& index, const std::vector<Datum>& row) {
  std::uint64_t hash = 0;
  for (int field : index.fields) {
    const Datum& datum = row[static_cast<std::size_t>(field)];
    if (datum.missing) {
      hash = hashPart(hash, 'm', 0, std::string_view());
    } else if (datum.invalid) {  // equals no value and is not missing
      return static_cast<std::size_t>(-1);
    } else {
      std::uint64_t word = 0;
      const char tag = datumPart(datum, word);
      hash = hashPart(hash, tag, word, tag == 's' ? std::string_view(datum.text) : std::string_view());
    }
  }
  const std::size_t mask = index.slots.size() - 1;
  for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
    const SegmentIndex::Slot& slot = index.slots[at];
    if (slot.segment == static_cast<std::size_t>(-1)) return slot.segment;
    if (slot.hash != hash) continue;
    // The same hash: compare the stored key with the data, part by part.
    bool same = true;
    std::size_t next = 0;
    forEachPart(std::string_view(index.keys).substr(slot.offset, slot.size),
                [&](char tag, std::uint64_t word, std::string_view text) {
                  if (!same || next == index.fields.size()) {
                    same = false;
                    return;
                  }
                  const Datum& datum = row[static_cast<std::size_t>(index.fields[next++])];
                  if (datum.missing) {
                    same = tag == 'm';
                    return;
                  }
                  std::uint64_t own = 0;
                  const char ownTag = datumPart(datum, own);
                  same = ownTag == tag && own == word && (tag != 's' || text == datum.text);
                });
    if (same && next == index.fields.size()) return slot.segment;
  }
}

}  // namespace

std::size_t selectSegment(const SegmentIndex& index, const std::vector<Segment>& segments,
                          const std::vector<Datum>& row) {
  std::size_t chosen = segments.size();
  if (!index.slots.empty()) chosen = std::min(lookUp(index, row), segments.size());
  // A scanned segment before the indexed one still comes first.
  for (std::size_t position : index.scanned) {
    if (position >= chosen) break;
    if (evaluate(segments[position].predicate, row) == Truth::True) return position;
  }
  return chosen;
}

}  // namespace splitmodels::detail

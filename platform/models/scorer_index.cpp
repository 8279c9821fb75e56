// Finding a row's segment: hash lookup over the segments that test equality
// on one set of fields, merged with an ordered scan of the others, so that
// the first segment in document order whose predicate holds is selected.
#include <algorithm>

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

}  // namespace

SegmentIndex indexSegments(const std::vector<Segment>& segments) {
  SegmentIndex index;
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
      index.first.emplace(std::move(key), position);  // a duplicate key keeps its first segment
  }
  return index;
}

std::size_t selectSegment(const SegmentIndex& index, const std::vector<Segment>& segments,
                          const std::vector<Datum>& row) {
  std::size_t chosen = segments.size();
  if (!index.first.empty()) {
    thread_local std::string key;
    key.clear();
    bool keyed = true;
    for (int field : index.fields) {
      const Datum& datum = row[static_cast<std::size_t>(field)];
      if (datum.missing) {
        key += 'm';
      } else if (datum.invalid) {  // equals no value and is not missing
        keyed = false;
        break;
      } else {
        appendIndexKey(datum, key);
      }
    }
    if (keyed) {
      const auto found = index.first.find(key);
      if (found != index.first.end()) chosen = found->second;
    }
  }
  // A scanned segment before the indexed one still comes first.
  for (std::size_t position : index.scanned) {
    if (position >= chosen) break;
    if (evaluate(segments[position].predicate, row) == Truth::True) return position;
  }
  return chosen;
}

}  // namespace splitmodels::detail

// Assembly of the groups' models into one segmented PMML model.
#pragma once

#include <cstddef>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels {

// One split field's value for one group.
struct SplitValue {
  std::string field;
  std::string value;     // value text as the worker task document wrote it
  bool missing = false;  // the group's value is missing (`value` is ignored)
  int storage = StorageNone;  // Storage code of the field
};

// One group that produced a model.
struct SplitSegment {
  std::vector<SplitValue> values;  // one per split field, in split-field order
  std::string groupPmml;           // the group's PMML (buildGroupModel output,
                                   // possibly with a MiningBuildTask added)
  std::string id;                  // segment id; empty gives the 1-based index
  // Every key the group's records hold (each one value per split field, in
  // split-field order, with exact value texts). When not empty, the segment
  // selects a record holding any of them, and `values` is not used.
  std::vector<std::vector<SplitValue>> keys;
  // For categorical inputs: the categories the group's fit has seen. The
  // segment's model then lists each of them (coefficient 0 for those without
  // a coefficient) and marks the input invalidValueTreatment="returnInvalid",
  // so a category the group never saw gives no prediction. Empty: the
  // group's model as it is.
  std::vector<std::pair<std::string, std::vector<std::string>>> levels;
};

struct SplitModelInput {
  // DataDictionary fields: the split fields, the inputs and the target. A
  // field listed twice is written once.
  std::vector<FieldDef> fields;
  std::vector<std::string> splitFields;  // split field names, in order
  ModelSpec request;  // kind, target and inputs are used
  std::vector<SplitSegment> segments;
};

// Writes one PMML 4.4 document with a MiningModel whose selectFirst
// Segmentation holds one Segment per group: the predicate tests the group's
// split values (numbers re-rendered as the shortest text that reads back,
// "isMissing" for a missing value; a text XML cannot hold is percent-encoded
// and marked by an Extension named "value-encoding" with value "percent")
// and the model is the group's RegressionModel. Throws
// std::invalid_argument naming the problem when there is no segment, a group
// PMML does not parse or holds no RegressionModel, a split field, input or
// the target has no FieldDef, or a numeric split value does not parse.
std::string buildSplitModelPmml(const SplitModelInput& input);

// Writes the same document as buildSplitModelPmml to a stream, one segment
// at a time, so that only one group's PMML and segment are in memory at
// once. Not thread-safe.
class SplitModelWriter {
 public:
  // `head` gives the fields, split fields and request; its segments are
  // ignored. Nothing is written before the first add or finish.
  SplitModelWriter(SplitModelInput head, std::ostream& out);

  // Writes the next segment, after the document's start when it is the
  // first. Throws std::invalid_argument as buildSplitModelPmml does for the
  // fields and for this segment; the stream then holds a partial document.
  void add(const SplitSegment& segment);
  // Writes the document's end. Throws std::invalid_argument when no segment
  // was added. The stream's state tells whether the writes succeeded.
  void finish();

 private:
  void start();

  SplitModelInput head_;
  std::ostream& out_;
  bool started_ = false;
  std::set<std::string> schemaFields_;
  std::string tail_;  // the document after the last segment
  std::size_t segments_ = 0;
};

}  // namespace splitmodels

// A group's model copied into its Segment as text: the split model holds
// each group's RegressionModel or GeneralRegressionModel, which the group's
// PMML already holds as indented text, so the segment takes those lines,
// indented for its depth, instead of parsing the document and printing the
// element again.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "splitmodels/split_model.h"
#include "xml_text.h"

namespace splitmodels::detail {

// Depth of a segment's model element in the split model: PMML, MiningModel,
// Segmentation, Segment, model.
inline constexpr unsigned kSegmentModelDepth = 4;

// The model element of `group`'s PMML as the split model prints it at
// kSegmentModelDepth: without the mining fields `schemaFields` lacks, and
// with the inputs of `group.levels` marked invalidValueTreatment=
// "returnInvalid" and their held categories that the model does not list
// added as the parsed copy adds them (markKnownLevels). Nothing when the text cannot be shown to print the same as
// its parsed copy (it is not laid out as the group writers write it); the
// caller then copies the model through a parsed document.
std::optional<std::string> segmentModelText(std::string_view pmml, const SplitModelInput& input,
                                            const SplitSegment& group, const std::set<std::string>& schemaFields);

// Writes the value attribute of the element being written: `value`, or its
// percent-encoding when XML cannot hold it (control characters, invalid
// UTF-8), which the scorer decodes. Returns false in that case: the element
// must then hold the Extension that says so (writeValueEncoding), written
// after its other attributes.
bool writeValueAttribute(XmlText& xml, const std::string& value);
void writeValueEncoding(XmlText& xml);

}  // namespace splitmodels::detail

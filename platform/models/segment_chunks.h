// Cutting the Segment elements out of a PMML document's text, so that the
// scorer's loader parses the rest of the document once and each segment on
// its own: the tree of a whole 100,000-segment document is never built.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace splitmodels::detail {

struct SegmentChunks {
  // The document without the Segment elements taken out (everything else,
  // the Segmentation elements that held them included, stays in place).
  std::string skeleton;

  // Per element named Segmentation two levels below the root, in document
  // order (empty ones included): its Segment children, as views into the
  // original text, in document order.
  std::vector<std::vector<std::string_view>> groups;
};

// Takes out every element named Segment (any prefix) that is a child of an
// element named Segmentation two levels below the root. Nothing when the
// text is not plain UTF-8 (another declared encoding, a UTF-16 or UTF-32
// byte order mark), holds a document type declaration, or ends inside a
// comment, CDATA section, processing instruction or tag: the caller then
// parses the whole document. The scan checks no more than it needs to find
// the elements; parsing the skeleton and the segments checks the rest, and
// when both parse, the whole document does.
std::optional<SegmentChunks> cutSegments(std::string_view text);

}  // namespace splitmodels::detail

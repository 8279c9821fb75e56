// Cutting the Segment elements out of a PMML document's text, so that the
// scorer's loader parses the rest of the document once and each segment on
// its own: the tree of a whole 100,000-segment document is never built, and
// a document read from a file is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace splitmodels::detail {

struct SegmentChunks {
  // The document without the Segment elements taken out (everything else,
  // the Segmentation elements that held them included, stays in place).
  std::string skeleton;

  // Where a Segment element lies in the original text.
  struct Piece {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
  };
  // Per element named Segmentation two levels below the root, in document
  // order (empty ones included): its Segment children, in document order.
  std::vector<std::vector<Piece>> groups;
};

// Takes out every element named Segment (any prefix) that is a child of an
// element named Segmentation two levels below the root, reading the text
// in consecutive blocks. It gives nothing when the text is not plain UTF-8
// (another declared encoding, a UTF-16 or UTF-32 byte order mark, a NUL
// byte), holds a document type declaration, ends inside a comment, CDATA
// section, processing instruction or tag, or holds a single such piece of
// markup longer than 16 MiB: the caller then parses the whole document. The
// scan checks no more than it needs to find the elements; parsing the
// skeleton and the segments checks the rest, and when both parse, the whole
// document does.
class SegmentCutter {
 public:
  // The next bytes of the document.
  void feed(std::string_view bytes);
  // After the last bytes: the skeleton and the pieces, or nothing.
  std::optional<SegmentChunks> finish();

 private:
  void scan();

  SegmentChunks chunks_;
  bool unfit_ = false;
  bool checked_ = false;        // the encoding has been checked
  std::string pending_;         // bytes not yet scanned, from an incomplete token on
  std::uint64_t base_ = 0;      // offset of pending_ in the document
  std::size_t depth_ = 0;       // elements open
  bool inGroup_ = false;        // inside a Segmentation two levels below the root
  bool inSegment_ = false;      // inside a Segment being cut out
  std::uint64_t segmentStart_ = 0;
};

// The whole text at once.
std::optional<SegmentChunks> cutSegments(std::string_view text);

}  // namespace splitmodels::detail

// Loading a split model segment by segment: the text cut into a skeleton and Segment pieces, fed in blocks
// of any size, and models loaded from a file in pieces scoring and failing as the whole document does.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "segment_chunks.h"
#include "splitmodels/scorer.h"

namespace {

using splitmodels::ScoreError;
using splitmodels::SplitScorer;
using splitmodels::detail::SegmentChunks;
using splitmodels::detail::SegmentCutter;
using Row = std::vector<std::optional<std::string>>;

using Pieces = std::vector<std::vector<std::string>>;

// The pieces per Segmentation (skeleton checked to be the rest); none when the text is left whole.
std::optional<Pieces> cutInBlocks(const std::string& text, std::size_t block) {
  SegmentCutter cutter;
  for (std::size_t pos = 0; pos < text.size(); pos += block) cutter.feed(std::string_view(text).substr(pos, block));
  const std::optional<SegmentChunks> chunks = cutter.finish();
  if (!chunks) return std::nullopt;
  Pieces pieces;
  std::string rest;
  std::size_t from = 0;
  for (const auto& group : chunks->groups) {
    pieces.emplace_back();
    for (const SegmentChunks::Piece& piece : group) {
      pieces.back().push_back(text.substr(piece.offset, piece.size));
      rest += text.substr(from, piece.offset - from);
      from = piece.offset + piece.size;
    }
  }
  EXPECT_EQ(chunks->skeleton, rest + text.substr(from));
  return pieces;
}

const char* const kHead =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<PMML version="4.4"><DataDictionary><DataField name="g" optype="categorical" dataType="string"/>
<DataField name="x" optype="continuous" dataType="double"/><DataField name="y" optype="continuous" dataType="double"/>
</DataDictionary>)";

std::string segment(const std::string& id, const std::string& group, double slope) {
  return R"(<Segment id=")" + id + R"("><SimplePredicate field="g" operator="equal" value=")" + group +
         R"("/><RegressionModel functionName="regression"><MiningSchema><MiningField name="x"/>)"
         R"(<MiningField name="y" usageType="target"/></MiningSchema><RegressionTable intercept="1">)"
         R"(<NumericPredictor name="x" coefficient=")" + std::to_string(slope) +
         R"("/></RegressionTable></RegressionModel></Segment>)";
}

std::string mining(const std::string& segments) {
  return std::string(kHead) +
         R"(<MiningModel functionName="regression"><MiningSchema><MiningField name="g"/><MiningField name="x"/>)"
         R"(<MiningField name="y" usageType="target"/></MiningSchema><Segmentation multipleModelMethod="selectFirst">)" +
         segments + "</Segmentation></MiningModel></PMML>\n";
}

TEST(SegmentCut, PiecesAreTheSegmentsWhateverTheBlockSize) {
  // pieces: expected, per Segmentation; none for a document the scan leaves whole
  struct Case { const char* what; std::string text; std::optional<Pieces> pieces; };
  const std::string a = segment("a", "a", 1), b = segment("b", "b", 2);
  const std::string body = "<P><M><Segmentation><Segment/></Segmentation></M></P>";
  const Case cases[] = {
      {"plain", "<P><M><Segmentation>" + a + "\n" + b + "</Segmentation></M></P>", Pieces{{a, b}}},
      {"self-closing segment and empty segmentation",
       R"(<P><M><Segmentation><Segment id="s"/></Segmentation><Segmentation/></M></P>)",
       Pieces{{R"(<Segment id="s"/>)"}, {}}},
      {"prefixed names",
       R"(<p:P xmlns:p="u"><p:M><p:Segmentation><p:Segment id="1"><p:True/></p:Segment></p:Segmentation></p:M></p:P>)",
       Pieces{{R"(<p:Segment id="1"><p:True/></p:Segment>)"}}},
      {"markup that only looks like segments",
       R"(<P><M><Segmentation><!-- <Segment> --><?pi <Segment>?>)"
       R"(<Segment id="q>/" x='"'><![CDATA[</Segment>]]><Segmentation><Segment/></Segmentation></Segment>)"
       R"(</Segmentation><X><Segment/></X></M><Segment/></P>)",
       Pieces{{R"(<Segment id="q>/" x='"'><![CDATA[</Segment>]]><Segmentation><Segment/></Segmentation></Segment>)"}}},
      {"a document with declaration and byte order mark", "\xEF\xBB\xBF" + mining(a + b), Pieces{{a, b}}},
      {"document type declaration", "<!DOCTYPE P>" + body, std::nullopt},
      {"another declared encoding", R"(<?xml version="1.0" encoding="ISO-8859-1"?>)" + body, std::nullopt},
      {"UTF-16 byte order mark", "\xFF\xFE" + body, std::nullopt}, {"NUL byte", body + std::string(1, '\0'), std::nullopt},
      {"ends inside a comment", body + "<!-- ", std::nullopt},
      {"ends inside a tag", "<P><M><Segmentation><Segment", std::nullopt}, {"ends inside a segment", "<P><M><Segmentation><Segment>", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::size_t block : {c.text.size(), std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5},
                                    std::size_t{8}, std::size_t{13}, std::size_t{64}}) {
      SCOPED_TRACE(block);
      EXPECT_EQ(cutInBlocks(c.text, block), c.pieces);
    }
  }
}

std::string scoreAll(const SplitScorer& scorer) {
  std::string out;
  for (const char* group : {"a", "b", "c", "z"}) {
    const splitmodels::ScoreResult result = scorer.score(Row{std::string(group), std::string("2")});
    out += result.segmentId + "=" + result.predicted + ";";
  }
  return out;
}

// The scores of groups a, b, c and z at x = 2, or the load's error, the document given as text or as a file.
std::string outcome(const std::string& text, bool fromFile = false) {
  static int files = 0;
  const std::string path = testing::TempDir() + "segment_cut_" + std::to_string(++files) + ".pmml";
  if (fromFile) std::ofstream(path, std::ios::binary) << text;
  std::string result;
  try {
    SplitScorer scorer = fromFile ? SplitScorer::fromPmmlFile(path) : SplitScorer::fromPmml(text);
    scorer.bind({"g", "x"});
    result = scoreAll(scorer);
  } catch (const ScoreError& e) {
    result = std::string("error: ") + e.what();
  }
  if (fromFile) std::remove(path.c_str());
  return result;
}

const char* const kTrueSegment =
    R"(<Segment id="t"><True/><RegressionModel functionName="regression"><MiningSchema><MiningField name="x"/>)"
    R"(<MiningField name="y" usageType="target"/></MiningSchema><RegressionTable intercept="7"/></RegressionModel></Segment>)";

TEST(SegmentCut, AFileLoadsAndFailsAsTheTextDoes) {
  std::string many, unusable = segment("u", "a", 1);
  for (int i = 0; i < 3000; ++i) many += segment("s" + std::to_string(i), i % 2 ? "a" : "b", i);
  unusable.replace(unusable.find("equal"), 5, "near");
  const std::pair<std::string, std::string> cases[] = {
      {mining(segment("1", "a", 1.5) + "<!-- c -->" + kTrueSegment), "1=4;t=7;t=7;t=7;"},
      {mining(many), "s1=3;s0=1;=;=;"},  // more than a block of the file
      {"<!DOCTYPE PMML>" + mining(segment("1", "c", 3)), "=;=;1=7;=;"},  // read whole
      // The first fault in document order is named.
      {mining(segment("1", "a", 1) + unusable + R"(<Segment id="p"><True/></Segmnt>)"), "PMML does not parse"},
      {mining(segment("1", "a", 1) + unusable + segment("2", "b", 1)), R"(operator="near" is not supported)"},
  };
  for (const auto& [text, expected] : cases) {
    const std::string fromText = outcome(text);
    EXPECT_NE(fromText.find(expected), std::string::npos) << fromText;
    EXPECT_EQ(outcome(text, true), fromText);
  }
  EXPECT_THROW(SplitScorer::fromPmmlFile(testing::TempDir() + "no-such-model.pmml"), ScoreError);
}

// Randomly edited documents behave in pieces as when parsed whole (DOCTYPE); errors differ only in offset.
TEST(SegmentCut, EditedDocumentsLoadAndFailAsWhenParsedWhole) {
  const auto withPredicate = [](std::string s, const std::string& predicate) {
    const std::size_t from = s.find("<SimplePredicate");
    return s.replace(from, s.find("/><RegressionModel") + 2 - from, predicate);
  };
  const std::string extra = withPredicate(segment("set", "-", 3),
      R"(<SimpleSetPredicate field="g" booleanOperator="isIn"><Array type="string" n="2">"a" c</Array></SimpleSetPredicate>)");
  const std::string either = withPredicate(segment("or", "-", 4),
      R"(<CompoundPredicate booleanOperator="or"><SimplePredicate field="x" operator="greaterThan" value="3"/>)"
      R"(<![CDATA[ </Segment> ]]><SimplePredicate field="g" operator="isMissing"/></CompoundPredicate>)");
  const std::string base =
      mining(R"(<!-- <Segment> --><?pi x?><Extension name="e"><Segment/></Extension>)" + segment("1", "a", 1) + extra +
             either + segment("2", "b", 2) + kTrueSegment)
          .substr(std::string(kHead).find("?>") + 2);
  const auto withoutOffset = [](std::string result) {
    if (const std::size_t at = result.find(" at offset "); at != std::string::npos) result.resize(at);
    return result;
  };
  ASSERT_EQ(outcome(base), "1=3;2=5;set=7;t=7;");
  std::mt19937 random(20261206);
  const std::string alphabet = "<>/\"'=!-?[] aSegmntio:";
  int loaded = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text = base;
    for (unsigned edits = 1 + random() % 3; edits > 0; --edits) {
      const std::size_t at = random() % text.size();
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0: text.erase(at, 1 + random() % 8); break;
        case 1: text.insert(at, 1, c); break;
        default: text[at] = c;
      }
    }
    const std::string inPieces = withoutOffset(outcome(text));
    loaded += inPieces.rfind("error: ", 0) != 0;
    ASSERT_EQ(inPieces, withoutOffset(outcome("<!DOCTYPE PMML>" + text))) << text;
  }
  EXPECT_GT(loaded, 100);  // the edits left enough documents loadable to compare scores
}

}  // namespace

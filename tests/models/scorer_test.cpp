// Scoring: predicates over missing values and awkward
// strings, data-type conversions, and rejected documents.
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "scorer_model.h"
#include "value_text.h"
#include "model_test_support.h"

namespace {

using namespace modeltest;
using splitmodels::ScoreError;
using splitmodels::SplitScorer;
using Row = std::vector<std::optional<std::string>>;
using splitmodels::detail::kMaxPredicateDepth;

// Segments selected by `predicates` over `dictionary` (plus target y); each predicts its position.
std::string segmentsDocument(const std::string& dictionary, const std::vector<std::string>& predicates) {
  std::string pmml = R"(<PMML version="4.4"><Header/><DataDictionary>)" + dictionary +
                     R"(<DataField name="y" optype="continuous" dataType="double"/></DataDictionary>
    <MiningModel functionName="regression"><Segmentation multipleModelMethod="selectFirst">)";
  for (std::size_t i = 0; i < predicates.size(); ++i)
    pmml += "<Segment id=\"" + std::to_string(i) + "\">" + predicates[i] +
            R"(<RegressionModel functionName="regression"><MiningSchema><MiningField name="y" usageType="target"/>
            </MiningSchema><RegressionTable intercept=")" + std::to_string(i) + R"("/></RegressionModel></Segment>)";
  return pmml + "</Segmentation></MiningModel></PMML>";
}

// Keys k (integer), s (string with listed categories) and r (double).
std::string keyedDocument(const std::vector<std::string>& predicates) {
  return segmentsDocument(R"(<DataField name="k" optype="categorical" dataType="integer"/>
    <DataField name="s" optype="categorical" dataType="string"><Value value="a"/><Value value="b"/><Value value=""/>
      <Value value="%1B%FF"><Extension name="value-encoding" value="percent"/></Value></DataField>
    <DataField name="r" optype="continuous" dataType="double"/>)", predicates);
}

std::string equalTest(const char* field, const std::string& value) {
  return std::string(R"(<SimplePredicate field=")") + field +
         (value == "?" ? R"(" operator="isMissing"/>)" : R"(" operator="equal" value=")" + value + R"("/>)");
}

std::string conjunction(const std::string& k, const std::string& s, const char* first = "s", const char* second = "k") {
  return R"(<CompoundPredicate booleanOperator="and">)" + equalTest(first, s) + equalTest(second, k) + "</CompoundPredicate>";
}

TEST(Scorer, KeysMatchExactlyAndInvalidValuesMatchNothing) {
  SplitScorer scorer = SplitScorer::fromPmml(keyedDocument(
      {conjunction("9007199254740992", "a"), conjunction("9007199254740993", "a"), conjunction("?", "a"),
       R"(<CompoundPredicate booleanOperator="and"><SimplePredicate field="k" operator="equal" value="1"/>
          <SimplePredicate field="s" operator="equal" value="%1B%FF"><Extension name="value-encoding" value="percent"/>
          </SimplePredicate></CompoundPredicate>)",
       equalTest("r", "0"), equalTest("r", "0.1")}));
  scorer.bind({"k", "s", "r"});
  struct Case { Row row; const char* segment; bool invalid; };
  const std::optional<std::string> none;
  const Case cases[] = {
      {{"9007199254740993", "a", none}, "1", false},   // distinct as 64-bit integers, not as doubles
      {{"9007199254740992", "a", none}, "0", false}, {{"9007199254740992.0", "a", none}, "0", false},
      {{none, "a", none}, "2", false},
      {{"abc", "a", none}, "", true},                 // unreadable: not the missing key's group
      {{"1e999", "a", none}, "", true},
      {{"1", "\x1b\xff", none}, "3", false},          // decoded bytes XML cannot hold
      {{"1", "c", none}, "", true},                   // a category the dictionary does not list
      {{"5", "b", "-0"}, "4", false},                 // -0 equals 0
      {{"5", "b", "0.1000000000000000055511151231257827"}, "5", false},
      {{"5", "b", "0.10000000000000002"}, "", false},
  };
  for (const Case& c : cases) {
    const auto result = scorer.score(c.row);
    EXPECT_TRUE(result.segmentId == c.segment && result.invalid == c.invalid)
        << c.row[0].value_or("?") << "," << c.row[1].value_or("?") << "," << c.row[2].value_or("?") << ": " << result.segmentId;
  }
}

// A group's PMML selects only its rows; unlisted categories give no prediction; shortest exact text.
TEST(Scorer, OneGroupsModelScoresOnlyItsGroupInShortestExactText) {
  SplitScorer scorer = SplitScorer::fromPmml(testFile("one_group.pmml"));
  EXPECT_EQ(scorer.groupKey(), (std::vector<std::string>{"region=north", "year=<missing>"}));
  scorer.bind({"year", "x", "region", "c"});
  EXPECT_EQ(scorer.score({std::nullopt, "0.25", "north", "u"}).predicted, "1.5");
  EXPECT_EQ(scorer.score({std::nullopt, "0.25", "north", "v"}).predicted, "2.5");
  EXPECT_FALSE(scorer.score({"2020", "0.25", "north", "u"}).selected);
  EXPECT_FALSE(scorer.score({std::nullopt, "0.25", "south", "u"}).selected);
  const auto unseen = scorer.score({std::nullopt, "0.25", "north", "w"});
  EXPECT_TRUE(unseen.selected && unseen.invalid && unseen.predicted.empty());
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const double x = std::ldexp(mantissa(rng), exponent(rng) * 3 / 4), expected = 1 + 2 * x;
    const std::string predicted = scorer.score({std::nullopt, render(x), "north", "u"}).predicted;
    double back = 0.0;
    std::from_chars(predicted.data(), predicted.data() + predicted.size(), back);
    ASSERT_EQ(std::memcmp(&back, &expected, sizeof back), 0) << predicted;
    ASSERT_LE(predicted.size(), render(back).size()) << "not the shortest text";
  }
}

// Runs `action`, which must throw a ScoreError whose message holds `mentions`.
template <typename Action>
void expectRefused(Action action, const std::string& mentions) {
  try {
    action();
    ADD_FAILURE() << "accepted, expected: " << mentions;
  } catch (const ScoreError& error) {
    EXPECT_NE(std::string(error.what()).find(mentions), std::string::npos) << error.what();
  }
}

// The segments of tests/models/hand_written.pmml: a set of quoted texts, a
// declared missing value, a surrogate with a replaced input, and xor.
TEST(Scorer, HandWrittenPredicatesFollowThreeValuedLogicOnceBound) {
  SplitScorer scorer = SplitScorer::fromPmml(testFile("hand_written.pmml"));
  EXPECT_EQ(scorer.targetName(), "y");
  EXPECT_EQ(scorer.requiredFields(), (std::vector<std::string>{"shop", "n", "day"}));
  EXPECT_THROW(scorer.score({"1"}), ScoreError);  // not bound yet
  expectRefused([&] { scorer.bind({"shop", "day"}); }, "\"n\"");
  scorer.bind({"day", "shop", "n", "other"});
  EXPECT_THROW(scorer.score({"a", "1"}), ScoreError);  // row shorter than the header
  for (const std::vector<std::string>& c : tsvRows("hand_written_rows.tsv")) {
    Row row;
    for (std::size_t i = 1; i <= 4; ++i) row.push_back(c.at(i) == "?" ? std::nullopt : Row::value_type(c[i]));
    const std::string segment = c.at(5) == "-" ? "" : c[5], predicted = c.at(6) == "-" ? "" : c[6];
    const auto result = scorer.score(row);
    EXPECT_TRUE(result.selected == !segment.empty() && result.segmentId == segment &&
                result.predicted == predicted && result.probabilities.empty())
        << c[0] << ": " << result.segmentId << " " << result.predicted;
  }
}

TEST(Scorer, ClassificationNormalisationsAndLabelOrder) {
  const double e = 1.0 / (1.0 + std::exp(-1.5));
  struct Case { const char* method; const char* values; std::vector<std::string> labels; std::vector<double> probabilities; };
  const Case cases[] = {
      {"logit", R"(<Value value="a"/><Value value="b"/>)", {"a", "b"}, {1 - e, e}},
      {"softmax", "", {"b", "a"}, {e, 1 - e}},
      {"none", R"(<Value value="c"/><Value value="a"/><Value value="b"/>)", {"c", "a", "b"}, {0, -0.5, 1.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    SplitScorer scorer = SplitScorer::fromPmml(
        std::string(R"(<PMML xmlns="http://www.dmg.org/PMML-4_4" version="4.4"><Header/><DataDictionary>
      <DataField name="x" optype="continuous" dataType="double"/><DataField name="c" optype="categorical" dataType="string">)") +
        c.values + R"(</DataField></DataDictionary><RegressionModel functionName="classification" normalizationMethod=")" +
        c.method + R"("><MiningSchema><MiningField name="x"/><MiningField name="c" usageType="target"/></MiningSchema>
        <RegressionTable intercept="0.5" targetCategory="b"><NumericPredictor name="x" coefficient="1"/></RegressionTable>
        <RegressionTable intercept="0" targetCategory="a"/></RegressionModel></PMML>)");
    ASSERT_TRUE(scorer.isClassification());
    EXPECT_EQ(scorer.classLabels(), c.labels);
    scorer.bind({"x"});
    const auto result = scorer.score({"1"});
    ASSERT_EQ(result.probabilities.size(), c.probabilities.size());
    for (std::size_t k = 0; k < c.probabilities.size(); ++k) EXPECT_NEAR(result.probabilities[k], c.probabilities[k], 1e-12);
    EXPECT_EQ(result.predicted, "b");
    const auto missingInput = scorer.score({std::nullopt});
    EXPECT_TRUE(missingInput.selected && missingInput.predicted.empty());
  }
}

TEST(Scorer, RejectsDocumentsItCannotScoreNamingTheCulprit) {
  const auto wrap = [](const std::string& model, const std::string& fields = "") {
    return R"(<PMML version="4.4"><Header/><DataDictionary><DataField name="x" optype="continuous" dataType="double"/>
      <DataField name="y" optype="continuous" dataType="double"/>)" + fields + "</DataDictionary>" + model + "</PMML>";
  };
  const std::string schema = R"(<MiningSchema><MiningField name="x"/><MiningField name="y" usageType="target"/></MiningSchema>)";
  const std::string goodModel = R"(<RegressionModel functionName="regression">)" + schema + R"(<RegressionTable intercept="1"/></RegressionModel>)";
  const auto regression = [&](const std::string& table) {
    return wrap(R"(<RegressionModel functionName="regression">)" + schema + table + "</RegressionModel>");
  };
  const auto predictor = [&](const std::string& element) { return regression(R"(<RegressionTable intercept="1">)" + element + "</RegressionTable>"); };
  const auto mining = [&](const std::string& method, const std::string& segments) {
    return wrap(R"(<MiningModel functionName="regression">)" + schema + R"(<Segmentation multipleModelMethod=")" + method + R"(">)" +
                segments + "</Segmentation></MiningModel>");
  };
  const auto selectedBy = [&](const std::string& predicate) { return mining("selectFirst", "<Segment>" + predicate + goodModel + "</Segment>"); };
  const std::map<std::string, std::function<std::string(const std::string&)>> forms = {
      {"document", [](const std::string& text) { return text; }}, {"wrap", [&](const std::string& text) { return wrap(text); }},
      {"field", [&](const std::string& text) { return wrap(goodModel, text); }}, {"regression", regression},
      {"predictor", predictor}, {"average", [&](const std::string& text) { return mining("average", text); }},
      {"segments", [&](const std::string& text) { return mining("selectFirst", text); }}, {"selected", selectedBy},
  };
  std::vector<std::pair<std::string, std::string>> cases;
  for (const std::vector<std::string>& row : tsvRows("refused_documents.tsv"))
    cases.emplace_back(forms.at(row[0])(row[1]), row[2]);
  ASSERT_EQ(cases.size(), 30u);
  std::string nested = "<True/>";  // CompoundPredicates one level deeper than allowed
  for (int i = 0; i < kMaxPredicateDepth; ++i) nested = R"(<CompoundPredicate booleanOperator="and">)" + nested + "</CompoundPredicate>";
  cases.emplace_back(selectedBy(nested), "nested deeper than 64 levels");
  // A conforming parser reads &k; as "a", and gives every NumericPredictor exponent 2 in the second;
  // one that expands nothing must not read them as it would without the declarations.
  cases.emplace_back("<!DOCTYPE PMML [<!ENTITY k \"a\">]>" + selectedBy(R"(<SimplePredicate field="x" operator="equal" value="&k;"/>)"),
                     "declares entities or attribute defaults");
  cases.emplace_back("<!DOCTYPE PMML [<!ATTLIST NumericPredictor exponent CDATA \"2\">]>" +
                         predictor(R"(<NumericPredictor name="x" coefficient="1"/>)"),
                     "declares entities or attribute defaults");
  for (const auto& [pmml, mentions] : cases) expectRefused([&] { SplitScorer::fromPmml(pmml); }, mentions);
  // In a comment or a CDATA section the same text is no reference.
  EXPECT_NO_THROW(SplitScorer::fromPmml("<!-- &#0; -->" + wrap(goodModel, "<Extension><![CDATA[&#0;]]></Extension>")));
  // Files that are not documents are refused before they are read through.
  expectRefused([] { SplitScorer::fromPmmlFile("/dev/zero"); }, "not a regular file");
  const std::string notXml = ::testing::TempDir() + "scorer-not-xml.pmml";
  { std::ofstream(notXml) << std::string(1 << 20, '\0') << "<PMML/>"; }
  expectRefused([&] { SplitScorer::fromPmmlFile(notXml); }, "not an XML document");
  { std::ofstream(notXml) << std::string("\xFF\xFE<\0P\0", 6); }
  expectRefused([&] { SplitScorer::fromPmmlFile(notXml); }, "is UTF-16 text; convert it to UTF-8");
}

// Indexed lookup selects what an ordered scan of the same segments (each in a one-child "or") selects.
TEST(Scorer, IndexedLookupSelectsWhatTheOrderedScanSelects) {
  std::vector<std::string> texts = {"?", "", "1", "1.0", "a b"};
  for (std::size_t n = 1; n <= 17; ++n) {
    texts.push_back(std::string(n, 'k'));
    texts.push_back(std::string(n - 1, 'k') + 'j');
  }
  const std::vector<std::string> reals = {"?", "1", "-0", "0.5", "2.5e3", "1e300"};
  std::vector<std::string> keys, scanned;
  for (const std::string& t : texts)
    for (const std::string& r : reals) keys.push_back(conjunction(r, t, "t", "r"));
  keys.push_back(conjunction("1.0", "k", "t", "r"));  // a duplicate of ("k", "1"): the first wins
  // Other shapes and field sets among the indexed segments: the index must not jump over them.
  keys.insert(keys.begin() + 7, equalTest("t", "kkk"));
  keys.insert(keys.begin() + 40, R"(<SimpleSetPredicate field="t" booleanOperator="isIn"><Array type="string">kk j</Array></SimpleSetPredicate>)");
  keys.insert(keys.end() - 20, R"(<SimplePredicate field="r" operator="greaterThan" value="1000"/>)");
  for (const std::string& key : keys) scanned.push_back(R"(<CompoundPredicate booleanOperator="or">)" + key + "</CompoundPredicate>");
  const std::string dictionary = R"(<DataField name="t" optype="categorical" dataType="string"/>
    <DataField name="r" optype="continuous" dataType="double"/>)";
  SplitScorer indexed = SplitScorer::fromPmml(segmentsDocument(dictionary, keys));
  SplitScorer scan = SplitScorer::fromPmml(segmentsDocument(dictionary, scanned));
  indexed.bind({"t", "r"}), scan.bind({"t", "r"});
  std::vector<std::string> rowTexts = texts;
  rowTexts.insert(rowTexts.end(), {"kkkkkkkkkkkkkkkkkk", "kkkkkkkkl", "K"});
  const std::vector<std::string> rowReals = {"?", "1", "1.0", "1e0", "0", "-0", "0.50", "2500", "3", "x", "1e300"};
  splitmodels::ScoreResult streamed;
  for (const std::string& t : rowTexts)
    for (const std::string& r : rowReals) {
      const Row row = {t == "?" ? std::nullopt : Row::value_type(t), r == "?" ? std::nullopt : Row::value_type(r)};
      const auto expected = scan.score(row);
      EXPECT_EQ(indexed.score(row).segmentId, expected.segmentId) << "t=" << t << " r=" << r;
      std::vector<splitmodels::ScoreCell> cells = {{t, t == "?"}, {r, r == "?"}};
      if ((cells[1].hasNumber = r != "?" && r != "x")) cells[1].number = std::stod(r);
      indexed.score(cells, streamed);
      EXPECT_EQ(streamed.segmentId, expected.segmentId) << "streamed t=" << t << " r=" << r;
    }
  // Numbers compare by value, texts by their bytes.
  EXPECT_EQ(indexed.score(Row{"k", "1e0"}).segmentId, indexed.score(Row{"k", "1"}).segmentId);
  EXPECT_NE(indexed.score(Row{"1.0", "1"}).segmentId, indexed.score(Row{"1", "1"}).segmentId);
}

// Times and dates as the scorer reads a field of that type: a leap second is
// a time (ISO 8601 allows it), a 61st second or a 24th hour is not.
TEST(Scorer, TimesAndDatesReadAsTheirTypesAllow) {
  using namespace splitmodels::detail;
  const std::pair<std::optional<double>, std::optional<double>> cases[] = {
      {parseTimeText("23:59:60"), 86400.0},           {parseTimeText("23:59:60.5"), 86400.5},
      {parseTimeText("23:59:61"), std::nullopt},      {parseTimeText("24:00:00"), std::nullopt},
      {parseTimestampText("2016-12-31T23:59:60Z"), 17166.0 * 86400 + 86400},
      {parseDateText("2024-02-29"), 19782.0},         {parseDateText("2023-02-29"), std::nullopt},
      // A text ends where its view does: what follows it is not read.
      {parseTimestampText(std::string_view("2016-12-31T23:59:60Z").substr(0, 19)), 17166.0 * 86400 + 86400},
      {parseTimeText(std::string_view("23:59:60.5").substr(0, 8)), 86400.0},
  };
  for (const auto& [read, expected] : cases) EXPECT_EQ(read, expected);
}

// The inline conversion sets every member of a reused Datum as the general conversion does.
TEST(Scorer, InlineConversionMatchesTheGeneralOne) {
  using namespace splitmodels::detail;
  const auto field = [](TypeKind kind, std::vector<std::string> missingValues, std::vector<std::string> valid) {
    DictionaryField made;
    made.kind = kind;
    made.dataType = kind == TypeKind::String ? "string" : kind == TypeKind::Integer ? "integer" : "double";
    made.missingValues = std::move(missingValues);
    for (const std::string& text : valid) {
      std::string key;
      appendIndexKey(*convertLiteral(made, text), key);
      made.validKeys.insert(key);
    }
    return made;
  };
  const DictionaryField fields[] = {field(TypeKind::String, {}, {}),         field(TypeKind::String, {"-"}, {}),
                                    field(TypeKind::String, {}, {"a", "b"}), field(TypeKind::Number, {}, {}),
                                    field(TypeKind::Number, {"-9"}, {}),     field(TypeKind::Number, {}, {"1", "2.5"}),
                                    field(TypeKind::Integer, {}, {}),        field(TypeKind::Integer, {"-9"}, {})};
  const double inf = std::numeric_limits<double>::infinity();
  struct Input { const char* text; bool missing; std::optional<double> number; };
  const Input inputs[] = {{"a", false, {}},   {"", false, {}},    {"", true, {}},       {" ", false, {}},   {"-", false, {}},
                          {"-9", false, -9.0}, {"1", false, 1.0},  {"2.5", false, 2.5},  {"-0", false, -0.0}, {"x", false, {}},
                          {"inf", false, inf}, {"007", false, 7.0}, {"+7", false, 7.0},  {" 7", false, 7.0},  {"1-2", false, {}},
                          {"5.0", false, 5.0}, {"999999999999999999", false, 1e18}, {"-999999999999999999", false, -1e18},
                          {"9223372036854775807", false, 9223372036854775807.0},
                          {"9223372036854775808", false, 9223372036854775808.0}};
  for (const DictionaryField& f : fields)
    for (const Input& input : inputs) {
      // Both start from a Datum an earlier row left, text and all.
      Datum fast{false, true, true, true, 7, 7.0, "left over"};
      Datum general = fast;
      const double* number = input.number ? &*input.number : nullptr;
      convertValue(f, input.missing, input.text, fast, number);
      convertValueGeneral(f, input.missing, input.text, general, number);
      const std::string where = f.dataType + " \"" + input.text + "\" missing=" + std::to_string(input.missing);
      EXPECT_TRUE(fast.missing == general.missing && fast.invalid == general.invalid && fast.numeric == general.numeric &&
                  fast.integral == general.integral) << where;
      if (general.missing || general.invalid) continue;
      EXPECT_EQ(fast.text, general.text) << where;
      if (general.integral) { EXPECT_EQ(fast.integer, general.integer) << where; }
      if (general.numeric) { EXPECT_EQ(std::memcmp(&fast.number, &general.number, sizeof(double)), 0) << where; }
    }
}


// Each operator at, just below and just above its boundary, with missing and invalid values in each
// position (the cases are tests/models/predicates.tsv). A predicate P selects segment "0";
// "surrogate(P, True)" selects segment "1", so a row reads T (P true), U (P unknown) or F (P false).
TEST(Scorer, PredicatesAtTheirBoundariesInThreeValuedLogic) {
  const std::string dictionary = R"(<DataField name="i" optype="continuous" dataType="integer"/>
    <DataField name="d" optype="continuous" dataType="double"/>
    <DataField name="s" optype="categorical" dataType="string"/>)";
  const std::optional<std::string> none;
  // Rows over (i, d, s); "abc" in a numeric field is invalid.
  const auto ds = [&](std::vector<std::optional<std::string>> values) {
    std::vector<Row> rows;
    for (const auto& value : values) rows.push_back({"0", value, "a"});
    return rows;
  };
  const std::vector<Row> iAndD = {{"7", "1.5", none}, {"7", "2", none}, {"8", "1.5", none}, {none, "1.5", none},
                                  {none, "2", none},  {"7", none, none}, {"8", none, none}, {"x", "1", none}};
  std::vector<Row> iAndDAndAllMissing = iAndD;
  iAndDAndAllMissing.push_back({none, none, none});
  const std::map<std::string, std::vector<Row>> rowSets = {
      {"nearOneAndHalf", ds({"1.4999999999999998", "1.5", "1.5000000000000002", none, "abc"})},
      {"nearZero", ds({"-0", "0", "0.0", "-4.9406564584124654e-324", "4.9406564584124654e-324"})},
      {"bigIntegers", {{"9007199254740992", none, none}, {"9007199254740993", none, none},
                       {"9007199254740994", none, none}, {none, none, none}}},
      {"texts", {{none, none, "a"}, {none, none, "b"}, {none, none, "ba"}, {none, none, "B"}, {none, none, ""},
                 {none, none, none}}},
      {"iAndD", iAndD}, {"iAndDAndAllMissing", iAndDAndAllMissing},
      {"iAndS", {{"7", none, "b"}, {"8", none, "a"}, {"8", none, "b"}, {none, none, "a"}, {none, none, "b"},
                 {"7", none, none}, {"8", none, none}, {"7", none, "a"}}},
      {"threeFields", {{"7", "1", "a"}, {"7", none, "a"}, {"7", "1", none}, {"6", none, "a"}}},
      {"allMissing", {{none, none, none}}},
  };
  const std::vector<std::vector<std::string>> cases = tsvRows("predicates.tsv");
  EXPECT_EQ(cases.size(), 33u);
  for (const std::vector<std::string>& c : cases) {
    const std::string &title = c[0], &predicate = c[1], &rows = c[2], &expected = c[3];
    SCOPED_TRACE(title);
    const std::string orUnknown = R"(<CompoundPredicate booleanOperator="surrogate">)" + predicate + "<True/></CompoundPredicate>";
    SplitScorer scorer = SplitScorer::fromPmml(segmentsDocument(dictionary, {predicate, orUnknown}));
    scorer.bind({"i", "d", "s"});
    std::string got;
    for (const Row& row : rowSets.at(rows)) {
      const std::string id = scorer.score(row).segmentId;
      got += id == "0" ? 'T' : id == "1" ? 'U' : 'F';
    }
    EXPECT_EQ(got, expected);
  }
}

}  // namespace

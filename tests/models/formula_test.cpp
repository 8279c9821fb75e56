// Models fitted from R formulas: the terms and coefficient names R gives,
// estimates and predictions against R on its mtcars and warpbreaks data
// sets (public domain), and the formulas that are refused. R's values of the
// fits are in tests/data/r/formula.tsv, written by reference.R there; the few
// others were computed with R 4 (p prints 17 digits):
//   d <- mtcars; d$cyl <- factor(d$cyl)
//   s <- summary(lm(mpg ~ 0 + cyl + wt, d)); p(c(s$r.squared, s$adj.r.squared, s$fstatistic))
#include <cmath>
#include <map>

#include "model_test_support.h"
#include "splitmodels/scorer.h"

namespace {

using namespace modeltest;

ModelSpec formulaRequest(const std::string& formula, ModelKind kind = ModelKind::Linear, const std::string& family = "gaussian") {
  splitmodels::FormulaFields fields;
  EXPECT_EQ(splitmodels::checkFormula(formula, fields), std::nullopt) << formula;
  ModelSpec request = modelRequest(kind, fields.target, fields.inputs);
  request.formula = formula;
  request.family = family;
  request.modelId = "m";
  return request;
}

std::vector<std::string> termNames(const splitmodels::GroupModel& model) {
  std::vector<std::string> names;
  for (const splitmodels::Term& term : model.terms) names.push_back(term.name);
  return names;
}

GroupData warpbreaks() {
  const std::vector<int> breaks{26, 30, 54, 25, 70, 52, 51, 26, 67, 18, 21, 29, 17, 12, 18, 35, 30, 36,
                                36, 21, 24, 18, 10, 43, 28, 15, 26, 27, 14, 29, 19, 29, 31, 41, 20, 44,
                                42, 26, 19, 16, 39, 28, 21, 39, 29, 20, 21, 24, 17, 13, 15, 15, 16, 28};
  GroupData data{{continuous("breaks"), nominal("wool", {}), nominal("tension", {}), continuous("len")}, {}};
  const char* tension[] = {"L", "M", "H"};
  for (std::size_t i = 0; i < breaks.size(); ++i)
    data.rows.push_back({number(breaks[i]), text(i < 27 ? "A" : "B"), text(tension[(i % 27) / 9]),
                         number(10 + static_cast<double>((i + 1) % 7))});
  return data;
}

// The names are R's (tests/data/r/terms.tsv: colnames(model.matrix(f, d))).
TEST(Formula, TermsAndColumnsAreNamedAsR) {
  // inputs: for "."; empty: the formula's own
  struct Case { std::string formula; std::vector<std::string> inputs; GroupData (*data)() = mtcars; };
  std::vector<Case> cases = {
      // "." in the data's order, less what the response reads and what is removed.
      {"log(mpg) ~ . - hp", {"wt", "mpg", "hp", "disp"}},
      // A level the data model lists and no record of the group holds gets no
      // column, as when R fits the group alone.
      {"mpg ~ wt * cyl", {},
       [] {
         GroupData data = mtcars();
         data.fields[1].categories.push_back("12");
         return data;
       }},
  };
  const std::map<std::string, GroupData (*)()> datasets = {{"mtcars", mtcars}, {"warpbreaks", warpbreaks}};
  for (const std::vector<std::string>& row : tsvRows("named_terms.tsv"))
    cases.push_back({row.at(0), {}, datasets.at(row.at(1))});
  const RValues names("terms");
  for (const auto& c : cases) {
    const GroupData data = c.data();
    SCOPED_TRACE(c.formula);
    ModelSpec request = formulaRequest(c.formula);
    if (!c.inputs.empty()) request.inputs = c.inputs;
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, request);
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(termNames(model), names.quantities(c.formula));
    EXPECT_EQ(schemaErrors(model.pmml), "");
  }
}

// rows: the records scored, from 1 as R counts them
struct ReferenceCase { const char* title; ModelSpec request; GroupData data; std::vector<int> rows; bool linkScale = false; };

TEST(Formula, FitsAndPredictionsAgreeWithR) {
  std::vector<ReferenceCase> cases = {
      {"lm: log response, factor x numeric, I(), raw poly, log2",
       formulaRequest("log(mpg) ~ wt * cyl + I(hp^2) + poly(disp, 2, raw = TRUE) + log2(qsec)"), mtcars(), {1, 32}},
      {"binomial: cbind response, no intercept, offset of an expression",
       formulaRequest("cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10)", ModelKind::Glm, "binomial"), mtcars(),
       {1, 32}, true},
      {"binomial: cbind response with prior weights",
       [] {
         ModelSpec request = formulaRequest("cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10)", ModelKind::Glm,
                                            "binomial");
         request.weights = "gear";
         return request;
       }(),
       mtcars(), {1, 32}, true},
      {"lm: two offsets, summed", formulaRequest("mpg ~ wt + offset(hp / 100) + offset(qsec / 10)"), mtcars(), {}},
      {"poisson: factor x factor without main effects, offset(log())",
       formulaRequest("breaks ~ wool:tension + offset(log(len))", ModelKind::Glm, "poisson"), warpbreaks(), {1, 54}},
  };
  const RValues values("formula");
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.title);
    const auto r = [&](const std::string& quantity) { return values(c.title, quantity); };
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(c.data, c.request);
    ASSERT_TRUE(model.ok) << model.reason;
    const std::vector<std::string> names = values.suffixes(c.title, "estimate ");
    ASSERT_EQ(termNames(model), names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      const splitmodels::Term& term = model.terms[i];
      expectClose(term.estimate, r("estimate " + names[i]), 1e-8, "estimate");
      expectClose(term.stdError, r("std error " + names[i]), 1e-7, "standard error");
      expectClose(term.pValue, r("p value " + names[i]), 1e-6, "p value");
    }
    const bool glm = c.request.kind == ModelKind::Glm;
    if (glm) {
      expectClose(model.nullDeviance, r("null deviance"), 1e-7, "null deviance");
      EXPECT_EQ(model.dfNull, r("df null"));
      expectClose(model.deviance, r("deviance"), 1e-7, "deviance");
      expectClose(model.aic, r("aic"), 1e-9, "aic");
    }
    ASSERT_EQ(schemaErrors(model.pmml), "");
    splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
    scorer.bind(fieldNames(c.data));
    scorer.setLinkScale(c.linkScale);
    scorer.computeStandardErrors(true);
    for (const int row : c.rows) {
      const std::string at = " " + std::to_string(row);
      const splitmodels::ScoreResult result = scorer.score(recordTexts(c.data, static_cast<std::size_t>(row - 1)));
      ASSERT_FALSE(result.predicted.empty());
      const double predicted = r((glm && !c.linkScale ? "response" : "link") + at);
      EXPECT_NEAR(std::stod(result.predicted), predicted, 1e-10 * std::fabs(predicted));
      EXPECT_NEAR(result.linkStdError, r("se link" + at), 1e-7 * r("se link" + at));
      if (glm) {
        EXPECT_NEAR(result.meanStdError, r("se response" + at), 1e-7 * r("se response" + at));
      }
    }
  }
}

// Each function a term may apply is written to the PMML so that the scorer
// reproduces the fitted values.
TEST(Formula, EveryFunctionScoresAsItWasFitted) {
  const GroupData data = mtcars();
  const splitmodels::GroupModel model =
      splitmodels::buildGroupModel(data, formulaRequest("mpg ~ log10(hp) + exp(-wt) + sqrt(disp) + abs(qsec - 18) + log(carb, 3)"));
  ASSERT_TRUE(model.ok) << model.reason;
  splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
  scorer.bind(fieldNames(data));
  for (std::size_t r = 0; r < data.rows.size(); ++r)
    EXPECT_NEAR(std::stod(scorer.score(recordTexts(data, r)).predicted), model.fitted[r], 1e-9 * model.fitted[r])
        << "car " << r + 1;
}

// A glm without an intercept counts the records of nonzero weight in its
// null degrees of freedom, and a logistic one is measured against p = 1/2:
//   glm(mpg ~ 0 + wt, gaussian, d, weights = w0)$df.null, $null.deviance
//   g <- glm(am ~ 0 + wt, binomial, d); g$null.deviance; g$df.null; g$deviance
TEST(Formula, ALinearModelWithoutInterceptIsMeasuredAgainstZero) {
  const splitmodels::GroupModel model = splitmodels::buildGroupModel(mtcars(), formulaRequest("mpg ~ 0 + cyl + wt"));
  ASSERT_TRUE(model.ok) << model.reason;
  EXPECT_NEAR(model.rSquared, 0.98696377962967785, 1e-8);
  EXPECT_NEAR(model.adjustedRSquared, 0.9851014624339175, 1e-8);
  EXPECT_NEAR(model.fStatistic, 529.96545479823396, 1e-7 * 530);
  EXPECT_EQ(model.dfNull, 32);  // glm(mpg ~ 0 + cyl + wt, gaussian, d)$df.null
  ModelSpec weighted = formulaRequest("mpg ~ 0 + wt", ModelKind::Glm);
  weighted.weights = "w0";
  const splitmodels::GroupModel glm = splitmodels::buildGroupModel(mtcars(), weighted);
  ASSERT_TRUE(glm.ok) << glm.reason;
  EXPECT_EQ(glm.dfNull, 13);
  EXPECT_NEAR(glm.nullDeviance, 9422.5550000000003, 1e-8 * 9422);
  const splitmodels::GroupModel logistic =
      splitmodels::buildGroupModel(mtcars(), formulaRequest("am ~ 0 + wt", ModelKind::Logistic));
  ASSERT_TRUE(logistic.ok) << logistic.reason;
  EXPECT_EQ(logistic.dfNull, 32);
  EXPECT_NEAR(logistic.nullDeviance, 44.361419555836498, 1e-9 * 44);
  EXPECT_NEAR(logistic.deviance, 39.716566738161632, 1e-7 * 40);
}

TEST(Formula, RecordsWithUndefinedValuesLeaveTheFitAndInfiniteOnesFailIt) {
  const std::string stops = " of the group; a model cannot be fitted to it (R's fit stops too)";
  // row, column: the cell set to `value`; reason: empty when fitted to 4 records, 1 skipped
  const struct {
    const char* formula; std::size_t row, column; Cell value; std::string reason; ModelKind kind = ModelKind::Linear;
  } cases[] = {
      // log(-1) is NaN: R's na.omit drops the record.
      {"y ~ log(x)", 2, 1, number(-1), ""},
      // log(0) is -Inf: R keeps it and its fit stops; so does the group.
      {"y ~ log(x)", 2, 1, number(0), "non-finite value: log(x) is -Inf in record 3" + stops},
      {"y ~ x", 3, 3, number(INFINITY), "non-finite value: the weights is Inf in record 4" + stops},
      // A record without a class leaves the logistic fit; so does one without
      // a response, a weight or an offset.
      {"c ~ x", 1, 2, missing(), "", ModelKind::Logistic},
      {"y ~ x", 4, 0, missing(), ""}, {"y ~ x", 0, 3, missing(), ""}, {"y ~ c + offset(x)", 3, 1, missing(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula + (" " + c.reason));
    GroupData data{{continuous("y"), continuous("x"), nominal("c", {"a", "b"}), continuous("w")}, {}};
    for (double x : {1.0, 2.0, 3.0, 4.0, 5.0})
      data.rows.push_back({number(x + 1), number(x), text(x == 2 || x == 4 ? "b" : "a"), number(1)});
    data.rows[c.row][c.column] = c.value;
    ModelSpec request = formulaRequest(c.formula, c.kind);
    request.weights = "w";
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, request);
    EXPECT_EQ(model.ok, c.reason.empty()) << model.reason;
    EXPECT_EQ(model.reason, c.reason);
    EXPECT_EQ(model.pmml.empty(), !model.ok);
    if (model.ok) {
      EXPECT_EQ(model.records, 4u);
      EXPECT_EQ(model.skippedRecords, 1u);
    }
  }
}

// The fields a formula reads, which decide the columns a build loads: "."
// anywhere among the terms takes every other field; a field named only to
// be removed is still read.
TEST(Formula, NamesTheFieldsItReads) {
  const struct {
    const char *formula, *target;
    std::vector<std::string> response, inputs;
    bool dot, plainResponse, cbind;
  } cases[] = {
      {"y ~ .", "y", {"y"}, {}, true, true, false}, {"log(y) ~ . - x", "y", {"y"}, {"x"}, true, false, false},
      {"y ~ x + .", "y", {"y"}, {"x"}, true, true, false},
      {"I(y / 2) ~ x * z - z", "y", {"y"}, {"x", "z"}, false, false, false},
      {"cbind(s, f) ~ a:b + poly(p, 2, raw = TRUE) + offset(log(o))", "s", {"s", "f"}, {"a", "b", "p", "o"}, false, false, true},
  };
  for (const auto& c : cases) {
    splitmodels::FormulaFields fields;
    ASSERT_EQ(splitmodels::checkFormula(c.formula, fields), std::nullopt) << c.formula;
    EXPECT_TRUE(fields.target == c.target && fields.responseFields == c.response && fields.inputs == c.inputs &&
                fields.dot == c.dot && fields.plainResponse == c.plainResponse && fields.cbind == c.cbind)
        << c.formula;
  }
}

// The formulas of tests/models/refused_formulas.tsv get their messages.
TEST(Formula, UnsupportedPartsAreNamed) {
  // Nesting past the limit is refused before it overflows the stack; 1,000 terms are not. A
  // polynomial's degree goes up to 64 (65 is refused in the file).
  std::string terms = "x", powers = "x", interactions = "x";
  for (int i = 0; i < 999; ++i) terms += "+x";
  for (int i = 0; i < 2500; ++i) powers += "^x", interactions += ":x";
  const std::string tooDeep = "the formula is nested more than 2000 levels deep (terms joined by operators, "
                              "parentheses, calls, signs or powers); write it with fewer terms or parentheses";
  std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"y ~ " + terms, std::nullopt}, {"y ~ " + terms + terms + terms, tooDeep},
      {"y ~ " + std::string(2500, '(') + "x" + std::string(2500, ')'), tooDeep},
      {"y ~ " + std::string(100000, '-') + "x", tooDeep}, {"y ~ I(" + powers + ")", tooDeep},
      {"y ~ " + interactions, tooDeep}, {"y ~ poly(x, 64, raw = TRUE)", std::nullopt},
  };
  for (const std::vector<std::string>& c : tsvRows("refused_formulas.tsv")) cases.emplace_back(c[0], c[1]);
  for (const auto& [formula, message] : cases) {
    splitmodels::FormulaFields fields;
    EXPECT_EQ(splitmodels::checkFormula(formula, fields), message) << formula.substr(0, 40);
  }
}

}  // namespace

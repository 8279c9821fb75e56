// Models fitted from R formulas: the terms and coefficient names R gives,
// estimates and predictions against R on its mtcars and warpbreaks data
// sets (public domain), and the formulas that are refused. The reference
// values were computed with R 4 as follows (p prints 17 digits):
//   d <- mtcars; d$cyl <- factor(d$cyl)
//   f <- lm(log(mpg) ~ wt * cyl + I(hp^2) + poly(disp, 2, raw = TRUE) + log2(qsec), d)
//   g <- glm(cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10), binomial, d)
//   gw <- update(g, weights = gear)   # prior weights times each record's total;
//     # started from the totals alone, 3 iterations as R's
//   w <- warpbreaks; w$wool <- as.character(w$wool); w$tension <- as.character(w$tension)
//   w$len <- 10 + (1:54) %% 7
//   h <- glm(breaks ~ wool:tension + offset(log(len)), poisson, w)
//   o <- lm(mpg ~ wt + offset(hp / 100) + offset(qsec / 10), d)   # offsets summed
//   s <- summary(f)$coefficients; p(s[, 1]); p(s[, 2]); p(s[, 4])   # and so for g, h
//   p(predict(f, d[c(1, 32), ])); p(predict(g, d[c(1, 32), ], type = "link"))
//   p(predict(h, w[c(1, 54), ], type = "response"))
//   p(predict(f, d[c(1, 32), ], se.fit = TRUE)$se.fit)
//   p(predict(g, d[c(1, 32), ], type = "link", se.fit = TRUE)$se.fit)       # and type = "response"
//   p(predict(h, w[c(1, 54), ], type = "link", se.fit = TRUE)$se.fit)       # and type = "response"
//   p(c(g$null.deviance, g$df.null, g$deviance)); p(g$aic); p(gw$aic)
//   s <- summary(lm(mpg ~ 0 + cyl + wt, d)); p(c(s$r.squared, s$adj.r.squared, s$fstatistic))
#include <cmath>

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

TEST(Formula, TermsAndColumnsAreNamedAsR) {
  const struct {
    const char* formula;
    std::vector<std::string> inputs;  // for "."; empty: the formula's own
    std::vector<std::string> names;
    GroupData (*data)() = mtcars;
  } cases[] = {
      {"mpg ~ wt * cyl", {}, {"(Intercept)", "wt", "cyl6", "cyl8", "wt:cyl6", "wt:cyl8"}},
      // A factor in an interaction without its main effect takes all its levels.
      {"mpg ~ wt:cyl", {}, {"(Intercept)", "wt:cyl4", "wt:cyl6", "wt:cyl8"}},
      {"mpg ~ wt + wt:cyl", {}, {"(Intercept)", "wt", "wt:cyl6", "wt:cyl8"}},
      {"mpg ~ 0 + cyl + wt", {}, {"cyl4", "cyl6", "cyl8", "wt"}},
      {"mpg ~ cyl:wt - 1", {}, {"cyl4:wt", "cyl6:wt", "cyl8:wt"}},
      // Terms by order, then appearance; a product's label keeps the variables' order.
      {"mpg ~ hp:wt + qsec + wt", {}, {"(Intercept)", "qsec", "wt", "hp:wt"}},
      {"mpg ~ (wt + hp + qsec)^2 - hp:qsec", {}, {"(Intercept)", "wt", "hp", "qsec", "wt:hp", "wt:qsec"}},
      {"log(mpg) ~ poly(hp, 2, raw = TRUE) + I(wt^2) + log2(qsec) + I(hp * 1e5)", {},
       {"(Intercept)", "poly(hp, 2, raw = TRUE)1", "poly(hp, 2, raw = TRUE)2", "I(wt^2)", "log2(qsec)", "I(hp * 1e+05)"}},
      {"mpg ~ exp(-wt) + sqrt(abs(qsec - 18)) + log(hp, 10)", {},
       {"(Intercept)", "exp(-wt)", "sqrt(abs(qsec - 18))", "log(hp, 10)"}},
      // "." in the data's order, less what the response reads and what is removed.
      {"log(mpg) ~ . - hp", {"wt", "mpg", "hp", "disp"}, {"(Intercept)", "disp", "wt"}},
      // Factor by factor (R: colnames(model.matrix(f, w)) with character columns).
      {"breaks ~ wool * tension", {}, {"(Intercept)", "woolB", "tensionL", "tensionM", "woolB:tensionL", "woolB:tensionM"},
       warpbreaks},
      {"breaks ~ 0 + wool:tension", {},
       {"woolA:tensionH", "woolB:tensionH", "woolA:tensionL", "woolB:tensionL", "woolA:tensionM", "woolB:tensionM"},
       warpbreaks},
      {"breaks ~ tension + wool:tension", {},
       {"(Intercept)", "tensionL", "tensionM", "tensionH:woolB", "tensionL:woolB", "tensionM:woolB"}, warpbreaks},
      {"breaks ~ (wool + tension)^2 - wool", {},
       {"(Intercept)", "tensionL", "tensionM", "woolB:tensionH", "woolB:tensionL", "woolB:tensionM"}, warpbreaks},
      // Without an intercept only the first factor takes all its levels.
      {"breaks ~ 0 + wool + tension", {}, {"woolA", "woolB", "tensionL", "tensionM"}, warpbreaks},
      // A level the data model lists and no record of the group holds gets no
      // column, as when R fits the group alone.
      {"mpg ~ wt * cyl", {}, {"(Intercept)", "wt", "cyl6", "cyl8", "wt:cyl6", "wt:cyl8"},
       [] {
         GroupData data = mtcars();
         data.fields[1].categories.push_back("12");
         return data;
       }},
  };
  for (const auto& c : cases) {
    const GroupData data = c.data();
    SCOPED_TRACE(c.formula);
    ModelSpec request = formulaRequest(c.formula);
    if (!c.inputs.empty()) request.inputs = c.inputs;
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, request);
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(termNames(model), c.names);
    EXPECT_EQ(schemaErrors(model.pmml), "");
  }
}

struct ReferenceCase {
  const char* title;
  ModelSpec request;
  GroupData data;
  std::vector<std::string> names;
  std::vector<double> estimate, stdError, pValue;
  std::vector<std::size_t> rows;  // records scored
  std::vector<double> predicted;
  bool linkScale = false;
  std::vector<double> seLink, seMean;  // per record scored; seMean for a glm
  double aic = NAN;                    // for a glm, when pinned
};

TEST(Formula, FitsAndPredictionsAgreeWithR) {
  std::vector<ReferenceCase> cases = {
      {"lm: log response, factor x numeric, I(), raw poly, log2",
       formulaRequest("log(mpg) ~ wt * cyl + I(hp^2) + poly(disp, 2, raw = TRUE) + log2(qsec)"),
       mtcars(),
       {"(Intercept)", "wt", "cyl6", "cyl8", "I(hp^2)", "poly(disp, 2, raw = TRUE)1", "poly(disp, 2, raw = TRUE)2",
        "log2(qsec)", "wt:cyl6", "wt:cyl8"},
       {2.2247138536539302, -0.25086546697907031, 0.032572529457082194, -0.2090927282059841, -6.6231962951022961e-07,
        -0.00052933126033442564, 7.4369431703695499e-07, 0.39283708898010988, -0.015668204695291524,
        0.053199656434113757},
       {1.3913939471306629, 0.110107280811635, 0.53447443335017675, 0.54745639736963259, 1.8548476288673088e-06,
        0.0025910448198794142, 4.2102809840183186e-06, 0.34848876921969668, 0.16717033952567692, 0.1447977543163112},
       {0.12410482973514089, 0.032770654859426346, 0.95195478106721731, 0.70617397926479852, 0.72443806408601163,
        0.84000296432350041, 0.8614089924101509, 0.2717781625123924, 0.92617518949854361, 0.71682646774832892},
       {0, 31},
       {3.0727120880068379, 3.122962820046808},
       false,
       {0.083974463127825527, 0.059044101870212383},
       {}},
      {"binomial: cbind response, no intercept, offset of an expression",
       formulaRequest("cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10)", ModelKind::Glm, "binomial"),
       mtcars(),
       {"cyl4", "cyl6", "cyl8", "sqrt(hp)"},
       {-2.2993151849806792, -1.7803050411312515, -2.1228342861469232, 0.1205374531802344},
       {0.92943850619696811, 1.1249381758109491, 1.4484568848924271, 0.096793925963721342},
       {0.013365625049444224, 0.11351714736203729, 0.14276183138770376, 0.21302158231422078},
       {0, 31},
       {-0.25409756681799944, -0.76286722797557727},
       true,
       {0.29067618842781839, 0.31192029101759533},
       {0.071508575292238752, 0.06765075931935495},
       83.85129421563164},
      {"binomial: cbind response with prior weights",
       [] {
         ModelSpec request = formulaRequest("cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10)", ModelKind::Glm,
                                            "binomial");
         request.weights = "gear";
         return request;
       }(),
       mtcars(),
       {"cyl4", "cyl6", "cyl8", "sqrt(hp)"},
       {-2.2401885268090238, -1.6742318798676881, -2.0482381218587342, 0.11439417625673216},
       {0.4602310862516964, 0.56186353876565798, 0.7330441307532598, 0.047786119001053576},
       {1.1300179695402828e-06, 0.0028845187589042949, 0.0052035706808276801, 0.01667125756777672},
       {0, 31},
       {-0.21245563749572249, -0.76787826385440217},
       true,
       {0.14587437076269916, 0.15217303652248712},
       {0.036060144521604033, 0.032943697045755581},
       290.08045996287035},
      {"lm: two offsets, summed",
       formulaRequest("mpg ~ wt + offset(hp / 100) + offset(qsec / 10)"),
       mtcars(),
       {"(Intercept)", "wt"},
       {35.4158039916896, -5.7741639573205736},
       {2.0057741697374922, 0.59725932419177596},
       {2.1344254181852199e-17, 9.9901553725376403e-11},
       {},
       {},
       false,
       {},
       {}},
      {"poisson: factor x factor without main effects, offset(log())",
       formulaRequest("breaks ~ wool:tension + offset(log(len))", ModelKind::Glm, "poisson"),
       warpbreaks(),
       {"(Intercept)", "woolA:tensionH", "woolB:tensionH", "woolA:tensionL", "woolB:tensionL", "woolA:tensionM",
        "woolB:tensionM"},
       {0.80323787059451002, -0.20909621380004556, -0.46083089845348241, 0.45452510832021664, 0.015597525129112754,
        -0.19864408737555864, NAN},
       {0.062136925793191577, 0.091574364431355762, 0.098884565446596115, 0.079716732175025409, 0.088306302448659765,
        0.092144575414055491, NAN},
       {3.1735580199511891e-38, 0.022409831467968249, 3.1576189692502446e-06, 1.1858164490824189e-08,
        0.85979917984470011, 0.031100292926322791, NAN},
       {0, 53},
       {38.692982456243008, 21.125000000000004},
       false,
       {0.049937559428111143, 0.076923076749006586},
       {1.932233110859497, 1.6249999963227644}},
  };
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.title);
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(c.data, c.request);
    ASSERT_TRUE(model.ok) << model.reason;
    ASSERT_EQ(termNames(model), c.names);
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      SCOPED_TRACE(c.names[i]);
      const splitmodels::Term& term = model.terms[i];
      expectClose(term.estimate, c.estimate[i], 1e-8, "estimate");
      expectClose(term.stdError, c.stdError[i], 1e-7, "standard error");
      expectClose(term.pValue, c.pValue[i], 1e-6, "p value");
    }
    if (c.request.family == "binomial" && c.request.weights.empty()) {  // without an intercept, against the offset alone
      EXPECT_NEAR(model.nullDeviance, 30.206421795697189, 1e-7 * 30.2);
      EXPECT_EQ(model.dfNull, 32);
      EXPECT_NEAR(model.deviance, 3.3855318250243509, 1e-7 * 3.4);
    }
    if (!std::isnan(c.aic)) expectClose(model.aic, c.aic, 1e-9, "aic");
    ASSERT_EQ(schemaErrors(model.pmml), "");
    splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
    scorer.bind(fieldNames(c.data));
    scorer.setLinkScale(c.linkScale);
    scorer.computeStandardErrors(true);
    for (std::size_t k = 0; k < c.rows.size(); ++k) {
      const splitmodels::ScoreResult result = scorer.score(recordTexts(c.data, c.rows[k]));
      ASSERT_FALSE(result.predicted.empty());
      EXPECT_NEAR(std::stod(result.predicted), c.predicted[k], 1e-10 * std::fabs(c.predicted[k]));
      EXPECT_NEAR(result.linkStdError, c.seLink[k], 1e-7 * c.seLink[k]);
      if (!c.seMean.empty()) {
        EXPECT_NEAR(result.meanStdError, c.seMean[k], 1e-7 * c.seMean[k]);
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
  const struct {
    const char* formula;
    std::size_t row, column;  // the cell set to `value`
    Cell value;
    std::string reason;  // empty: fitted to 4 records, 1 skipped
    ModelKind kind = ModelKind::Linear;
  } cases[] = {
      // log(-1) is NaN: R's na.omit drops the record.
      {"y ~ log(x)", 2, 1, number(-1), ""},
      // log(0) is -Inf: R keeps it and its fit stops; so does the group.
      {"y ~ log(x)", 2, 1, number(0), "non-finite value: log(x) is -Inf in record 3" + stops},
      {"y ~ x", 3, 3, number(INFINITY), "non-finite value: the weights is Inf in record 4" + stops},
      // A record without a class leaves the logistic fit.
      {"c ~ x", 1, 2, missing(), "", ModelKind::Logistic},
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

TEST(Formula, UnsupportedPartsAreNamed) {
  const struct {
    const char* formula;
    const char* message;
  } cases[] = {
      {"y ~ sin(x)", "unsupported function 'sin'"},
      {"y ~ poly(x, 2)", "unsupported: poly(x, 2) without raw = TRUE (only raw polynomials are fitted)"},
      {"y ~ a / b", "unsupported operator '/' outside I() (write a + a:b for nesting, I(a / b) for a ratio)"},
      {"y ~ a %in% b", "unsupported operator '%in%'"},
      {"y ~ x | g", "unsupported character '|' in the formula"},
      {"~ x", "the formula needs a response before '~' (y ~ ...)"},
      {"y ~ (a + b)^x", "unsupported: (a + b)^x (the power of terms must be a whole number; write I((a + b)^x) for arithmetic)"},
      {"y ~ 2 + x", "unsupported term '2' (only 0 and 1 set the intercept)"},
      {"y ~ I(a:b)", "unsupported operator ':' inside an expression"},
      {"y ~ log(cbind(a, b))", "unsupported here: cbind(a, b) (cbind() is only a response)"},
      {"y ~ x +", "the formula ends too early"},
  };
  for (const auto& c : cases) {
    splitmodels::FormulaFields fields;
    EXPECT_EQ(splitmodels::checkFormula(c.formula, fields), std::optional<std::string>(c.message)) << c.formula;
  }
  // Nesting past the limit is refused before it overflows the stack; 1,000 terms are not.
  std::string terms = "x", powers = "x";
  for (int i = 0; i < 999; ++i) terms += "+x";
  for (int i = 0; i < 2500; ++i) powers += "^x";
  const std::string tooDeep = "the formula is nested more than 2000 levels deep (terms joined by operators, "
                              "parentheses, calls, signs or powers); write it with fewer terms or parentheses";
  const std::pair<std::string, std::optional<std::string>> deep[] = {
      {"y ~ " + terms, std::nullopt},
      {"y ~ " + terms + terms + terms, tooDeep},
      {"y ~ " + std::string(2500, '(') + "x" + std::string(2500, ')'), tooDeep},
      {"y ~ " + std::string(100000, '-') + "x", tooDeep},
      {"y ~ I(" + powers + ")", tooDeep},
  };
  for (const auto& [formula, message] : deep) {
    splitmodels::FormulaFields fields;
    EXPECT_EQ(splitmodels::checkFormula(formula, fields), message) << formula.substr(0, 40);
  }
}

}  // namespace

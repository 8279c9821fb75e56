// Fits compared with R's lm and glm(family = binomial) on the same records:
// aliased inputs, missing values, zero residual degrees of freedom, fewer
// records than parameters, inputs at the ends of the double range, extreme
// log-odds, a rare event, an input that is zero in every record, inputs
// collinear just within and just beyond the aliasing tolerances, a requested
// reference level the group lacks.
//
// The records come from a hash both R and C++ evaluate exactly,
// u(i, m) = ((i * m) mod 2^32) / 2^32; R's values (lm / glm and their
// summaries, a logistic fit's AUC and accuracy from its fitted values) are in
// tests/data/r/reference.tsv, written by reference.R there.
#include <pugixml.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>

#include "model_test_support.h"

namespace {

using namespace modeltest;

constexpr std::uint64_t kM1 = 2654435761u, kM2 = 2246822519u, kM3 = 3266489917u;

double u(int i, std::uint64_t m) { return static_cast<double>((static_cast<std::uint64_t>(i) * m) % 4294967296u) / 4294967296.0; }
double plogis(double eta) { return 1.0 / (1.0 + std::exp(-eta)); }

// data: the target last; warning: one the model must carry, when not empty;
// looseness widens the tolerances for inputs so nearly collinear that the
// estimates keep only a few digits in any least-squares solver.
struct ReferenceCase {
  const char* title; ModelKind kind; GroupData data; std::size_t skipped = 0; std::string warning;
  std::map<std::string, std::string> references = {}; double looseness = 1.0;
};

GroupData linearDuplicatedAndConstant(bool oneLevel) {
  GroupData data{{continuous("x1"), continuous("x2"), continuous("x3"), nominal("c", {"a", "b", "c"}), continuous("y")}, {}};
  for (int i = 1; i <= 30; ++i) {
    const double x1 = u(i, kM1);
    const bool b = oneLevel || i % 2 == 1;
    const double y = 1 + 2 * x1 + (i % 2 == 1 ? 0.7 : 0.0) + u(i, kM2) - 0.5;
    data.rows.push_back({number(x1), number(2 * x1), number(5), text(b ? "b" : "a"), number(y)});
  }
  return data;
}

GroupData linearWithMissing() {
  GroupData data{{continuous("x1"), continuous("y")}, {}};
  for (int i = 1; i <= 20; ++i)
    data.rows.push_back({i == 5 ? missing() : number(u(i, kM1)),
                         i == 3 || i == 8 ? missing() : number(3 - u(i, kM1) + u(i, kM2))});
  // An input that is not a finite number is left out as a missing one is
  // (R's lm refuses it; the reference is the fit without these records).
  for (const double x1 : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
    data.rows.push_back({number(x1), number(3)});
  return data;
}

GroupData linearExtremeScales() {
  GroupData data{{continuous("x1"), continuous("x2"), continuous("y")}, {}};
  for (int i = 1; i <= 25; ++i) {
    const double x1 = u(i, kM1) * 1e300, x2 = u(i, kM2) * 1e-300;
    data.rows.push_back({number(x1), number(x2), number(1 + 3e-300 * x1 + 2e300 * x2 + u(i, kM3))});
  }
  return data;
}

GroupData logistic(int n, double (*eta)(double, double), bool duplicate) {
  GroupData data{{continuous("x1"), continuous(duplicate ? "x3" : "x2"), nominal("b", {"0", "1"}, splitmodels::StorageInteger)}, {}};
  data.fields[2].measure = splitmodels::MeasureFlag;
  for (int i = 1; i <= n; ++i) {
    const double x1 = duplicate ? u(i, kM1) - 0.5 : 10 * u(i, kM1);
    const double x2 = duplicate ? 2 * x1 : 10 * u(i, kM2) - 5;
    data.rows.push_back({number(x1), number(x2), number(u(i, kM3) < plogis(eta(x1, x2)) ? 1 : 0)});
  }
  return data;
}

// x2 = x1 + delta * v: collinear with x1 once delta is small enough.
GroupData nearlyCollinear(int n, double delta, bool logistic) {
  GroupData data{{continuous("x1"), continuous("x2"), continuous("y")}, {}};
  if (logistic) data.fields[2] = FieldDef{"y", splitmodels::StorageInteger, splitmodels::MeasureFlag, {"0", "1"}, {}};
  for (int i = 1; i <= n; ++i) {
    const double x1 = u(i, kM1), v = u(i, kM2) - 0.5;
    const double y = logistic ? (u(i, kM3) < plogis(-1 + 3 * x1) ? 1 : 0) : 1 + 2 * x1 + u(i, kM3) - 0.5;
    data.rows.push_back({number(x1), number(x1 + delta * v), number(y)});
  }
  return data;
}

// Many more inputs than records: 240 inputs over 12 records, in four blocks
// of 60 whose first input is fresh and the others its multiples (x2 = 2 x1,
// ..., x60 = 60 x1, x62 = 2 x61, ...). Only the intercept and x1, x61, x121,
// x181 are estimable.
GroupData wideMultiples() {
  static const std::uint64_t fresh[] = {kM1, kM3, 668265263u, 374761393u};
  GroupData data;
  for (int k = 1; k <= 240; ++k) data.fields.push_back(continuous("x" + std::to_string(k)));
  data.fields.push_back(continuous("y"));
  for (int i = 1; i <= 12; ++i) {
    data.rows.emplace_back();
    for (int k = 1; k <= 240; ++k) data.rows.back().push_back(number(((k - 1) % 60 + 1) * u(i, fresh[(k - 1) / 60])));
    const auto x = [&](int k) { return data.rows.back()[static_cast<std::size_t>(k - 1)].number; };
    data.rows.back().push_back(number(1 + 2 * x(1) - x(61) + 0.5 * x(181) + u(i, kM2) - 0.5));
  }
  return data;
}

// A categorical c over p, q and r of which the group holds all three, or p and r only.
GroupData referenceLevels(bool three) {
  GroupData data{{continuous("x1"), nominal("c", {"p", "q", "r"}), continuous("y")}, {}};
  for (int i = 1; i <= 24; ++i) {
    const char* c = three ? (i % 3 == 0 ? "p" : i % 3 == 1 ? "q" : "r") : (i % 2 == 0 ? "p" : "r");
    const double x1 = u(i, kM1);
    const double y = 1 + x1 + (*c == 'r' ? 0.8 : 0.0) - (*c == 'q' ? 0.3 : 0.0) + u(i, kM2) - 0.5;
    data.rows.push_back({number(x1), text(c), number(y)});
  }
  return data;
}

std::vector<ReferenceCase> referenceCases() {
  std::vector<ReferenceCase> cases;
  cases.push_back({"duplicated and constant inputs, a level the group lacks", ModelKind::Linear,
                   linearDuplicatedAndConstant(false), 0, "aliased: x2, x3"});
  // R refuses a factor with one level; split-run aliases it as it does a
  // constant number, and the fit is R's fit without the input.
  cases.push_back({"a categorical input holding one level", ModelKind::Linear, linearDuplicatedAndConstant(true),
                   0, "aliased: x2, x3, c"});
  cases.push_back({"zero residual degrees of freedom", ModelKind::Linear,
                   GroupData{{continuous("x1"), continuous("x2"), continuous("x3"), continuous("y")},
                             {{number(0.5), number(3), number(1), number(2)}, {number(1.5), number(1), number(0), number(1)},
                              {number(2), number(2.5), number(0), number(4)}, {number(4), number(0.5), number(1), number(3)}}},
                   0, "no residual degrees of freedom"});
  // Three usable records for four parameters: R keeps the columns in order
  // and aliases the one beyond the records.
  cases.push_back({"fewer records than parameters", ModelKind::Linear,
                   GroupData{{continuous("a"), continuous("b"), continuous("c"), continuous("y")},
                             {{number(1), number(2), number(4), number(1)}, {number(2), number(1), number(3), number(2)},
                              {number(3), number(5), number(1), number(4)}, {missing(), number(5), number(1), number(4)}}},
                   1, "aliased: c"});
  cases.push_back({"many more inputs than records", ModelKind::Linear, wideMultiples(), 0, "aliased: x2, x3, x4"});
  cases.push_back({"missing and non-finite values skipped", ModelKind::Linear, linearWithMissing(), 5, ""});
  // R's own summary overflows on these inputs; its fit on the unscaled
  // u(i, M1) and u(i, M2), with x1's and x2's rows rescaled, is the reference.
  cases.push_back({"inputs near the ends of the double range", ModelKind::Linear, linearExtremeScales(), 0, ""});
  cases.push_back({"overlap with extreme log-odds", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -20 + 5 * x1 + 0.6 * x2; }, false),
                   0, "fitted probabilities numerically 0 or 1 occurred"});
  // Fitted probabilities from 2e-10 to within 1e-9 of 1: close to the ends,
  // but not numerically 0 or 1, so glm gives no warning.
  cases.push_back({"strong effect, fitted probabilities near 0 and 1", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -20 + 4 * x1 + 0.6 * x2; }, false), 0, ""});
  cases.push_back({"rare event (28 of 3000)", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -5.5 + 0.15 * x1 + 0.2 * x2; }, false), 0, ""});
  cases.push_back({"aliased input", ModelKind::Logistic,
                   logistic(500, [](double x1, double) { return 0.3 + 3 * x1; }, true), 0, "aliased: x3"});
  // d <- mtcars; d$z <- 0; glm(vs ~ mpg + z + wt, binomial, d); lm(mpg ~ wt + z + hp, d)
  cases.push_back({"an input zero in every record, between two others", ModelKind::Logistic,
                   mtcarsColumns({"mpg", "z", "wt", "vs"}), 0, "aliased: z"});
  cases.push_back({"a linear input zero in every record", ModelKind::Linear, mtcarsColumns({"wt", "z", "hp", "mpg"}),
                   0, "aliased: z"});
  // d$z <- 0; summary(lm(mpg ~ z, d)): only the intercept estimated, nothing
  // explained (R squared 0, no F statistic).
  cases.push_back({"the only input zero in every record", ModelKind::Linear, mtcarsColumns({"z", "mpg"}),
                   0, "aliased: z"});
  // i <- 1:20; x1 <- u(i, M1); v <- u(i, M2) - 0.5; y <- 1 + 2 * x1 + u(i, M3) - 0.5
  // x2 <- x1 + delta * v; lm(y ~ x1 + x2). What is left of x2 beside x1 is
  // 9.7e-8 of its norm at delta = 2e-7 (aliased at lm's 1e-7), 2.9e-7 at 6e-7.
  cases.push_back({"collinear just within lm's tolerance", ModelKind::Linear, nearlyCollinear(20, 2e-7, false),
                   0, "aliased: x2"});
  cases.push_back({"collinear just beyond lm's tolerance", ModelKind::Linear, nearlyCollinear(20, 6e-7, false),
                   0, "", {}, 1e3});
  // The same over 60 records with yb <- as.numeric(u(i, M3) < plogis(-1 + 3 * x1)),
  // glm(yb ~ x1 + x2, binomial): what is left of x2 in the last weighted
  // least-squares step, w <- sqrt(f$weights); X <- cbind(1, x1, x2) * w;
  // sqrt(sum(qr.resid(qr(X[, 1:2]), X[, 3])^2)) / sqrt(sum(X[, 3]^2)),
  // is 1.1e-12 at delta = 2e-12 (aliased at glm's 1e-11) and 6.3e-11 at 1.2e-10.
  cases.push_back({"collinear within glm's tolerance", ModelKind::Logistic, nearlyCollinear(60, 2e-12, true),
                   0, "aliased: x2"});
  cases.push_back({"collinear beyond glm's tolerance", ModelKind::Logistic, nearlyCollinear(60, 1.2e-10, true),
                   0, "", {}, 1e3});
  // i <- 1:24; x1 <- u(i, M1); c from p, q, r (or p, r); y as in referenceLevels;
  // lm(y ~ x1 + relevel(factor(c), "q")), and without q lm(y ~ x1 + factor(c)):
  // a requested level the group lacks falls back to the first level it holds.
  cases.push_back({"requested reference level held", ModelKind::Linear, referenceLevels(true), 0, "", {{"c", "q"}}});
  cases.push_back({"requested reference level the group lacks", ModelKind::Linear, referenceLevels(false),
                   0, "", {{"c", "q"}}});
  return cases;
}

TEST(ReferenceFits, AgreeWithR) {
  const RValues values("reference");
  for (const ReferenceCase& c : referenceCases()) {
    SCOPED_TRACE(c.title);
    const auto r = [&](const std::string& quantity) { return values(c.title, quantity); };
    std::vector<std::string> inputs;
    for (std::size_t k = 0; k + 1 < c.data.fields.size(); ++k) inputs.push_back(c.data.fields[k].name);
    ModelSpec request = modelRequest(c.kind, c.data.fields.back().name, inputs);
    request.references = c.references;
    const auto model = splitmodels::buildGroupModel(c.data, request);
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(model.skippedRecords, c.skipped);
    const bool linear = c.kind == ModelKind::Linear;
    // lm: estimates to 1e-8, standard errors, statistics and sigma to 1e-7,
    // p values to 1e-6; glm: estimates to 1e-6, the rest to 1e-5.
    const double estimateTolerance = (linear ? 1e-8 : 1e-6) * c.looseness,
                 errorTolerance = (linear ? 1e-7 : 1e-5) * c.looseness, pTolerance = (linear ? 1e-6 : 1e-5) * c.looseness;
    ASSERT_NO_FATAL_FAILURE(expectTermsAsR(model, values, c.title, estimateTolerance, errorTolerance, pTolerance));
    const std::vector<std::string> terms = values.suffixes(c.title, "estimate ");
    EXPECT_EQ(model.dfResidual, r("df residual"));
    // The covariance covers the estimated terms, in term order: its
    // diagonal holds their squared standard errors.
    std::vector<double> variances;
    for (const splitmodels::Term& term : model.terms)
      if (!std::isnan(term.estimate)) variances.push_back(term.stdError * term.stdError);
    ASSERT_EQ(model.covariance.size(), variances.size() * variances.size());
    for (std::size_t k = 0; k < variances.size(); ++k)
      expectClose(model.covariance[k * variances.size() + k], variances[k], errorTolerance, "variance " + std::to_string(k));
    if (!linear && std::string(c.title).rfind("collinear", 0) == 0) {
      // Fitted as a binomial glm, whose aliasing tolerance is R's glm.fit's too.
      ModelSpec glm = request;
      glm.kind = ModelKind::Glm;
      glm.family = "binomial";
      const auto viaGlm = splitmodels::buildGroupModel(c.data, glm);
      ASSERT_TRUE(viaGlm.ok && viaGlm.terms.size() == terms.size()) << viaGlm.reason;
      for (std::size_t j = 0; j < terms.size(); ++j)
        expectClose(viaGlm.terms[j].estimate, r("estimate " + terms[j]), estimateTolerance, "glm " + terms[j]);
    }
    if (linear) {
      expectClose(model.rSquared, r("r squared"), 1e-8, "R squared");
      expectClose(model.adjustedRSquared, r("adjusted r squared"), 1e-8, "adjusted R squared");
      expectClose(model.sigma, r("sigma"), 1e-7, "sigma");
      expectClose(model.fStatistic, r("F"), 1e-7, "F");
      expectClose(model.fPValue, r("F p value"), 1e-6, "F p value");
    } else {
      expectClose(model.deviance, r("deviance"), 1e-8 * c.looseness, "deviance");
      expectClose(model.nullDeviance, r("null deviance"), 1e-8, "null deviance");
      expectClose(model.aic, r("aic"), 1e-8 * c.looseness, "AIC");
      // On nearly collinear inputs the deviance settles within glm's
      // criterion only after rounding noise dies down: more iterations here.
      if (c.looseness == 1.0) { EXPECT_EQ(model.iterations, r("iterations")); }
      EXPECT_EQ(model.dfNull, r("df null"));
      EXPECT_EQ(model.dispersion, 1.0);  // a binomial fit's, as R's summary gives it
      expectClose(model.logLikelihood, r("log likelihood"), 1e-8 * c.looseness, "log-likelihood");
      expectClose(model.auc, r("auc"), 1e-12, "AUC");
      expectClose(model.accuracy, r("accuracy"), 1e-12, "accuracy");
      ASSERT_FALSE(model.fitted.empty());
      expectClose(model.fitted.front(), r("fitted first"), errorTolerance, "fitted probability of the first record");
      expectClose(model.fitted.back(), r("fitted last"), errorTolerance, "fitted probability of the last record");
    }
    // The group's StatXML carries every summary figure exactly, and its PMML
    // one predictor per estimated term besides the intercept.
    pugi::xml_document statXml;
    ASSERT_TRUE(statXml.load_string(model.statXML.c_str()));
    const pugi::xml_node summary = statXml.child("StatXML").child("PMMLModel").child("PredictiveSummary");
    using Figures = std::vector<std::pair<const char*, double>>;
    const Figures figures =
        linear ? Figures{{"rSquared", model.rSquared}, {"adjustedRSquared", model.adjustedRSquared}, {"sigma", model.sigma},
                         {"fStatistic", model.fStatistic}, {"fPValue", model.fPValue}}
               : Figures{{"deviance", model.deviance}, {"nullDeviance", model.nullDeviance}, {"dfNull", model.dfNull},
                         {"aic", model.aic}, {"accuracy", model.accuracy}, {"logLikelihood", model.logLikelihood},
                         {"auc", model.auc}};
    for (const auto& [name, value] : figures) {
      const pugi::xml_attribute attribute = summary.attribute(name);
      if (std::isnan(value)) {
        EXPECT_FALSE(attribute) << name;
      } else {
        EXPECT_EQ(attribute.as_double(std::numeric_limits<double>::quiet_NaN()), value) << name;
      }
    }
    std::size_t estimated = 0, predictors = 0;
    for (const splitmodels::Term& term : model.terms) estimated += std::isnan(term.estimate) ? 0 : 1;
    // Reference and aliased categories are listed with coefficient 0 (so that
    // the group's model knows which levels it saw); they estimate nothing.
    for (std::size_t at = model.pmml.find("Predictor name="); at != std::string::npos;
         at = model.pmml.find("Predictor name=", at + 1)) {
      const std::string element = model.pmml.substr(at, model.pmml.find('>', at) - at);
      if (element.find("coefficient=\"0\"") == std::string::npos) ++predictors;
    }
    EXPECT_EQ(predictors, estimated - 1);
    std::string warnings, listed;  // the StatXML lists them with "; " between
    for (const std::string& w : model.warnings) warnings += w + "\n", listed += (listed.empty() ? "" : "; ") + w;
    EXPECT_STREQ(summary.attribute("warnings").value(), listed.c_str());
    if (c.warning.empty()) {
      EXPECT_EQ(warnings, "");
    } else {
      EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
    }
  }
}

}  // namespace

// Generalised linear fits of every family and link compared with R's glm on
// the mtcars data set that ships with R (public domain), with prior
// weights, zero weights and offsets.
//
// R's values are in tests/data/r/glm.tsv, written by reference.R there
// (deviance, null deviance, aic, dispersion, degrees of freedom, convergence,
// iterations, the coefficients' table, cars 1 and 20 predicted on both
// scales, vcov[1, 2] and car 1's standard errors of prediction), the last
// three through the group's PMML.
#include <cmath>
#include <cstdlib>
#include <map>

#include "glm_family.h"
#include "model_test_support.h"

namespace {

using namespace modeltest;

// inputs: comma-separated
struct GlmCase { std::string title, family, link, target, inputs, weights, offset; };

// The cases of tests/models/glm_cases.tsv.
std::vector<GlmCase> glmCases() {
  std::vector<GlmCase> cases;
  for (std::vector<std::string> row : tsvRows("glm_cases.tsv")) {
    for (std::string& field : row) field = field == "-" ? "" : field;
    cases.push_back({row.at(0), row.at(1), row.at(2), row.at(3), row.at(4), row.at(5), row.at(6)});
  }
  return cases;
}

ModelSpec glmRequest(const GlmCase& c) {
  ModelSpec request = modelRequest(ModelKind::Glm, c.target, {});
  for (std::string rest = c.inputs; !rest.empty();) {
    const std::size_t comma = rest.find(',');
    request.inputs.push_back(rest.substr(0, comma));
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
  }
  request.family = c.family;
  request.link = c.link;
  request.weights = c.weights;
  request.offset = c.offset;
  request.modelId = "m";
  return request;
}

TEST(GlmReference, EveryFamilyAndLinkAgreesWithR) {
  const GroupData data = mtcars();
  const RValues values("glm");
  for (const GlmCase& c : glmCases()) {
    SCOPED_TRACE(c.title);
    const auto r = [&](const std::string& quantity) { return values(c.title, quantity); };
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, glmRequest(c));
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(model.family, c.family);
    EXPECT_EQ(model.link, c.link);
    expectClose(model.deviance, r("deviance"), 1e-7, "deviance");
    expectClose(model.nullDeviance, r("null deviance"), 1e-7, "null deviance");
    // R's gaussian AIC with zero weights is infinite; it is missing here.
    if (std::isinf(r("aic")))
      EXPECT_FALSE(std::isfinite(model.aic));
    else
      expectClose(model.aic, r("aic"), 1e-7, "aic");
    expectClose(model.dispersion, r("dispersion"), 1e-7, "dispersion");
    const std::size_t dispersion = model.statXML.find(" dispersion=\"");  // the StatXML carries it exactly
    ASSERT_NE(dispersion, std::string::npos);
    EXPECT_EQ(std::strtod(model.statXML.c_str() + dispersion + 13, nullptr), model.dispersion);
    EXPECT_EQ(model.dfResidual, r("df residual"));
    EXPECT_EQ(model.dfNull, r("df null"));
    EXPECT_EQ(model.converged, r("converged") == 1);
    EXPECT_EQ(model.iterations, r("iterations"));
    ASSERT_NO_FATAL_FAILURE(expectTermsAsR(model, values, c.title, 1e-8, 1e-7, 1e-6));
    ASSERT_EQ(model.fitted.size(), 32u);
    expectClose(model.fitted[0], r("response 1"), 1e-10, "fitted mean of car 1");
    expectClose(model.fitted[19], r("response 20"), 1e-10, "fitted mean of car 20");
    EXPECT_VALID_PMML(model.pmml);
    static const std::map<std::string, std::string> distributions = {
        {"gaussian", "normal"}, {"binomial", "binomial"}, {"quasibinomial", "binomial"}, {"poisson", "poisson"},
        {"quasipoisson", "poisson"}, {"Gamma", "gamma"}, {"inverse.gaussian", "igauss"}};
    EXPECT_NE(model.pmml.find("distribution=\"" + distributions.at(c.family) + "\""), std::string::npos);
    // The covariance of the coefficients, and the group's PMML scoring cars 1
    // and 20 on both scales with car 1's standard errors.
    expectClose(model.covariance[1], r("vcov 1 2"), 1e-7, "vcov[1, 2]");
    for (const bool link : {false, true}) {
      splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
      scorer.bind(fieldNames(data));
      scorer.setLinkScale(link);
      scorer.computeStandardErrors(!link);
      for (const std::size_t car : {0u, 19u}) {
        const splitmodels::ScoreResult result = scorer.score(recordTexts(data, car));
        const std::string scale = link ? "link" : "response";
        expectClose(std::stod(result.predicted), r(scale + " " + std::to_string(car + 1)), 1e-10,
                    scale + " of car " + std::to_string(car + 1));
        if (link || car != 0) continue;
        expectClose(result.linkStdError, r("se link 1"), 1e-8, "se.fit, link");
        expectClose(result.meanStdError, r("se response 1"), 1e-8, "se.fit, response");
        // The mean's interval holds it, whichever way the link turns.
        EXPECT_TRUE(result.meanLow < result.mean && result.mean < result.meanHigh) << result.meanLow << " " << result.meanHigh;
      }
    }
  }
}

// Without residual degrees of freedom R's vcov keeps a Poisson fit's matrix
// (dispersion 1) and gives NaN where the dispersion is estimated:
//   d <- data.frame(y = c(2, 5), x = 1:2); g <- glm(y ~ x, poisson, d)
//   vcov(g)[1, 2]; predict(g, se.fit = TRUE, type = "response")$se.fit[1]; vcov(glm(y ~ x, Gamma, d))
TEST(GlmReference, SaturatedFitsKeepTheCovarianceWhereRDoes) {
  const GroupData data{{continuous("x"), continuous("y")}, {{number(1), number(2)}, {number(2), number(5)}}};
  const struct { const char* family; double covariance12, seResponse; } cases[] = {
      {"poisson", -1.1999993107170308, 1.4142130776593318}, {"Gamma", kNA, kNA}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family);
    const splitmodels::GroupModel model =
        splitmodels::buildGroupModel(data, glmRequest({c.family, c.family, "", "y", "x", "", ""}));
    ASSERT_TRUE(model.ok) << model.reason;
    expectClose(model.covariance[1], c.covariance12, 1e-7, "vcov");
    splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
    EXPECT_EQ(scorer.hasCovariance(), !std::isnan(c.seResponse));
    scorer.bind({"x", "y"});
    scorer.computeStandardErrors(true);
    const splitmodels::ScoreResult result = scorer.score({"1", "2"});
    expectClose(result.meanStdError, c.seResponse, 1e-8, "se.fit");
    EXPECT_NEAR(result.mean, 2.0, 1e-8) << "the fitted mean, with or without a covariance";
  }
}

// The mean's interval maps the link's Wald interval through the inverse
// link; an end past the link's domain leaves it missing, not one-sided:
//   g <- glm(y ~ x, inverse.gaussian, data.frame(x = 1:6, y = c(1.2, .9, 1.5, 2.2, 1.4, 3.1)))
//   p <- predict(g, data.frame(x = 6), se.fit = TRUE)          # eta 0.114, se 0.080
//   g$family$linkinv(p$fit + c(-1, 1) * qnorm(.975) * p$se.fit)  # NaN 1.917747
TEST(GlmReference, AMeanIntervalPastTheLinksDomainIsMissing) {
  GroupData data{{continuous("x"), continuous("y")}, {}};
  for (const double y : {1.2, 0.9, 1.5, 2.2, 1.4, 3.1}) data.rows.push_back({number(data.rows.size() + 1.0), number(y)});
  const splitmodels::GroupModel model =
      splitmodels::buildGroupModel(data, glmRequest({"ig", "inverse.gaussian", "", "y", "x", "", ""}));
  ASSERT_TRUE(model.ok) << model.reason;
  splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
  scorer.bind({"x", "y"});
  scorer.computeStandardErrors(true);
  const splitmodels::ScoreResult result = scorer.score({"6", "3.1"});
  EXPECT_TRUE(std::isnan(result.meanLow) && std::isnan(result.meanHigh)) << result.meanLow << " " << result.meanHigh;
}

// Warnings and failures as R's glm gives them:
//   x <- 1:6; glm(c(0,0,0,1,1,1) ~ x, binomial)            # 25 iterations, converged
//   glm(am ~ wt, binomial, mtcars, control = glm.control(maxit = 3))
//   glm(c(0,0,1,2,5,9) ~ x, poisson("identity"))           # stops
//   glm(rep(1,6) ~ x, binomial, weights = rep(1e6,6))       # 17 iterations, fitted 1s only
//   glm(c(0,0,1,2,5,9) ~ x, poisson("sqrt"))               # stops
//   glm(c(0,0,0,1,1,1) ~ x, gaussian("log"))               # stops (R: no valid starting values)
//   glm(c(.02,.33,.35,.17,.12,8.39,2.42,13.68) ~ I(1:8), Gamma("identity"))
//                                  # 6 iterations, a diverging step halved, warned
//   glm(c(0,0,0,0,0,0,0,50) ~ I(1:8), poisson)              # 25 iterations, rates 0
//   glm(c(0,10,1,4,0,0) ~ x, poisson("identity"))           # 19 iterations, steps out of
//                                  # bounds halved, stopped at the boundary
//   glm(x - 2 ~ x, poisson); glm(x - 2 ~ x, quasipoisson)    # stop: negative values
//   glm(c(0,0,1,2,5,9) ~ x, Gamma); ... inverse.gaussian)   # stop: non-positive values
TEST(GlmReference, WarnsAndFailsAsR) {
  GroupData steps{{continuous("x"), continuous("y"), continuous("count"), continuous("one"), continuous("w"),
                   continuous("neg"), continuous("jumpy")},
                  {}};
  const double counts[] = {0, 0, 1, 2, 5, 9}, jumpy[] = {0, 10, 1, 4, 0, 0};
  for (int i = 1; i <= 6; ++i)
    steps.rows.push_back({number(i), number(i > 3 ? 1 : 0), number(counts[i - 1]), number(1), number(1e6),
                          number(i - 2), number(jumpy[i - 1])});
  GroupData diverging{{continuous("x"), continuous("y"), continuous("rare")}, {}};
  const double amounts[] = {0.02, 0.33, 0.35, 0.17, 0.12, 8.39, 2.42, 13.68};
  for (int i = 1; i <= 8; ++i) diverging.rows.push_back({number(i), number(amounts[i - 1]), number(i == 8 ? 50 : 0)});
  // outcome: the failure reason, or the warnings in the order glm.fit gives them
  const struct {
    const char* title; GroupData data; const char *target, *inputs, *family, *link; int maxIterations;
    const char* outcome; int iterations; bool converged; const char* weights = "";
  } cases[] = {
      {"separated", steps, "y", "x", "binomial", "", 25, "glm.fit: fitted probabilities numerically 0 or 1 occurred", 25,
       true},
      {"too few iterations", mtcars(), "am", "wt", "binomial", "", 3, "glm.fit: algorithm did not converge", 3, false},
      {"no valid first step", steps, "count", "x", "poisson", "identity", 25,
       "no valid set of coefficients has been found: please supply starting values", 0, false},
      {"certain events under heavy weights", steps, "one", "x", "binomial", "", 25,
       "glm.fit: fitted probabilities numerically 0 or 1 occurred", 17, true, "w"},
      {"no valid first step under the square root", steps, "count", "x", "poisson", "sqrt", 25,
       "no valid set of coefficients has been found: please supply starting values", 0, false},
      {"zero response under a log link", steps, "y", "x", "gaussian", "log", 25,
       "cannot find valid starting values: the response holds values outside the link's range", 0, false},
      {"a diverging step halved", diverging, "y", "x", "Gamma", "identity", 25, "step size truncated due to divergence",
       6, true},
      {"rates near 0", diverging, "rare", "x", "poisson", "", 25,
       "glm.fit: algorithm did not converge; glm.fit: fitted rates numerically 0 occurred", 25, false},
      {"steps out of bounds", steps, "jumpy", "x", "poisson", "identity", 25,
       "step size truncated: out of bounds; glm.fit: algorithm stopped at boundary value", 19, true},
      {"negative counts", steps, "neg", "x", "poisson", "", 25, "negative values not allowed for the 'Poisson' family",
       0, false},
      {"negative counts, quasi", steps, "neg", "x", "quasipoisson", "", 25,
       "negative values not allowed for the 'quasiPoisson' family", 0, false},
      {"a zero amount", steps, "count", "x", "Gamma", "", 25, "non-positive values not allowed for the 'Gamma' family",
       0, false},
      {"a zero amount, inverse gaussian", steps, "count", "x", "inverse.gaussian", "", 25,
       "positive values only are allowed for the 'inverse.gaussian' family", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ModelSpec request = glmRequest({c.title, c.family, c.link, c.target, c.inputs, c.weights, ""});
    request.maxIterations = c.maxIterations;
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(c.data, request);
    if (c.iterations == 0) {
      EXPECT_FALSE(model.ok);
      EXPECT_EQ(model.reason, c.outcome);
      EXPECT_TRUE(model.pmml.empty());
      continue;
    }
    ASSERT_TRUE(model.ok) << model.reason;
    std::string warnings;
    for (const std::string& warning : model.warnings) warnings += (warnings.empty() ? "" : "; ") + warning;
    EXPECT_EQ(warnings, c.outcome);
    EXPECT_EQ(model.iterations, c.iterations);
    EXPECT_EQ(model.converged, c.converged);
  }
}

}  // namespace

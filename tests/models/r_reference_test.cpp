// Fits compared with R's lm and glm(family = binomial) on the same records:
// aliased inputs, missing values, zero residual degrees of freedom, fewer
// records than parameters, inputs at the ends of the double range, extreme
// log-odds, a rare event.
//
// The records come from a hash both R and C++ evaluate exactly,
// u(i, m) = ((i * m) mod 2^32) / 2^32, and the reference values were
// computed once with R 4.2 (lm / glm, then summary()$coefficients,
// sigma, r.squared, adj.r.squared, fstatistic with pf(lower.tail = FALSE),
// deviance, null.deviance, aic, iter) and pasted here with %.17g.
#include <cmath>
#include <cstdint>
#include <limits>

#include "model_test_support.h"

namespace {

using namespace modeltest;

constexpr double kNA = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint64_t kM1 = 2654435761u, kM2 = 2246822519u, kM3 = 3266489917u;

double u(int i, std::uint64_t m) { return static_cast<double>((static_cast<std::uint64_t>(i) * m) % 4294967296u) / 4294967296.0; }
double plogis(double eta) { return 1.0 / (1.0 + std::exp(-eta)); }

struct RTerm {
  const char* name;
  double estimate, stdError, statistic, pValue;
};

// The group summary values R reports: linear ones, or logistic ones in the
// first four places and the iteration count last.
struct RSummary {
  double dfResidual, a, b, c, d, e;
};

struct ReferenceCase {
  const char* title;
  ModelKind kind;
  GroupData data;  // the target last
  RSummary summary;
  std::vector<RTerm> terms;
  std::size_t skipped = 0;
  std::string warning;  // a warning the model must carry, when not empty
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

std::vector<ReferenceCase> referenceCases() {
  std::vector<ReferenceCase> cases;
  cases.push_back({"duplicated and constant inputs, a level the group lacks", ModelKind::Linear,
                   linearDuplicatedAndConstant(false),
                   {27, 0.89004097129003901, 0.88189585805226411, 0.27862128921233642, 109.2730015295876, 1.1392448715013231e-13},
                   {{"(Intercept)", 0.87526498270215347, 0.11408346276017055, 7.6721460019333394, 2.983294141689497e-08},
                    {"x1", 1.9893584762927399, 0.18123690640670992, 10.976563856306742, 1.8542312362747296e-11},
                    {"x2", kNA, kNA, kNA, kNA},
                    {"x3", kNA, kNA, kNA, kNA},
                    {"cb", 0.91072172587460687, 0.10211919642718179, 8.9182226039549377, 1.5596727754651163e-09}},
                   0, "aliased: x2, x3"});
  // R refuses a factor with one level; split-run aliases it as it does a
  // constant number, and the fit is R's fit without the input.
  cases.push_back({"a categorical input holding one level", ModelKind::Linear, linearDuplicatedAndConstant(true),
                   {28, 0.56613142512436443, 0.55063611887880604, 0.54347655520588933, 36.535671909462323, 1.6238227706962886e-06},
                   {{"(Intercept)", 1.2590788603167726, 0.20608864283104655, 6.1094043952192818, 1.3641144079515738e-06},
                    {"x1", 2.128864320822053, 0.35220006683965871, 6.044474494069962, 1.6238227706962857e-06},
                    {"x2", kNA, kNA, kNA, kNA},
                    {"x3", kNA, kNA, kNA, kNA},
                    {"c", kNA, kNA, kNA, kNA}},
                   0, "aliased: x2, x3, c"});
  cases.push_back({"zero residual degrees of freedom", ModelKind::Linear,
                   GroupData{{continuous("x1"), continuous("x2"), continuous("x3"), continuous("y")},
                             {{number(0.5), number(3), number(1), number(2)},
                              {number(1.5), number(1), number(0), number(1)},
                              {number(2), number(2.5), number(0), number(4)},
                              {number(4), number(0.5), number(1), number(3)}}},
                   {0, 1, kNA, kNA, kNA, kNA},
                   {{"(Intercept)", -2.6153846153846141, kNA, kNA, kNA},
                    {"x1", 1.3846153846153846, kNA, kNA, kNA},
                    {"x2", 1.5384615384615379, kNA, kNA, kNA},
                    {"x3", -0.69230769230769251, kNA, kNA, kNA}},
                   0, "no residual degrees of freedom"});
  // Three usable records for four parameters: R keeps the columns in order
  // and aliases the one beyond the records.
  cases.push_back({"fewer records than parameters", ModelKind::Linear,
                   GroupData{{continuous("a"), continuous("b"), continuous("c"), continuous("y")},
                             {{number(1), number(2), number(4), number(1)},
                              {number(2), number(1), number(3), number(2)},
                              {number(3), number(5), number(1), number(4)},
                              {missing(), number(5), number(1), number(4)}}},
                   {0, 1, kNA, kNA, kNA, kNA},
                   {{"(Intercept)", -0.59999999999999987, kNA, kNA, kNA},
                    {"a", 1.19999999999999996, kNA, kNA, kNA},
                    {"b", 0.20000000000000009, kNA, kNA, kNA},
                    {"c", kNA, kNA, kNA, kNA}},
                   1, "aliased: c"});
  cases.push_back({"missing target and input skipped", ModelKind::Linear, linearWithMissing(),
                   {15, 0.38651487780721755, 0.34561586966103208, 0.30204847357909625, 9.4504706917511498, 0.007713651751598289},
                   {{"(Intercept)", 3.4656973833514169, 0.15821008158682542, 21.905667126841397, 8.4067547405676603e-13},
                    {"x1", -0.92781039521510444, 0.30180922786263165, -3.0741617868536379, 0.007713651751598289}},
                   3, ""});
  // R's own summary overflows on these inputs; its fit on the unscaled
  // u(i, M1) and u(i, M2), with x1's and x2's rows rescaled, is the reference.
  cases.push_back({"inputs near the ends of the double range", ModelKind::Linear, linearExtremeScales(),
                   {22, 0.95862241007543381, 0.95486081099138231, 0.25080242778033229, 254.84438629832417, 6.0871934401097075e-16},
                   {{"(Intercept)", 1.3895217553270203, 0.12588980386815304, 11.037603623422074, 1.9452624621114433e-10},
                    {"x1", 2.686872610542399e-300, 0.18232606535050591e-300, 14.736634640675875, 7.0119794803006241e-13},
                    {"x2", 2.5379277301489092e300, 0.17457069709867359e300, 14.538108470257077, 9.2015416697270315e-13}},
                   0, ""});
  cases.push_back({"overlap with extreme log-odds", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -20 + 5 * x1 + 0.6 * x2; }, false),
                   {2997, 385.94196959842247, 4039.6863079592235, 391.94196959842236, 0, 10},
                   {{"(Intercept)", -20.295497650937723, 1.4566245844013817, -13.933238439249887, 3.9789678528054318e-44},
                    {"x1", 5.0782139501392489, 0.36398867910236832, 13.95157113859316, 3.077503886562565e-44},
                    {"x2", 0.60988626155613179, 0.0638743724490686, 9.5482153197267934, 1.3194967333250646e-21}},
                   0, "fitted probabilities numerically 0 or 1 occurred"});
  cases.push_back({"rare event (28 of 3000)", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -5.5 + 0.15 * x1 + 0.2 * x2; }, false),
                   {2997, 308.380799610785, 317.49098103267897, 314.380799610785, 0, 8},
                   {{"(Intercept)", -5.5535737805295318, 0.47205029245650992, -11.764792585190875, 5.9271833863546848e-32},
                    {"x1", 0.14448110951670487, 0.069183624577317096, 2.0883714954141794, 0.036764336697359894},
                    {"x2", 0.14152622778615756, 0.069100893482277492, 2.0481099542143433, 0.040549226773132684}},
                   0, ""});
  cases.push_back({"aliased input", ModelKind::Logistic,
                   logistic(500, [](double x1, double) { return 0.3 + 3 * x1; }, true),
                   {498, 609.10976807456939, 686.86200165890546, 613.10976807456939, 0, 4},
                   {{"(Intercept)", 0.26602493164463697, 0.098013116091006422, 2.714176859734053, 0.0066440684664633353},
                    {"x1", 2.9669812051634441, 0.36284024807277721, 8.1771005860638084, 2.9075528772403218e-16},
                    {"x3", kNA, kNA, kNA, kNA}},
                   0, "aliased: x3"});
  return cases;
}

// |actual − expected| within `relative` of |expected|; NaN only against NaN.
void expectClose(double actual, double expected, double relative, const std::string& what) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << what << " = " << actual << ", R reports NA";
    return;
  }
  EXPECT_NEAR(actual, expected, relative * std::fabs(expected) + 1e-300) << what;
}

TEST(ReferenceFits, AgreeWithR) {
  for (const ReferenceCase& c : referenceCases()) {
    SCOPED_TRACE(c.title);
    std::vector<std::string> inputs;
    for (std::size_t k = 0; k + 1 < c.data.fields.size(); ++k) inputs.push_back(c.data.fields[k].name);
    const auto model = splitmodels::buildGroupModel(c.data, modelRequest(c.kind, c.data.fields.back().name, inputs));
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(model.skippedRecords, c.skipped);
    const bool linear = c.kind == ModelKind::Linear;
    // lm: estimates to 1e-8, standard errors, statistics and sigma to 1e-7,
    // p values to 1e-6; glm: estimates to 1e-6, the rest to 1e-5.
    const double estimateTolerance = linear ? 1e-8 : 1e-6, errorTolerance = linear ? 1e-7 : 1e-5,
                 pTolerance = linear ? 1e-6 : 1e-5;
    ASSERT_EQ(model.terms.size(), c.terms.size());
    for (std::size_t j = 0; j < c.terms.size(); ++j) {
      const splitmodels::Term& term = model.terms[j];
      const RTerm& r = c.terms[j];
      EXPECT_EQ(term.name, r.name);
      expectClose(term.estimate, r.estimate, estimateTolerance, term.name + " estimate");
      expectClose(term.stdError, r.stdError, errorTolerance, term.name + " standard error");
      expectClose(term.statistic, r.statistic, errorTolerance, term.name + " statistic");
      expectClose(term.pValue, r.pValue, pTolerance, term.name + " p value");
    }
    EXPECT_EQ(model.dfResidual, c.summary.dfResidual);
    if (linear) {
      expectClose(model.rSquared, c.summary.a, 1e-8, "R squared");
      expectClose(model.adjustedRSquared, c.summary.b, 1e-8, "adjusted R squared");
      expectClose(model.sigma, c.summary.c, 1e-7, "sigma");
      expectClose(model.fStatistic, c.summary.d, 1e-7, "F");
      expectClose(model.fPValue, c.summary.e, 1e-6, "F p value");
    } else {
      expectClose(model.deviance, c.summary.a, 1e-8, "deviance");
      expectClose(model.nullDeviance, c.summary.b, 1e-8, "null deviance");
      expectClose(model.aic, c.summary.c, 1e-8, "AIC");
      EXPECT_EQ(model.iterations, static_cast<int>(c.summary.e));
    }
    std::string warnings;
    for (const std::string& w : model.warnings) warnings += w + "\n";
    if (c.warning.empty()) {
      EXPECT_EQ(warnings, "");
    } else {
      EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
    }
  }
}

}  // namespace

// Fits compared with R's lm and glm(family = binomial) on the same records:
// aliased inputs, missing values, zero residual degrees of freedom, fewer
// records than parameters, inputs at the ends of the double range, extreme
// log-odds, a rare event, an input that is zero in every record, inputs
// collinear just within and just beyond the aliasing tolerances, a requested
// reference level the group lacks.
//
// The records come from a hash both R and C++ evaluate exactly,
// u(i, m) = ((i * m) mod 2^32) / 2^32, and the reference values were
// computed once with R 4.2 (lm / glm, then summary()$coefficients,
// sigma, r.squared, adj.r.squared, fstatistic with pf(lower.tail = FALSE),
// deviance, null.deviance, aic, iter, df.null, logLik) and pasted here with
// %.17g. R has no AUC of its own; it was computed from glm's fitted values p
// and 0/1 target y as
//   (sum(rank(p)[y == 1]) - n1 * (n1 + 1) / 2) / (n1 * n0)
// and the accuracy as mean((p > 0.5) == (y == 1)).
#include <pugixml.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>

#include "model_test_support.h"

namespace {

using namespace modeltest;

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

// What R reports of a logistic fit besides RSummary.
struct RClassification {
  double dfNull, logLikelihood, auc, accuracy;
};

struct ReferenceCase {
  const char* title;
  ModelKind kind;
  GroupData data;  // the target last
  RSummary summary;
  std::vector<RTerm> terms;
  std::size_t skipped = 0;
  std::string warning;  // a warning the model must carry, when not empty
  std::optional<RClassification> classification = std::nullopt;
  std::map<std::string, std::string> references = {};
  // Widens the tolerances for inputs so nearly collinear that the estimates
  // keep only a few digits in any least-squares solver.
  double looseness = 1.0;
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
// x181 are estimable. R:
//   u <- function(i, m) ((i * m) %% 2^32) / 2^32; i <- 1:12
//   ms <- c(2654435761, 3266489917, 668265263, 374761393)
//   X <- sapply(1:240, function(k) ((k - 1) %% 60 + 1) * u(i, ms[(k - 1) %/% 60 + 1]))
//   colnames(X) <- paste0("x", 1:240)
//   d <- data.frame(X, y = 1 + 2 * X[, 1] - X[, 61] + 0.5 * X[, 181] + u(i, 2246822519) - 0.5)
//   summary(lm(y ~ ., d)); vcov(lm(y ~ ., d), complete = FALSE)
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

// The terms of wideMultiples as R reports them: every input but the
// estimable ones is NA.
std::vector<RTerm> wideMultiplesTerms() {
  static std::vector<std::string> names;
  if (names.empty())
    for (int k = 1; k <= 240; ++k) names.push_back("x" + std::to_string(k));
  const std::map<int, RTerm> estimated = {
      {1, {"x1", 2.199303542914639, 0.3353405550823062, 6.558418030813006, 0.00031633013933805854}},
      {61, {"x61", -0.6103450945416643, 0.32870074060874088, -1.8568412514414452, 0.10570046722060696}},
      {121, {"x121", -0.12775049179253675, 0.30369415978499881, -0.42065508234658872, 0.68662020377332467}},
      {181, {"x181", 0.6993779875588596, 0.28202301384683781, 2.4798614057031552, 0.042218684176774463}}};
  std::vector<RTerm> terms = {{"(Intercept)", 0.59330259883075109, 0.33272449580165619, 1.7831647694025834, 0.11774887866464714}};
  for (int k = 1; k <= 240; ++k) {
    const auto found = estimated.find(k);
    terms.push_back(found != estimated.end() ? found->second : RTerm{names[static_cast<std::size_t>(k - 1)].c_str(), kNA, kNA, kNA, kNA});
  }
  return terms;
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
  cases.push_back({"many more inputs than records", ModelKind::Linear, wideMultiples(),
                   {7, 0.91792027434799672, 0.87101757397542345, 0.27976900690337869, 19.570734031440896, 0.00066740326984981698},
                   wideMultiplesTerms(), 0, "aliased: x2, x3, x4"});
  cases.push_back({"missing and non-finite values skipped", ModelKind::Linear, linearWithMissing(),
                   {15, 0.38651487780721755, 0.34561586966103208, 0.30204847357909625, 9.4504706917511498, 0.007713651751598289},
                   {{"(Intercept)", 3.4656973833514169, 0.15821008158682542, 21.905667126841397, 8.4067547405676603e-13},
                    {"x1", -0.92781039521510444, 0.30180922786263165, -3.0741617868536379, 0.007713651751598289}},
                   5, ""});
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
                   0, "fitted probabilities numerically 0 or 1 occurred",
                   RClassification{2999, -192.97098479921118, 0.9973889457504086, 0.97233333333333338}});
  // Fitted probabilities from 2e-10 to within 1e-9 of 1: close to the ends,
  // but not numerically 0 or 1, so glm gives no warning.
  cases.push_back({"strong effect, fitted probabilities near 0 and 1", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -20 + 4 * x1 + 0.6 * x2; }, false),
                   {2997, 491.95723252495156, 4158.8777500247588, 497.95723252495151, 0, 9},
                   {{"(Intercept)", -20.093436610828267, 1.2924076804865898, -15.547289693653873, 1.6598277362299957e-54},
                    {"x1", 4.0101586288413724, 0.25667224123715804, 15.623655326000357, 5.0240892050356659e-55},
                    {"x2", 0.55316785780057298, 0.052220821314710751, 10.592860163322326, 3.2161211373887538e-26}},
                   0, "", RClassification{2999, -245.97861626247575, 0.99590843717055499, 0.96633333333333338}});
  cases.push_back({"rare event (28 of 3000)", ModelKind::Logistic,
                   logistic(3000, [](double x1, double x2) { return -5.5 + 0.15 * x1 + 0.2 * x2; }, false),
                   {2997, 308.380799610785, 317.49098103267897, 314.380799610785, 0, 8},
                   {{"(Intercept)", -5.5535737805295318, 0.47205029245650992, -11.764792585190875, 5.9271833863546848e-32},
                    {"x1", 0.14448110951670487, 0.069183624577317096, 2.0883714954141794, 0.036764336697359894},
                    {"x2", 0.14152622778615756, 0.069100893482277492, 2.0481099542143433, 0.040549226773132684}},
                   0, "", RClassification{2999, -154.1903998053925, 0.66129109786579499, 0.9906666666666667}});
  cases.push_back({"aliased input", ModelKind::Logistic,
                   logistic(500, [](double x1, double) { return 0.3 + 3 * x1; }, true),
                   {498, 609.10976807456939, 686.86200165890546, 613.10976807456939, 0, 4},
                   {{"(Intercept)", 0.26602493164463697, 0.098013116091006422, 2.714176859734053, 0.0066440684664633353},
                    {"x1", 2.9669812051634441, 0.36284024807277721, 8.1771005860638084, 2.9075528772403218e-16},
                    {"x3", kNA, kNA, kNA, kNA}},
                   0, "aliased: x3",
                   RClassification{499, -304.55488403728469, 0.72352388359582609, 0.66800000000000004}});
  // d <- mtcars; d$z <- 0; glm(vs ~ mpg + z + wt, binomial, d); lm(mpg ~ wt + z + hp, d)
  cases.push_back({"an input zero in every record, between two others", ModelKind::Logistic,
                   mtcarsColumns({"mpg", "z", "wt", "vs"}),
                   {29, 25.297875541139433, 43.860109265693325, 31.297875541139433, 0, 6},
                   {{"(Intercept)", -12.541221842857743, 8.466032902642505, -1.4813575599196229, 0.13851131765047223},
                    {"mpg", 0.52406398793043607, 0.26041877622755016, 2.0123894118622099, 0.044178903750341822},
                    {"z", kNA, kNA, kNA, kNA},
                    {"wt", 0.58285979243581643, 1.1844649939465937, 0.49208697210522795, 0.62265786164959214}},
                   0, "aliased: z",
                   RClassification{31, -12.648937770569717, 0.91269841269841268, 0.84375}});
  cases.push_back({"a linear input zero in every record", ModelKind::Linear, mtcarsColumns({"wt", "z", "hp", "mpg"}),
                   {29, 0.82678545188279118, 0.8148396209781561, 2.5934117772265668, 69.211213391777648, 9.1090543852220887e-12},
                   {{"(Intercept)", 37.227270116447201, 1.5987875379993941, 23.284688697930861, 2.5654585119837577e-20},
                    {"wt", -3.8778307424046821, 0.63273349437739534, -6.1286952198104139, 1.1196471362000422e-06},
                    {"z", kNA, kNA, kNA, kNA},
                    {"hp", -0.031772946982161002, 0.0090297096758557224, -3.5187119102087809, 0.0014512285315694238}},
                   0, "aliased: z"});
  // d$z <- 0; summary(lm(mpg ~ z, d)): only the intercept estimated, nothing
  // explained (R squared 0, no F statistic).
  cases.push_back({"the only input zero in every record", ModelKind::Linear, mtcarsColumns({"z", "mpg"}),
                   {31, 0, 0, 6.0269480520891037, kNA, kNA},
                   {{"(Intercept)", 20.090624999999996, 1.0654239593728145, 18.856929979148195, 1.5261508267114787e-18},
                    {"z", kNA, kNA, kNA, kNA}},
                   0, "aliased: z"});
  // i <- 1:20; x1 <- u(i, M1); v <- u(i, M2) - 0.5; y <- 1 + 2 * x1 + u(i, M3) - 0.5
  // x2 <- x1 + delta * v; lm(y ~ x1 + x2). What is left of x2 beside x1 is
  // 9.7e-8 of its norm at delta = 2e-7 (aliased at lm's 1e-7), 2.9e-7 at 6e-7.
  cases.push_back({"collinear just within lm's tolerance", ModelKind::Linear, nearlyCollinear(20, 2e-7, false),
                   {18, 0.75295921183027914, 0.73923472359862796, 0.26233690938311804, 54.86246183619572, 7.2098682320167147e-07},
                   {{"(Intercept)", 1.1909015608887952, 0.11977358979996222, 9.9429395318096319, 9.7524078983851147e-09},
                    {"x1", 1.5805870855567987, 0.21339330181640717, 7.4069198616021046, 7.2098682320166882e-07},
                    {"x2", kNA, kNA, kNA, kNA}},
                   0, "aliased: x2"});
  cases.push_back({"collinear just beyond lm's tolerance", ModelKind::Linear, nearlyCollinear(20, 6e-7, false),
                   {17, 0.79780815350573731, 0.77402087744758874, 0.24421294266535007, 33.53928173850074, 1.2560037227146229e-06},
                   {{"(Intercept)", 1.1821490379587933, 0.11158990395668594, 10.593691687535184, 6.6052690469517195e-09},
                    {"x1", -648688.70333371148, 334055.51962675358, -1.9418589582309653, 0.068913161836116052},
                    {"x2", 648690.30748868606, 334055.5317634315, 1.9418636897414705, 0.068912548761476816}},
                   0, "", std::nullopt, {}, 1e3});
  // The same over 60 records with yb <- as.numeric(u(i, M3) < plogis(-1 + 3 * x1)),
  // glm(yb ~ x1 + x2, binomial): what is left of x2 in the last weighted
  // least-squares step, w <- sqrt(f$weights); X <- cbind(1, x1, x2) * w;
  // sqrt(sum(qr.resid(qr(X[, 1:2]), X[, 3])^2)) / sqrt(sum(X[, 3]^2)),
  // is 1.1e-12 at delta = 2e-12 (aliased at glm's 1e-11) and 6.3e-11 at 1.2e-10.
  cases.push_back({"collinear within glm's tolerance", ModelKind::Logistic, nearlyCollinear(60, 2e-12, true),
                   {58, 67.310632374561649, 82.10781181563604, 71.310632374561649, 0, 3},
                   {{"(Intercept)", -1.6282057000110999, 0.61374103910265421, -2.6529197108795044, 0.007979884979926407},
                    {"x1", 3.956799861923384, 1.1656673115729674, 3.3944503913247974, 0.0006876649741781155},
                    {"x2", kNA, kNA, kNA, kNA}},
                   0, "aliased: x2",
                   RClassification{59, -33.655316187280825, 0.77941176470588236, 0.6333333333333333}});
  cases.push_back({"collinear beyond glm's tolerance", ModelKind::Logistic, nearlyCollinear(60, 1.2e-10, true),
                   {57, 65.626794905259572, 82.10781181563604, 71.626794905259572, 0, 14},
                   {{"(Intercept)", -1.7617320922900934, 0.64353571306459079, -2.7375824783686418, 0.0061892597990886875},
                    {"x1", 11548206367.848194, 9024199141.1841469, 1.2796932101315364, 0.2006530535149641},
                    {"x2", -11548206363.652029, 9024199140.9024162, -1.2796932097064972, 0.20065305366450686}},
                   0, "",
                   RClassification{59, -32.813397452629786, 0.79072398190045246, 0.71666666666666667}, {}, 1e3});
  // i <- 1:24; x1 <- u(i, M1); c from p, q, r (or p, r); y as in referenceLevels;
  // lm(y ~ x1 + relevel(factor(c), "q")), and without q lm(y ~ x1 + factor(c)):
  // a requested level the group lacks falls back to the first level it holds.
  cases.push_back({"requested reference level held", ModelKind::Linear, referenceLevels(true),
                   {20, 0.77516766049666486, 0.7414428095711646, 0.3023092502123863, 22.985058175914411, 1.0892452158351543e-06},
                   {{"(Intercept)", 0.65551668923360451, 0.1510445815252727, 4.3398888104034627, 0.00031782884254496932},
                    {"x1", 1.1253513487934035, 0.22124544658092477, 5.0864384609234641, 5.6363090428801229e-05},
                    {"cp", 0.33233574625819767, 0.15313904449359655, 2.170156849007205, 0.042212616272646455},
                    {"cr", 0.99900233242868675, 0.15116248206631899, 6.6087981539652008, 1.9486947079040658e-06}},
                   0, "", std::nullopt, {{"c", "q"}}});
  cases.push_back({"requested reference level the group lacks", ModelKind::Linear, referenceLevels(false),
                   {21, 0.91960729208407355, 0.91195084371112811, 0.21221153370615412, 120.10886083077033, 3.1972375423377897e-12},
                   {{"(Intercept)", 0.69595273159880422, 0.10206635934363602, 6.8186299195377131, 9.6484275432320124e-07},
                    {"x1", 1.1959539756824387, 0.15275338892440349, 7.8293122273988134, 1.1616572804429783e-07},
                    {"cr", 1.2003372643918708, 0.086797000618019107, 13.829248198038311, 5.1012492899885445e-12}},
                   0, "", std::nullopt, {{"c", "q"}}});
  return cases;
}

TEST(ReferenceFits, AgreeWithR) {
  for (const ReferenceCase& c : referenceCases()) {
    SCOPED_TRACE(c.title);
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
      ASSERT_TRUE(viaGlm.ok && viaGlm.terms.size() == c.terms.size()) << viaGlm.reason;
      for (std::size_t j = 0; j < c.terms.size(); ++j)
        expectClose(viaGlm.terms[j].estimate, c.terms[j].estimate, estimateTolerance, std::string("glm ") + c.terms[j].name);
    }
    if (linear) {
      expectClose(model.rSquared, c.summary.a, 1e-8, "R squared");
      expectClose(model.adjustedRSquared, c.summary.b, 1e-8, "adjusted R squared");
      expectClose(model.sigma, c.summary.c, 1e-7, "sigma");
      expectClose(model.fStatistic, c.summary.d, 1e-7, "F");
      expectClose(model.fPValue, c.summary.e, 1e-6, "F p value");
    } else {
      expectClose(model.deviance, c.summary.a, 1e-8 * c.looseness, "deviance");
      expectClose(model.nullDeviance, c.summary.b, 1e-8, "null deviance");
      expectClose(model.aic, c.summary.c, 1e-8 * c.looseness, "AIC");
      // On nearly collinear inputs the deviance settles within glm's
      // criterion only after rounding noise dies down: more iterations here.
      if (c.looseness == 1.0) { EXPECT_EQ(model.iterations, static_cast<int>(c.summary.e)); }
      ASSERT_TRUE(c.classification.has_value());
      EXPECT_EQ(model.dfNull, c.classification->dfNull);
      expectClose(model.logLikelihood, c.classification->logLikelihood, 1e-8 * c.looseness, "log-likelihood");
      expectClose(model.auc, c.classification->auc, 1e-12, "AUC");
      expectClose(model.accuracy, c.classification->accuracy, 1e-12, "accuracy");
    }
    // The group's StatXML carries every summary figure exactly, and its PMML
    // one predictor per estimated term besides the intercept.
    pugi::xml_document statXml;
    ASSERT_TRUE(statXml.load_string(model.statXML.c_str()));
    const pugi::xml_node summary = statXml.child("StatXML").child("PMMLModel").child("PredictiveSummary");
    const std::vector<std::pair<const char*, double>> figures =
        linear ? std::vector<std::pair<const char*, double>>{{"rSquared", model.rSquared},
                                                              {"adjustedRSquared", model.adjustedRSquared},
                                                              {"sigma", model.sigma},
                                                              {"fStatistic", model.fStatistic},
                                                              {"fPValue", model.fPValue}}
               : std::vector<std::pair<const char*, double>>{{"deviance", model.deviance},
                                                              {"nullDeviance", model.nullDeviance},
                                                              {"dfNull", model.dfNull},
                                                              {"aic", model.aic},
                                                              {"accuracy", model.accuracy},
                                                              {"logLikelihood", model.logLikelihood},
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

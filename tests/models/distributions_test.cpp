// Distribution functions against R (tests/data/r/distributions.tsv, written
// by reference.R there, a case per R expression and a quantity per set of
// arguments): tail probabilities of t, F and the normal distribution across
// small and huge degrees of freedom, p values near 1 and far out in the
// tails; the quantiles of t and of the probit link; the log densities
// behind a glm's AIC where the direct formulas lose precision or overflow;
// and every link, its inverse and the inverse's derivative where R holds
// them inside their ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "distributions.h"
#include "glm_family.h"
#include "model_test_support.h"

namespace {

using Arguments = std::vector<double>;

TEST(Distributions, AgreeWithR) {
  using namespace splitmodels::detail;
  // Each R expression, the function that computes it here, and the relative tolerance.
  std::map<std::string, std::pair<std::function<double(const Arguments&)>, double>> functions = {
      {"2 * pt(-|t|, df)", {[](const Arguments& a) { return studentTwoSided(a[0], a[1]); }, 1e-9}},
      {"pf(f, df1, df2, lower.tail = FALSE)", {[](const Arguments& a) { return fUpperTail(a[0], a[1], a[2]); }, 1e-9}},
      {"2 * pnorm(-|z|)", {[](const Arguments& a) { return normalTwoSided(a[0]); }, 1e-9}},
      {"qnorm(p)", {[](const Arguments& a) { return linkFunction(LinkKind::Probit, a[0]); }, 1e-9}},
      {"qt(p, df)", {[](const Arguments& a) { return splitmodels::studentQuantile(a[0], a[1]); }, 1e-8}},
      {"dbinom(x, n, p, log = TRUE)", {[](const Arguments& a) { return logBinomialDensity(a[0], a[1], a[2]); }, 1e-13}},
      {"dpois(x, lambda, log = TRUE)", {[](const Arguments& a) { return logPoissonDensity(a[0], a[1]); }, 1e-13}},
      {"dgamma(x, shape, scale, log = TRUE)", {[](const Arguments& a) { return logGammaDensity(a[0], a[1], a[2]); }, 1e-13}},
  };
  // Every link: g(mu), its inverse and the inverse's derivative, at and
  // around where they are held inside their ranges.
  for (const char* name : {"identity", "log", "inverse", "1/mu^2", "sqrt", "logit", "probit", "cauchit", "cloglog"}) {
    const LinkKind link = *linkFromName(name);
    const std::string r = std::string("make.link(\"") + name + "\")";
    functions[r + "$linkfun(mu)"] = {[link](const Arguments& a) { return linkFunction(link, a[0]); }, 1e-13};
    functions[r + "$linkinv(eta)"] = {[link](const Arguments& a) { return inverseLink(link, a[0]); }, 1e-13};
    functions["1 - " + r + "$linkinv(eta)"] = {[link](const Arguments& a) { return 1 - inverseLink(link, a[0]); }, 1e-12};
    functions[r + "$mu.eta(eta)"] = {[link](const Arguments& a) { return inverseLinkDerivative(link, a[0]); }, 1e-12};
  }
  const modeltest::RValues values("distributions");
  std::size_t compared = 0;
  for (const auto& [expression, function] : functions)
    for (const std::string& arguments : values.quantities(expression)) {
      Arguments a;
      std::istringstream words(arguments);
      for (std::string word; words >> word;) a.push_back(std::strtod(word.c_str(), nullptr));  // "Inf" too
      const double expected = values(expression, arguments);
      EXPECT_NEAR(function.first(a), expected, function.second * std::fabs(expected)) << expression << " at " << arguments;
      ++compared;
    }
  EXPECT_EQ(compared, 144u);
  EXPECT_TRUE(std::isnan(splitmodels::studentQuantile(0.5, 0)));
  EXPECT_TRUE(std::isnan(splitmodels::confidenceInterval(1, NAN, 10, 0.95).low));  // no standard error
}

}  // namespace

// Tail probabilities of t, F and the normal distribution against R's pt, pf
// and pnorm (values computed once with R 4.2: 2 * pt(-|t|, df),
// pf(f, df1, df2, lower.tail = FALSE), 2 * pnorm(-|z|)), across small and
// huge degrees of freedom, p values near 1 and far out in the tails; and the
// probit link's normal quantile against qnorm(p).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "distributions.h"
#include "glm_family.h"

namespace {

struct TailCase {
  const char* kind;  // "t", "F", "z" or "q" (the probit link of value)
  double value, df1, df2, expected;
};

TEST(Distributions, TailProbabilitiesAgreeWithR) {
  const TailCase cases[] = {
      {"t", 2.5, 3, 0, 0.087706647008065505},
      {"t", 0.1, 1, 0, 0.93654896513889285},
      {"t", 40, 5, 0, 1.8411962171772952e-07},
      {"t", -3, 1000000, 0, 0.0026998625414217923},
      {"t", 1e-08, 7, 0, 0.999999992300171},
      {"t", 8, 2997, 0, 1.7609696376157795e-15},
      {"t", 37, 30, 0, 1.3605806291419899e-26},
      {"F", 3.2, 2, 27, 0.056602226408500836},
      {"F", 0.01, 5, 3, 0.99993031374509678},
      {"F", 500, 1, 100000, 1.7765805694834528e-110},
      {"F", 10000, 6, 8, 4.7372025603386715e-15},
      {"F", 1, 1, 1, 0.50000000000000044},
      {"z", 0.5, 0, 0, 0.61707507745197387},
      {"z", 8, 0, 0, 1.244192114854357e-15},
      {"z", 30, 0, 0, 9.8134278542963744e-198},
      {"q", 0.975, 0, 0, 1.9599639845400536},
      {"q", 1e-10, 0, 0, -6.3613409024040557},
      {"q", 0.3, 0, 0, -0.52440051270804067},
  };
  using namespace splitmodels::detail;
  for (const TailCase& c : cases) {
    const std::string kind = c.kind;
    const double p = kind == "t"   ? studentTwoSided(c.value, c.df1)
                     : kind == "F" ? fUpperTail(c.value, c.df1, c.df2)
                     : kind == "z" ? normalTwoSided(c.value)
                                   : linkFunction(LinkKind::Probit, c.value);
    EXPECT_NEAR(p, c.expected, 1e-9 * std::fabs(c.expected)) << kind << " " << c.value << " " << c.df1 << " " << c.df2;
  }
}

}  // namespace

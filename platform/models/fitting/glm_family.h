// Error distributions and link functions of generalised linear models, with
// the definitions R's glm uses: the same clamping of the inverse links, the
// same variance and deviance functions, the same start values and AIC.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace splitmodels::detail {

enum class LinkKind { Identity, Log, Inverse, InverseSquare, Sqrt, Logit, Probit, Cauchit, Cloglog };

// The link's name as R writes it ("identity", "1/mu^2", ...).
std::string linkName(LinkKind link);
std::optional<LinkKind> linkFromName(const std::string& name);

// η = g(μ).
double linkFunction(LinkKind link, double mu);
// μ = g⁻¹(η), held inside (0, 1) or above 0 where R holds it.
double inverseLink(LinkKind link, double eta);
// dμ/dη at η.
double inverseLinkDerivative(LinkKind link, double eta);
// Whether η lies where the inverse link is defined (η ≠ 0 for the inverse
// link, η > 0 for sqrt and 1/mu^2).
bool validEta(LinkKind link, double eta);
// The same over n values at once, the link chosen once per call rather than
// once per record.
void inverseLinks(LinkKind link, const double* eta, double* mu, std::size_t n);
void inverseLinkDerivatives(LinkKind link, const double* eta, double* out, std::size_t n);
bool validEtas(LinkKind link, const double* eta, std::size_t n);

enum class FamilyKind { Gaussian, Binomial, Poisson, Gamma, InverseGaussian, QuasiBinomial, QuasiPoisson };

std::string familyName(FamilyKind family);
std::optional<FamilyKind> familyFromName(const std::string& name);
// The links R allows for the family, the canonical one first.
const std::vector<LinkKind>& familyLinks(FamilyKind family);

// The response of a fit: y (a proportion for the binomial families), the
// prior weights (for the binomial families multiplied by the trials) and
// the binomial trials per record (a cbind() response's totals, else 1: the
// family's start fills them when the caller leaves them empty).
struct GlmResponse {
  std::vector<double> y;
  std::vector<double> weights;
  std::vector<double> trials;
  std::vector<double> muStart;
};

// The family's start: checks the response and fills the start values of μ
// as R's family initialisation does. Returns R's reason when the response
// does not suit the family.
std::optional<std::string> initialiseFamily(FamilyKind family, LinkKind link, GlmResponse& response);

double familyVariance(FamilyKind family, double mu);
// Whether μ lies where the family's variance is defined.
bool validMu(FamilyKind family, double mu);
// The deviance residual of one record with prior weight `weight`.
double devianceResidual(FamilyKind family, double y, double mu, double weight);
// The same over n records at once, the family chosen once per call; the
// deviance is summed in record order.
void familyVariances(FamilyKind family, const double* mu, double* out, std::size_t n);
bool validMus(FamilyKind family, const double* mu, std::size_t n);
double devianceSum(FamilyKind family, const double* y, const double* mu, const double* weight, std::size_t n);
// The Poisson deviance under the log link, given log y for each y > 0: where
// the link did not hold μ at machine epsilon, log(y/μ) is log y − η, which
// saves a logarithm per record and iteration.
double poissonLogLinkDeviance(const double* y, const double* logY, const double* eta, const double* mu,
                              const double* weight, std::size_t n);
// Whether the family's dispersion is fixed at 1 (else estimated).
bool fixedDispersion(FamilyKind family);
// R's AIC of the family before the 2 × rank term (NaN for the quasi
// families), over every record including those of weight 0.
double familyAic(FamilyKind family, const GlmResponse& response, const std::vector<double>& mu, double deviance);

// Log densities as R computes them (Loader's saddle-point forms), for the
// AIC of the binomial, Poisson and Gamma families.
double logBinomialDensity(double x, double n, double p);
double logPoissonDensity(double x, double lambda);
double logGammaDensity(double x, double shape, double scale);

}  // namespace splitmodels::detail

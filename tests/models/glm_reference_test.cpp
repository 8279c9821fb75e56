// Generalised linear fits of every family and link compared with R's glm on
// the mtcars data set that ships with R (public domain), with prior
// weights, zero weights and offsets.
//
// Reference values: R 4.x,
//   d <- mtcars; d$cyl <- factor(d$cyl); d$logdisp <- log(d$disp)
//   d$w0 <- d$am + 0.5 * (d$gear == 5)
//   fit <- glm(formula, family, data = d, weights = d[[w]], offset = d[[o]])
//   s <- summary(fit)
// then deviance, null.deviance, aic, s$dispersion, df.residual, df.null,
// converged, iter, s$coefficients and predict(fit, type = "link" and
// "response") of cars 1 and 20, printed with sprintf("%.17g").
#include <cmath>
#include <iterator>
#include <limits>

#include "glm_family.h"
#include "model_test_support.h"

namespace {

using namespace modeltest;

constexpr double Inf = std::numeric_limits<double>::infinity();

struct RTerm {
  const char* name;
  double estimate, stdError, statistic, pValue;
};

struct RSummary {
  double deviance, nullDeviance, aic, dispersion, dfResidual, dfNull;
  bool converged;
  int iterations;
};

struct RPredictions {
  double link1, response1, link20, response20;
};

struct GlmCase {
  const char* title;
  const char* family;
  const char* link;
  const char* target;
  const char* inputs;  // comma-separated
  const char* weights;
  const char* offset;
  RSummary summary;
  std::vector<RTerm> terms;
  RPredictions predictions;
};

const std::vector<GlmCase>& glmCases() {
  static const std::vector<GlmCase> cases{
    {"gaussian identity", "gaussian", "identity", "mpg", "wt,hp", "", "",
     {195.04775474146604, 1126.0471874999998, 156.65233882564129, 6.7257846462574493, 29, 31, true, 2},
     {{"(Intercept)", 37.227270116447201, 1.5987875379993928, 23.284688697930882, 2.5654585119836849e-20},
      {"wt", -3.8778307424046821, 0.63273349437739479, -6.1286952198104192, 1.1196471362000219e-06},
      {"hp", -0.031772946982161002, 0.0090297096758557155, -3.5187119102087836, 0.0014512285315694089}},
     {23.572329403309226, 23.572329403309226, 28.046209150294146, 28.046209150294146}},
    {"gaussian log", "gaussian", "log", "mpg", "wt,hp", "", "",
     {138.31543802650316, 1126.0471874999998, 145.6536967404856, 4.7695234949786878, 29, 31, true, 4},
     {{"(Intercept)", 3.8833563790773358, 0.062560637316972756, 62.073478558118488, 2.146827329140046e-32},
      {"wt", -0.20851237799500624, 0.030302333907049391, -6.8810666080905047, 1.4677175366448606e-07},
      {"hp", -0.0017371704512702316, 0.00045449081796804594, -3.822234427170248, 0.00064684235171995254}},
     {3.1459651990906941, 23.242097902250656, 3.3878200861239343, 29.601353484843692}},
    {"gaussian inverse", "gaussian", "inverse", "mpg", "wt,hp", "", "",
     {128.42360962074198, 1126.0471874999998, 143.27921323242856, 4.4284354666888168, 29, 31, true, 5},
     {{"(Intercept)", 0.0099377509574997726, 0.0024471250160356347, 4.0609903018355071, 0.00033892014129205882},
      {"wt", 0.0091134588598053116, 0.001384092877047532, 6.5844272526317909, 3.249203250203733e-07},
      {"hp", 9.663077992994932e-05, 2.3311257381293959e-05, 4.1452410030653413, 0.00026932063937699967}},
     {0.044444398962484109, 22.500023025265982, 0.032941948660689224, 30.356431257308554}},
    {"binomial logit", "binomial", "logit", "am", "wt,cyl", "", "",
     {14.661059453622961, 43.229733276857807, 22.661059453622961, 1, 28, 31, true, 7},
     {{"(Intercept)", 20.852783134569084, 8.0317572678758822, 2.5962915012350605, 0.0094236079246987816},
      {"wt", -7.859342635838348, 3.0549774952496831, -2.5726351988056151, 0.010092752747132712},
      {"cyl6", 3.1046264317745216, 2.4248319320086953, 1.2803470586114785, 0.20042310428871851},
      {"cyl8", 5.3794209236609642, 3.2006277265993219, 1.6807393371476593, 0.092813556248820039}},
     {3.365931860447132, 0.96662268855097233, 6.430889397805716, 0.99839157384065702}},
    {"binomial probit", "binomial", "probit", "am", "wt", "", "",
     {19.198730005127985, 43.229733276857807, 23.198730005127985, 1, 30, 31, true, 7},
     {{"(Intercept)", 6.7264080623043823, 2.2684170690706207, 2.9652431001412882, 0.0030244383014945159},
      {"wt", -2.2577631153693325, 0.71972329079583086, -3.136987706584875, 0.0017069328410582944}},
     {0.81106870003673048, 0.79133689033416876, 2.5834127456016569, 0.99510858954942183}},
    {"binomial cauchit", "binomial", "cauchit", "am", "wt", "", "",
     {18.677715542628889, 43.229733276857807, 22.677715542628889, 1, 30, 31, true, 8},
     {{"(Intercept)", 24.229795649701742, 17.740594410070678, 1.3657826276636698, 0.1720072006552959},
      {"wt", -7.8946701526717806, 5.6174370371557156, -1.4053864957370488, 0.15990638019375633}},
     {3.5457598497016747, 0.91250064043109425, 9.7430759195490246, 0.96744363162665592}},
    {"binomial log", "binomial", "log", "am", "qsec", "", "",
     {41.101549975772713, 43.229733276857807, 45.101549975772713, 1, 30, 31, true, 8},
     {{"(Intercept)", 2.7975885119427173, 1.8801049408671786, 1.4879959363610624, 0.13675196530270231},
      {"qsec", -0.21022798640216467, 0.11245837607129336, -1.8693848670630806, 0.061569288436160947}},
     {-0.66276414423691321, 0.5154246555357076, -1.3859484174603591, 0.25008650087623502}},
    {"binomial cloglog", "binomial", "cloglog", "am", "wt", "", "",
     {19.797931814505368, 43.229733276857807, 23.797931814505368, 1, 30, 31, true, 7},
     {{"(Intercept)", 6.876633088526571, 2.4421698416351045, 2.8157882270474941, 0.0048657728906896314},
      {"wt", -2.5074184756402484, 0.83266596921429281, -3.0113137420594471, 0.0026011993172720344}},
     {0.30719668234911968, 0.74323868286977368, 2.2755201857267151, 0.99994070470832808}},
    {"poisson log", "poisson", "log", "carb", "wt,cyl", "", "",
     {16.439838166202854, 27.043357450132145, 113.80548782361063, 1, 28, 31, true, 4},
     {{"(Intercept)", 0.37686658937982159, 0.46000638549909106, 0.81926382167702816, 0.41263590900781588},
      {"wt", 0.025530263157993512, 0.17044372914415254, 0.14978704870040321, 0.88093262771397796},
      {"cyl6", 0.7756601720208457, 0.34690127319579178, 2.2359680749371638, 0.025353862462044421},
      {"cyl8", 0.7736196692131091, 0.40638805031663333, 1.9036476801184257, 0.056956084662569274}},
     {1.2194160508746104, 3.3852103657040784, 0.42371462227473966, 1.5276255812594557}},
    {"poisson identity", "poisson", "identity", "carb", "wt", "", "",
     {21.390794743270956, 27.043357450132145, 114.75644440067873, 1, 30, 31, true, 5},
     {{"(Intercept)", 0.37243025601189889, 0.9514780580426011, 0.39142285296422868, 0.69548470288818132},
      {"wt", 0.75843336513733783, 0.30611502217221193, 2.477609101818806, 0.013226596404568565}},
     {2.3595256726717242, 2.3595256726717242, 1.7641554810389137, 1.7641554810389137}},
    {"poisson sqrt", "poisson", "sqrt", "carb", "wt", "", "",
     {21.642661813836604, 27.043357450132145, 115.00831147124438, 1, 30, 31, true, 4},
     {{"(Intercept)", 0.96267206819106632, 0.30822390038907582, 3.1232881907466306, 0.001788425376397274},
      {"wt", 0.21794770602848587, 0.091779823084582643, 2.3746799536498253, 0.017564172195878171}},
     {1.5336950579856992, 2.352220530889757, 1.3626061087533379, 1.8566954076119133}},
    {"Gamma inverse", "Gamma", "inverse", "mpg", "wt,hp", "", "",
     {0.33448944571214423, 2.7352896502848743, 142.20038760247652, 0.011612121725283475, 29, 31, true, 4},
     {{"(Intercept)", 0.0089226000010745755, 0.0029598368470296847, 3.0145580524239919, 0.0053028361049042442},
      {"wt", 0.0098264361546622631, 0.0014599753305029035, 6.730549447898853, 2.1942061576951397e-07},
      {"hp", 8.8873358710919069e-05, 2.2259671420283929e-05, 3.9925728027563787, 0.00040821307508549581}},
     {0.044443932184490803, 22.500259334590581, 0.03273087866108957, 30.552189275285141}},
    {"Gamma identity", "Gamma", "identity", "mpg", "wt,hp", "", "",
     {0.50556814629122582, 2.7352896502848743, 155.4473806183648, 0.018536847678042059, 29, 31, true, 6},
     {{"(Intercept)", 34.584844668583905, 1.6138410146660132, 21.430143585575738, 2.5052935099792126e-19},
      {"wt", -3.2104180177308446, 0.4924010292310842, -6.5199254817645658, 3.8665992311834388e-07},
      {"hp", -0.02906370129544705, 0.0076104361114364511, -3.8189271770867474, 0.00065262078874781416}},
     {22.976542319629917, 22.976542319629917, 26.804587021843748, 26.804587021843748}},
    {"Gamma log", "Gamma", "log", "mpg", "wt,hp", "", "",
     {0.36816082819816204, 2.7352896502848743, 145.27526500641022, 0.013315871556002109, 29, 31, true, 4},
     {{"(Intercept)", 3.8258701726410984, 0.071138396932221265, 53.780663293358771, 1.3268192816389226e-30},
      {"wt", -0.19698666595880882, 0.028153613538703721, -6.9968519560732272, 1.0789938067607325e-07},
      {"hp", -0.0015601051287639184, 0.00040177888295748451, -3.8829943407677945, 0.0005491673822982313}},
     {3.1381535436649881, 23.061245938341163, 3.3629928072370299, 28.875480437654556}},
    {"inverse.gaussian 1/mu^2", "inverse.gaussian", "1/mu^2", "mpg", "wt", "", "",
     {0.034378590440851675, 0.14248896107810236, 161.97961750511465, 0.0011547110746879638, 30, 31, true, 4},
     {{"(Intercept)", -0.0013486964934789675, 0.00034722809782655208, -3.8841801741305808, 0.00052443098544331581},
      {"wt", 0.0013446609684968714, 0.00013421512215927619, 10.018699434636964, 4.3803728925591272e-11}},
     {0.0021743152439828353, 21.445626829633621, 0.0011187563837127916, 29.897318411475549}},
    {"inverse.gaussian inverse", "inverse.gaussian", "inverse", "mpg", "wt", "", "",
     {0.029776410330886301, 0.14248896107810236, 157.3806568867314, 0.0010361953035391757, 30, 31, true, 2},
     {{"(Intercept)", 0.0073663309290564341, 0.0042207144267738311, 1.7452805814884291, 0.091172664295515932},
      {"wt", 0.014276290546980555, 0.0013571030710704823, 10.519680377496622, 1.3878085179737199e-11}},
     {0.044770212162145488, 22.336280122557227, 0.033563324082765751, 29.794426724064692}},
    {"inverse.gaussian identity", "inverse.gaussian", "identity", "mpg", "wt", "", "",
     {0.039856304760601986, 0.14248896107810236, 166.71070887511405, 0.0013869213661397302, 30, 31, true, 6},
     {{"(Intercept)", 32.955639743591881, 1.8259795196719355, 18.048197906136895, 1.1682217826438346e-17},
      {"wt", -4.0827572103319305, 0.43567390678403206, -9.3711309003313676, 2.0308955498394799e-10}},
     {22.258815852522222, 22.258815852522222, 25.463780262632788, 25.463780262632788}},
    {"inverse.gaussian log", "inverse.gaussian", "log", "mpg", "wt", "", "",
     {0.032046471033126474, 0.14248896107810236, 159.73171572632543, 0.0011226603550117359, 30, 31, true, 5},
     {{"(Intercept)", 3.7895121211200773, 0.091377168136540968, 41.471104854744155, 4.7323484061952568e-28},
      {"wt", -0.25633638385107888, 0.025285534489771416, -10.137669186102151, 3.3243034486299928e-11}},
     {3.1179107954302507, 22.599116112120353, 3.3191348567533474, 27.636430741557003}},
    {"quasibinomial logit", "quasibinomial", "logit", "am", "wt", "", "",
     {19.176084807445083, 43.229733276857807, kNA, 0.83551275610328191, 30, 31, true, 6},
     {{"(Intercept)", 12.040369658962707, 4.1221594089073657, 2.9208888993825131, 0.0065698503339810185},
      {"wt", -4.023969940327893, 1.312975768909922, -3.0647709086579202, 0.0045764814644717617}},
     {1.4975684153036273, 0.81721153387468803, 4.6563848184610235, 0.99058866737560491}},
    {"quasipoisson log", "quasipoisson", "log", "carb", "wt,cyl", "", "",
     {16.439838166202854, 27.043357450132145, kNA, 0.59233225316498184, 28, 31, true, 4},
     {{"(Intercept)", 0.37686658937982159, 0.35403528714516763, 1.0644887757340762, 0.29620147634387012},
      {"wt", 0.025530263157993512, 0.13117881945089319, 0.19462183959927137, 0.84709425771592406},
      {"cyl6", 0.7756601720208457, 0.26698605875578457, 2.9052459729005986, 0.0070914933987227501},
      {"cyl8", 0.7736196692131091, 0.31276894108788067, 2.4734542583489461, 0.019713715852361296}},
     {1.2194160508746104, 3.3852103657040784, 0.42371462227473966, 1.5276255812594557}},
    {"binomial weights", "binomial", "logit", "vs", "wt", "gear", "",
     {122.76917085066006, 162.73425967491724, 126.76917085066005, 1, 30, 31, true, 4},
     {{"(Intercept)", 4.997628729571594, 1.0666489469027352, 4.6853547683925241, 2.7947541396465946e-06},
      {"wt", -1.7015918212348353, 0.34583502480726863, -4.92024144224004, 8.6437517778905777e-07}},
     {0.53945815793632512, 0.63168636246244236, 1.8752077376056713, 0.86705970695433165}},
    {"gaussian zero weights", "gaussian", "identity", "mpg", "wt", "w0", "",
     {84.580563977875201, 564.01935483870955, Inf, 7.6891421798068365, 11, 12, true, 2},
     {{"(Intercept)", 45.75570660762051, 2.8552332435735939, 16.025207996791508, 5.671654797672065e-09},
      {"wt", -8.9299384940636823, 1.1308912105968594, -7.8963727106435444, 7.3927319784292671e-06}},
     {22.359267753173661, 22.359267753173661, 29.369269471013652, 29.369269471013652}},
    {"Gamma weights", "Gamma", "log", "mpg", "hp", "carb", "",
     {3.2008371369399202, 6.7565573522760474, 477.59402191444542, 0.1020769158896757, 30, 31, true, 5},
     {{"(Intercept)", 3.3252528935422521, 0.085147202085997839, 39.052990727561188, 2.7798230011232765e-27},
      {"hp", -0.0025170287802005454, 0.00044614323384702614, -5.6417504273158734, 3.8091808806287191e-06}},
     {3.0483797277201923, 21.081159517200184, 3.1616460228292165, 23.609425616574583}},
    {"poisson offset", "poisson", "log", "carb", "wt", "", "logdisp",
     {24.492022845151119, 29.369619591762934, 117.8576725025589, 1, 30, 31, true, 4},
     {{"(Intercept)", -3.5153922452839281, 0.410828404012263, -8.5568383562374031, 1.1600501063810524e-17},
      {"wt", -0.25062134431010019, 0.11509446532623491, -2.1775273346091382, 0.029441244603905931}},
     {0.90315364785743579, 2.4673720770911287, 0.28880492471623276, 1.3348313105320935}},
    {"quasipoisson weights offset", "quasipoisson", "log", "carb", "wt,cyl", "gear", "logdisp",
     {79.38417353463079, 114.34581178863417, kNA, 2.7787448840309672, 28, 31, true, 5},
     {{"(Intercept)", -3.6550515535876715, 0.39975684456528887, -9.1431869229464144, 6.6913746919234274e-10},
      {"wt", -0.2320979977010002, 0.15111460304818924, -1.5359071394773542, 0.13578532543219418},
      {"cyl6", 0.50627276662398235, 0.28533867661390888, 1.7742872176736801, 0.086891364470973384},
      {"cyl8", 0.030074853603370404, 0.33846486018087546, 0.088856649955621439, 0.92982835506305561}},
     {1.3182982742935163, 3.7370565180312458, 0.18313595744018762, 1.2009776788325792}},
  };
  return cases;
}

ModelSpec glmRequest(const GlmCase& c) {
  ModelSpec request;
  request.kind = ModelKind::Glm;
  request.target = c.target;
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
  for (const GlmCase& c : glmCases()) {
    SCOPED_TRACE(c.title);
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, glmRequest(c));
    ASSERT_TRUE(model.ok) << model.reason;
    EXPECT_EQ(model.family, c.family);
    EXPECT_EQ(model.link, c.link);
    expectClose(model.deviance, c.summary.deviance, 1e-7, "deviance");
    expectClose(model.nullDeviance, c.summary.nullDeviance, 1e-7, "null deviance");
    // R's gaussian AIC with zero weights is infinite; it is missing here.
    if (std::isinf(c.summary.aic))
      EXPECT_FALSE(std::isfinite(model.aic));
    else
      expectClose(model.aic, c.summary.aic, 1e-7, "aic");
    expectClose(model.dispersion, c.summary.dispersion, 1e-7, "dispersion");
    EXPECT_EQ(model.dfResidual, c.summary.dfResidual);
    EXPECT_EQ(model.dfNull, c.summary.dfNull);
    EXPECT_EQ(model.converged, c.summary.converged);
    EXPECT_EQ(model.iterations, c.summary.iterations);
    ASSERT_EQ(model.terms.size(), c.terms.size());
    for (std::size_t k = 0; k < c.terms.size(); ++k) {
      const RTerm& r = c.terms[k];
      const splitmodels::Term& t = model.terms[k];
      EXPECT_EQ(t.name, r.name);
      expectClose(t.estimate, r.estimate, 1e-8, t.name + " estimate");
      expectClose(t.stdError, r.stdError, 1e-7, t.name + " std error");
      expectClose(t.statistic, r.statistic, 1e-7, t.name + " statistic");
      expectClose(t.pValue, r.pValue, 1e-6, t.name + " p value");
    }
    ASSERT_EQ(model.fitted.size(), 32u);
    expectClose(model.fitted[0], c.predictions.response1, 1e-10, "fitted mean of car 1");
    expectClose(model.fitted[19], c.predictions.response20, 1e-10, "fitted mean of car 20");
    EXPECT_VALID_PMML(model.pmml);
  }
}

// The covariance of every case's coefficients, and the group's PMML scoring
// cars 1 and 20 on both scales with car 1's standard errors, as R gives them:
//   v <- vcov(fit); v[1, 2]
//   predict(fit, d[c(1, 20), ], se.fit = TRUE, type = "link"); the same with type = "response"
TEST(GlmReference, PmmlPredictsAsRWithItsCovarianceAndStandardErrors) {
  const struct {
    const char* title;
    double covariance12, seLink, seResponse;
  } references[] = {
    {"gaussian identity", -0.73594514641847442, 0.54570779166443284, 0.54570779166443284},
    {"gaussian log", -0.0013945283300836218, 0.01870481114502515, 0.43473905187578371},
    {"gaussian inverse", -2.3714734790277404e-06, 0.00079847914078059394, 0.40423089235435594},
    {"binomial logit", -24.149171789667257, 1.891828491067501, 0.06103656683534122},
    {"binomial probit", -1.6160932937276804, 0.48286377818095372, 0.13863988692811099},
    {"binomial cauchit", -99.475347495597305, 3.1761804111664751, 0.074490043277555193},
    {"binomial log", -0.21035566851685514, 0.19059678523158655, 0.098238282374203734},
    {"binomial cloglog", -2.0072749274296333, 0.45319457951877595, 0.15820788534255453},
    {"poisson log", -0.066622012099378417, 0.22119135971714474, 0.74877928371865787},
    {"poisson identity", -0.27777551424145985, 0.30496730832290042, 0.30496730832290042},
    {"poisson sqrt", -0.027100620956113115, 0.1040059564043998, 0.31902684267700809},
    {"Gamma inverse", -3.1239494559930345e-06, 0.00092084369790513231, 0.46618786842445642},
    {"Gamma identity", -0.53293886713218608, 0.6626641153058207, 0.6626641153058207},
    {"Gamma log", -0.0014570420489785714, 0.024281386093994613, 0.55995901643742685},
    {"inverse.gaussian 1/mu^2", -4.384971496590037e-08, 0.00012020017065683813, 0.59277697010553121},
    {"inverse.gaussian inverse", -5.4630197684654291e-06, 0.0013529853976630476, 0.67501714609884644},
    {"inverse.gaussian identity", -0.76648318540951332, 0.78789156130067772, 0.78789156130067772},
    {"inverse.gaussian log", -0.0022174489535443718, 0.033453925656250515, 0.75602915031184748},
    {"quasibinomial logit", -5.3668548453582066, 0.83872213684947805, 0.12528566476964295},
    {"quasipoisson log", -0.039462366537209498, 0.17023578154578498, 0.57628393230252639},
    {"binomial weights", -0.36091078605303578, 0.25992786477120905, 0.060474479616071913},
    {"gaussian zero weights", -3.1291747916495631, 0.73107086788139364, 0.73107086788139364},
    {"Gamma weights", -3.4890163931729343e-05, 0.044526843116190422, 0.93867748252975725},
    {"poisson offset", -0.045701242607779829, 0.14225456240476808, 0.35099493511634222},
    {"quasipoisson weights offset", -0.052493194290570346, 0.18151780027183376, 0.67834227864455021}
  };
  const GroupData data = mtcars();
  ASSERT_EQ(std::size(references), glmCases().size());
  for (std::size_t k = 0; k < glmCases().size(); ++k) {
    const GlmCase& c = glmCases()[k];
    const auto& r = references[k];
    SCOPED_TRACE(c.title);
    ASSERT_STREQ(c.title, r.title);
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(data, glmRequest(c));
    ASSERT_TRUE(model.ok) << model.reason;
    expectClose(model.covariance[1], r.covariance12, 1e-7, "vcov[1, 2]");
    for (const bool link : {false, true}) {
      splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(model.pmml);
      scorer.bind(fieldNames(data));
      scorer.setLinkScale(link);
      scorer.computeStandardErrors(!link);
      for (const std::size_t car : {0u, 19u}) {
        const splitmodels::ScoreResult result = scorer.score(recordTexts(data, car));
        const RPredictions& p = c.predictions;
        const double expected = car == 0 ? (link ? p.link1 : p.response1) : (link ? p.link20 : p.response20);
        expectClose(std::stod(result.predicted), expected, 1e-10,
                    std::string(link ? "link" : "response") + " of car " + std::to_string(car + 1));
        if (link || car != 0) continue;
        expectClose(result.linkStdError, r.seLink, 1e-8, "se.fit, link");
        expectClose(result.meanStdError, r.seResponse, 1e-8, "se.fit, response");
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
  const struct {
    const char* family;
    double covariance12, seResponse;
  } cases[] = {{"poisson", -1.1999993107170308, 1.4142130776593318}, {"Gamma", kNA, kNA}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family);
    const splitmodels::GroupModel model =
        splitmodels::buildGroupModel(data, glmRequest({c.family, c.family, "", "y", "x", "", "", {}, {}, {}}));
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
  const struct {
    const char* title;
    GroupData data;
    const char* target;
    const char* inputs;
    const char* family;
    const char* link;
    int maxIterations;
    const char* outcome;  // the failure reason, or the last warning
    int iterations;
    bool converged;
    const char* weights = "";
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
      {"rates near 0", diverging, "rare", "x", "poisson", "", 25, "glm.fit: fitted rates numerically 0 occurred", 25,
       false},
      {"steps out of bounds", steps, "jumpy", "x", "poisson", "identity", 25,
       "glm.fit: algorithm stopped at boundary value", 19, true},
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
    ModelSpec request = glmRequest({c.title, c.family, c.link, c.target, c.inputs, c.weights, "", {}, {}, {}});
    request.maxIterations = c.maxIterations;
    const splitmodels::GroupModel model = splitmodels::buildGroupModel(c.data, request);
    if (c.iterations == 0) {
      EXPECT_FALSE(model.ok);
      EXPECT_EQ(model.reason, c.outcome);
      EXPECT_TRUE(model.pmml.empty());
      continue;
    }
    ASSERT_TRUE(model.ok) << model.reason;
    ASSERT_FALSE(model.warnings.empty());
    EXPECT_EQ(model.warnings.back(), c.outcome);
    EXPECT_EQ(model.iterations, c.iterations);
    EXPECT_EQ(model.converged, c.converged);
  }
}

// R's log densities behind the AIC, where the direct formulas lose
// precision or overflow:
//   dbinom(3, 1000, 0.01, log = TRUE); dbinom(999998, 1e6, 0.999999, log = TRUE)
//   dbinom(0, 50, 0.02, log = TRUE); dpois(1000, 990.5, log = TRUE)
//   dpois(0, 3.2, log = TRUE); dpois(7, 1e-300, log = TRUE)
//   dgamma(2.5, 0.4, scale = 3, log = TRUE); dgamma(2.5, 40, scale = 0.05, log = TRUE)
TEST(GlmReference, LogDensitiesAgreeWithR) {
  using namespace splitmodels::detail;
  const struct {
    double actual, expected;
  } cases[] = {
      {logBinomialDensity(3, 1000, 0.01), -4.9071915391911105},
      {logBinomialDensity(999998, 1e6, 0.999999), -1.6931466805176465},
      {logBinomialDensity(0, 50, 0.02), -1.0101353658759724},
      {logPoissonDensity(1000, 990.5), -4.4183123495577288},
      {logPoissonDensity(0, 3.2), -3.2000000000000002},
      {logPoissonDensity(7, 1e-300), -4843.9538566485617},
      {logGammaDensity(2.5, 0.4, 3), -2.6192305056268541},
      {logGammaDensity(2.5, 40, 0.05), -1.0671307753917723},
  };
  for (const auto& c : cases) EXPECT_NEAR(c.actual, c.expected, 1e-13 * std::fabs(c.expected));
}

}  // namespace

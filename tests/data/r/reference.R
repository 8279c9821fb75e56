# Writes R's reference values that the model and command tests compare
# with: one TSV per test file, a line per case and quantity, the value as R
# prints it with sprintf("%.17g") (NA, Inf and -Inf as R writes them).
#
#   Rscript tests/data/r/reference.R        # from the checkout
#
# The tests only read the files; R is not needed to run them.

out <- "tests/data/r"
rows <- list()
put <- function(file, case, quantity, value) {
  value <- as.numeric(value)
  rows[[file]] <<- c(rows[[file]], sprintf("%s\t%s\t%s", case, quantity,
                                             ifelse(is.na(value), "NA", sprintf("%.17g", value))))
}

d <- mtcars
d$cyl <- factor(d$cyl)
d$logdisp <- log(d$disp)
d$w0 <- d$am + 0.5 * (d$gear == 5)

# glm of every family and link on mtcars, with prior weights, zero weights
# and offsets: the summary, the coefficients, cars 1 and 20 predicted on both
# scales, vcov[1, 2] and car 1's standard errors.
glm_cases <- list(
  list("gaussian identity", gaussian("identity"), "mpg", "wt + hp"),
  list("gaussian log", gaussian("log"), "mpg", "wt + hp"),
  list("gaussian inverse", gaussian("inverse"), "mpg", "wt + hp"),
  list("binomial logit", binomial("logit"), "am", "wt + cyl"),
  list("binomial probit", binomial("probit"), "am", "wt"),
  list("binomial cauchit", binomial("cauchit"), "am", "wt"),
  list("binomial log", binomial("log"), "am", "qsec"),
  list("binomial cloglog", binomial("cloglog"), "am", "wt"),
  list("poisson log", poisson("log"), "carb", "wt + cyl"),
  list("poisson identity", poisson("identity"), "carb", "wt"),
  list("poisson sqrt", poisson("sqrt"), "carb", "wt"),
  list("Gamma inverse", Gamma("inverse"), "mpg", "wt + hp"),
  list("Gamma identity", Gamma("identity"), "mpg", "wt + hp"),
  list("Gamma log", Gamma("log"), "mpg", "wt + hp"),
  list("inverse.gaussian 1/mu^2", inverse.gaussian("1/mu^2"), "mpg", "wt"),
  list("inverse.gaussian inverse", inverse.gaussian("inverse"), "mpg", "wt"),
  list("inverse.gaussian identity", inverse.gaussian("identity"), "mpg", "wt"),
  list("inverse.gaussian log", inverse.gaussian("log"), "mpg", "wt"),
  list("quasibinomial logit", quasibinomial("logit"), "am", "wt"),
  list("quasipoisson log", quasipoisson("log"), "carb", "wt + cyl"),
  list("binomial weights", binomial("logit"), "vs", "wt", "gear"),
  list("gaussian zero weights", gaussian("identity"), "mpg", "wt", "w0"),
  list("Gamma weights", Gamma("log"), "mpg", "hp", "carb"),
  list("poisson offset", poisson("log"), "carb", "wt", NULL, "logdisp"),
  list("quasipoisson weights offset", quasipoisson("log"), "carb", "wt + cyl", "gear", "logdisp"))
for (g in glm_cases) {
  f <- as.formula(paste(g[[3]], "~", g[[4]]))
  w <- if (length(g) >= 5 && !is.null(g[[5]])) d[[g[[5]]]] else NULL
  o <- if (length(g) >= 6) d[[g[[6]]]] else NULL
  fit <- eval(bquote(glm(f, g[[2]], data = d, weights = .(w), offset = .(o))))
  s <- summary(fit)
  put("glm", g[[1]], "deviance", fit$deviance)
  put("glm", g[[1]], "null deviance", fit$null.deviance)
  put("glm", g[[1]], "aic", fit$aic)
  put("glm", g[[1]], "dispersion", s$dispersion)
  put("glm", g[[1]], "df residual", fit$df.residual)
  put("glm", g[[1]], "df null", fit$df.null)
  put("glm", g[[1]], "converged", fit$converged)
  put("glm", g[[1]], "iterations", fit$iter)
  cf <- s$coefficients
  for (k in seq_len(nrow(cf)))
    for (q in 1:4) put("glm", g[[1]], paste(c("estimate", "std error", "statistic", "p value")[q], rownames(cf)[k]), cf[k, q])
  link <- predict(fit, type = "link")
  response <- predict(fit, type = "response")
  put("glm", g[[1]], "link 1", link[1])
  put("glm", g[[1]], "response 1", response[1])
  put("glm", g[[1]], "link 20", link[20])
  put("glm", g[[1]], "response 20", response[20])
  put("glm", g[[1]], "vcov 1 2", vcov(fit)[1, 2])
  put("glm", g[[1]], "se link 1", predict(fit, d[c(1, 20), ], se.fit = TRUE, type = "link")$se.fit[1])
  put("glm", g[[1]], "se response 1", predict(fit, d[c(1, 20), ], se.fit = TRUE, type = "response")$se.fit[1])
}

# lm and glm(family = binomial) on records from a hash that R and C++ both
# evaluate exactly. Terms R drops are NA; a logistic fit's AUC is computed
# from its fitted values (R has none of its own).
u <- function(i, m) ((i * m) %% 2^32) / 2^32
M1 <- 2654435761; M2 <- 2246822519; M3 <- 3266489917
logit_inverse <- function(eta) 1 / (1 + exp(-eta))
put_terms <- function(case, fit, extra = character()) {
  cf <- summary(fit)$coefficients
  for (name in c(names(coef(fit)), extra)) {
    row <- if (name %in% rownames(cf)) cf[name, ] else rep(NA, 4)
    for (q in 1:4) put("reference", case, paste(c("estimate", "std error", "statistic", "p value")[q], name), row[q])
  }
}
put_lm <- function(case, fit, extra = character(), scale = NULL) {
  s <- summary(fit)
  put_terms(case, fit, extra)
  put("reference", case, "df residual", fit$df.residual)
  put("reference", case, "r squared", s$r.squared)
  put("reference", case, "adjusted r squared", s$adj.r.squared)
  put("reference", case, "sigma", s$sigma)
  f <- if (is.null(s$fstatistic)) c(NA, NA, NA) else s$fstatistic
  put("reference", case, "F", f[1])
  put("reference", case, "F p value", pf(f[1], f[2], f[3], lower.tail = FALSE))
}
put_logistic <- function(case, fit) {
  put_terms(case, fit)
  p <- fitted(fit); y <- fit$y
  n1 <- sum(y == 1); n0 <- sum(y == 0)
  put("reference", case, "df residual", fit$df.residual)
  put("reference", case, "deviance", fit$deviance)
  put("reference", case, "null deviance", fit$null.deviance)
  put("reference", case, "aic", fit$aic)
  put("reference", case, "iterations", fit$iter)
  put("reference", case, "df null", fit$df.null)
  put("reference", case, "log likelihood", logLik(fit))
  put("reference", case, "auc", (sum(rank(p)[y == 1]) - n1 * (n1 + 1) / 2) / (n1 * n0))
  put("reference", case, "accuracy", mean((p > 0.5) == (y == 1)))
  put("reference", case, "fitted first", p[[1]])
  put("reference", case, "fitted last", p[[length(p)]])
}

i <- 1:30; x1 <- u(i, M1)
y <- 1 + 2 * x1 + ifelse(i %% 2 == 1, 0.7, 0) + u(i, M2) - 0.5
c <- factor(ifelse(i %% 2 == 1, "b", "a")); x2 <- 2 * x1; x3 <- rep(5, 30)
put_lm("duplicated and constant inputs, a level the group lacks", lm(y ~ x1 + x2 + x3 + c))
# R refuses a factor of one level; the fit without it is the reference.
y <- 1 + 2 * x1 + ifelse(i %% 2 == 1, 0.7, 0) + u(i, M2) - 0.5
put_lm("a categorical input holding one level", lm(y ~ x1 + x2 + x3), extra = "c")

z <- data.frame(x1 = c(0.5, 1.5, 2, 4), x2 = c(3, 1, 2.5, 0.5), x3 = c(1, 0, 0, 1), y = c(2, 1, 4, 3))
put_lm("zero residual degrees of freedom", lm(y ~ x1 + x2 + x3, z))
z <- data.frame(a = c(1, 2, 3, NA), b = c(2, 1, 5, 5), c = c(4, 3, 1, 1), y = c(1, 2, 4, 4))
put_lm("fewer records than parameters", lm(y ~ a + b + c, z))

i <- 1:12
ms <- c(2654435761, 3266489917, 668265263, 374761393)
X <- sapply(1:240, function(k) ((k - 1) %% 60 + 1) * u(i, ms[(k - 1) %/% 60 + 1]))
colnames(X) <- paste0("x", 1:240)
z <- data.frame(X, y = 1 + 2 * X[, 1] - X[, 61] + 0.5 * X[, 181] + u(i, M2) - 0.5)
put_lm("many more inputs than records", lm(y ~ ., z))

# Records with a missing or non-finite input are left out (R's lm refuses the
# non-finite ones, which the reference fit therefore lacks).
i <- 1:20; x1 <- u(i, M1); y <- 3 - u(i, M1) + u(i, M2)
x1[5] <- NA; y[c(3, 8)] <- NA
put_lm("missing and non-finite values skipped", lm(y ~ x1))

# R's own summary overflows at the ends of the double range: the fit on the
# unscaled inputs, with x1's and x2's figures rescaled, is the reference.
i <- 1:25; a <- u(i, M1); b <- u(i, M2)
y <- 1 + 3e-300 * (a * 1e300) + 2e300 * (b * 1e-300) + u(i, M3)
fit <- lm(y ~ a + b); s <- summary(fit)
case <- "inputs near the ends of the double range"
rescale <- c(1, 1e-300, 1e300)
for (k in 1:3)
  for (q in 1:4)
    put("reference", case, paste(c("estimate", "std error", "statistic", "p value")[q], c("(Intercept)", "x1", "x2")[k]),
        s$coefficients[k, q] * (if (q <= 2) rescale[k] else 1))
put("reference", case, "df residual", fit$df.residual)
put("reference", case, "r squared", s$r.squared)
put("reference", case, "adjusted r squared", s$adj.r.squared)
put("reference", case, "sigma", s$sigma)
put("reference", case, "F", s$fstatistic[1])
put("reference", case, "F p value", pf(s$fstatistic[1], s$fstatistic[2], s$fstatistic[3], lower.tail = FALSE))

logistic <- function(n, eta, duplicate) {
  i <- 1:n
  x1 <- if (duplicate) u(i, M1) - 0.5 else 10 * u(i, M1)
  x2 <- if (duplicate) 2 * x1 else 10 * u(i, M2) - 5
  b <- as.numeric(u(i, M3) < logit_inverse(eta(x1, x2)))
  if (duplicate) glm(b ~ x1 + x3, binomial, data.frame(x1 = x1, x3 = x2, b = b))
  else glm(b ~ x1 + x2, binomial)
}
put_logistic("overlap with extreme log-odds", logistic(3000, function(x1, x2) -20 + 5 * x1 + 0.6 * x2, FALSE))
put_logistic("strong effect, fitted probabilities near 0 and 1",
             logistic(3000, function(x1, x2) -20 + 4 * x1 + 0.6 * x2, FALSE))
put_logistic("rare event (28 of 3000)", logistic(3000, function(x1, x2) -5.5 + 0.15 * x1 + 0.2 * x2, FALSE))
put_logistic("aliased input", logistic(500, function(x1, x2) 0.3 + 3 * x1, TRUE))

z <- mtcars; z$z <- 0
put_logistic("an input zero in every record, between two others", glm(vs ~ mpg + z + wt, binomial, z))
put_lm("a linear input zero in every record", lm(mpg ~ wt + z + hp, z))
put_lm("the only input zero in every record", lm(mpg ~ z, z))

# x2 = x1 + delta * v: collinear with x1 once delta is small enough.
collinear <- function(n, delta, logistic) {
  i <- 1:n; x1 <- u(i, M1); x2 <- x1 + delta * (u(i, M2) - 0.5)
  if (logistic) glm(as.numeric(u(i, M3) < logit_inverse(-1 + 3 * x1)) ~ x1 + x2, binomial)
  else lm(1 + 2 * x1 + u(i, M3) - 0.5 ~ x1 + x2)
}
put_lm("collinear just within lm's tolerance", collinear(20, 2e-7, FALSE))
put_lm("collinear just beyond lm's tolerance", collinear(20, 6e-7, FALSE))
put_logistic("collinear within glm's tolerance", collinear(60, 2e-12, TRUE))
put_logistic("collinear beyond glm's tolerance", collinear(60, 1.2e-10, TRUE))

# A categorical c over p, q and r with q requested as the reference level;
# a group lacking q falls back to the first level it holds.
levels_fit <- function(three) {
  i <- 1:24; x1 <- u(i, M1)
  c <- if (three) ifelse(i %% 3 == 0, "p", ifelse(i %% 3 == 1, "q", "r")) else ifelse(i %% 2 == 0, "p", "r")
  y <- 1 + x1 + ifelse(c == "r", 0.8, 0) - ifelse(c == "q", 0.3, 0) + u(i, M2) - 0.5
  c <- if (three) relevel(factor(c), "q") else factor(c)
  lm(y ~ x1 + c)
}
put_lm("requested reference level held", levels_fit(TRUE))
put_lm("requested reference level the group lacks", levels_fit(FALSE))

# Models given as R formulas, on mtcars and warpbreaks: the coefficients, two
# records predicted with their standard errors on the link and response
# scales, and what a glm reports besides.
w <- warpbreaks
w$wool <- as.character(w$wool); w$tension <- as.character(w$tension)
w$len <- 10 + (1:54) %% 7
put_formula <- function(case, fit, data, rows) {
  cf <- summary(fit)$coefficients
  for (name in names(coef(fit))) {
    row <- if (name %in% rownames(cf)) cf[name, ] else rep(NA, 4)
    put("formula", case, paste("estimate", name), row[1])
    put("formula", case, paste("std error", name), row[2])
    put("formula", case, paste("p value", name), row[4])
  }
  for (r in rows) {
    link <- predict(fit, data[r, ], se.fit = TRUE)
    put("formula", case, paste("link", r), link$fit)
    put("formula", case, paste("se link", r), link$se.fit)
    if (inherits(fit, "glm")) {
      response <- predict(fit, data[r, ], se.fit = TRUE, type = "response")
      put("formula", case, paste("response", r), response$fit)
      put("formula", case, paste("se response", r), response$se.fit)
    }
  }
  if (inherits(fit, "glm")) {
    put("formula", case, "aic", fit$aic)
    put("formula", case, "null deviance", fit$null.deviance)
    put("formula", case, "df null", fit$df.null)
    put("formula", case, "deviance", fit$deviance)
  }
}
put_formula("lm: log response, factor x numeric, I(), raw poly, log2",
            lm(log(mpg) ~ wt * cyl + I(hp^2) + poly(disp, 2, raw = TRUE) + log2(qsec), d), d, c(1, 32))
g <- glm(cbind(carb, gear) ~ 0 + cyl + sqrt(hp) + offset(wt / 10), binomial, d)
put_formula("binomial: cbind response, no intercept, offset of an expression", g, d, c(1, 32))
# Prior weights multiply each record's total; R starts from the totals alone.
put_formula("binomial: cbind response with prior weights", update(g, weights = gear), d, c(1, 32))
put_formula("lm: two offsets, summed", lm(mpg ~ wt + offset(hp / 100) + offset(qsec / 10), d), d, integer())
put_formula("poisson: factor x factor without main effects, offset(log())",
            glm(breaks ~ wool:tension + offset(log(len)), poisson, w), w, c(1, 54))

# The columns R gives each formula's model matrix, in order (a case per
# formula, the position as the value); with character columns in
# warpbreaks, and "." standing for mpg, disp, hp and wt in mtcars' order.
for (f in c("mpg ~ wt * cyl", "mpg ~ wt:cyl", "mpg ~ wt + wt:cyl", "mpg ~ 0 + cyl + wt", "mpg ~ cyl:wt - 1",
            "mpg ~ hp:wt + qsec + wt", "mpg ~ (wt + hp + qsec)^2 - hp:qsec",
            "log(mpg) ~ poly(hp, 2, raw = TRUE) + I(wt^2) + log2(qsec) + I(hp * 1e5)",
            "mpg ~ exp(-wt) + sqrt(abs(qsec - 18)) + log(hp, 10)", "log(mpg) ~ . - hp", "breaks ~ wool * tension",
            "breaks ~ 0 + wool:tension", "breaks ~ tension + wool:tension", "breaks ~ (wool + tension)^2 - wool",
            "breaks ~ 0 + wool + tension", "mpg ~ -1 + wt + +hp", "mpg ~ +cyl + -wt + wt")) {
  data <- if (startsWith(f, "breaks")) w else if (f == "log(mpg) ~ . - hp") d[c("mpg", "disp", "hp", "wt")] else d
  names <- colnames(model.matrix(as.formula(f), data))
  for (k in seq_along(names)) put("terms", f, names[k], k)
}

# Confidence intervals of the coefficients (Wald's for a logistic fit) and
# their covariance, over the estimated terms only.
put_inference <- function(case, fit, intervals, covariance) {
  if (!is.null(intervals))
    for (k in seq_len(nrow(intervals))) {
      put("inference", case, paste("low", rownames(intervals)[k]), intervals[k, 1])
      put("inference", case, paste("high", rownames(intervals)[k]), intervals[k, 2])
    }
  for (a in rownames(covariance))
    for (b in colnames(covariance)) put("inference", case, paste("vcov", a, b), covariance[a, b])
}
m <- lm(mpg ~ wt + hp + cyl, transform(mtcars, cyl = factor(cyl)))
put_inference("linear with a factor", m, confint(m), vcov(m))
put_inference("linear at level 0.9", m, confint(m, level = 0.9), vcov(m))
g <- glm(am ~ wt + hp, binomial, mtcars)
put_inference("logistic (Wald)", g, confint.default(g), vcov(g))
put_inference("an aliased input has no covariance row", NULL, NULL,
              vcov(lm(mpg ~ wt + wt2 + hp, transform(mtcars, wt2 = 2 * wt)), complete = FALSE))

# split-run score: standard errors and intervals at level 0.9 of cars 1, 15
# and 20, each scored by its group's fit (lm split by am; glm of one group).
z <- qnorm(0.95)
cars <- c(1, 15, 20)
for (car in cars) {
  m <- lm(mpg ~ wt + hp, mtcars[mtcars$am == mtcars$am[car], ])
  p <- predict(m, mtcars[car, ], se.fit = TRUE, interval = "prediction", level = 0.9)
  q <- predict(m, mtcars[car, ], interval = "confidence", level = 0.9)
  put("score", "prediction interval", paste("predicted_mpg", car), p$fit[1, "fit"])
  put("score", "prediction interval", paste("se_fit", car), p$se.fit)
  put("score", "prediction interval", paste("lower", car), p$fit[1, "lwr"])
  put("score", "prediction interval", paste("upper", car), p$fit[1, "upr"])
  put("score", "confidence interval", paste("lower", car), q[1, "lwr"])
  put("score", "confidence interval", paste("upper", car), q[1, "upr"])
}
glm_intervals <- function(case, fit, link_scale, first) {
  for (car in cars) {
    l <- predict(fit, mtcars[car, ], se.fit = TRUE)
    r <- predict(fit, mtcars[car, ], se.fit = TRUE, type = "response")
    bounds <- l$fit + c(-1, 1) * z * l$se.fit
    if (!link_scale) bounds <- if (fit$family$family == "binomial") plogis(bounds) else fit$family$linkinv(bounds)
    if (!is.null(first)) put("score", case, paste(first, car), r$fit)
    put("score", case, paste("se_fit", car), if (link_scale) l$se.fit else r$se.fit)
    if (!link_scale && !is.null(first)) put("score", case, paste("se_fit_link", car), l$se.fit)
    put("score", case, paste("lower", car), min(bounds))
    put("score", case, paste("upper", car), max(bounds))
  }
}
glm_intervals("logistic: both scales", glm(am ~ wt + hp, binomial, mtcars), FALSE, "probability_1")
gamma <- glm(mpg ~ wt + hp, Gamma("log"), mtcars)
glm_intervals("Gamma: response scale", gamma, FALSE, NULL)
glm_intervals("Gamma: link scale", gamma, TRUE, NULL)

# split-run build --augment: the diagnostics of records 1, 2 and 4 as each
# fit used them (influence leaves out the records of weight 0).
augment <- function(case, fit, records = c(1, 2, 4)) {
  glm <- inherits(fit, "glm")
  for (r in records) {
    name <- rownames(mtcars)[r]
    infl <- influence(fit)
    at <- function(v) if (name %in% names(v)) v[[name]] else NA
    values <- c(.fitted = if (glm) predict(fit, type = "link")[[name]] else fitted(fit)[[name]],
                .resid = residuals(fit, if (glm) "deviance" else "response")[[name]],
                .hat = at(infl$hat), .sigma = at(infl$sigma), .cooksd = at(cooks.distance(fit)),
                .std.resid = at(rstandard(fit)))
    if (glm) values <- c(values, .fitted.response = fitted(fit)[[name]], .resid.pearson = residuals(fit, "pearson")[[name]])
    for (k in names(values)) put("augment", case, paste(k, r), values[[k]])
  }
}
augment("linear by am", lm(mpg ~ wt + hp, mtcars[mtcars$am == 1, ]), c(1, 2))
augment("linear by am", lm(mpg ~ wt + hp, mtcars[mtcars$am == 0, ]), 4)
augment("logistic", glm(am ~ wt + hp, binomial, mtcars))
augment("Gamma log", gamma)
augment("poisson with weights", glm(hp ~ wt, poisson, mtcars, weights = am))

# split-run build's tables on mtcars: every number of coefficients.csv and
# groups.csv for lm(mpg ~ wt + hp) per cyl and glm(vs ~ mpg, binomial) per am,
# a case per group and a quantity per column (with the term, for a
# coefficient). The file the command reads has one more cyl 8, am 1 record
# without mpg, which neither fit uses.
tables <- function(case, fit) {
  co <- coef(summary(fit))
  for (term in rownames(co))
    for (k in 1:4) put("tables", case, paste(c("estimate", "std_error", "statistic", "p_value")[k], term), co[term, k])
  ci <- if (inherits(fit, "glm")) confint.default(fit) else confint(fit)  # Wald intervals for a glm
  for (term in rownames(ci)) {
    put("tables", case, paste("conf_low", term), ci[term, 1])
    put("tables", case, paste("conf_high", term), ci[term, 2])
  }
  put("tables", case, "df_residual", fit$df.residual)
  if (inherits(fit, "glm")) {
    put("tables", case, "deviance", deviance(fit))
    put("tables", case, "null_deviance", fit$null.deviance)
    put("tables", case, "aic", fit$aic)
  } else {
    s <- summary(fit)
    put("tables", case, "r_squared", s$r.squared)
    put("tables", case, "adj_r_squared", s$adj.r.squared)
    put("tables", case, "sigma", s$sigma)
    put("tables", case, "f_statistic", s$fstatistic[[1]])
    put("tables", case, "f_p_value", pf(s$fstatistic[[1]], s$fstatistic[[2]], s$fstatistic[[3]], lower.tail = FALSE))
  }
}
for (g in c(4, 6, 8)) tables(paste("lm cyl", g), lm(mpg ~ wt + hp, mtcars[mtcars$cyl == g, ]))
for (a in c(0, 1)) tables(paste("glm am", a), glm(vs ~ mpg, binomial, mtcars[mtcars$am == a, ]))

# Distribution functions: tail probabilities of t, F and the normal
# distribution across small and huge degrees of freedom, p values near 1 and
# far out in the tails; the quantiles of t and of the probit link; the log
# densities behind a glm's AIC where the direct formulas lose precision or
# overflow. The quantity is the arguments, each with %.17g.
distribution <- function(name, f, ...) {
  for (args in list(...)) put("distributions", name, paste(sprintf("%.17g", args), collapse = " "), do.call(f, as.list(args)))
}
distribution("2 * pt(-|t|, df)", function(t, df) 2 * pt(-abs(t), df),
             c(2.5, 3), c(0.1, 1), c(40, 5), c(-3, 1e6), c(1e-8, 7), c(8, 2997), c(37, 30))
distribution("pf(f, df1, df2, lower.tail = FALSE)", function(f, a, b) pf(f, a, b, lower.tail = FALSE),
             c(3.2, 2, 27), c(0.01, 5, 3), c(500, 1, 1e5), c(1e4, 6, 8), c(1, 1, 1))
distribution("2 * pnorm(-|z|)", function(z) 2 * pnorm(-abs(z)), 0.5, 8, 30)
distribution("qnorm(p)", qnorm, 0.975, 1e-10, 0.3)
distribution("qt(p, df)", qt, c(0.975, 1), c(0.995, 3.5), c(0.6, 200), c(0.025, 1), c(0.975, Inf), c(1 - 1e-10, Inf))
distribution("dbinom(x, n, p, log = TRUE)", function(x, n, p) dbinom(x, n, p, log = TRUE),
             c(3, 1000, 0.01), c(999998, 1e6, 0.999999), c(0, 50, 0.02))
distribution("dpois(x, lambda, log = TRUE)", function(x, l) dpois(x, l, log = TRUE), c(1000, 990.5), c(0, 3.2), c(7, 1e-300))
distribution("dgamma(x, shape, scale, log = TRUE)", function(x, a, s) dgamma(x, a, scale = s, log = TRUE),
             c(2.5, 0.4, 3), c(2.5, 40, 0.05))
# The links at and around where R holds them: g(mu), its inverse (and one
# less it for the links onto (0, 1), whose holds near 1 only the difference
# shows) and the inverse's derivative.
link_etas <- list(identity = c(-2, 0.5), log = c(-40, -36, 2), inverse = c(-2, 0.5), "1/mu^2" = c(0.5, 4),
                  sqrt = c(0.5, 3), logit = c(-31, -30, -29.5, 0.3, 29.5, 30, 31), probit = c(-9, -8.1, 0.3, 8.1, 9),
                  cauchit = c(-1e16, -2, 0.3, 2, 1e16), cloglog = c(-40, -36, 0.3, 3.5, 4, 700, 710))
for (name in names(link_etas)) {
  l <- make.link(name)
  r <- sprintf('make.link("%s")', name)
  etas <- as.list(link_etas[[name]])
  do.call(distribution, c(list(paste0(r, "$linkfun(mu)"), l$linkfun), list(0.3, 0.9)))
  do.call(distribution, c(list(paste0(r, "$linkinv(eta)"), l$linkinv), etas))
  do.call(distribution, c(list(paste0(r, "$mu.eta(eta)"), l$mu.eta), etas))
  if (name %in% c("logit", "probit", "cauchit", "cloglog"))
    do.call(distribution, c(list(paste0("1 - ", r, "$linkinv(eta)"), function(eta) 1 - l$linkinv(eta)), etas))
}

for (file in names(rows))
  writeLines(c("case\tquantity\tvalue", rows[[file]]), file.path(out, paste0(file, ".tsv")))

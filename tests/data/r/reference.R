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

for (file in names(rows))
  writeLines(c("case\tquantity\tvalue", rows[[file]]), file.path(out, paste0(file, ".tsv")))

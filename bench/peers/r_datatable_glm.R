# Peer of `split-run build --model logistic` (and of `--family poisson`):
# with R's data.table, fit b (or the count c) on x1..x5 per (grp, sub) group
# with glm.fit (binomial or poisson family, its default starting values and
# convergence test) and write one row of coefficients per group, with the
# number of groups glm.fit left unconverged or failed.
#
# usage: Rscript r_datatable_glm.R DATA.csv OUT.csv [binomial|poisson]
suppressPackageStartupMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
if (!length(args) %in% c(2, 3)) stop("usage: Rscript r_datatable_glm.R DATA.csv OUT.csv [binomial|poisson]")
poisson_counts <- length(args) == 3 && args[3] == "poisson"

frame <- fread(args[1])
fits <- frame[, {
  fit <- suppressWarnings(if (poisson_counts)
    glm.fit(cbind(1, x1, x2, x3, x4, x5), c, family = poisson())
  else
    glm.fit(cbind(1, x1, x2, x3, x4, x5), b, family = binomial()))
  c(as.list(fit$coefficients), converged = fit$converged)
}, by = .(grp, sub)]
fwrite(fits, args[2])
message(nrow(fits), " groups, ", sum(!fits$converged), " not converged")

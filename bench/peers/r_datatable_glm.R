# Peer of `split-run build --model logistic`: with R's data.table, fit b on
# x1..x5 per (grp, sub) group with glm.fit (binomial family, its default
# starting values and convergence test) and write one row of coefficients
# per group, with the number of groups glm.fit left unconverged or failed.
#
# usage: Rscript r_datatable_glm.R DATA.csv OUT.csv
suppressPackageStartupMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 2) stop("usage: Rscript r_datatable_glm.R DATA.csv OUT.csv")

frame <- fread(args[1])
fits <- frame[, {
  fit <- suppressWarnings(glm.fit(cbind(1, x1, x2, x3, x4, x5), b, family = binomial()))
  c(as.list(fit$coefficients), converged = fit$converged)
}, by = .(grp, sub)]
fwrite(fits, args[2])
message(nrow(fits), " groups, ", sum(!fits$converged), " not converged")

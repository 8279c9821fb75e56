# Peer of `split-run build` with R's data.table: fread, then one
# least-squares fit of y on x1..x5 per (grp, sub) group with lm.fit, reading
# the same CSV. Writes one line of coefficients per group (fwrite).
#
# usage: Rscript r_datatable.R DATA.csv OUT.csv
suppressPackageStartupMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 2) stop("usage: Rscript r_datatable.R DATA.csv OUT.csv")

frame <- fread(args[1])
terms <- c("intercept", "x1", "x2", "x3", "x4", "x5")
models <- frame[, c(as.list(setNames(lm.fit(cbind(1, x1, x2, x3, x4, x5), y)$coefficients, terms)),
                    records = .N),
                by = .(grp, sub)]
fwrite(models, args[2])
message(nrow(models), " groups")

# Peer of `split-run score`: with R's data.table, fit y on x1..x5 per
# (grp, sub) group (lm.fit), predict every record with its group's
# coefficients and write all rows with the predictions (fread, fwrite).
#
# usage: Rscript r_datatable_score.R DATA.csv OUT.csv
suppressPackageStartupMessages(library(data.table))
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 2) stop("usage: Rscript r_datatable_score.R DATA.csv OUT.csv")

frame <- fread(args[1])
frame[, predicted_y := {
  X <- cbind(1, x1, x2, x3, x4, x5)
  drop(X %*% lm.fit(X, y)$coefficients)
}, by = .(grp, sub)]
fwrite(frame, args[2])
message(nrow(frame), " rows")

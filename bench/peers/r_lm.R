# Peer of `split-run build`: one least-squares fit of y on x1..x5 per
# (grp, sub) group with base R only: read.csv, split() and lm, reading the
# same CSV. Writes one line of coefficients per group.
#
# usage: Rscript r_lm.R DATA.csv OUT.csv
args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 2) stop("usage: Rscript r_lm.R DATA.csv OUT.csv")

frame <- read.csv(args[1])
groups <- split(frame, list(frame$grp, frame$sub), drop = TRUE, sep = "/")
models <- lapply(groups, function(g) {
  fit <- lm(y ~ x1 + x2 + x3 + x4 + x5, data = g)
  c(coef(fit), records = nrow(g))
})
table <- do.call(rbind, models)
write.csv(table, args[2])
message(nrow(table), " groups")

# The mgcv side of bench/gam_bench.py: fits an additive model of `nterms`
# P-spline smooths (bs = "ps", k = 10) to the data that the driver wrote,
# and prints the best time of reps fits, each term's edf and R's peak
# memory over the fits.
#   Rscript r/bench/gam.R FILE ROWS NTERMS FAMILY FIT REPS
# FILE holds ROWS rows of x1 .. x_NTERMS, then y, as doubles, column by
# column.  FIT is "bam" (discrete = TRUE, method = "fREML", two threads)
# or "gam" (method = "REML").
args <- commandArgs(TRUE)
file <- args[1]
n <- as.numeric(args[2])
nterms <- as.integer(args[3])
family <- switch(args[4], gaussian = gaussian(), binomial = binomial(),
                 poisson = poisson())
how <- args[5]
reps <- as.integer(args[6])
suppressMessages(library(mgcv))
v <- readBin(file, "double", n = (nterms + 1) * n)
names <- c(paste0("x", seq_len(nterms)), "y")
d <- as.data.frame(matrix(v, n, nterms + 1, dimnames = list(NULL, names)))
rm(v)
f <- reformulate(sprintf('s(x%d, bs = "ps", k = 10)', seq_len(nterms)), "y")
fit <- function() {
  if (how == "bam")
    bam(f, family = family, data = d, method = "fREML", discrete = TRUE, nthreads = 2)
  else
    gam(f, family = family, data = d, method = "REML")
}
invisible(gc(reset = TRUE))
base <- sum(gc()[, 2])
best <- Inf
for (r in seq_len(reps)) {
  t0 <- Sys.time()
  m <- fit()
  best <- min(best, as.numeric(Sys.time() - t0, units = "secs"))
}
peak <- sum(gc()[, 6]) - base
edf <- sapply(m$smooth, function(s) sum(m$edf[s$first.para:s$last.para]))
cat("seconds", format(best, digits = 6), "\n")
cat("edf", format(edf, digits = 10), "\n")
cat("peak_mb", format(peak, digits = 6), "\n")
cat("iterations", if (is.null(m$outer.info$iter)) m$iter else m$outer.info$iter, "\n")

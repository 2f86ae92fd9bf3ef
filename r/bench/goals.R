# The R rows of bench/goals.py: 10^6 sorted abscissae, cubic B-splines on
# 100 intervals, sparse results.  Prints "name seconds" per call, the best of
# reps rounds.  In each round each bsbasis call runs right after a splines
# call, so that both meet the memory that splines leaves behind.
#   Rscript r/bench/goals.R [reps] [n]
args <- commandArgs(TRUE)
reps <- if (length(args) >= 1) as.integer(args[1]) else 7L
n <- if (length(args) >= 2) as.numeric(args[2]) else 1e6
suppressMessages({ library(bsbasis); library(Matrix) })
set.seed(1)
x <- sort(runif(n))
knots <- c(0, 0, 0, seq(0, 1, length.out = 101), 1, 1, 1)
calls <- list(
  bsbasis_splineDesign = function() bsbasis::splineDesign(knots, x, 4, sparse = TRUE),
  design_matrix = function() bsbasis::design_matrix(x, knots, 4),
  splines_splineDesign = function() splines::splineDesign(knots, x, 4, sparse = TRUE))
# The three agree before any is timed.
stopifnot(max(abs(calls[[1]]() - calls[[3]]())) < 1e-13,
          max(abs(calls[[2]]() - calls[[3]]())) < 1e-13)
best <- setNames(rep(Inf, length(calls)), names(calls))
order <- c("splines_splineDesign", "bsbasis_splineDesign", "splines_splineDesign",
           "design_matrix")
for (r in seq_len(reps)) for (k in order) {
  gc(FALSE)
  t0 <- Sys.time()
  calls[[k]]()
  best[[k]] <- min(best[[k]], as.numeric(Sys.time() - t0, units = "secs"))
}
for (k in names(best)) cat(k, format(best[[k]], digits = 6), "\n")

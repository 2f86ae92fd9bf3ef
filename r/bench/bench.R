# 10^6 sorted abscissae, cubic B-splines on 100 intervals: best of 5 runs.
#   Rscript r/bench/bench.R [reps]
args <- commandArgs(TRUE)
reps <- if (length(args)) as.integer(args[1]) else 5L
suppressMessages({ library(bsbasis); library(Matrix) })
set.seed(1)
n <- 1e6
x <- sort(runif(n))
breaks <- seq(0, 1, length.out = 101)
knots <- c(0, 0, 0, breaks, 1, 1, 1)
best <- function(f)
  min(vapply(seq_len(reps), function(i) { gc(FALSE); system.time(f())[["elapsed"]] }, 0))
res <- c(
  design_matrix_sparse = best(function() design_matrix(x, knots, 4)),
  design_matrix_sparse_2threads = best(function() design_matrix(x, knots, 4, threads = 2)),
  design_matrix_dense = best(function() design_matrix(x, knots, 4, sparse = FALSE)),
  bsbasis_splineDesign_sparse = best(function() bsbasis::splineDesign(knots, x, 4, sparse = TRUE)),
  splines_splineDesign_sparse = best(function() splines::splineDesign(knots, x, 4, sparse = TRUE)))
if (requireNamespace("splines2", quietly = TRUE))
  res["splines2_bSpline_dense"] <- best(function() splines2::bSpline(x, knots = breaks[2:100], degree = 3,
                                                          intercept = TRUE,
                                                          Boundary.knots = c(0, 1)))
print(data.frame(seconds = res))
cat(sprintf("speed-up vs splines::splineDesign(sparse = TRUE): %.1fx\n",
            res[["splines_splineDesign_sparse"]] / res[["design_matrix_sparse"]]))
if (!is.na(res["splines2_bSpline_dense"]))
  cat(sprintf("speed-up vs splines2::bSpline (dense): %.1fx\n",
              res[["splines2_bSpline_dense"]] / res[["design_matrix_sparse"]]))

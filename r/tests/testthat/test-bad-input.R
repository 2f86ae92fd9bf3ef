# Every entry point, every argument, a set of wrong values: each call must
# raise an R error (and never bring the session down).
test_that("wrong arguments give R errors", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  good <- list(
    design_matrix = list(x = c(0.5, 1), knots = t),
    periodic_design_matrix = list(x = c(0.5, 1), breaks = 0:5),
    difference_penalty = list(n = 5),
    derivative_penalty = list(knots = t),
    make_knots = list(x = c(0.5, 1, 2), n_knots = 4),
    normal_equations = list(x = c(0.5, 1), knots = t, y = c(1, 2)),
    splineDesign = list(knots = t, x = c(0.5, 1)))
  junk <- list(NULL, "a", list(1), 1i, NA, NaN, Inf, -Inf, -1, 1e300, 2^31, TRUE,
               numeric(0), c(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11), factor("a"))
  # arguments and the junk values they may legitimately accept
  tried <- 0
  ok_values <- list(
    design_matrix.x = c(5, 6, 13), periodic_design_matrix.x = c(5:11, 13, 14),
    periodic_design_matrix.breaks = 14, derivative_penalty.knots = 14, make_knots.x = 14,
    make_knots.weights = 1, normal_equations.y = 1, normal_equations.weights = 1,
    design_matrix.nj = 1, derivative_penalty.nj = 1, normal_equations.nj = 1,
    design_matrix.threads = 1, design_matrix.sparse = 12, difference_penalty.sparse = 12,
    derivative_penalty.sparse = 12, periodic_design_matrix.sparse = 12,
    # splineDesign coerces x and ord with as.numeric and as.integer, as splines
    # does, and reads outer.ok and sparse as isTRUE
    splineDesign.x = c(3, 4, 12, 15), splineDesign.ord = 12,
    splineDesign.outer.ok = 1:15, splineDesign.sparse = 1:15, splineDesign.derivs = 9)
  for (fn in names(good)) {
    f <- get(fn, asNamespace("bsbasis"))
    args <- setdiff(names(formals(f)), "...")
    for (a in args) for (v in seq_along(junk)) {
      if (v %in% ok_values[[paste(fn, a, sep = ".")]]) next
      call_args <- good[[fn]]
      call_args[a] <- list(junk[[v]])
      tried <- tried + 1
      expect_error(suppressWarnings(do.call(f, call_args)), info = paste(fn, a, v))
    }
  }
  expect_gt(tried, 500)
})

test_that("knots the library refuses are reported with its message", {
  expect_error(design_matrix(0.5, c(0, 0, 0, 0, 1, 1, 1, 1e308 * 10)), "finite")
  expect_error(design_matrix(0.5, c(-1e308, 0, 1, 1e308), ord = 2), "bsbasis_design")
  expect_error(design_matrix(0.5, c(0, 1, 0.5, 2), ord = 2), "non-decreasing")
  expect_error(design_matrix(0.5, c(0, 1, 1, 1), ord = 2, nj = 2), "empty")
})

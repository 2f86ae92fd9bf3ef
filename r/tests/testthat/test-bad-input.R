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
    normal_equations = list(x = c(0.5, 1), knots = t, y = c(1, 2)))
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
    derivative_penalty.sparse = 12, periodic_design_matrix.sparse = 12)
  for (fn in names(good)) {
    f <- get(fn, asNamespace("bsbasis"))
    args <- setdiff(names(formals(f)), "...")
    for (a in args) for (v in seq_along(junk)) {
      if (v %in% ok_values[[paste(fn, a, sep = ".")]]) next
      call_args <- good[[fn]]
      call_args[a] <- list(junk[[v]])
      tried <- tried + 1
      msg <- tryCatch({
        suppressWarnings(do.call(f, call_args))
        ""
      }, error = conditionMessage)
      expect_true(nzchar(msg), info = paste(fn, a, v))
      # the message speaks of the arguments, not of the library's functions
      expect_false(grepl("bsbasis_|internal", msg), info = paste(fn, a, v, msg))
    }
  }
  expect_gt(tried, 450)
})

# splineDesign takes what splines::splineDesign takes, with its coercions,
# warnings and errors: each argument replaced by each wrong value.
test_that("splineDesign with wrong arguments does what splines does", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  good <- list(knots = t, x = c(0.5, 1), ord = 4, derivs = 0, outer.ok = FALSE,
               sparse = FALSE)
  junk <- list(NULL, "a", "2", list(1), 1i, NA, NaN, Inf, -Inf, -1, 0, 1e300, 2^31, TRUE,
               numeric(0), c(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11), factor("a"), NA_integer_,
               "TRUE", c(3.5, 1.5))
  for (a in names(good)) for (v in seq_along(junk)) {
    args <- good
    args[a] <- list(junk[[v]])
    expect_as_splines(quote(do.call(splineDesign, args)), list(args = args),
                      exact_zeros = FALSE, info = paste(a, v))
  }
  for (drop in names(good)) {  # missing arguments, defaults
    args <- good[setdiff(names(good), drop)]
    expect_as_splines(quote(do.call(splineDesign, args)), list(args = args),
                      info = paste("without", drop))
  }
  expect_identical(formals(bsbasis::splineDesign), formals(splines::splineDesign))
})

test_that("knots the library refuses are reported by what is wrong with them", {
  expect_error(design_matrix(0.5, c(0, 0, 0, 0, 1, 1, 1, 1e308 * 10)),
               "'knots' must be finite: knots\\[8\\] = Inf")
  expect_error(design_matrix(0.5, c(-1e308, 0, 1, 1e308), ord = 2),
               "'knots' spans \\[-1e\\+308, 1e\\+308\\], whose length overflows a double")
  expect_error(design_matrix(0.5, c(0, 0, 1e-320, 1, 1), ord = 2),
               "knots\\[3\\] - knots\\[2\\] = [0-9.e-]+ is too small: its reciprocal overflows")
  expect_error(design_matrix(0.5, c(0, 1, 0.5, 2), ord = 2),
               "'knots' must be non-decreasing: knots\\[2\\] = 1, knots\\[3\\] = 0.5")
  expect_error(design_matrix(0.5, c(0, 1, 1, 1), ord = 2, nj = 2), "empty")
  # too few knots: the knots are named, not ord
  expect_error(design_matrix(0.5, 0:3), "'knots' has 4 values; ord = 4 needs at least 2\\*ord = 8")
  expect_error(derivative_penalty(0:5, ord = 4), "'knots' has 6 values; ord = 4 needs")
  expect_error(normal_equations(0.5, 0:2, ord = 2), "'knots' has 3 values; ord = 2 needs")
})

test_that("make_knots says why the data give no knots", {
  expect_error(make_knots(c(1, 1, 1), 3),
               "'x' needs at least 2 distinct values with positive weight, got only 1")
  expect_error(make_knots(c(1, 2), 3, weights = c(1, 0)), "got only 1")
  expect_error(make_knots(c(1, 2), 3, weights = c(0, 0)), "got none")
  expect_error(make_knots(c(1, 2), 3, weights = c(1, -2)), "weights\\[2\\] = -2 is negative")
  expect_error(make_knots(c(-1e308, 1e308), 3),
               "'x' spans \\[-1e\\+308, 1e\\+308\\], whose length overflows a double")
  expect_error(make_knots(c(0, 1e308), 3, boundary = "extended"),
               "the knots continued 3 intervals beyond \\[0, 1e\\+308\\] overflow a double")
  expect_error(make_knots(c(0, 1), 3, weights = c(1e308, 1e308), kind = "quantile"),
               "'weights' sum to more than a double holds")
})

test_that("knot messages name the rule the library finds, and its knot", {
  # On random knots with planted faults, check_knots refuses exactly the
  # bases bsbasis_check_knots refuses, naming the knot it points at.
  ns <- asNamespace("bsbasis")
  set.seed(20261209)
  seen <- integer(0)
  for (trial in 1:1500) {
    ord <- sample(1:4, 1L)
    n <- sample(0:13, 1L)
    t <- cumsum(runif(n) * (runif(n) < 0.7)) - 1
    fault <- sample(0:5, 1L)
    if (n > 0L && fault == 0L) t[sample(n, 1L)] <- sample(c(NaN, Inf, -Inf), 1L)
    if (n > 1L && fault == 1L) t[sample(n, 2L)] <- t[sample(n, 2L)]
    if (n > 2L && fault == 2L) {
      m <- sample(2:n, 1L)
      t <- t - t[m - 1L]
      t[m] <- 2^-1072
      if (m < n) t[(m + 1L):n] <- pmax(t[(m + 1L):n], t[m])
    }
    if (n > 1L && fault == 3L) t[c(1L, n)] <- c(-1e308, 1.7e308)
    nj <- if (runif(1) < 0.5) NULL else n - ord + sample(-1:1, 1L)
    want <- if (is.null(nj)) n - ord else nj
    verdict <- .Call(ns$bsb_check_knots, t, ord, as.double(want))
    seen <- union(seen, verdict[1L])
    if (verdict[1L] == ns$BSBASIS_RULE_NONE) {
      expect_identical(ns$check_knots(t, ord, nj)$nj, as.integer(want))
    } else {
      err <- tryCatch(ns$check_knots(t, ord, nj), error = conditionMessage)
      expect_type(err, "character")
      if (verdict[1L] %in% c(ns$BSBASIS_RULE_NOT_FINITE, ns$BSBASIS_RULE_DECREASING,
                             ns$BSBASIS_RULE_TOO_CLOSE))
        expect_match(err, sprintf("knots[%d]", verdict[2L] + 1L), fixed = TRUE)
    }
  }
  expect_setequal(intersect(seen, 0:10), seen)
  for (rule in c("NONE", "TOO_FEW", "COLUMNS", "NOT_FINITE", "DECREASING", "TOO_CLOSE",
                 "SPAN", "EMPTY_BASE"))
    expect_true(ns[[paste0("BSBASIS_RULE_", rule)]] %in% seen, info = rule)
})

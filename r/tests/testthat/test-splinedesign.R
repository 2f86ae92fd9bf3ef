test_that("values and derivatives agree with splines::splineDesign", {
  set.seed(11)
  for (ord in 1:8) for (clamped in c(TRUE, FALSE)) {
    t <- random_knots(ord, sample(ord:(ord + 12), 1), clamped)
    nk <- length(t)
    lo <- t[ord]
    hi <- t[nk - ord + 1]
    x <- c(lo, hi, t[ord:(nk - ord + 1)], runif(200, lo, hi))  # ends and knots
    for (d in 0:(ord - 1)) {
      expect_close(bsbasis::splineDesign(t, x, ord, d),
                   splines::splineDesign(t, x, ord, d), 1e-13)
    }
    dv <- sample(0:(ord - 1), 7, replace = TRUE)
    expect_close(bsbasis::splineDesign(t, x, ord, dv),
                 splines::splineDesign(t, x, ord, dv), 1e-13)
  }
})

test_that("outer.ok = TRUE matches, inside and outside the knots", {
  set.seed(12)
  for (ord in 1:8) {
    t <- random_knots(ord, ord + 5, clamped = FALSE)
    x <- c(runif(100, t[1] - 1, t[length(t)] + 1), t[1], t[length(t)], t)
    for (d in unique(c(0, ord - 1))) {
      a <- bsbasis::splineDesign(t, x, ord, d, outer.ok = TRUE)
      b <- splines::splineDesign(t, x, ord, d, outer.ok = TRUE)
      expect_close(a, b, 1e-13)
      expect_true(all(a[x < t[1] | x > t[length(t)], ] == 0))
    }
  }
})

test_that("sparse = TRUE gives the same dgCMatrix", {
  set.seed(13)
  t <- random_knots(4, 9, clamped = TRUE)
  x <- c(runif(50, 0, 10), 10)
  for (outer in c(FALSE, TRUE)) {
    xx <- if (outer) c(x, -1, 11) else x
    a <- bsbasis::splineDesign(t, xx, 4, c(0, 2), outer.ok = outer, sparse = TRUE)
    b <- splines::splineDesign(t, xx, 4, c(0, 2), outer.ok = outer, sparse = TRUE)
    expect_s4_class(a, "dgCMatrix")
    expect_identical(class(a), class(b))
    expect_close(a, b, 1e-13)
    expect_true(methods::validObject(a))
  }
})

test_that("errors and NA handling follow splines::splineDesign", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  msg <- function(e) tryCatch({ e; "" }, error = conditionMessage)
  cases <- list(
    quote(splineDesign(t, c(0.5, 4))),
    quote(splineDesign(t, c(0.5, 2), derivs = 4)),
    quote(splineDesign(t, c(0.5, 2), derivs = c(1, 4))),
    quote(splineDesign(t, c(0.5, NA))),
    quote(splineDesign(t, 1, derivs = c(0, 1))),
    quote(splineDesign(t, 1, derivs = integer(0))),
    quote(splineDesign(t, 1, ord = 11)),
    quote(splineDesign(t[1:6], 1, ord = 4)))
  for (cl in cases) {
    ours <- msg(eval(cl, list(splineDesign = bsbasis::splineDesign)))
    theirs <- msg(eval(cl, list(splineDesign = splines::splineDesign)))
    expect_true(nzchar(ours))
    expect_identical(ours, theirs)
  }
  # NA with other abscissae outside under outer.ok: a zero row in both
  x <- c(0.5, NA, 5)
  expect_close(bsbasis::splineDesign(t, x, outer.ok = TRUE),
               splines::splineDesign(t, x, outer.ok = TRUE), 1e-15)
  expect_equal(bsbasis::splineDesign(t, x, outer.ok = TRUE)[2, ], rep(0, 6))
  # negative and fractional derivs are read as splines reads them
  expect_close(bsbasis::splineDesign(t, c(0.5, 2), derivs = c(-1, 1.7)),
               splines::splineDesign(t, c(0.5, 2), derivs = c(-1, 1.7)), 1e-13)
  # unsorted knots are sorted
  expect_close(bsbasis::splineDesign(rev(t), 1.5), splines::splineDesign(rev(t), 1.5), 1e-15)
})

test_that("inputs splines accepts and the library's API would not: splines' answer", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  # every knot equal (bs(pi) builds these), 2*ord - 1 knots (splines: NaN
  # and a warning), derivs that are NA, strings or a factor, an x at the
  # right end of a base interval that is empty
  calls <- list(
    quote(splineDesign(rep(pi, 8), pi)), quote(splineDesign(rep(2, 3), 2, ord = 1)),
    quote(splineDesign(rep(2, 6), c(2, 2), ord = 3, derivs = 1:2)),
    quote(splineDesign(0:4, 2, ord = 3)), quote(splineDesign(0:4, c(2, 2), ord = 3, sparse = TRUE)),
    quote(splineDesign(c(0, 1, 1, 1, 1, 1, 1, 1), 1)),
    quote(splineDesign(t, c(0.5, 2), derivs = NA)), quote(splineDesign(t, 0.5, derivs = "1")),
    quote(splineDesign(t, 0.5, derivs = "a")), quote(splineDesign(t, 0.5, derivs = factor("b"))),
    quote(splineDesign(t, 0.5, derivs = 1e10)),
    quote(splineDesign(t, c(0.5, NA, 5), outer.ok = TRUE)),
    quote(splineDesign(t, c(NA, 5), derivs = 7, outer.ok = TRUE)),
    quote(splineDesign(t, 0.5, outer.ok = NA)), quote(splineDesign(t, 0.5, sparse = "TRUE")),
    quote(splineDesign(t)), quote(splineDesign(t, 5, outer.ok = TRUE, sparse = TRUE)),
    # the right end of an empty last interval: splines' columns, explicit
    # zeros included, and its 0 for the derivative of order ord - 1
    quote(splineDesign(c(0:4, 9, 9, 9, 9), c(4.5, 9), ord = 3, sparse = TRUE)),
    quote(splineDesign(c(0:4, 9, 9, 9, 9, 9), c(9, 4.5), ord = 3, derivs = c(0, 2), sparse = TRUE)),
    quote(splineDesign(c(0, 0, 0, 3, 4, 5, 6, 6, 6, 6), c(-1, 6, 5.5), ord = 3, outer.ok = TRUE,
                       sparse = TRUE)),
    quote(splineDesign(c(0, 1, 1, 1, 1, 1, 1, 1), c(1, NA, 3), derivs = 0:2, outer.ok = TRUE,
                       sparse = TRUE)))
  for (cl in calls) expect_as_splines(cl, list(t = t), exact_zeros = FALSE)
})

test_that("random calls give splines' values, warnings and errors", {
  set.seed(15)
  for (it in 1:400) {
    ord <- sample(1:5, 1)
    k <- switch(sample(3, 1), sort(round(runif(sample(1:12, 1), 0, 6))),
                c(rep(0, sample(1:6, 1)), sort(sample(1:5, sample(0:4, 1), TRUE)),
                  rep(6, sample(1:9, 1))),
                sort(round(runif(sample(2:10, 1), 0, 6), 1)))
    if (runif(1) < 0.2) k <- sample(k)
    x <- switch(sample(4, 1), k, c(k, runif(5, -1, 7)), runif(sample(1:6, 1), min(k), max(k)),
                c(NA, runif(3, min(k) - 1, max(k) + 1)))
    d <- switch(sample(3, 1), 0L, sample(0:ord, 1), sample(-1:ord, min(length(x), 3), TRUE))
    outer <- runif(1) < 0.5
    differ <- tryCatch(right_end_rows(k, x, ord, d, outer), error = function(e) integer(0))
    if (length(differ) && length(d) > 1) next  # recycling along other rows
    args <- list(knots = k, x = x[setdiff(seq_along(x), differ)], ord = ord, derivs = d,
                 outer.ok = outer, sparse = runif(1) < 0.3)
    if (!length(args$x)) next
    expect_as_splines(quote(do.call(splineDesign, args)), list(args = args),
                      exact_zeros = all(d == 0), info = paste(deparse(args), collapse = ""))
  }
})

test_that("right end: a knot repeated more than ord times gives the limit from the left", {
  # 2*ord copies of 9 at the right end: the base interval ends with an empty
  # interval.  Ours: the limit from the left, B_5 = 1.  splines: a 1 in
  # column 6, whose B-spline (knots 9, 9, 9, 9) is identically zero.
  k <- c(0:4, rep(9, 6))
  x <- c(4.5, 9)
  ours <- splineDesign(k, x, ord = 3)
  theirs <- splines::splineDesign(k, x, ord = 3)
  expect_equal(ours[2, ], c(0, 0, 0, 0, 1, 0, 0, 0))
  expect_equal(theirs[2, ], c(0, 0, 0, 0, 0, 1, 0, 0))
  expect_equal(ours[1, ], theirs[1, ], tolerance = 1e-14)
  expect_equal(ours[2, ], left_limit(k, 9, 3, 0), tolerance = 1e-14)
  expect_identical(splineDesign(k, x, ord = 3, sparse = TRUE)[2, 5], 1)
  # derivatives at such an end: ours the limits from the left, splines NaN
  # (it divides by the empty interval); here with 4 copies, one more than ord
  k4 <- c(0:4, rep(9, 4))
  d1 <- splineDesign(k4, 9, ord = 3, derivs = 1)
  expect_equal(d1[1, ], left_limit(k4, 9, 3, 1), tolerance = 1e-12)
  expect_equal(d1[1, 4:5], c(-0.4, 0.4), tolerance = 1e-14)
  expect_true(all(is.nan(splines::splineDesign(k4, 9, ord = 3, derivs = 1)[1, 4:6])))
  # values where splines' 1 lands on a B-spline that is not zero: the same
  expect_identical(splineDesign(k4, 9, ord = 3), splines::splineDesign(k4, 9, ord = 3))
  # order 1: a repeated last knot; under outer.ok, the same rule
  expect_equal(splineDesign(c(0, 1, 2, 2), 2, ord = 1), cbind(0, 1, 0))
  expect_equal(splines::splineDesign(c(0, 1, 2, 2), 2, ord = 1), cbind(0, 0, 1))
  expect_equal(splineDesign(c(0, 1, 2, 2), c(-1, 2), ord = 1, outer.ok = TRUE),
               rbind(0, c(0, 1, 0)))
})

test_that("knots the library cannot compute with are refused, where splines gives NaN", {
  inf <- c(0, 0, 0, 0, 1, Inf, Inf, Inf, Inf)
  expect_true(anyNA(splines::splineDesign(inf, c(0.5, 2))))
  expect_error(splineDesign(inf, c(0.5, 2)), "'knots' must be finite, got Inf", fixed = TRUE)
  huge <- c(-1e308, -1e308, 1e308, 1e308)
  expect_true(all(splines::splineDesign(huge, 0, ord = 2) == 0))  # not a partition of unity
  expect_error(splineDesign(huge, 0, ord = 2),
               "'knots' spans [-1e+308, 1e+308], whose length overflows a double", fixed = TRUE)
  tiny <- c(0, 0, 1e-320, 1, 1)
  expect_true(any(is.infinite(splines::splineDesign(tiny, 1e-321, ord = 2))))
  expect_error(splineDesign(tiny, 1e-321, ord = 2), "is too small: its reciprocal overflows")
  # splines' own checks come first, with its messages
  expect_error(splineDesign(inf, -1), "the 'x' data must be in the range")
})

test_that("splineDesign's messages are splines', in the user's language", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  old <- Sys.getenv("LANGUAGE")
  on.exit(Sys.setenv(LANGUAGE = old))
  Sys.setenv(LANGUAGE = "de")
  msg <- function(f, ...) tryCatch(f(...), error = conditionMessage)
  skip_if(grepl("must be in the range", msg(splines::splineDesign, t, 5)),
          "splines' German messages are not installed")
  calls <- list(list(t, 5), list(t, 1, derivs = 4), list(t, 1:2, derivs = c(0, 4)),
                list(1:3, 1), list(t, 1, derivs = integer(0)), list(t[1:6], 1),
                list(t, numeric(0)), list(numeric(0), 1))
  for (a in calls)
    expect_identical(do.call(msg, c(bsbasis::splineDesign, a)),
                     do.call(msg, c(splines::splineDesign, a)))
})

test_that("the one-pass range test gives what any(x < lo | hi < x) gives", {
  lo <- 1; hi <- 4
  cases <- list(numeric(0), c(1, 4, 2.5), c(0.5, 2), c(2, 4.5), c(NA, 2), c(NaN, 2),
                c(NA, 5), c(0, NA), c(-Inf, 2), c(2, Inf), c(1, 4, NA, 3), rep(NA_real_, 3),
                c(3, 2, 1, 4, 0.999999))
  for (x in cases)
    expect_identical(.Call(bsbasis:::bsb_any_outside, x, lo, hi), any(x < lo | hi < x),
                     info = paste(format(x), collapse = " "))
  expect_identical(.Call(bsbasis:::bsb_any_outside, c(-Inf, Inf), -Inf, Inf), FALSE)
})

test_that("sparse results are valid dgCMatrix objects with every slot typed", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  for (m in list(bsbasis::splineDesign(t, c(0, 1.5, 3), sparse = TRUE),
                 bsbasis::design_matrix(c(0, 1.5, 3, NA), t, 4),
                 bsbasis::design_matrix(numeric(0), t, 4))) {
    expect_s4_class(m, "dgCMatrix")
    expect_true(validObject(m))
    expect_type(m@i, "integer")
    expect_type(m@p, "integer")
    expect_type(m@x, "double")
  }
})

# Sparse results of sorted abscissae are built in one pass from probes of
# single rows; any other order in two passes.  The two must give the same
# object, bit for bit, whatever the rows look like.
same_sparse <- function(sorted, shuffled, perm) {
  expect_true(validObject(sorted))
  expect_identical(sorted@Dim, shuffled@Dim)
  back <- shuffled[order(perm), , drop = FALSE]
  expect_identical(sorted@p, back@p)
  expect_identical(sorted@i, back@i)
  expect_identical(sorted@x, back@x)
}

test_that("sorted abscissae give the same sparse result as any order", {
  set.seed(21)
  for (ord in 1:6) for (clamped in c(TRUE, FALSE)) {
    t <- random_knots(ord, sample(ord:(ord + 9), 1), clamped)
    nk <- length(t)
    lo <- t[ord]
    hi <- t[nk - ord + 1]
    # the ends, every knot, repeats, and a column range that skips columns
    x <- sort(c(lo, hi, hi, t[ord:(nk - ord + 1)], runif(300, lo, hi),
                rep(runif(1, lo, hi), 5), runif(50, lo, lo + (hi - lo) / 20)))
    perm <- sample(length(x))
    for (d in unique(c(0L, ord - 1L))) {
      same_sparse(bsbasis::splineDesign(t, x, ord, d, sparse = TRUE),
                  bsbasis::splineDesign(t, x[perm], ord, d, sparse = TRUE), perm)
      expect_close(bsbasis::splineDesign(t, x, ord, d, sparse = TRUE),
                   splines::splineDesign(t, x, ord, d), 1e-13)
    }
    # outside the knots under outer.ok: columns shifted, rows cut off
    xo <- sort(c(x, runif(20, t[1] - 1, t[nk] + 1)))
    po <- sample(length(xo))
    same_sparse(bsbasis::splineDesign(t, xo, ord, outer.ok = TRUE, sparse = TRUE),
                bsbasis::splineDesign(t, xo[po], ord, outer.ok = TRUE, sparse = TRUE), po)
    for (threads in c(1L, 3L))
      same_sparse(bsbasis::design_matrix(x, t, ord, threads = threads),
                  bsbasis::design_matrix(x[perm], t, ord, threads = threads), perm)
  }
})

test_that("sorted abscissae whose rows are not runs take the general path", {
  set.seed(22)
  t <- c(0, 0, 0, 0, 1, 2, 3, 4, 4, 4, 4)
  # extrapolated and empty rows at the ends, wrapped rows of a periodic basis
  x <- sort(c(-1, -0.5, runif(100, 0, 4), 4.5, 5))
  perm <- sample(length(x))
  for (mode in c("zero", "continue", "constant", "linear"))
    same_sparse(bsbasis::design_matrix(x, t, 4, extrapolate = mode),
                bsbasis::design_matrix(x[perm], t, 4, extrapolate = mode), perm)
  xp <- sort(runif(200, 0, 10))
  pp <- sample(length(xp))
  same_sparse(bsbasis::periodic_design_matrix(xp, c(0, 2, 5, 7, 10), 4),
              bsbasis::periodic_design_matrix(xp[pp], c(0, 2, 5, 7, 10), 4), pp)
  same_sparse(bsbasis::design_matrix(x, t, 4, threads = 3L, extrapolate = "zero"),
              bsbasis::design_matrix(x[perm], t, 4, extrapolate = "zero"), perm)
})

test_that("sorted abscissae take the one-pass path, which agrees with the general one", {
  set.seed(23)
  for (ord in 1:6) {
    t <- random_knots(ord, sample(ord:(ord + 9), 1), clamped = ord %% 2 == 0)
    nk <- length(t)
    lo <- t[ord]
    hi <- t[nk - ord + 1]
    x <- sort(c(lo, hi, t[ord:(nk - ord + 1)], runif(500, lo, hi), rep((lo + hi) / 2, 9)))
    for (d in unique(c(0L, ord - 1L))) {
      slots <- .Call(bsbasis:::bsb_sorted_slots, t, as.integer(ord), d, x, 1L)
      expect_false(is.null(slots))
      perm <- sample(length(x))
      m <- bsbasis::splineDesign(t, x[perm], ord, d, sparse = TRUE)[order(perm), ]
      expect_identical(slots[[2]], m@p)
      expect_identical(slots[[1]], m@i)
      expect_identical(slots[[3]], m@x)
    }
  }
  # Rows that are not runs, or abscissae out of order, give way.
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  expect_null(.Call(bsbasis:::bsb_sorted_slots, t, 4L, 0L, c(-1, 0.5, 1), 1L))
  expect_null(.Call(bsbasis:::bsb_sorted_slots, t, 4L, 0L, c(2.5, 0.5, 1), 1L))
  # Enough rows for three threads, and for the calls to take the path.
  x <- sort(c(runif(60000, 0, 3), 0, 1, 2, 3, 3))
  slots <- .Call(bsbasis:::bsb_sorted_slots, t, 4L, 0L, x, 3L)
  expect_false(is.null(slots))
  perm <- sample(length(x))
  m <- bsbasis::splineDesign(t, x[perm], 4, sparse = TRUE)[order(perm), ]
  expect_identical(list(slots[[1]], slots[[2]], slots[[3]]), list(m@i, m@p, m@x))
  for (s in list(bsbasis::splineDesign(t, x, 4, sparse = TRUE),
                 bsbasis::design_matrix(x, t, 4, threads = 3L)))
    expect_identical(list(s@i, s@p, s@x), list(m@i, m@p, m@x))
})

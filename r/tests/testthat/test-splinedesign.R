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

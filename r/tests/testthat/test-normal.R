test_that("normal_equations matches crossprod of the dense design", {
  set.seed(41)
  for (ord in c(1, 2, 4, 6)) {
    t <- random_knots(ord, 9, clamped = FALSE)
    lo <- t[ord]
    hi <- t[length(t) - ord + 1]
    x <- runif(500, lo, hi)
    y <- sin(x) + rnorm(500)
    w <- rexp(500)
    X <- design_matrix(x, t, ord, sparse = FALSE)
    ne <- normal_equations(x, t, ord, y = y, weights = w)
    G <- crossprod(X, w * X)
    nj <- ncol(X)
    expect_equal(dim(ne$gram), c(ord, nj))
    for (r in 1:nj) for (c in r:min(nj, r + ord - 1))  # upper band layout
      expect_lte(abs(ne$gram[ord + r - c, c] - G[r, c]), 1e-12 * max(1, abs(G)))
    expect_lte(max(abs(ne$rhs - crossprod(X, w * y))), 1e-12 * max(1, abs(crossprod(X, w * y))))
    expect_equal(ne$yty, sum(w * y * y), tolerance = 1e-12)
    expect_equal(ne$sum_weights, sum(w), tolerance = 1e-12)
    expect_equal(ne$count, 500)
  }
})

test_that("normal_equations: derivatives, extrapolation, NA rows, bad y", {
  t <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
  x <- c(0.1, 1.5, 2.9, 3.5, NA)
  ne <- normal_equations(x, t, derivs = 1, extrapolate = "zero")
  X <- design_matrix(x[1:3], t, derivs = 1, sparse = FALSE)
  expect_lte(max(abs(ne$gram[4, ] - colSums(X^2))), 1e-12)
  expect_equal(ne$count, 3)
  expect_null(ne$rhs)
  expect_error(normal_equations(x, t), "x\\[4\\] = 3.5 is outside")
  # the messages name the argument, the row and the value
  expect_error(normal_equations(x[1:3], t, y = c(1, NA, 2)),
               "y[2] = NA on a row in range (x[2] = 1.5)", fixed = TRUE)
  expect_error(normal_equations(c(0.37, x[1:3]), t, y = c(NaN, 1:3)),
               "y[1] = NaN on a row in range (x[1] = 0.37)", fixed = TRUE)
  expect_error(normal_equations(x[1:3], t, y = 1:3, weights = c(1, -1, 1)),
               "weights[2] = -1 is negative", fixed = TRUE)
  expect_error(normal_equations(x[1:3], t, y = 1:3, weights = c(1, 1, Inf)),
               "weights[3] = Inf is not finite", fixed = TRUE)
  # a y that is not finite on an empty row is not read, as in the library
  ne <- normal_equations(c(0.5, 7), t, y = c(1, NaN), extrapolate = "zero")
  expect_equal(ne$count, 1)
})

test_that("penalties", {
  for (n in c(1, 3, 8)) for (o in 1:4) {
    D <- diff(diag(n), differences = o)
    ref <- if (n > o) crossprod(D) else matrix(0, n, n)
    expect_equal(difference_penalty(n, o), ref, tolerance = 1e-15)
  }
  expect_s4_class(difference_penalty(6, 2, sparse = TRUE), "dsCMatrix")
  # 3-point Gauss-Legendre on every knot interval is exact for the
  # products (degree <= 4) and never evaluates at a knot
  t <- c(0, 0, 0, 0, 0.7, 1.1, 2, 2.2, 3, 3, 3, 3)
  for (m in 1:3) {
    G <- 0
    for (a in 4:8) {
      h <- (t[a + 1] - t[a]) / 2
      xs <- t[a] + h * (1 + c(-sqrt(3 / 5), 0, sqrt(3 / 5)))
      wts <- h * c(5, 8, 5) / 9
      B <- splines::splineDesign(t, xs, 4, m)
      G <- G + crossprod(B, wts * B)
    }
    expect_close(derivative_penalty(t, 4, m), G, 1e-12)
  }
  expect_true(all(derivative_penalty(t, 4, 4) == 0))
})

test_that("make_knots", {
  x <- c(3, 1, 4, 1, 5, 9, 2, 6)
  expect_equal(make_knots(x, 5, 4), c(1, 1, 1, seq(1, 9, length.out = 5), 9, 9, 9))
  expect_equal(make_knots(x, 3, 2, boundary = "extended"), c(-3, 1, 5, 9, 13))
  q <- make_knots(x, 4, 1, kind = "quantile")
  expect_equal(range(q), c(1, 9))
  expect_false(is.unsorted(q))
  # a zero weight removes an abscissa
  expect_equal(make_knots(x, 2, 1, weights = c(1, 1, 1, 1, 1, 0, 1, 1)), c(1, 6))
  expect_error(make_knots(c(1, 1, 1), 3), "needs at least 2 distinct values")
})

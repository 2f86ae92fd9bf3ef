test_that("sparse and dense agree; NA gives an NA row or an empty row", {
  set.seed(31)
  t <- random_knots(4, 10, clamped = FALSE)
  x <- c(runif(40, t[4], t[11]), NA, NaN)
  s <- design_matrix(x, t)
  d <- design_matrix(x, t, sparse = FALSE)
  expect_s4_class(s, "dgCMatrix")
  expect_true(all(is.na(d[41:42, ])))
  expect_equal(Matrix::rowSums(s != 0)[41:42], c(0, 0))
  expect_identical(as.matrix(s)[1:40, ], d[1:40, ])
  expect_close(d[1:40, ], splines::splineDesign(t, x[1:40]), 1e-13)
})

test_that("extrapolation modes", {
  t <- c(0, 0, 0, 0, 1, 2.5, 3, 4, 4, 4, 4)
  out <- c(-0.7, 4.3)
  expect_error(design_matrix(c(1, out), t), "x\\[2\\] = -0.7 is outside")
  z <- design_matrix(out, t, extrapolate = "zero", sparse = FALSE)
  expect_true(all(z == 0))
  # constant: the row at the nearest end, derivatives 0
  expect_identical(design_matrix(out, t, extrapolate = "constant", sparse = FALSE),
                   design_matrix(c(0, 4), t, sparse = FALSE))
  expect_true(all(design_matrix(out, t, derivs = 1, extrapolate = "constant",
                                sparse = FALSE) == 0))
  # linear: value plus slope at the end
  ends <- c(0, 4)
  lin <- design_matrix(ends, t, sparse = FALSE) +
    (out - ends) * design_matrix(ends, t, derivs = 1, sparse = FALSE)
  expect_close(design_matrix(out, t, extrapolate = "linear", sparse = FALSE), lin, 1e-13)
  # continue: the end cubic pieces, from a Taylor expansion at the ends
  cont <- 0
  for (d in 0:3)
    cont <- cont + (out - ends)^d / factorial(d) * design_matrix(ends, t, derivs = d,
                                                                 sparse = FALSE)
  expect_close(design_matrix(out, t, extrapolate = "continue", sparse = FALSE), cont, 1e-12)
  # periodic: wrapped into [0, 4)
  expect_close(design_matrix(c(-0.7, 4.3, 9), t, extrapolate = "periodic", sparse = FALSE),
               design_matrix(c(3.3, 0.3, 1), t, sparse = FALSE), 1e-13)
})

test_that("derivative vectors, nj and threads give the same bits as separate calls", {
  set.seed(32)
  t <- random_knots(5, 12, clamped = TRUE)
  x <- runif(3000, 0, 10)
  dv <- sample(0:5, length(x), replace = TRUE)
  both <- design_matrix(x, t, 5, dv, sparse = FALSE)
  for (d in 0:5)
    expect_identical(both[dv == d, ], design_matrix(x[dv == d], t, 5, d, sparse = FALSE))
  expect_true(all(both[dv == 5, ] == 0))
  big <- runif(1e5, 0, 10)
  expect_identical(design_matrix(big, t, 5, threads = 1), design_matrix(big, t, 5, threads = 2))
  nj <- design_matrix(c(0, 2, 5), t, 5, nj = 9, sparse = FALSE)
  expect_equal(ncol(nj), 9)
  expect_close(nj, splines::splineDesign(t[1:14], c(0, 2, 5), 5), 1e-13)
  expect_error(design_matrix(6, t, 5, nj = 9), "outside the base interval")
})

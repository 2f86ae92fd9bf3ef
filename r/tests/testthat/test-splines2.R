skip_if_not_installed("splines2")

test_that("design_matrix agrees with splines2::bSpline and dbs", {
  set.seed(21)
  for (ord in 1:6) {
    inner <- sort(runif(7, 0, 5))
    bk <- c(-0.5, 5.5)
    t <- c(rep(bk[1], ord), inner, rep(bk[2], ord))
    x <- c(bk, inner, runif(100, bk[1], bk[2]))
    ref <- splines2::bSpline(x, knots = inner, degree = ord - 1, intercept = TRUE,
                             Boundary.knots = bk)
    expect_close(design_matrix(x, t, ord, sparse = FALSE), unclass(ref)[, ], 1e-13)
    for (d in seq_len(ord - 1)) {
      ref <- splines2::dbs(x, derivs = d, knots = inner, degree = ord - 1,
                           intercept = TRUE, Boundary.knots = bk)
      expect_close(design_matrix(x, t, ord, derivs = d, sparse = FALSE),
                   unclass(ref)[, ], 1e-12)
    }
  }
})

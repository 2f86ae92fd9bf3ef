# The "bsb" smooth of mgcv against mgcv's own "ps" (difference penalty) and
# "bs" (derivative penalty) on the same knots.

mgcv_data <- function(n = 300, seed = 7) {
  set.seed(seed)
  x <- runif(n)
  z <- runif(n)
  fac <- factor(sample(c("a", "b"), n, replace = TRUE))
  y <- sin(2 * pi * x) + 0.5 * z^2 + (fac == "b") * x + rnorm(n, sd = 0.3)
  data.frame(x, z, fac, y)
}

# Fitted values and total edf of two fits differ by at most tol.
expect_same_fit <- function(a, b, tol) {
  expect_lte(max(abs(fitted(a) - fitted(b))), tol)
  expect_lte(abs(sum(a$edf) - sum(b$edf)), tol)
}

test_that("mgcv finds the bsb methods through the namespace registration", {
  skip_if_not_installed("mgcv")
  table <- get(".__S3MethodsTable__.", envir = asNamespace("mgcv"))
  expect_true(exists("smooth.construct.bsb.smooth.spec", envir = table, inherits = FALSE))
  expect_true(exists("Predict.matrix.bsb.smooth", envir = table, inherits = FALSE))
  expect_identical(get("smooth.construct.bsb.smooth.spec", envir = table),
                   smooth.construct.bsb.smooth.spec)
})

test_that("bsb gives the fit of ps at a fixed smoothing parameter, in gam and bam", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data()
  for (m in list(NA, c(1, 1), c(2, 3), c(3, 2), c(0, 4))) for (sp in c(1e-3, 10)) {
    a <- mgcv::gam(y ~ s(x, bs = "ps", k = 15, m = m), data = d, sp = sp)
    b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 15, m = m), data = d, sp = sp)
    expect_identical(b$smooth[[1]]$knots, a$smooth[[1]]$knots)
    expect_identical(b$smooth[[1]]$m, as.integer(a$smooth[[1]]$m))
    expect_equal(b$smooth[[1]]$null.space.dim, a$smooth[[1]]$null.space.dim)
    expect_same_fit(a, b, 1e-8)
  }
  a <- mgcv::bam(y ~ s(x, bs = "ps", k = 20) + s(z, bs = "ps"), data = d, sp = c(0.1, 3))
  b <- mgcv::bam(y ~ s(x, bs = "bsb", k = 20) + s(z, bs = "bsb"), data = d, sp = c(0.1, 3))
  expect_same_fit(a, b, 1e-8)
})

test_that("bsb gives the fit of ps with the smoothing parameters chosen", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data()
  # The bases agree to rounding, so the optimisers take the same steps; the
  # tolerance allows for their stopping rule (mgcv's convergence tolerance
  # is about 1e-7 on the score) should rounding tip one step.  Seen: 1e-12.
  for (method in c("REML", "GCV.Cp", "ML")) {
    a <- mgcv::gam(y ~ s(x, bs = "ps", k = 20) + s(z, bs = "ps", m = c(1, 1)), data = d,
                   method = method)
    b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 20) + s(z, bs = "bsb", m = c(1, 1)), data = d,
                   method = method)
    expect_same_fit(a, b, 1e-6)
    expect_lte(max(abs(log(a$sp / b$sp))), 1e-4)
  }
  for (method in c("fREML", "GCV.Cp")) {
    a <- mgcv::bam(y ~ s(x, bs = "ps", k = 20), data = d, method = method)
    b <- mgcv::bam(y ~ s(x, bs = "bsb", k = 20), data = d, method = method)
    expect_same_fit(a, b, 1e-6)
  }
})

test_that("the derivative penalty gives the fit of mgcv's bs on the same knots", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data()
  # bs with m = c(degree, q) places the knots of ps with m[1] = degree - 1
  # and integrates the squared q-th derivative over the same interval.
  for (mm in list(c(3, 2), c(3, 1), c(2, 1), c(4, 3))) for (sp in c(1e-4, 1)) {
    a <- mgcv::gam(y ~ s(x, bs = "bs", k = 15, m = mm), data = d, sp = sp)
    b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 15, m = c(mm[1] - 1, mm[2]), xt = "derivative"),
                   data = d, sp = sp)
    expect_lte(max(abs(a$smooth[[1]]$knots - b$smooth[[1]]$knots)), 1e-15)
    expect_same_fit(a, b, 1e-8)
  }
  b <- mgcv::gam(y ~ s(x, bs = "bsb", xt = list(penalty = "derivative")), data = d)
  sm <- b$smooth[[1]]
  expect_equal(sm$penalty, "derivative")
  expect_equal(sm$rank, 8)
  # the penalty before mgcv's rescaling: the integral of f''^2 over the base interval
  raw <- smooth.construct.bsb.smooth.spec(mgcv::s(x, bs = "bsb", xt = "derivative"), d, NULL)
  expect_equal(raw$S[[1]], derivative_penalty(raw$knots, 4, 2), tolerance = 1e-15)
})

test_that("bsb predicts as ps, beyond the knots too, and for derivatives", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data()
  nd <- data.frame(x = c(-0.4, 0, 0.37, 1, 1.5), z = 0.5, fac = "b")
  a <- mgcv::gam(y ~ s(x, bs = "ps", k = 12), data = d, method = "REML")
  b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 12), data = d, method = "REML")
  expect_lte(max(abs(predict(a, nd) - predict(b, nd))), 1e-8)
  pa <- predict(a, nd, type = "lpmatrix")
  pb <- predict(b, nd, type = "lpmatrix")
  expect_lte(max(abs(pa - pb)), 1e-12)
  sa <- mgcv::smoothCon(mgcv::s(x, bs = "ps", m = c(3, 2)), d)[[1]]
  sb <- mgcv::smoothCon(mgcv::s(x, bs = "bsb", m = c(3, 2)), d)[[1]]
  for (deriv in 0:3) {
    sa$deriv <- sb$deriv <- deriv
    A <- mgcv::Predict.matrix(sa, nd)
    B <- mgcv::Predict.matrix(sb, nd)
    expect_close(B, A, 1e-12)
  }
  # outside the knots the prediction is the line through the end
  sb$deriv <- 0
  lo <- sb$knots[5]
  X <- mgcv::Predict.matrix(sb, data.frame(x = c(lo - 1, lo, lo + 1e-6)))
  slope <- (X[3, ] - X[2, ]) / 1e-6
  expect_lte(max(abs(X[1, ] - (X[2, ] - slope))), 1e-5)
})

test_that("by variables, tensor products and supplied knots work as for ps", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data()
  a <- mgcv::gam(y ~ fac + s(x, bs = "ps", by = fac) + s(x, bs = "ps", by = z), data = d,
                 sp = c(0.5, 0.5, 2))
  b <- mgcv::gam(y ~ fac + s(x, bs = "bsb", by = fac) + s(x, bs = "bsb", by = z), data = d,
                 sp = c(0.5, 0.5, 2))
  expect_same_fit(a, b, 1e-8)
  a <- mgcv::gam(y ~ te(x, z, bs = "ps", k = c(6, 5)), data = d, sp = c(0.1, 1))
  b <- mgcv::gam(y ~ te(x, z, bs = "bsb", k = c(6, 5)), data = d, sp = c(0.1, 1))
  expect_same_fit(a, b, 1e-8)
  for (kn in list(c(-0.5, 1.5), seq(-0.7, 1.7, length.out = 16))) {
    expect_warning(a <- mgcv::gam(y ~ s(x, bs = "ps", k = 12), knots = list(x = kn),
                                  data = d, sp = 0.2), "no\\* information")
    expect_warning(b <- mgcv::gam(y ~ s(x, bs = "bsb", k = 12), knots = list(x = kn),
                                  data = d, sp = 0.2), "no\\* information")
    expect_identical(b$smooth[[1]]$knots, as.double(a$smooth[[1]]$knots))
    expect_same_fit(a, b, 1e-8)
  }
  kc <- mgcv::k.check(b)
  expect_equal(kc[, "k'"], 11)
  expect_equal(kc[, "edf"], sum(b$edf) - 1, tolerance = 1e-12)
})

test_that("bsb rejects what it cannot build", {
  skip_if_not_installed("mgcv")
  d <- mgcv_data(60)
  gam <- function(f, ...) mgcv::gam(f, data = d, ...)
  expect_error(gam(y ~ s(x, bs = "bsb", m = c(2, 5))), "order 1 to 4 are available")
  expect_error(gam(y ~ s(x, bs = "bsb", m = c(1, 3), xt = "derivative")),
               "derivative of order m\\[2\\] = 3 of a spline of order 3 is 0")
  expect_error(gam(y ~ s(x, bs = "bsb", xt = "second")), "must be \"difference\" or")
  expect_error(gam(y ~ s(x, bs = "bsb", k = 3)), "k = 3 is too small")
  expect_error(gam(y ~ s(x, bs = "bsb", k = 8), knots = list(x = 1:5)),
               "there should be 12 supplied knots")
  expect_error(gam(y ~ s(x, bs = "bsb"), knots = list(x = c(0.2, 0.8))),
               "knot range does not include data")
})

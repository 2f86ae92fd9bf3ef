# bsbasis::splineDesign in place of splines::splineDesign.  The cases are
# those of R's own regression tests for splines (R 4.2,
# src/library/splines/tests/spline-tst.R) and the examples of
# ?splineDesign, ?bs, ?ns and ?interpSpline: each call runs with splines'
# functions and again with splines' bs, ns and interpSpline running on our
# splineDesign, and must give the same values, warnings and errors.

test_that("the cases of PR#16549 give splines' rows", {
  kn8.01 <- c(0, 0, 0, 0, 1, 1, 1, 1)
  m1 <- rbind(c(1, 0, 0, 0))
  m.1 <- rbind(c(0, 0, 0, 1))
  vars <- list(kn8.01 = kn8.01)
  expect_as_splines(quote(splineDesign(kn8.01, c(0, 2), outer.ok = TRUE)), vars)
  expect_as_splines(quote(splineDesign(kn8.01, c(0, 1, 2), outer.ok = TRUE)), vars)
  expect_as_splines(quote(splineDesign(kn8.01, c(-1, 0, 1), outer.ok = TRUE)), vars)
  expect_as_splines(quote(splineDesign(kn8.01, 0, outer.ok = TRUE)), vars)
  expect_as_splines(quote(splineDesign(kn8.01, 0)), vars)
  expect_equal(splineDesign(kn8.01, c(-1, 0, 1), outer.ok = TRUE), rbind(0, m1, m.1))
  S <- expect_as_splines(quote(splineDesign(c(-3, -3, -2, 0, 2, 3, 3), x = -3:3, outer.ok = TRUE)))
  expect_equal(S, rbind(0, c(22, 3, 0) / 45, c(193, 6 * 23, 9) / 360, c(1, 3, 1) / 5,
                        c(9, 6 * 23, 193) / 360, c(0, 3, 22) / 45, 0), tolerance = 1e-14)
})

# splines' grid for a knot vector: the distinct knots and n points from
# just below the first to just above the last.
knot_grid <- function(knots, n) {
  uk <- unique(knots)
  dk <- diff(range(uk))
  if (dk == 0) dk <- uk[1L] / 4
  d.x <- dk / (2 * length(knots))
  sort(c(uk, seq.int(min(knots) - d.x, max(knots) + d.x, length.out = n)))
}

# What spline-tst.R checks of a basis on the grid (its chkSum), with ours
# in place of splines: rows that sum to 1 inside the base interval and lie
# in [0, 1] outside; the same rows as splines but where ours deliberately
# differs at the right end, where ours holds the limit from the left and
# splines a 1 on a B-spline that is identically zero.
check_sums <- function(knots, ord = 4, n = 1 + 2^9) {
  x <- knot_grid(knots, n)
  vars <- list(knots = knots, x = x, ord = ord)
  differ <- right_end_rows(knots, x, ord, 0L, outer.ok = TRUE)
  keep <- setdiff(seq_along(x), differ)
  info <- paste(deparse(knots), "ord", ord)
  expect_as_splines(quote(splineDesign(knots, x = x[keep], ord = ord, outer.ok = TRUE)),
                    c(vars, list(keep = keep)), info = info)
  bb <- splineDesign(knots, x = x, ord = ord, outer.ok = TRUE)
  nk <- length(knots)
  inside <- knots[ord] <= x & x <= knots[nk - (ord - 1)]
  s <- rowSums(bb)
  eps <- 3 * .Machine$double.eps
  expect(all(is.finite(s)) && all(abs(1 - s[inside]) <= 2 * eps) && all(0 <= s + eps) &&
           all(s - 2 * eps <= 1), paste(info, ": rows do not sum to 1"))
  for (r in differ) {
    ours <- bb[r, ]
    ref <- splines::splineDesign(knots, x = x[r], ord = ord, outer.ok = TRUE)
    zero <- which(knots[seq_len(nk - ord)] == knots[seq_len(nk - ord) + ord])
    expect(max(abs(ours - left_limit(knots, x[r], ord, 0))) < 1e-12 && sum(ref[, zero]) == 1,
           paste(info, ": at", x[r], "ours", toString(ours), "splines", toString(ref)))
  }
  length(differ)
}

test_that("spline-tst.R's sums over the knots of ?splineDesign and its failures", {
  knots <- c(1, 1.8, 3:5, 6.5, 7, 8.1, 9.2, 10)
  for (ord in 1:4) {
    check_sums(knots, ord)
    check_sums(knots, ord, n = 2^10)  # the grid spline-tst.R plots
  }
  kn8.01 <- c(0, 0, 0, 0, 1, 1, 1, 1)
  check_sums(kn8.01)
  check_sums(kn8.01, n = 2^10)
  check_sums(c(1:5, 9, 9), ord = 2)
  check_sums(c(1:4, 9, 9, 9), ord = 3)
  check_sums(c(1:3, 9, 9, 9, 9), ord = 4)
  check_sums(c(0, 0, 0, 0, 1:3), ord = 4)
  check_sums(c(0, 0, 0, 1:4), ord = 3)
  check_sums(c(0, 0, 1:5), ord = 2)
  for (k in 0:8) {
    check_sums(c(0:k, 9, 9, 9), ord = 2)
    check_sums(c(0:k, 9, 9, 9, 9), ord = 3)
    check_sums(c(0:k, 9, 9, 9, 9, 9), ord = 4)
  }
  check_sums(c(-14, -4, 3, 5, 6, 15, 15))
})

test_that("spline-tst.R's 1000 random knot vectors, orders 1 to 4", {
  set.seed(17)
  differ <- 0
  for (n in 1:1000) {
    kn <- sort.int(round(10 * rnorm(4 + rpois(1, lambda = 4))))
    for (oo in 1:4) differ <- differ + check_sums(kn, ord = oo)
  }
  expect_gt(differ, 0)  # the right-end difference occurs among them
})

test_that("spline-tst.R's degenerate ends: k6.01, r., r03, r04", {
  k6.01 <- c(0, 0, 0, 1, 1, 1)
  sp8 <- expect_as_splines(quote(splineDesign(k6.01, x = (0:8) / 8, ord = 2)),
                           list(k6.01 = k6.01))
  expect_equal(8 * sp8, cbind(0, 8:0, 0:8, 0), tolerance = 1e-14)
  expect_identical(cbind(0, diag(2), 0), splineDesign(k6.01, x = 0:1, ord = 2))
  check_sums(k6.01, ord = 2, n = 16)
  plotted <- function(knots, ord) splineDesign(knots, knot_grid(knots, 2^10), ord, outer.ok = TRUE)
  r <- plotted(c(0:4, 8.9, 9, 9, 9), 3)
  r. <- plotted(c(0:4, 9, 9, 9, 9), 3)
  x. <- knot_grid(c(0:4, 9, 9, 9, 9), 2^10)
  expect_true(all(r.[, 6] == 0))
  expect_identical(c(0, 0, 0, 0, 1, 0), r.[x. == 9, ])
  x0 <- knot_grid(c(0, 0, 0, 0, 1:5), 2^10)
  expect_identical(c(0, 1, 0, 0, 0, 0), plotted(c(0, 0, 0, 0, 1:5), 3)[x0 == 0, ])
  expect_identical(c(1, 0, 0, 0, 0), plotted(c(0, 0, 0, 0, 1:5), 4)[x0 == 0, ])
  for (kn in list(c(0:4, 8.9, 9, 9, 9), c(0:4, 9, 9, 9, 9), c(0, 0, 0, 0, 1:5)))
    check_sums(kn, ord = 3, n = 2^10)
  check_sums(c(0, 0, 0, 0, 1:5), ord = 4, n = 2^10)
  check_sums(c(0, 0, 0, 1:5), ord = 4, n = 2^10)
})

test_that("interpSpline, dense and sparse, on our splineDesign", {
  vars <- list(women = datasets::women)
  ispl <- expect_as_splines(quote(interpSpline.default(women$height, women$weight)), vars,
                            tol = 1e-10, exact_zeros = FALSE)
  isp. <- expect_as_splines(quote(interpSpline.default(women$height, women$weight,
                                                      sparse = TRUE)), vars, tol = 1e-10,
                            exact_zeros = FALSE)
  expect_true(isTRUE(all.equal(ispl, isp., tol = 1e-12)))
  for (n in c(100, 150, 200, 275, 400, 575, 800)) {
    h <- seq(55, 75, length.out = n)
    w <- predict(ispl, h)$y
    d <- expect_as_splines(quote(interpSpline.default(h, w, sparse = FALSE)),
                           list(h = h, w = w), tol = 1e-9, exact_zeros = FALSE)
    s <- expect_as_splines(quote(interpSpline.default(h, w, sparse = TRUE)),
                           list(h = h, w = w), tol = 1e-9, exact_zeros = FALSE)
    expect_true(isTRUE(all.equal(d, s, tol = 1e-7)))
  }
})

test_that("the examples of ?splineDesign", {
  expect_as_splines(quote(splineDesign(knots = 1:10, x = 4:7)))
  expect_as_splines(quote(splineDesign(knots = 1:10, x = 4:7, derivs = 1)), exact_zeros = FALSE)
  expect_as_splines(quote(suppressMessages(Matrix::drop0(zapsmall(
    6 * splineDesign(knots = 1:40, x = 4:37, sparse = TRUE))))))
  knots <- c(1, 1.8, 3:5, 6.5, 7, 8.1, 9.2, 10)
  x <- seq(min(knots) - 1, max(knots) + 1, length.out = 501)
  expect_as_splines(quote(splineDesign(knots, x = x, outer.ok = TRUE)),
                    list(knots = knots, x = x))
})

test_that("the examples of ?bs, ?ns and ?predict.bs, on our splineDesign", {
  vars <- list(women = datasets::women)
  expect_as_splines(quote(bs(women$height, df = 5)), vars)
  expect_as_splines(quote(ns(women$height, df = 5)), vars, tol = 1e-12, exact_zeros = FALSE)
  # lm and predict: model.frame keeps the basis' knots (makepredictcall)
  # and predict evaluates the kept call, on our splineDesign
  fit <- function(B) bquote({
    fm1 <- lm(weight ~ .(as.name(B))(height, df = 5), data = women)
    ht <- seq(57, 73, length.out = 200)
    list(coef = unname(coef(fm1)), fitted = unname(fitted(fm1)),
         predicted = unname(predict(fm1, data.frame(height = ht))),
         predvars = attr(terms(fm1), "predvars"))
  })
  for (B in c("bs", "ns")) {
    o <- lapply(c("ours", "splines"), function(impl) {
      outcome(fit(B), list2env(list(women = datasets::women), parent = splines_on(impl)))
    })
    expect_identical(o[[1]]$warnings, o[[2]]$warnings)
    r <- lapply(o, `[[`, "value")
    expect_equal(r[[1]]$coef, r[[2]]$coef, tolerance = 1e-10)
    expect_equal(r[[1]]$fitted, r[[2]]$fitted, tolerance = 1e-10)
    expect_equal(r[[1]]$predicted, r[[2]]$predicted, tolerance = 1e-10)
    expect_equal(r[[1]]$predvars, r[[2]]$predvars, tolerance = 1e-13)
  }
  x <- c(1:3, 5:6)
  vars <- list(x = x)
  for (call in list(quote(bs(x)), quote(bs(x, df = 3)), quote(bs(x, df = 4)),
                    quote(bs(x, df = 4, knots = NULL)), quote(ns(x)), quote(ns(x, df = 1)),
                    quote(ns(x, df = 2)), quote(ns(x, df = 2, knots = NULL))))
    expect_as_splines(call, vars, tol = 1e-12, exact_zeros = FALSE)
  ours <- splines_on("ours")
  expect_identical(ours$bs(x), ours$bs(x, df = 3))
  expect_identical(ours$ns(x), ours$ns(x, df = 1))
  basis <- expect_as_splines(quote(predict.ns(ns(women$height, df = 5),
                                              seq(58, 72, length.out = 51))),
                             list(women = datasets::women), tol = 1e-12, exact_zeros = FALSE)
  expect_equal(dim(basis), c(51, 5))
  expect_as_splines(quote(predict.bs(bs(women$height, df = 5),
                                     seq(50, 80, length.out = 51))),
                    list(women = datasets::women), tol = 1e-12, exact_zeros = FALSE)
})

test_that("bs and lm on one observation give splines' zero row", {
  expect_as_splines(quote(bs(pi)))
  expect_as_splines(quote(ns(pi)), exact_zeros = FALSE)
  expect_as_splines(quote(splineDesign(rep(pi, 8), pi)))
  expect_as_splines(quote(splineDesign(rep(pi, 8), pi, derivs = 1)))
  for (impl in c("ours", "splines")) {
    env <- list2env(list(Y = 2, u = 1), parent = splines_on(impl))
    cf <- eval(quote(coef(lm(Y ~ bs(u)))), env)
    expect_identical(unname(cf), c(2, NA, NA, NA))
  }
})

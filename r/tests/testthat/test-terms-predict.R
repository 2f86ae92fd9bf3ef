# Safe prediction: predict() evaluates a term at new abscissae on the knots
# it was formed with, and makepredictcall() writes those knots into a
# model's call, so that lm, glm and coxph predict on new data with the basis
# of the fit.

# Data whose df knots move when a few rows are taken alone.
term_data <- function(n = 120) {
  set.seed(21)
  x <- sort(runif(n, 0, 10))
  data.frame(x = x, y = sin(x) + rnorm(n, sd = 0.2), z = rbinom(n, 1, plogis(sin(x))),
             h = runif(n, 0, 24))
}

test_that("predict() keeps the knots, boundary knots, degree and intercept", {
  d <- term_data()
  newx <- c(-1, 0.5, 3, 9.9, 11)
  b <- bsbasis::bs(d$x, df = 6, degree = 2, intercept = TRUE)
  expect_warning(p <- predict(b, newx), "beyond boundary knots")
  expect_identical(p, suppressWarnings(bsbasis::bs(newx, knots = attr(b, "knots"), degree = 2,
                                                   intercept = TRUE,
                                                   Boundary.knots = attr(b, "Boundary.knots"))))
  expect_warning(predict(b, newx, warn.outside = FALSE), NA)
  expect_identical(predict(b), b)
  n <- bsbasis::ns(d$x, df = 5)
  expect_identical(predict(n, newx),
                   bsbasis::ns(newx, knots = attr(n, "knots"),
                               Boundary.knots = attr(n, "Boundary.knots")))
  p <- pbs(d$h, df = 6, Boundary.knots = c(0, 24))
  expect_identical(predict(p, c(1, 25)), pbs(c(1, 25), knots = attr(p, "knots"),
                                             Boundary.knots = c(0, 24)))
  expect_identical(unclass(predict(p, c(1, 25)))[1, ], unclass(predict(p, c(1, 25)))[2, ])
  # derivatives and sparse results keep what they are
  db <- bsbasis::bs(d$x, df = 6, derivs = 1)
  expect_identical(predict(db, newx[2:4]),
                   bsbasis::bs(newx[2:4], knots = attr(db, "knots"), derivs = 1,
                               Boundary.knots = attr(db, "Boundary.knots")))
  sn <- bsbasis::ns(d$x, df = 5, sparse = TRUE)
  expect_identical(predict(sn, newx), bsbasis::ns(newx, knots = sn@knots, sparse = TRUE,
                                                   Boundary.knots = sn@Boundary.knots))
  expect_identical(as.matrix(predict(sn, newx)), unclass(predict(n, newx))[, ],
                   ignore_attr = TRUE)
})

test_that("bsbasis's methods serve splines' bases, and stay in force with splines loaded", {
  requireNamespace("splines")
  expect_identical(environment(getS3method("predict", "bs")), asNamespace("bsbasis"))
  expect_identical(environment(getS3method("makepredictcall", "ns")), asNamespace("bsbasis"))
  d <- term_data()
  newx <- seq(0.2, 9.8, length.out = 7)
  sb <- splines::bs(d$x, df = 7)
  expect_equal(predict(sb, newx), splines:::predict.bs(sb, newx), tolerance = 1e-13)
  sn <- splines::ns(d$x, df = 7)
  expect_equal(predict(sn, newx), splines:::predict.ns(sn, newx), tolerance = 1e-13)
  # knots on a boundary knot: only splines' ns makes them, and evaluates them
  sk <- splines::ns(d$x, knots = c(min(d$x), 5))
  expect_identical(predict(sk, newx), splines:::predict.ns(sk, newx))
})

test_that("makepredictcall() spells out the fixed attributes in the term's call", {
  d <- term_data()
  b <- bsbasis::bs(d$x, df = 5)
  call <- makepredictcall(b, quote(bs(x, df = 5)))
  expect_identical(call, as.call(c(list(quote(bs), quote(x)), attributes(b)[
    c("degree", "knots", "Boundary.knots", "intercept")])))
  # the same as splines' method writes
  expect_identical(call, splines:::makepredictcall.bs(b, quote(bs(x, df = 5))))
  # calls spelled with the namespace, splines' too
  expect_identical(makepredictcall(b, quote(bsbasis::bs(x, df = 5)))[[1]], quote(bsbasis::bs))
  expect_false(is.null(makepredictcall(b, quote(bsbasis::bs(x, df = 5)))$knots))
  n <- splines::ns(d$x, df = 4)
  expect_identical(makepredictcall(n, quote(splines::ns(x, df = 4))),
                   splines:::makepredictcall.ns(n, quote(splines::ns(x, df = 4))))
  # other calls and plain variables are left alone
  expect_identical(makepredictcall(b, quote(poly(x, 3))), quote(poly(x, 3)))
  expect_identical(makepredictcall(b, quote(x)), quote(x))
  # the arguments that do not change the basis stay, derivs come from var
  db <- bsbasis::bs(d$x, df = 5, derivs = 2, warn.outside = FALSE)
  call <- makepredictcall(db, quote(bs(x, df = 5, derivs = 2, warn.outside = FALSE, threads = 2)))
  expect_identical(call$warn.outside, FALSE)
  expect_identical(call$threads, 2)
  expect_identical(call$derivs, 2L)
  expect_null(call$df)
  s <- pbs(d$h, df = 6, Boundary.knots = c(0, 24), sparse = TRUE)
  call <- makepredictcall(s, quote(pbs(h, df = 6, Boundary.knots = c(0, 24), sparse = TRUE)))
  expect_identical(call$sparse, TRUE)
  expect_identical(call$knots, s@knots)
  expect_identical(eval(call, list(h = d$h)), s)
})

# Predictions on the first rows alone equal the fitted values there: with
# the knots recomputed from those rows they would not.
expect_safe <- function(fit, newdata, fitted) {
  expect_equal(unname(predict(fit, newdata)), unname(fitted), tolerance = 1e-10)
}

test_that("lm and glm predict safely on new data", {
  d <- term_data()
  new <- d[c(1, 2, 60, 119, 120), ]
  forms <- list(y ~ bs(x, df = 6), y ~ bsbasis::bs(x, df = 5, degree = 2),
                y ~ ns(x, df = 4), y ~ bsbasis::ns(x, df = 6, intercept = TRUE) - 1,
                y ~ pbs(h, df = 5, Boundary.knots = c(0, 24)),
                y ~ bs(x, knots = c(3, 6), Boundary.knots = c(-1, 11)))
  for (f in forms) {
    environment(f) <- asNamespace("bsbasis")  # bs and ns are bsbasis's
    fit <- lm(f, d)
    expect_safe(fit, new, fitted(fit)[c(1, 2, 60, 119, 120)])
    g <- glm(update(f, z ~ .), binomial, d)
    expect_safe(g, new, predict(g)[c(1, 2, 60, 119, 120)])
  }
  # the same fit and predictions as with splines' terms
  pairs <- list(list(y ~ bs(x, df = 6), y ~ splines::bs(x, df = 6)),
                list(y ~ ns(x, df = 6), y ~ splines::ns(x, df = 6)))
  for (f in pairs) {
    environment(f[[1]]) <- asNamespace("bsbasis")
    ours <- lm(f[[1]], d)
    theirs <- lm(f[[2]], d)
    grid <- data.frame(x = seq(-1, 11, length.out = 25))
    expect_equal(unname(coef(ours)), unname(coef(theirs)), tolerance = 1e-10)
    expect_equal(suppressWarnings(predict(ours, grid)), suppressWarnings(predict(theirs, grid)),
                 tolerance = 1e-10)
  }
})

test_that("the rows of new data a period apart predict the same (pbs)", {
  d <- term_data()
  fit <- lm(y ~ pbs(h, df = 6, Boundary.knots = c(0, 24)), d)
  p <- predict(fit, data.frame(h = c(2, 26, -22)))
  expect_equal(p[[2]], p[[1]], tolerance = 1e-12)
  expect_equal(p[[3]], p[[1]], tolerance = 1e-12)
})

test_that("coxph predicts safely on new data", {
  skip_if_not_installed("survival")
  coxph <- getExportedValue("survival", "coxph")
  Surv <- getExportedValue("survival", "Surv")
  d <- term_data()
  d$time <- rexp(nrow(d), exp(0.3 * sin(d$x)))
  d$event <- 1
  fit <- coxph(Surv(time, event) ~ bsbasis::bs(x, df = 4), d)
  new <- d[c(1, 50, 120), ]
  expect_equal(unname(predict(fit, new, type = "lp")),
               unname(predict(fit, type = "lp")[c(1, 50, 120)]), tolerance = 1e-10)
})

# bs() and ns() against splines' functions of those names, and pbs(): the
# same matrices (within 1e-13 of each row's largest entry), attributes,
# classes, warnings and errors; derivatives, sparse results and threads.

# The value, or the error's class and message, of evaluating `expr`, and
# the class and message of every warning, in order.
conditions <- function(expr) {
  warned <- list()
  value <- withCallingHandlers(
    tryCatch(expr, error = function(e) structure(list(class(e), conditionMessage(e)),
                                                   class = "failed")),
    warning = function(w) {
      warned[[length(warned) + 1L]] <<- list(class(w), conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  list(value = value, warnings = warned)
}

# ours and splines' agree: the same warnings, the same error or the same
# attributes, NA pattern and values within tol of each row's largest
# entry (at least 1).
expect_term <- function(ours, theirs, tol = 1e-13, info = "") {
  a <- conditions(ours)
  b <- conditions(theirs)
  expect_identical(a$warnings, b$warnings, info = info)
  if (inherits(a$value, "failed") || inherits(b$value, "failed")) {
    expect_identical(a$value, b$value, info = info)
    return(invisible(NULL))
  }
  a <- a$value
  b <- b$value
  expect_identical(class(a), class(b), info = info)
  expect_identical(attributes(a)[setdiff(names(attributes(b)), "dim")],
                   attributes(b)[setdiff(names(attributes(b)), "dim")], info = info)
  expect_identical(dim(a), dim(b), info = info)
  expect_identical(is.na(unclass(a)), is.na(unclass(b)), info = info)
  expect_row_close(a, b, tol, info)
  invisible(a)
}

expect_row_close <- function(a, b, tol, info = "") {
  a <- unclass(as.matrix(a))
  b <- unclass(as.matrix(b))
  attributes(a) <- attributes(b) <- list(dim = dim(b))
  ok <- rowSums(!is.finite(b)) == 0
  scale <- pmax(1, apply(abs(b[ok, , drop = FALSE]), 1, max))
  err <- if (any(ok)) max(abs(a[ok, , drop = FALSE] - b[ok, , drop = FALSE]) / scale) else 0
  expect_lte(err, tol, label = paste("relative difference", info))
}

# Abscissae over [-2, 12] with NAs, boundary knots inside, interior knots
# strictly inside those.
term_case <- function(n_inner) {
  x <- runif(60, -2, 12)
  x[sample(60, 3)] <- NA
  names(x) <- paste0("p", seq_along(x))
  bk <- sort(runif(2, 0, 10))
  while (diff(bk) < 2) bk <- sort(runif(2, 0, 10))
  knots <- sort(runif(n_inner, bk[1] + 0.01, bk[2] - 0.01))
  list(x = x, bk = bk, knots = knots)
}

test_that("bs() is splines::bs over random knots, degrees and intercepts", {
  set.seed(11)
  for (rep in 1:60) {
    k <- term_case(sample(0:6, 1))
    degree <- sample(1:5, 1)
    intercept <- sample(c(FALSE, TRUE), 1)
    info <- sprintf("case %d: degree %d, %d knots", rep, degree, length(k$knots))
    expect_term(bsbasis::bs(k$x, knots = k$knots, degree = degree, intercept = intercept,
                            Boundary.knots = k$bk),
                splines::bs(k$x, knots = k$knots, degree = degree, intercept = intercept,
                            Boundary.knots = k$bk), info = info)
    # the same without x beyond the boundary knots, which the default makes
    inside <- k$x[!is.na(k$x) & k$x >= k$bk[1] & k$x <= k$bk[2]]
    expect_term(bsbasis::bs(inside, knots = k$knots, degree = degree, intercept = intercept),
                splines::bs(inside, knots = k$knots, degree = degree, intercept = intercept),
                info = info)
  }
})

test_that("ns() is splines::ns over random knots and intercepts", {
  set.seed(12)
  for (rep in 1:60) {
    k <- term_case(sample(0:8, 1))
    intercept <- sample(c(FALSE, TRUE), 1)
    info <- sprintf("case %d: %d knots", rep, length(k$knots))
    expect_term(bsbasis::ns(k$x, knots = k$knots, intercept = intercept, Boundary.knots = k$bk),
                splines::ns(k$x, knots = k$knots, intercept = intercept, Boundary.knots = k$bk),
                info = info)
  }
})

test_that("knots from df are splines' quantiles, bit for bit", {
  set.seed(13)
  data <- list(runif(500), round(rnorm(3000), 1), c(rep(3, 200), runif(300, 3, 9)),
               rexp(1e5), sort(runif(7e4)), as.double(sample(1:40, 2e5, TRUE)))
  for (x in data) for (df in c(4, 7, 12)) {
    expect_identical(attr(bsbasis::bs(x, df = df), "knots"), attr(splines::bs(x, df = df), "knots"))
    expect_identical(attr(bsbasis::bs(x, df = df, degree = 2, intercept = TRUE), "knots"),
                     attr(splines::bs(x, df = df, degree = 2, intercept = TRUE), "knots"))
  }
  # the quantiles are of the x within the boundary knots
  x <- runif(300, -1, 2)
  knots_of <- function(f) attr(suppressWarnings(f(x, df = 6, Boundary.knots = c(0, 1))), "knots")
  expect_identical(knots_of(bsbasis::bs), knots_of(splines::bs))
  expect_identical(attr(bsbasis::ns(x, df = 6, Boundary.knots = c(-2, 3)), "knots"),
                   attr(splines::ns(x, df = 6, Boundary.knots = c(-2, 3)), "knots"))
  expect_term(bsbasis::bs(x, df = 9), splines::bs(x, df = 9))
  expect_term(bsbasis::ns(x, df = 9, intercept = TRUE), splines::ns(x, df = 9, intercept = TRUE))
})

test_that("splines' warnings and errors, with their classes and messages", {
  x <- c(0.5, 2, 3.5, 5, 7.25, 9)
  expect_term(bsbasis::bs(x, degree = 0), splines::bs(x, degree = 0))
  expect_term(bsbasis::bs(x, df = 2), splines::bs(x, df = 2))
  expect_term(bsbasis::bs(x, df = 1, intercept = TRUE), splines::bs(x, df = 1, intercept = TRUE))
  expect_term(bsbasis::ns(x, df = 0), splines::ns(x, df = 0))
  expect_term(bsbasis::bs(x, Boundary.knots = c(1, 8)), splines::bs(x, Boundary.knots = c(1, 8)))
  expect_term(bsbasis::bs(c(NA, NA)), splines::bs(c(NA, NA)))
  expect_term(bsbasis::ns(c(NA, NA)), splines::ns(c(NA, NA)))
  expect_term(bsbasis::bs(pi), splines::bs(pi))
  expect_term(bsbasis::ns(pi), splines::ns(pi))
  expect_term(bsbasis::bs(c(2, 2, 2)), splines::bs(c(2, 2, 2)))
  expect_term(bsbasis::ns(c(2, 2, 2)), splines::ns(c(2, 2, 2)))
  # beyond the boundary knots, without the warning
  expect_warning(b <- bsbasis::bs(x, Boundary.knots = c(1, 8), warn.outside = FALSE), NA)
  expect_row_close(b, suppressWarnings(splines::bs(x, Boundary.knots = c(1, 8))), 1e-13)
})

test_that("NA and infinite abscissae give splines' rows", {
  x <- c(a = 1, b = 5, c = NA, d = 3, e = Inf, f = -Inf, g = 2, h = NaN)
  bk <- c(1.5, 4)
  expect_term(bsbasis::bs(x, Boundary.knots = bk), splines::bs(x, Boundary.knots = bk))
  expect_term(bsbasis::bs(x, knots = 2.5, Boundary.knots = c(1.5, 4), degree = 2),
              splines::bs(x, knots = 2.5, Boundary.knots = c(1.5, 4), degree = 2))
  expect_term(bsbasis::ns(x, Boundary.knots = bk), splines::ns(x, Boundary.knots = bk))
  b <- bsbasis::bs(x[-(5:6)], df = 5)
  expect_identical(rownames(b), names(x)[-(5:6)])
  expect_true(all(is.na(b[c("c", "h"), ])))
})

test_that("bs() follows splines where knots lie on or beyond a boundary knot", {
  set.seed(14)
  x <- c(rep(0, 40), runif(60), -0.5, 1.5)
  # knots from df on the tied minimum: the knot equals the lower boundary knot
  expect_term(bsbasis::bs(x[1:100], df = 6), splines::bs(x[1:100], df = 6))
  expect_term(bsbasis::bs(x, df = 6, Boundary.knots = c(0, 1)),
              splines::bs(x, df = 6, Boundary.knots = c(0, 1)))
  expect_identical(attr(bsbasis::bs(x[1:100], df = 6), "knots")[[1]], 0)
  # a knot beyond the left boundary knot
  expect_term(bsbasis::bs(1:10, knots = 0), splines::bs(1:10, knots = 0))
})

test_that("ns() refuses knots on or beyond a boundary knot, saying why", {
  x <- c(rep(0, 40), seq(0.01, 1, length.out = 60))
  expect_error(bsbasis::ns(x, df = 6),
               "knots\\[1\\] = 0 lies on a boundary knot: ns\\(\\) needs every knot strictly")
  expect_error(bsbasis::ns(x, df = 6), "quantiles of 'x', which has tied values")
  expect_error(bsbasis::ns(1:10, knots = c(3, 10)), "knots\\[2\\] = 10 lies on a boundary knot")
  expect_error(bsbasis::ns(1:10, knots = c(3, 12)), "knots\\[2\\] = 12 lies outside")
  expect_error(bsbasis::ns(1:10, knots = c(3, NA)), "'knots' must be finite: knots\\[2\\] = NA")
  # splines builds a basis on a knot at the lower boundary knot
  expect_identical(dim(splines::ns(1:10, knots = c(1, 5))), c(10L, 3L))
  expect_error(bsbasis::ns(1:10, knots = c(1, 5)), "knots\\[1\\] = 1 lies on a boundary knot")
})

test_that("derivs are splineDesign's derivatives inside and the continued pieces' outside", {
  set.seed(15)
  for (rep in 1:12) {
    k <- term_case(sample(1:5, 1))
    degree <- sample(1:4, 1)
    ord <- degree + 1L
    x <- k$x[!is.na(k$x)]
    inside <- x >= k$bk[1] & x <= k$bk[2]
    aknots <- sort(c(rep(k$bk, ord), k$knots))
    for (d in 0:degree) {
      b <- bsbasis::bs(x, knots = k$knots, degree = degree, Boundary.knots = k$bk, derivs = d,
                       intercept = TRUE, warn.outside = FALSE)
      ref <- splines::splineDesign(aknots, x[inside], ord, rep(d, sum(inside)))
      expect_row_close(b[inside, ], ref, 1e-12)
      # beyond: the degree-th polynomial through splines' values there
      for (side in c(-1, 1)) {
        far <- if (side < 0) x[x < k$bk[1]] else x[x > k$bk[2]]
        if (!length(far)) next
        edge <- if (side < 0) k$bk[1] else k$bk[2]
        u <- edge + side * seq(0.5, 1.5, length.out = ord)
        v <- suppressWarnings(splines::bs(u, knots = k$knots, degree = degree,
                                          Boundary.knots = k$bk, intercept = TRUE))
        coef <- solve(outer(u - edge, 0:degree, `^`), unclass(v)[, ])
        powers <- outer(far - edge, 0:degree, function(h, p)
          ifelse(p >= d, h^pmax(p - d, 0) * factorial(p) / factorial(pmax(p - d, 0)), 0))
        expect_row_close(b[x %in% far, ], powers %*% coef, 1e-8)
      }
    }
    expect_identical(attr(b, "derivs"), degree)
    expect_identical(class(b), c("basis_derivs", "bs", "basis", "matrix"))
  }
  expect_error(bsbasis::bs(1:10, degree = 2, derivs = 3), "'derivs' must lie in 0 .. 2")
  # one order per abscissa, recycled, as splineDesign takes them
  x <- seq(0, 1, length.out = 9)
  b <- bsbasis::bs(x, df = 6, derivs = c(0, 1, 2))
  for (d in 0:2)
    expect_identical(b[seq(d + 1, 9, by = 3), ],
                     bsbasis::bs(x, df = 6, derivs = d)[seq(d + 1, 9, by = 3), ])
})

test_that("ns() derivatives: the projected B-spline derivatives inside, linear outside", {
  set.seed(16)
  k <- term_case(4)
  x <- k$x[!is.na(k$x)]
  inside <- x >= k$bk[1] & x <= k$bk[2]
  aknots <- sort(c(rep(k$bk, 4), k$knots))
  const <- splines::splineDesign(aknots, k$bk, 4, c(2, 2))[, -1]
  qr.const <- qr(t(const))
  for (d in 0:3) {
    b <- bsbasis::ns(x, knots = k$knots, Boundary.knots = k$bk, derivs = d)
    raw <- splines::splineDesign(aknots, x[inside], 4, rep(d, sum(inside)))[, -1]
    ref <- t(qr.qty(qr.const, t(raw)))[, -(1:2)]
    expect_row_close(b[inside, ], ref, 1e-12)
    slope <- bsbasis::ns(k$bk, knots = k$knots, Boundary.knots = k$bk, derivs = 1)
    out <- b[!inside, , drop = FALSE]
    if (d == 1) {
      left <- x[!inside] < k$bk[1]
      expect_row_close(out, slope[ifelse(left, 1, 2), , drop = FALSE], 1e-12)
    } else if (d >= 2) {
      expect_true(all(out == 0))
    }
  }
})

test_that("sparse = TRUE holds the dense matrix in a dgCMatrix", {
  set.seed(17)
  x <- c(runif(200, -1, 11), NA, 5)
  for (f in list(function(...) bsbasis::bs(x, df = 7, Boundary.knots = c(0, 10),
                                             warn.outside = FALSE, ...),
                 function(...) bsbasis::ns(x, df = 5, Boundary.knots = c(0, 10), ...),
                 function(...) pbs(x, df = 6, Boundary.knots = c(0, 10), ...),
                 function(...) bsbasis::bs(x, df = 7, derivs = 2, ...))) {
    dense <- f()
    s <- f(sparse = TRUE)
    expect_s4_class(s, "sparseBasis")
    expect_true(methods::is(s, "dgCMatrix"))
    expect_true(methods::validObject(s))
    expect_identical(dim(s), dim(dense))
    expect_identical(dimnames(s), list(NULL, colnames(dense)))
    m <- as.matrix(s)
    expect_identical(is.na(m), is.na(unclass(dense)[, ]))
    expect_identical(m[!is.na(m)], unclass(dense)[, ][!is.na(m)])
    expect_identical(s@knots, attr(dense, "knots"))
    expect_identical(s@Boundary.knots, attr(dense, "Boundary.knots"))
    # a row's block and no padding; an NA row in every column
    per_row <- tabulate(s@i + 1L, nrow(s))
    width <- if (s@term == "ns") 7L else s@degree + 1L
    expect_true(all(per_row[!is.na(x)] <= width))
    expect_true(all(per_row[is.na(x)] == ncol(s)))
    expect_true(all(rowSums(m != 0, na.rm = TRUE)[!is.na(x)] <= per_row[!is.na(x)]))
  }
  expect_identical(bsbasis::bs(x, df = 7, sparse = TRUE, warn.outside = FALSE)@term, "bs")
})

test_that("threads give the same bits as one thread", {
  set.seed(18)
  x <- c(runif(1e5, -0.1, 1.1), NA)
  for (sparse in c(FALSE, TRUE)) {
    one <- list(bsbasis::bs(x, df = 9, Boundary.knots = c(0, 1), warn.outside = FALSE,
                            sparse = sparse),
                bsbasis::ns(x, df = 9, Boundary.knots = c(0, 1), sparse = sparse),
                pbs(x, df = 9, Boundary.knots = c(0, 1), sparse = sparse),
                bsbasis::bs(x, df = 9, derivs = rep(0:2, length.out = length(x)), sparse = sparse))
    four <- list(bsbasis::bs(x, df = 9, Boundary.knots = c(0, 1), warn.outside = FALSE,
                             sparse = sparse, threads = 4),
                 bsbasis::ns(x, df = 9, Boundary.knots = c(0, 1), sparse = sparse, threads = 4),
                 pbs(x, df = 9, Boundary.knots = c(0, 1), sparse = sparse, threads = 4),
                 bsbasis::bs(x, df = 9, derivs = rep(0:2, length.out = length(x)),
                             sparse = sparse, threads = 4))
    for (q in seq_along(one)) expect_identical(four[[q]], one[[q]])
  }
  expect_error(bsbasis::bs(x, threads = 0), "'threads' must lie in 1 .. 64")
})

test_that("sparse results split among threads hold the dense matrix, columns sorted", {
  # Each thread places its rows after those of the threads before it in
  # every column: NA rows and the dropped first column fall in every
  # thread's range, and the abscissae come in random order.
  set.seed(41)
  x <- runif(2e5, -0.1, 1.1)
  x[c(7L, 70001L, 140001L, 2e5L)] <- NA
  bare <- function(m) {
    m <- as.matrix(m)
    attributes(m) <- list(dim = dim(m))
    m
  }
  knots <- c(rep(0, 4), seq(0.1, 0.9, by = 0.1), rep(1, 4))
  xin <- pmin(pmax(x[!is.na(x)], 0), 1)
  for (threads in c(1L, 3L)) {
    terms <- list(
      function(s) bsbasis::bs(x, df = 9, Boundary.knots = c(0, 1), warn.outside = FALSE,
                              sparse = s, threads = threads),
      function(s) bsbasis::ns(x, df = 9, Boundary.knots = c(0, 1), intercept = TRUE,
                              sparse = s, threads = threads),
      function(s) pbs(x, df = 9, Boundary.knots = c(0, 1), sparse = s, threads = threads),
      function(s) design_matrix(xin, knots, 4, sparse = s, threads = threads),
      function(s) periodic_design_matrix(xin, seq(0, 1, by = 0.125), sparse = s))
    for (f in terms) {
      s <- f(TRUE)
      expect_true(methods::validObject(methods::as(s, "dgCMatrix")))
      expect_identical(bare(s), bare(f(FALSE)))
    }
  }
})

test_that("no abscissae give an empty sparse result with the term's columns", {
  for (s in list(bsbasis::bs(numeric(0), knots = 0.5, Boundary.knots = c(0, 1), sparse = TRUE),
                 bsbasis::ns(numeric(0), knots = 0.5, Boundary.knots = c(0, 1), sparse = TRUE),
                 pbs(numeric(0), knots = c(0.25, 0.5, 0.75), Boundary.knots = c(0, 1),
                     sparse = TRUE))) {
    expect_identical(nrow(s), 0L)
    expect_true(ncol(s) > 0L)
    expect_identical(s@p, integer(ncol(s) + 1L))
  }
})

test_that("pbs() is the periodic basis without its first column, and periodic", {
  set.seed(19)
  x <- c(runif(100, 0, 24), -3, 30, 24, NA)
  breaks <- c(0, 3, 7.5, 12, 15, 19, 24)
  p <- pbs(x, knots = breaks[2:6], Boundary.knots = c(0, 24))
  full <- periodic_design_matrix(x[-104], breaks, sparse = FALSE)
  expect_identical(unclass(p)[-104, ], full[, -1], ignore_attr = TRUE)
  expect_true(all(is.na(p[104, ])))
  expect_identical(class(p), c("pbs", "basis", "matrix"))
  expect_identical(attr(p, "knots"), breaks[2:6])
  expect_identical(attr(p, "Boundary.knots"), c(0, 24))
  # a period apart, the same rows (within the rounding of x + 24)
  expect_row_close(pbs(x[1:100] + 24, knots = breaks[2:6], Boundary.knots = c(0, 24)),
                   p[1:100, ], 1e-12)
  # with intercept every column: the rows sum to 1
  pi1 <- pbs(x[1:100], knots = breaks[2:6], Boundary.knots = c(0, 24), intercept = TRUE)
  expect_equal(unname(rowSums(pi1)), rep(1, 100), tolerance = 1e-14)
  # derivatives
  for (d in 1:3)
    expect_identical(unclass(pbs(x[1:100], knots = breaks[2:6], Boundary.knots = c(0, 24),
                                 derivs = d))[, ],
                     periodic_design_matrix(x[1:100], breaks, derivs = d, sparse = FALSE)[, -1],
                     ignore_attr = TRUE)
  # df: df columns, knots at quantiles of x wrapped into the period
  q <- pbs(x, df = 8, Boundary.knots = c(0, 24))
  expect_identical(ncol(q), 8L)
  expect_identical(attr(q, "knots"),
                   quantile((x[!is.na(x)]) %% 24, seq(0, 1, length.out = 10)[2:9]))
  expect_identical(ncol(pbs(x, df = 8, Boundary.knots = c(0, 24), intercept = TRUE)), 8L)
  expect_warning(pbs(x, df = 2, Boundary.knots = c(0, 24)), "'df' was too small; have used 3")
})

test_that("pbs() says what is wrong with its arguments", {
  x <- seq(0, 10, length.out = 50)
  expect_error(pbs(x), "needs at least 3 knots inside 'Boundary.knots', got 0")
  expect_error(pbs(x, knots = c(2, 4, 11)), "knots\\[3\\] = 11 must lie strictly inside")
  expect_error(pbs(x, knots = c(2, 4, 4, 6)), "the knots must be distinct: 4 appears twice")
  expect_error(pbs(rep(1:3, 20), df = 6), "which has tied values")
  expect_error(pbs(x, df = 5, Boundary.knots = c(1, 1)), "'Boundary.knots' must be two finite")
  expect_error(pbs(x, df = 5, degree = 0), "'degree' must lie in 1 .. 30")
  expect_error(pbs(letters), "'x' must be numeric")
  expect_error(pbs(x, df = 5, derivs = 4), "'derivs' must lie in 0 .. 3")
})

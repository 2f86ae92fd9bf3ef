# The package's entry points: argument checks here, evaluation in the
# library through src/r_host.cpp.

design_call <- function(periodic, t, ord, nj, derivs, mode, x, sparse, shift, ncol,
                        na_rows, threads) {
  .Call(bsb_design, periodic, t, ord, nj, derivs, mode, x, sparse, shift, ncol,
        na_rows, threads)
}

design_matrix <- function(x, knots, ord = 4, derivs = 0,
                          extrapolate = c("error", "zero", "continue", "constant", "linear",
                                          "periodic"),
                          nj = NULL, sparse = TRUE, threads = NULL) {
  x <- reals(x, "x")
  k <- check_knots(knots, ord, nj)
  d <- check_derivs(derivs, length(x))
  if (!is.character(extrapolate))
    fail("'extrapolate' must be a string, got %s", describe(extrapolate))
  extrapolate <- match.arg(extrapolate)
  sparse <- flag(sparse, "sparse")
  threads <- check_threads(threads)
  mode <- extrapolation_mode(extrapolate, x, k)
  res <- design_call(FALSE, k$t, k$ord, k$nj, d, mode, x, sparse, 0L, k$nj, TRUE, threads)
  if (sparse) csc(res, length(x), k$nj) else res
}

periodic_design_matrix <- function(x, breaks, ord = 4, derivs = 0, sparse = TRUE) {
  x <- reals(x, "x")
  breaks <- reals(breaks, "breaks", finite = TRUE)
  ord <- whole(ord, "ord", 1L, .Machine$integer.max %/% 4L)
  m <- length(breaks) - 1L
  if (m < ord)
    fail("'breaks' has %d values; ord = %d needs at least ord + 1 = %d %s",
         length(breaks), ord, ord + 1L, "(ord intervals in the period)")
  check_sorted(breaks, "breaks", strict = TRUE)
  period <- breaks[m + 1L] - breaks[1L]
  if (!is.finite(period) || !is.finite(breaks[m + 1L] + period) ||
      !is.finite(breaks[1L] - period))
    fail("the period of 'breaks' [%s, %s] overflows a double, or %s",
         num(breaks[1L]), num(breaks[m + 1L]), "so do the knots a period beyond them")
  d <- check_derivs(derivs, length(x))
  sparse <- flag(sparse, "sparse")
  # The periodic basis reads no mode: it wraps every x as PERIODIC does.
  res <- design_call(TRUE, breaks, ord, m, d, BSBASIS_EXTRAPOLATE_PERIODIC, x, sparse, 0L, m,
                     TRUE, 1L)
  if (sparse) csc(res, length(x), m) else res
}

difference_penalty <- function(n, order = 2, sparse = FALSE) {
  n <- whole(n, "n", 1L)
  order <- whole(order, "order", 1L, 4L)
  sparse <- flag(sparse, "sparse")
  if ((order + 1) * n > 2^31)
    fail("'n' = %d is too large: (order + 1) * n must be at most 2^31", n)
  from_band(.Call(bsb_difference_penalty, n, order), order, n, sparse)
}

derivative_penalty <- function(knots, ord = 4, m = 2, nj = NULL, sparse = FALSE) {
  k <- check_knots(knots, ord, nj)
  m <- whole(m, "m", 0L)
  sparse <- flag(sparse, "sparse")
  from_band(.Call(bsb_derivative_penalty, k$t, k$ord, k$nj, m), k$ord - 1L, k$nj, sparse)
}

make_knots <- function(x, n_knots, ord = 4, kind = c("uniform", "quantile"), weights = NULL,
                       boundary = c("clamped", "extended")) {
  x <- reals(x, "x", finite = TRUE)
  n_knots <- whole(n_knots, "n_knots", 2L, .Machine$integer.max %/% 2L)
  ord <- whole(ord, "ord", 1L, .Machine$integer.max %/% 4L)
  if (!is.character(kind)) fail("'kind' must be a string, got %s", describe(kind))
  if (!is.character(boundary)) fail("'boundary' must be a string, got %s", describe(boundary))
  kind <- match.arg(kind)
  boundary <- match.arg(boundary)
  if (!is.null(weights)) {
    weights <- along_x(weights, "weights", length(x), finite = TRUE)
    check_weights(weights)
  }
  t <- .Call(bsb_make_knots, x, weights, n_knots, ord, knot_kinds[[kind]],
             knot_boundaries[[boundary]])
  if (is.null(t)) knots_failure(x, weights, ord, boundary)
  t
}

# Why the library placed no knots: too few distinct abscissae with weight,
# or a span, a sum of weights or extended ends that overflow.
knots_failure <- function(x, weights, ord, boundary) {
  used <- if (is.null(weights)) x else x[weights > 0]
  if (!length(used) || !(min(used) < max(used)))
    fail("'x' needs at least 2 distinct values with positive weight, got %s",
         if (length(used)) paste("only", num(used[1L])) else "none")
  lo <- min(used)
  hi <- max(used)
  where <- if (is.null(weights)) "" else " where the weights are positive"
  if (!is.finite(hi - lo))
    fail("'x' spans [%s, %s]%s, whose length overflows a double; rescale 'x'",
         num(lo), num(hi), where)
  if (!is.null(weights) && !is.finite(sum(weights)))
    fail("'weights' sum to more than a double holds; rescale them (only their ratios matter)")
  if (boundary == "extended")
    fail("the knots continued %d intervals beyond [%s, %s] overflow a double; %s",
         ord - 1L, num(lo), num(hi), "rescale 'x' or use boundary = \"clamped\"")
  fail("no finite knots can be placed on 'x' in [%s, %s]", num(lo), num(hi))
}

# Weights finite and >= 0, or an error naming the first that is not.
check_weights <- function(w) {
  bad <- which(!(is.finite(w) & w >= 0))
  if (length(bad))
    fail("weights[%d] = %s is %s", bad[1L], num(w[bad[1L]]),
         if (is.finite(w[bad[1L]])) "negative" else "not finite")
}

normal_equations <- function(x, knots, ord = 4, y = NULL, weights = NULL, derivs = 0,
                             extrapolate = "error", nj = NULL) {
  x <- reals(x, "x")
  k <- check_knots(knots, ord, nj)
  nu <- whole(derivs, "derivs", 0L)
  if (!is.character(extrapolate) || length(extrapolate) != 1L ||
      !(extrapolate %in% names(modes)))
    fail("'extrapolate' must be one of %s", paste(dQuote(names(modes), FALSE), collapse = ", "))
  if (!is.null(y)) y <- along_x(y, "y", length(x))
  if (!is.null(weights)) weights <- along_x(weights, "weights", length(x))
  mode <- extrapolation_mode(extrapolate, x, k)
  if (!is.null(weights)) check_weights(weights)
  r <- .Call(bsb_normal_equations, k$t, k$ord, k$nj, nu, mode, x, y, weights)
  if (!is.list(r)) {  # the row whose y is not finite
    p <- r
    fail("y[%d] = %s on a row in range (x[%d] = %s)", p, num(y[p]), p, num(x[p]))
  }
  structure(list(gram = matrix(r[[1L]], k$ord, k$nj, byrow = TRUE),
                 rhs = if (is.null(y)) NULL else r[[2L]],
                 yty = if (is.null(y)) NULL else r[[3L]][1L],
                 sum_weights = r[[3L]][2L], count = r[[4L]]),
            class = "bsbasis_normal_equations")
}

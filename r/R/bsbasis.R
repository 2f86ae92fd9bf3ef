# The package's entry points: argument checks here, evaluation in the
# library through src/r_host.cpp.

design_call <- function(periodic, t, ord, nj, derivs, mode, x, sparse, shift, ncol,
                        na_rows, threads) {
  .Call(bsb_design, periodic, t, ord, nj, derivs, mode, x, sparse, shift, ncol,
        na_rows, threads)
}

splineDesign <- function(knots, x = knots, ord = 4, derivs = 0, outer.ok = FALSE,
                         sparse = FALSE) {
  # The checks and messages of splines::splineDesign, in its order.
  if ((nk <- length(knots <- as.numeric(knots))) <= 0)
    stop("must have at least 'ord' knots")
  if (anyNA(knots) || any(!is.finite(knots))) stop("'knots' must be finite")
  if (is.unsorted(knots)) knots <- sort.int(knots)
  x <- as.numeric(x)
  nx <- length(x)
  if (length(derivs) > nx) stop("length of 'derivs' is larger than length of 'x'")
  if (length(derivs) < 1L) stop("empty 'derivs'")
  if (!is.numeric(ord) && !is.logical(ord) || length(ord) != 1L)
    stop("'ord' must be one positive integer")
  ord <- as.integer(ord)
  if (is.na(ord) || ord > nk || ord < 1)
    stop("'ord' must be positive integer, at most the number of knots")
  if (!isTRUE(outer.ok) && nk < 2 * ord - 1)
    stop(gettextf("need at least %s (=%d) knots", "2*ord -1", 2 * ord - 1), domain = NA)
  sparse <- isTRUE(sparse)
  degree <- ord - 1L
  ncoef <- nk - ord
  rows <- NULL
  if (need.outer <- any(x < knots[ord] | knots[nk - degree] < x)) {
    if (!isTRUE(outer.ok))
      stop(gettextf("the 'x' data must be in the range %g to %g unless you set '%s'",
                    knots[ord], knots[nk - degree], "outer.ok = TRUE"), domain = NA)
    in.x <- knots[1L] <= x & x <= knots[nk]
    if (!all(in.x)) {
      rows <- seq_len(nx)[in.x]
      x <- x[in.x]
    }
  }
  # Derivative orders as splines' C code reads them: recycled along the
  # evaluated x, truncated, negative as 0.
  if (!is.numeric(derivs) || is.object(derivs) || !all(is.finite(derivs)))
    stop("'derivs' must hold finite numbers")
  d <- as.integer(pmax(pmin(trunc(derivs), .Machine$integer.max), 0))
  d <- rep_len(d, length(x))
  high <- which(d >= ord & !is.na(x))
  if (length(high)) {
    if (length(derivs) == 1L)
      stop(gettextf("derivs = %d >= ord = %d, but should be in {0,..,ord-1}", d[high[1L]],
                    ord), domain = NA)
    stop(gettextf("derivs[%d] = %d >= ord = %d, but should be in {0,..,ord-1}", high[1L],
                  d[high[1L]], ord), domain = NA)
  }
  if (length(d) > 1L && all(d == d[1L])) d <- d[1L]
  if (length(d) == 0L) d <- 0L
  # The library's base interval [knots[ord], knots[nk - degree]] holds every
  # x unless outer.ok let some out; then, as splines does, the end knots are
  # repeated until each has multiplicity ord, and the columns shifted back.
  direct <- !need.outer && nk >= 2L * ord && knots[ord] < knots[nk - degree]
  if (direct) {
    t <- knots
    shift <- 0L
  } else {
    mult_last <- match(TRUE, rev(diff(knots)) > 0)
    if (is.na(mult_last)) stop("the knots must not all be equal")
    t <- knots[c(rep.int(1L, degree), seq_len(nk), rep.int(nk, max(0L, ord - mult_last)))]
    shift <- degree
  }
  res <- design_call(FALSE, t, ord, length(t) - ord, d, modes[["zero"]], x, sparse,
                     shift, ncoef, FALSE, 1L)
  # splines gives 0 for the derivative of order ord - 1 at the right end
  # (where it is a limit from the left); so do we.
  top <- if (ord > 1L && any(d == degree)) which(x == t[length(t) - degree] & d == degree)
  if (sparse) {
    if (length(top)) res[[3L]][res[[1L]] %in% (top - 1L)] <- 0
    if (!is.null(rows)) res[[1L]] <- rows[res[[1L]] + 1L] - 1L
    return(csc(res, nx, ncoef))
  }
  if (length(top)) res[top, ] <- 0
  if (is.null(rows)) return(res)
  design <- matrix(0, nx, ncoef)
  ok <- !is.na(rows)  # NA abscissae stay zero rows, as in splines
  design[rows[ok], ] <- res[ok, , drop = FALSE]
  design
}

design_matrix <- function(x, knots, ord = 4, derivs = 0,
                          extrapolate = c("error", "zero", "continue", "constant", "linear",
                                          "periodic"),
                          nj = NULL, sparse = TRUE, threads = NULL) {
  x <- reals(x, "x")
  k <- check_knots(knots, ord, nj)
  d <- check_derivs(derivs, length(x))
  if (!is.character(extrapolate)) fail("'extrapolate' must be a string")
  extrapolate <- match.arg(extrapolate)
  sparse <- flag(sparse, "sparse")
  threads <- check_threads(threads)
  mode <- modes[[extrapolate]]
  if (extrapolate == "error") {
    check_range(x, k$lo, k$hi)
    mode <- modes[["zero"]]  # only NA and NaN are left outside: empty rows
  }
  res <- design_call(FALSE, k$t, k$ord, k$nj, d, mode, x, sparse, 0L, k$nj, TRUE, threads)
  if (sparse) csc(res, length(x), k$nj) else res
}

periodic_design_matrix <- function(x, breaks, ord = 4, derivs = 0, sparse = TRUE) {
  x <- reals(x, "x")
  breaks <- reals(breaks, "breaks", finite = TRUE)
  if (length(breaks) < 2L || any(diff(breaks) <= 0))
    fail("'breaks' must be strictly increasing, at least two of them")
  m <- length(breaks) - 1L
  ord <- whole(ord, "ord", 1L, m)
  d <- check_derivs(derivs, length(x))
  sparse <- flag(sparse, "sparse")
  res <- design_call(TRUE, breaks, ord, m, d, 0L, x, sparse, 0L, m, TRUE, 1L)
  if (sparse) csc(res, length(x), m) else res
}

difference_penalty <- function(n, order = 2, sparse = FALSE) {
  n <- whole(n, "n", 1L)
  order <- whole(order, "order", 1L, 4L)
  sparse <- flag(sparse, "sparse")
  if ((order + 1) * n > 2^31) fail("'n' = %d is too large", n)
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
  if (!is.character(kind) || !is.character(boundary))
    fail("'kind' and 'boundary' must be strings")
  kind <- match.arg(kind)
  boundary <- match.arg(boundary)
  if (!is.null(weights)) {
    weights <- reals(weights, "weights", finite = TRUE)
    if (length(weights) != length(x))
      fail("'weights' must have the length of 'x' (%d), got %d", length(x), length(weights))
    if (any(weights < 0)) fail("'weights' must be >= 0")
  }
  .Call(bsb_make_knots, x, weights, n_knots, ord,
        if (kind == "uniform") 0L else 1L, if (boundary == "clamped") 0L else 1L)
}

normal_equations <- function(x, knots, ord = 4, y = NULL, weights = NULL, derivs = 0,
                             extrapolate = "error", nj = NULL) {
  x <- reals(x, "x")
  k <- check_knots(knots, ord, nj)
  nu <- whole(derivs, "derivs", 0L)
  if (!is.character(extrapolate) || length(extrapolate) != 1L ||
      !(extrapolate %in% names(modes)))
    fail("'extrapolate' must be one of %s", paste(dQuote(names(modes), FALSE), collapse = ", "))
  for (nm in c("y", "weights")) {
    v <- get(nm)
    if (!is.null(v)) {
      v <- reals(v, nm)
      if (length(v) != length(x))
        fail("'%s' must have the length of 'x' (%d), got %d", nm, length(x), length(v))
      assign(nm, v)
    }
  }
  mode <- modes[[extrapolate]]
  if (extrapolate == "error") {
    check_range(x, k$lo, k$hi)
    mode <- modes[["zero"]]
  }
  r <- .Call(bsb_normal_equations, k$t, k$ord, k$nj, nu, mode, x, y, weights)
  list(gram = matrix(r[[1L]], k$ord, k$nj, byrow = TRUE),
       rhs = if (is.null(y)) NULL else r[[2L]],
       yty = if (is.null(y)) NULL else r[[3L]][1L],
       sum_weights = r[[3L]][2L], count = r[[4L]])
}

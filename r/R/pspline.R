# Penalised regression splines (P-splines) from the normal equations: the
# fit needs only X'WX, X'Wy and y'Wy, which normal_equations() forms in the
# library without a design matrix; the smoothing parameter is chosen by
# generalised cross-validation (GCV) from them alone.  The penalised system
# has as many unknowns as B-splines, a few dozen, so it is solved here with
# dense algebra (chol), which costs nothing beside the pass over the data.

# The search for lambda covers this many decades either side of the scale
# trace(G) / trace(P), in steps of pspline_grid_step decades, then refines
# around the best point in pspline_rounds grids of pspline_points points,
# each spanning the best point's neighbours in the one before, and ends on
# the vertex of the parabola through the last grid's best point and its
# neighbours.
pspline_grid_decades <- 8
pspline_grid_step <- 0.5
pspline_points <- 9L
pspline_rounds <- 3L
# A finite stand-in for an infinite GCV, which comparisons can use.
pspline_worst <- 1e300

singular_message <- paste(
  "the penalised normal equations are singular or not positive definite:",
  "too few abscissae for the basis, or lambda = 0 with empty intervals;",
  "add a penalty (lambda > 0) or data")

fit_pspline <- function(x, y, weights = NULL, knots = NULL, n_knots = NULL, ord = 4,
                        penalty = c("difference", "derivative"), m = 2, lambda = NULL,
                        lambda_bounds = NULL) {
  x <- reals(x, "x", finite = TRUE)
  y <- along_x(y, "y", length(x))
  if (!is.null(weights)) {
    weights <- along_x(weights, "weights", length(x), finite = TRUE)
    check_weights(weights)
  }
  ord <- whole(ord, "ord", 1L, .Machine$integer.max %/% 4L)
  if (!is.character(penalty)) fail("'penalty' must be a string, got %s", describe(penalty))
  penalty <- match.arg(penalty)
  m <- whole(m, "m", if (penalty == "difference") 1L else 0L,
             if (penalty == "difference") 4L else .Machine$integer.max)
  lambda <- check_lambda(lambda, lambda_bounds)
  if (is.null(knots)) {
    n_knots <- if (is.null(n_knots)) min(40L, max(4L, length(x) %/% 4L)) else n_knots
    # Knots equally spaced beyond the ends too ("extended"): every B-spline
    # then has the same shape, so that differences of coefficients measure
    # roughness alike across the interval, as P-splines assume.
    knots <- make_knots(x, n_knots, ord, kind = "uniform", boundary = "extended",
                        weights = weights)
    # The base interval spans the abscissae of positive weight: only rows
    # of weight 0 can fall outside, and they are left out.
    outside <- "zero"
  } else {
    if (!is.null(n_knots)) fail("give 'n_knots' or 'knots', not both")
    outside <- "error"
  }
  ne <- normal_equations(x, knots, ord, y = y, weights = weights, extrapolate = outside)
  nb <- ncol(ne$gram)
  P <- if (penalty == "difference") difference_penalty(nb, m) else
    derivative_penalty(knots, ord, m)
  # GCV counts the observations: a row of weight 0 adds nothing to the fit.
  count <- if (is.null(weights)) ne$count else sum(weights > 0)
  fit <- pspline_fit(ne, P, lambda, lambda_bounds, count)
  fit$knots <- knots
  fit$ord <- ord
  fit$penalty <- penalty
  fit$m <- m
  fit$x <- x
  fit$y <- y
  fit$weights <- weights
  fit$fitted.values <- spline_values(x, knots, ord, fit$coefficients, 0L)
  fit$residuals <- y - fit$fitted.values
  fit$call <- match.call()
  class(fit) <- "bsbasis_pspline"
  fit
}

# lambda: NULL (GCV) or one finite number >= 0; lambda_bounds: NULL or
# 0 < lo < hi < Inf, and only for GCV.
check_lambda <- function(lambda, bounds) {
  if (!is.null(lambda)) {
    if (!is.numeric(lambda) || length(lambda) != 1L || !is.finite(lambda) || lambda < 0)
      fail("'lambda' must be NULL (GCV) or one finite number >= 0, got %s", describe(lambda))
    if (!is.null(bounds))
      fail("'lambda_bounds' bounds the GCV search, which a given 'lambda' skips")
    return(as.double(lambda))
  }
  if (!is.null(bounds) && (!is.numeric(bounds) || length(bounds) != 2L ||
                           !all(is.finite(bounds)) || !(0 < bounds[1L] &&
                                                        bounds[1L] < bounds[2L])))
    fail("'lambda_bounds' must be c(lo, hi) with 0 < lo < hi < Inf, got %s", describe(bounds))
  NULL
}

# The fit from sums ne (with responses) and the dense penalty P: lambda
# given, or chosen by GCV with count observations.  A list of the fit's
# numbers.
pspline_fit <- function(ne, P, lambda, bounds, count) {
  G <- as.matrix(ne)
  r <- ne$rhs
  window <- NULL
  if (is.null(lambda)) {
    chosen <- gcv_choose(G, P, r, ne$yty, count, bounds)
    lambda <- chosen$lambda
    window <- chosen$window
    solved <- chosen$solved
  } else {
    solved <- penalised_solve(G, P, r, ne$yty, lambda)
    if (is.null(solved)) fail(singular_message)
  }
  dof <- count - solved$edf
  list(coefficients = solved$coef, lambda = lambda, edf = solved$edf, rss = solved$rss,
       count = count, gcv = if (dof > 0) count * solved$rss / dof^2 else Inf,
       sigma = if (dof > 0) sqrt(solved$rss / dof) else NaN, lambda_bounds = window,
       penalty_matrix = P)
}

# coef, edf = trace((G + lambda P)^-1 G) and rss = y'Wy - 2 c'X'Wy + c'Gc
# (clipped at 0, which rounding may pass) at lambda; NULL when G + lambda P
# is singular.
penalised_solve <- function(G, P, r, yty, lambda) {
  R <- spd_factor(G + lambda * P)
  if (is.null(R)) return(NULL)
  coef <- backsolve(R, backsolve(R, r, transpose = TRUE))
  edf <- sum(chol2inv(R) * G)
  rss <- if (is.null(yty)) NA_real_ else
    max(0, yty - 2 * sum(coef * r) + sum(coef * (G %*% coef)))
  list(coef = coef, edf = edf, rss = rss)
}

# The upper Cholesky factor of the symmetric A, or NULL when A is not
# positive definite or is singular to rounding.  The factor of a matrix of
# bandwidth u is exact for A + E with |E| at most about
# (u + 1) * eps * max(diag(A)) on 2u + 1 diagonals, so a smallest eigenvalue
# below (u + 1) * (2u + 1) * eps * max(diag(A)) cannot be told from 0.  Each
# pivot squared bounds that eigenvalue from above; when none falls under
# the bound, inverse iteration estimates it, since under a heavy penalty a
# singular A can keep every pivot far from 0.
spd_factor <- function(A) {
  n <- nrow(A)
  if (n == 0L) return(A)
  R <- tryCatch(chol(A), error = function(e) NULL)
  if (is.null(R) || !all(is.finite(R))) return(NULL)
  nz <- which(A != 0, arr.ind = TRUE)
  u <- if (length(nz)) max(abs(nz[, 1L] - nz[, 2L])) else 0
  bound <- (u + 1) * (2 * u + 1) * .Machine$double.eps * max(diag(A))
  if (!(bound > 0) || min(diag(R))^2 <= bound) return(NULL)
  # Three steps of inverse iteration from a fixed vector with no symmetry
  # (one with symmetry could miss a symmetric or antisymmetric eigenvector).
  v <- cos(2.399963 * seq_len(n))
  v <- v / sqrt(sum(v^2))
  for (step in 1:3) {
    w <- backsolve(R, backsolve(R, v, transpose = TRUE))
    norm <- sqrt(sum(w^2))
    if (!is.finite(norm)) return(NULL)
    v <- w / norm
  }
  if (1 / norm <= bound) NULL else R
}

# lambda by GCV and the fit there: list(lambda, window, solved).  When no
# penalty is left (trace(P) = 0) lambda changes nothing and is 0.
gcv_choose <- function(G, P, r, yty, count, bounds) {
  tg <- sum(diag(G))
  tp <- sum(diag(P))
  if (!(tp > 0)) {
    solved <- penalised_solve(G, P, r, yty, 0)
    if (is.null(solved)) fail(singular_message)
    return(list(lambda = 0, window = NULL, solved = solved))
  }
  if (is.null(bounds)) {
    centre <- if (tg > 0) log10(tg / tp) else 0
    grid <- centre + seq(-pspline_grid_decades, pspline_grid_decades, by = pspline_grid_step)
    ends <- 10^grid[c(1L, length(grid))]
  } else {
    lo <- log10(bounds[1L])
    hi <- log10(bounds[2L])
    grid <- seq(lo, hi, length.out = max(2, ceiling((hi - lo) / pspline_grid_step)) + 1)
    ends <- bounds
  }
  # GCV at 10^g, pspline_worst where the system is singular or count <= edf.
  at <- function(g) {
    s <- penalised_solve(G, P, r, yty, 10^g)
    if (is.null(s)) return(c(pspline_worst, NA))
    dof <- count - s$edf
    c(if (dof > 0) min(count * s$rss / dof^2, pspline_worst) else pspline_worst, s$edf)
  }
  look <- vapply(grid, at, c(0, 0))
  if (!any(look[1L, ] < pspline_worst)) {
    if (any(!is.na(look[2L, ])))
      fail("GCV is undefined: the %d observations do not exceed the effective %s %s",
           count, sprintf("degrees of freedom (at least %.4g)", min(look[2L, ], na.rm = TRUE)),
           "at any lambda searched; give lambda, or more data")
    fail(singular_message)
  }
  values <- look[1L, ]
  fine <- grid
  for (round in seq_len(pspline_rounds)) {
    best <- which.min(values)
    fine <- seq(fine[max(best - 1L, 1L)], fine[min(best + 1L, length(fine))],
                length.out = pspline_points)
    values <- vapply(fine, function(g) at(g)[1L], 0)
  }
  best <- which.min(values)
  log_lambda <- fine[best]
  solved <- NULL
  if (best > 1L && best < length(fine)) {
    vertex <- parabola_vertex(fine[best + -1:1], values[best + -1:1])
    solved <- penalised_solve(G, P, r, yty, 10^vertex)
    if (!is.null(solved)) log_lambda <- vertex
  }
  # At an end of the window lambda is that end exactly.
  edge <- if (log_lambda == grid[1L]) "lower" else
    if (log_lambda == grid[length(grid)]) "upper" else NULL
  lambda <- if (is.null(edge)) 10^log_lambda else ends[if (edge == "lower") 1L else 2L]
  if (is.null(solved) || !is.null(edge)) solved <- penalised_solve(G, P, r, yty, lambda)
  if (is.null(solved)) fail(singular_message)
  if (!is.null(edge)) warning(edge_message(edge, lambda, ends, solved$edf), call. = FALSE)
  list(lambda = lambda, window = ends, solved = solved)
}

# The abscissa of the vertex of the parabola through three equally spaced
# points, the middle one the lowest; that point itself when they are too
# flat to tell.
parabola_vertex <- function(x, f) {
  den <- f[1L] - 2 * f[2L] + f[3L]
  if (!(den > 0 && f[1L] < pspline_worst && f[3L] < pspline_worst)) return(x[2L])
  x[2L] + 0.5 * (x[2L] - x[1L]) * (f[1L] - f[3L]) / den
}

edge_message <- function(side, lambda, ends, edf) {
  tail <- if (side == "upper")
    paste("larger lambda tends to the fit that the penalty leaves free (for a difference",
          "penalty of order q, a polynomial of degree q - 1)") else
    "smaller lambda tends to the unpenalised least-squares fit"
  sprintf(paste("GCV is smallest at the %s end of the search window for lambda: lambda = %.6g",
                "(window [%.6g, %.6g]), edf = %.6g; it may fall further beyond it, as %s.",
                "Widen the window with lambda_bounds = c(lo, hi), or give lambda."),
          side, lambda, ends[1L], ends[2L], edf, tail)
}

# The spline with B-spline coefficients coef on the knots, or its
# derivative of order derivs, at x: the end pieces continue beyond the base
# interval; NA, NaN and infinite abscissae give NA.
spline_values <- function(x, knots, ord, coef, derivs) {
  X <- design_matrix(x, knots, ord, derivs = derivs, extrapolate = "continue")
  v <- as.vector(X %*% coef)
  v[!is.finite(x)] <- NA_real_
  v
}

predict.bsbasis_pspline <- function(object, newdata = NULL, derivs = 0, ...) {
  x <- if (is.null(newdata)) object$x else reals(newdata, "newdata")
  spline_values(x, object$knots, object$ord, object$coefficients,
                check_derivs(derivs, length(x)))
}

print.bsbasis_pspline <- function(x, digits = max(3L, getOption("digits") - 3L), ...) {
  what <- if (x$penalty == "difference")
    sprintf("difference penalty of order %d", x$m) else
    sprintf("penalty on the derivative of order %d", x$m)
  cat(sprintf("P-spline of order %d, %d B-splines, %s\n", x$ord, length(x$coefficients),
              what))
  chosen <- if (is.null(x$lambda_bounds)) "" else " (by GCV)"
  cat(sprintf("lambda = %s%s, edf = %s, GCV = %s, sigma = %s, observations = %d\n",
              format(x$lambda, digits = digits), chosen, format(x$edf, digits = digits),
              format(x$gcv, digits = digits), format(x$sigma, digits = digits),
              as.integer(x$count)))
  invisible(x)
}

plot.bsbasis_pspline <- function(x, n = 200, xlab = "x", ylab = "y", col = "grey40",
                                 line_col = "blue", lwd = 2, ...) {
  n <- whole(n, "n", 2L)
  lo <- x$knots[x$ord]
  hi <- x$knots[length(x$coefficients) + 1L]
  grid <- seq(lo, hi, length.out = n)
  keep <- if (is.null(x$weights)) TRUE else x$weights > 0
  graphics::plot(x$x[keep], x$y[keep], xlab = xlab, ylab = ylab, col = col, ...)
  graphics::lines(grid, predict(x, grid), col = line_col, lwd = lwd)
  invisible(x)
}

# ---- the normal equations as a matrix, and their penalised solution

as.matrix.bsbasis_normal_equations <- function(x, ...) {
  ord <- nrow(x$gram)
  from_band(as.vector(t(x$gram)), ord - 1L, ncol(x$gram), sparse = FALSE)
}

solve.bsbasis_normal_equations <- function(a, b, penalty = NULL, lambda = 0, ...) {
  G <- as.matrix(a)
  n <- ncol(G)
  if (missing(b)) {
    b <- a$rhs
    if (is.null(b))
      fail("responses are needed to solve for coefficients: %s",
           "form the normal equations with y, or give b")
  }
  b <- reals(b, "b", finite = TRUE)
  if (length(b) != n) fail("'b' must have %d values, one per B-spline, got %d", n, length(b))
  if (!is.numeric(lambda) || length(lambda) != 1L || !is.finite(lambda) || lambda < 0)
    fail("'lambda' must be one finite number >= 0, got %s", describe(lambda))
  P <- 0
  if (!is.null(penalty)) {
    P <- as.matrix(penalty)
    if (!is.numeric(P) || !identical(dim(P), c(n, n)))
      fail("'penalty' must be a %d x %d numeric matrix, got %s", n, n, describe(penalty))
    if (!all(is.finite(P))) fail("'penalty' must be finite")
    if (max(0, abs(P - t(P))) > 1e-12 * max(1, abs(P))) fail("'penalty' must be symmetric")
  }
  R <- spd_factor(G + lambda * P)
  if (is.null(R)) fail(singular_message)
  backsolve(R, backsolve(R, b, transpose = TRUE))
}

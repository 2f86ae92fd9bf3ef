# The "bsb" smooth of mgcv: s(x, bs = "bsb", k, m, xt), a P-spline whose
# basis comes from design_matrix() and whose penalty is difference_penalty()
# or, with xt = "derivative", the exact derivative_penalty().  The knots, the
# meaning of k and m and the extrapolation of predictions are those of
# mgcv's "ps" class, so that the two give the same fit.
#
# mgcv calls smooth.construct() and Predict.matrix() and dispatches on the
# class of the object s() makes and of the smooth; NAMESPACE registers the
# methods with mgcv whenever both namespaces are loaded, in either order.

smooth.construct.bsb.smooth.spec <- function(object, data, knots) {
  m <- bsb_orders(object$p.order)
  ord <- m[1L] + 2L
  penalty <- bsb_penalty_kind(object$xt)
  if (object$bs.dim < 0) object$bs.dim <- max(10L, m[1L] + 1L)
  nb <- as.integer(object$bs.dim)
  nk <- nb - m[1L]  # knots from the lowest to the highest abscissa
  if (nk < 2L)
    fail("k = %d is too small for a basis of order %d (m[1] = %d): it needs k >= %d",
         nb, ord, m[1L], m[1L] + 2L)
  if (length(object$term) != 1L) fail("the \"bsb\" smooth takes one covariate, got %d",
                                      length(object$term))
  x <- data[[object$term]]
  if (!is.numeric(x)) fail("the covariate '%s' of a \"bsb\" smooth must be numeric",
                           object$term)
  x <- as.double(x)
  t <- bsb_knots(x, knots[[object$term]], nk, m[1L])
  deriv <- if (is.null(object$deriv)) 0L else object$deriv
  object$X <- design_matrix(x, t, ord, derivs = deriv, sparse = FALSE)
  if (any(colSums(object$X) == 0))
    warning("there is *no* information about some basis coefficients")
  if (length(unique(x)) < nb)
    warning("basis dimension is larger than number of unique covariates")
  object$S <- list(bsb_penalty_matrix(penalty, nb, m[2L], t, ord))
  # The penalty leaves free the polynomials of degree < m[2]: m[2] of them
  # for either kind (a difference penalty of order 0 is the identity).
  object$rank <- nb - m[2L]
  object$null.space.dim <- m[2L]
  object$knots <- t
  object$m <- m
  object$penalty <- penalty
  class(object) <- "bsb.smooth"
  object
}

Predict.matrix.bsb.smooth <- function(object, data) {
  x <- data[[object$term]]
  if (!is.numeric(x)) fail("the covariate '%s' of a \"bsb\" smooth must be numeric",
                           object$term)
  deriv <- if (is.null(object$deriv)) 0L else object$deriv
  # Beyond the ends, value and slope at the nearest end continue linearly
  # (higher derivatives 0), as mgcv's "ps" predicts.
  design_matrix(as.double(x), object$knots, object$m[1L] + 2L, derivs = deriv,
                extrapolate = "linear", sparse = FALSE)
}

# m of s(): a basis order offset m[1] (order m[1] + 2, so 2 is cubic) and a
# penalty order m[2]; one number is both, NA is 2, as for "ps".
bsb_orders <- function(p) {
  m <- if (is.null(p)) c(NA, NA) else if (length(p) == 1L) rep(p, 2L) else p
  if (!(length(m) == 2L && (is.numeric(m) || all(is.na(m)))))
    fail("m of a \"bsb\" smooth must be one or two whole numbers, got %s", describe(p))
  m[is.na(m)] <- 2
  if (!all(is.finite(m)) || any(m != trunc(m)) || m[1L] < -1 || m[2L] < 0)
    fail("m of a \"bsb\" smooth needs m[1] >= -1 and m[2] >= 0, whole, got %s",
         describe(p))
  as.integer(m)
}

# The kind of penalty xt asks for: xt = "derivative" or
# xt = list(penalty = "derivative"); the default is "difference".
bsb_penalty_kind <- function(xt) {
  kinds <- c("difference", "derivative")
  if (is.null(xt)) return(kinds[1L])
  v <- if (is.list(xt)) xt$penalty else xt
  if (is.null(v)) return(kinds[1L])
  if (!is.character(v) || length(v) != 1L || !(v %in% kinds))
    fail("xt of a \"bsb\" smooth must be \"difference\" or \"derivative\" %s, got %s",
         "(or a list with that as 'penalty')", describe(v))
  v
}

# Knots as mgcv's "ps" places them: nk equally spaced from 0.1% below the
# lowest abscissa to 0.1% above the highest (or over a range of two given
# knots), continued m1 + 1 intervals beyond each end; or all nk + 2*m1 + 2
# given.  The same seq() as "ps", so that the knots are the same numbers.
bsb_knots <- function(x, k, nk, m1) {
  want <- nk + 2L * m1 + 2L
  if (!is.null(k) && length(k) != 2L) {
    if (length(k) != want)
      fail("there should be %d supplied knots for this \"bsb\" smooth, got %d", want,
           length(k))
    return(as.double(k))
  }
  if (is.null(k)) {
    lo <- min(x)
    hi <- max(x)
  } else {
    lo <- min(k)
    hi <- max(k)
    if (lo > min(x) || hi < max(x)) fail("knot range does not include data")
  }
  span <- hi - lo
  lo <- lo - span * 0.001
  hi <- hi + span * 0.001
  dx <- (hi - lo) / (nk - 1L)
  seq(lo - dx * (m1 + 1L), hi + dx * (m1 + 1L), length.out = want)
}

# The penalty of nb coefficients: differences of order q (the identity for
# q = 0), or the integral of the squared q-th derivative over the base
# interval of the knots t.
bsb_penalty_matrix <- function(kind, nb, q, t, ord) {
  if (q >= nb) fail("the penalty order m[2] = %d must be below k = %d", q, nb)
  if (kind == "difference") {
    if (q == 0L) return(diag(nb))
    if (q > 4L) fail("difference penalties of order 1 to 4 are available, m[2] = %d", q)
    return(difference_penalty(nb, q))
  }
  if (q >= ord)
    fail("the derivative of order m[2] = %d of a spline of order %d is 0: use m[2] < %d",
         q, ord, ord)
  derivative_penalty(t, ord, q)
}

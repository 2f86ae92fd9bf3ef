# Random knots: clamped or not, with repeated interior knots now and then.
random_knots <- function(ord, n_inner, clamped) {
  inner <- sort(round(runif(n_inner, 0, 10), sample(c(1, 8), 1)))
  if (clamped) return(c(rep(0, ord), inner, rep(10, ord)))
  sort(c(runif(ord, -2, 0), inner, runif(ord, 10, 12)))
}

# |a - b| <= tol, relative to the largest entry of b's row when that
# exceeds 1 (derivatives grow with the order and cancel within a row).
expect_close <- function(a, b, tol) {
  a <- as.matrix(a)
  b <- as.matrix(b)
  expect_equal(dim(a), dim(b))
  scale <- pmax(1, apply(abs(b), 1, max))
  err <- max(0, abs(a - b) / scale)
  expect_lte(err, tol)
}

# ---- splines::splineDesign against ours

# What evaluating `expr` in `env` gives: its value or error message, and the
# messages of its warnings, in order.
outcome <- function(expr, env) {
  warned <- character()
  value <- withCallingHandlers(
    tryCatch(eval(expr, env), error = function(e) structure(conditionMessage(e), class = "failed")),
    warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  list(value = value, warnings = warned)
}

# splines' functions with splineDesign, bs and ns taken from `impl`
# ("ours" or "splines"): splines' own code, running on our splineDesign.
splines_on <- function(impl) {
  e <- new.env(parent = asNamespace("splines"))
  e$splineDesign <- if (impl == "ours") bsbasis::splineDesign else splines::splineDesign
  for (f in c("bs", "ns", "interpSpline.default", "predict.bs", "predict.ns")) {
    g <- get(f, asNamespace("splines"))
    if (impl == "ours") environment(g) <- e
    assign(f, g, envir = e)
  }
  e
}

# Evaluates expr with splines' functions and with ours (splineDesign, bs,
# ns, interpSpline.default bound in the evaluation environment, beside
# `vars`) and expects the same outcome: the same error message, or the same
# warnings and values equal within tol relative to each row's largest entry,
# and identical where splines has exact zeros (for values: `exact_zeros`).
# Sparse results must have the same structure.  Returns our value.
expect_as_splines <- function(expr, vars = list(), tol = 1e-13, exact_zeros = TRUE,
                              info = deparse(expr)[1L]) {
  run <- function(impl) outcome(expr, list2env(vars, parent = splines_on(impl)))
  ours <- run("ours")
  theirs <- run("splines")
  why <- if (!identical(ours$warnings, theirs$warnings)) {
    sprintf("warnings [%s], splines [%s]", toString(ours$warnings), toString(theirs$warnings))
  } else if (inherits(theirs$value, "failed") || inherits(ours$value, "failed")) {
    if (!identical(ours$value, theirs$value))
      sprintf("outcome '%s', splines '%s'", format(ours$value)[1L], format(theirs$value)[1L])
  } else {
    value_difference(ours$value, theirs$value, tol, exact_zeros)
  }
  expect(is.null(why), paste0(info, ": ", why))
  invisible(ours$value)
}

# NULL when a equals b as expect_as_splines asks, else what differs.
value_difference <- function(a, b, tol, exact_zeros) {
  if (!identical(class(a), class(b))) return("class")
  if (methods::is(b, "sparseMatrix")) {
    if (!identical(a@Dim, b@Dim) || !identical(a@i, b@i) || !identical(a@p, b@p))
      return("sparse structure")
    a <- as.matrix(a)
    b <- as.matrix(b)
  }
  if (is.list(b)) {
    if (!identical(names(a), names(b)) || length(a) != length(b)) return("list names")
    for (n in seq_along(b)) {
      d <- value_difference(a[[n]], b[[n]], tol, exact_zeros)
      if (!is.null(d)) return(paste0("[[", n, "]]: ", d))
    }
    return(NULL)
  }
  kept <- setdiff(names(attributes(b)), "dim")
  if (!identical(attributes(a)[kept], attributes(b)[kept])) return("attributes")
  if (!is.numeric(b)) return(if (!identical(a, b)) "value")
  a <- as.matrix(unclass(a))
  b <- as.matrix(unclass(b))
  if (!identical(dim(a), dim(b))) return("dim")
  if (!identical(is.na(a), is.na(b)) || !identical(is.nan(a), is.nan(b))) return("NA or NaN")
  ok <- !is.na(b)
  if (exact_zeros && any(a[ok & b == 0] != 0))
    return(sprintf("%g where splines has an exact 0", max(abs(a[ok & b == 0]))))
  finite <- abs(b)
  finite[!is.finite(finite)] <- 0
  scale <- if (length(b)) pmax(1, finite[cbind(seq_len(nrow(b)), max.col(finite, "first"))]) else 1
  err <- max(0, (abs(a - b) / scale)[ok])
  if (err > tol) sprintf("relative difference %g", err)
}

# The rows of splineDesign(knots, x, ord, derivs, outer.ok) at which ours
# deliberately differs: x at the right end of the base interval when the
# interval there is empty, for a derivative of order 1 .. ord-2 (splines:
# NaN) or, for values, when the end knot repeats so often that splines puts
# its 1 on a B-spline that is identically zero.
right_end_rows <- function(knots, x, ord = 4L, derivs = 0L, outer.ok = FALSE) {
  k <- sort(as.numeric(knots))
  nk <- length(k)
  if (ord > nk) return(integer(0))
  rows <- seq_along(x)
  K <- k
  if (outer.ok && any(x < k[ord] | k[nk - ord + 1L] < x, na.rm = TRUE)) {
    inside <- k[1L] <= x & x <= k[nk]
    rows <- rows[is.na(inside) | inside]
    K <- c(rep(k[1L], ord - 1L), k, rep(k[nk], max(0L, ord - sum(k == k[nk]))))
  }
  d <- rep_len(as.integer(derivs), length(rows))
  d[is.na(d) | d < 0L] <- 0L  # values, as splines reads them
  last <- length(K) - ord
  tau <- K[last + 1L]
  if (last < 1L || K[last] < tau || !any(K < tau)) return(integer(0))
  p <- last - sum(K < tau)  # knots equal to tau before the last interval
  hit <- !is.na(x[rows]) & x[rows] == tau & ((d >= 1L & d <= ord - 2L) | (d == 0L & p >= ord))
  rows[hit]
}

# The limit from the left at tau of splines' basis (derivative d) on the
# last interval (a, tau) with length: the polynomial piece there, from ord
# points inside the interval, extrapolated to tau.
left_limit <- function(knots, tau, ord, d) {
  knots <- sort(knots)
  a <- max(knots[knots < tau])
  u <- a + (tau - a) * (seq_len(ord) + 1) / (ord + 3)
  B <- splines::splineDesign(knots, u, ord, rep(d, ord), outer.ok = TRUE)
  w <- vapply(seq_len(ord), function(i) prod((tau - u[-i]) / (u[i] - u[-i])), 0)
  colSums(w * B)
}

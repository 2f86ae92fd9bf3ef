# Argument checks shared by the entry points: every value that reaches the
# C glue has the type and length the glue expects.

fail <- function(...) stop(sprintf(...), call. = FALSE)

whole <- function(v, name, lo = -.Machine$integer.max, hi = .Machine$integer.max) {
  if (!is.numeric(v) || length(v) != 1L || !is.finite(v) || v != trunc(v))
    fail("'%s' must be one whole number, got %s", name, describe(v))
  if (v < lo || v > hi)
    fail("'%s' must lie in %s .. %s, got %s", name, format(lo), format(hi), format(v))
  as.integer(v)
}

flag <- function(v, name) {
  if (!is.logical(v) || length(v) != 1L || is.na(v))
    fail("'%s' must be TRUE or FALSE, got %s", name, describe(v))
  v
}

describe <- function(v) {
  if (is.null(v)) return("NULL")
  s <- paste(utils::head(format(v), 3L), collapse = ", ")
  if (length(v) > 3L) s <- paste0(s, ", ...")
  sprintf("%s of length %d (%s)", class(v)[1L], length(v), s)
}

# A numeric vector as double; `finite` rejects NA, NaN and +-Inf.
reals <- function(v, name, finite = FALSE) {
  if (!is.numeric(v) || is.object(v) || !(is.null(dim(v)) || length(dim(v)) <= 2L &&
                                          min(dim(v)) <= 1L))
    fail("'%s' must be a numeric vector, got %s", name, describe(v))
  v <- as.double(v)
  if (finite && !all(is.finite(v)))
    fail("'%s' must be finite: %s[%d] = %s", name, name, which(!is.finite(v))[1L],
         num(v[!is.finite(v)][1L]))
  v
}

# Knots t: finite, non-decreasing, at least 2*ord; nj columns.  The library
# says which rule of bsbasis.h the knots break, and the knot at fault; this
# says it in words.
check_knots <- function(t, ord, nj) {
  t <- reals(t, "knots")
  ord <- whole(ord, "ord", 1L, .Machine$integer.max %/% 2L)
  n <- length(t)
  want <- if (is.null(nj)) n - ord else whole(nj, "nj")
  verdict <- .Call(bsb_check_knots, t, ord, as.double(want))
  rule <- verdict[1L]
  m <- verdict[2L] + 1L  # the knot at fault, from 1
  if (rule == BSBASIS_RULE_NONE)
    return(list(t = t, ord = ord, nj = want, lo = t[ord], hi = t[want + 1L]))
  if (rule == BSBASIS_RULE_NOT_FINITE)
    fail("'knots' must be finite: knots[%d] = %s", m, num(t[m]))
  if (rule == BSBASIS_RULE_DECREASING)
    fail("'knots' must be non-decreasing: knots[%d] = %s, knots[%d] = %s", m - 1L,
         num(t[m - 1L]), m, num(t[m]))
  if (rule == BSBASIS_RULE_TOO_CLOSE)
    fail("knots[%d] - knots[%d] = %s is too small: its reciprocal overflows", m, m - 1L,
         num(t[m] - t[m - 1L]))
  if (rule == BSBASIS_RULE_SPAN)
    fail("'knots' spans [%s, %s], whose length overflows a double", num(t[1L]), num(t[n]))
  if (rule == BSBASIS_RULE_TOO_FEW || rule == BSBASIS_RULE_NULL_KNOTS ||
      rule == BSBASIS_RULE_KNOT_COUNT)
    fail("'knots' has %d values; ord = %d needs at least 2*ord = %d", n, ord, 2L * ord)
  if (rule == BSBASIS_RULE_COLUMNS) whole(nj, "nj", ord, n - ord)
  fail("the base interval [knots[%d], knots[%d]] = [%s, %s] is empty",
       ord, want + 1L, num(t[ord]), num(t[want + 1L]))
}

# Non-decreasing (strict: increasing) finite values, or an error naming the
# first pair out of order.
check_sorted <- function(v, name, strict) {
  bad <- which(if (strict) diff(v) <= 0 else diff(v) < 0)
  if (length(bad))
    fail("'%s' must be %s: %s[%d] = %s, %s[%d] = %s", name,
         if (strict) "strictly increasing" else "non-decreasing", name, bad[1L],
         num(v[bad[1L]]), name, bad[1L] + 1L, num(v[bad[1L] + 1L]))
}

# Sorted finite knots whose differences are numbers, as are the reciprocals
# of the positive ones: every value of the basis is formed from both.
check_knot_spacing <- function(t, name) {
  n <- length(t)
  if (n > 1L && !is.finite(t[n] - t[1L]))
    fail("'%s' spans [%s, %s], whose length overflows a double", name, num(t[1L]), num(t[n]))
  gap <- diff(t)
  tiny <- which(gap > 0 & gap * .Machine$double.xmax < 1)
  if (length(tiny))
    fail("%s[%d] - %s[%d] = %s is too small: its reciprocal overflows", name, tiny[1L] + 1L,
         name, tiny[1L], num(gap[tiny[1L]]))
}

# y or weights: a numeric vector with one value per abscissa (nx of them).
along_x <- function(v, name, nx, finite = FALSE) {
  v <- reals(v, name, finite = finite)
  if (length(v) != nx)
    fail("'%s' must have the length of 'x' (%d), got %d", name, nx, length(v))
  v
}

# Derivative orders, one per abscissa (recycled) or one for all.
check_derivs <- function(derivs, nx) {
  if (!is.numeric(derivs) || length(derivs) < 1L || anyNA(derivs) ||
      any(!is.finite(derivs)) || any(derivs != trunc(derivs)) || any(derivs < 0) ||
      any(derivs > .Machine$integer.max))
    fail("'derivs' must hold whole numbers >= 0, got %s", describe(derivs))
  if (length(derivs) > max(1L, nx))
    fail("'derivs' (length %d) is longer than 'x' (length %d)", length(derivs), nx)
  d <- as.integer(derivs)
  if (length(d) > 1L) d <- rep_len(d, nx)
  if (length(d) > 1L && all(d == d[1L])) d <- d[1L]
  d
}

check_threads <- function(threads) {
  if (is.null(threads)) return(1L)
  whole(threads, "threads", 1L, 64L)
}

# The library's mode for the extrapolation named `extrapolate` (a name of
# `modes`), for the abscissae x on the knots k of check_knots.  Under
# "error" the range is checked here, so that the message names the
# abscissa; the library then gets ZERO, which leaves only NA and NaN
# outside the base interval, as empty rows.
extrapolation_mode <- function(extrapolate, x, k) {
  mode <- modes[[extrapolate]]
  if (mode != BSBASIS_EXTRAPOLATE_ERROR) return(mode)
  check_range(x, k$lo, k$hi)
  BSBASIS_EXTRAPOLATE_ZERO
}

# Abscissae outside [lo, hi] are an error; NA and NaN pass (empty rows).
check_range <- function(x, lo, hi) {
  bad <- .Call(bsb_first_outside, x, lo, hi)
  if (bad > 0)
    fail("x[%d] = %s is outside the base interval [%s, %s]; see 'extrapolate'",
         bad[1L], num(x[bad[1L]]), num(lo), num(hi))
}

# The shortest of 15 or 17 digits that reads back as v.
num <- function(v) {
  s <- sprintf("%.15g", v)
  if (is.na(v) || as.numeric(s) == v) s else sprintf("%.17g", v)
}

csc <- function(slots, nrow, ncol) {
  # The slots are filled in place of new()'s arguments, which would run
  # the class's validity check: a pass over every entry, a tenth of the
  # call for a design of 10^6 rows.  The C code writes the slots sorted
  # and in range; the tests check them with validObject().
  m <- methods::new("dgCMatrix")
  m@Dim <- c(as.integer(nrow), as.integer(ncol))
  m@p <- slots[[2L]]
  m@i <- slots[[1L]]
  m@x <- slots[[3L]]
  m
}

# Upper band storage, row-major (u + 1) x n, to a symmetric matrix.
from_band <- function(ab, u, n, sparse) {
  band <- matrix(ab, u + 1L, n, byrow = TRUE)
  r <- integer(0)
  c <- integer(0)
  v <- double(0)
  for (k in 0L:u) {
    cols <- seq.int(u - k + 1L, length.out = max(0L, n - (u - k)))
    r <- c(r, cols - (u - k))
    c <- c(c, cols)
    v <- c(v, band[k + 1L, cols])
  }
  if (sparse)
    return(Matrix::sparseMatrix(i = r, j = c, x = v, dims = c(n, n), symmetric = TRUE))
  a <- matrix(0, n, n)
  a[cbind(r, c)] <- v
  a[cbind(c, r)] <- v
  a
}

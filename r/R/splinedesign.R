# splineDesign: splines::splineDesign over the library.
#
# The arguments go through the steps of splines' function in its order and
# with its expressions, so that every input meets the same checks, errors
# and warnings, in the user's language too (the messages are looked up in
# splines' catalogues).  The rows come from the library.  Where the base
# interval is empty, so that the library has no rows, spline_rows() forms
# splines' and spline_assemble() places them as splines does.  Knots the
# library cannot compute with are refused after every check of splines has
# passed (check_spline_knots).

splineDesign <- function(knots, x, ord = 4L, derivs = 0L, outer.ok = FALSE,
                         sparse = FALSE) {
  if ((nk <- length(knots <- as.numeric(knots))) <= 0)
    stop(splines_text("must have at least 'ord' knots"), domain = NA)
  if (is.unsorted(knots)) knots <- sort.int(knots)
  x <- as.numeric(x)
  nx <- length(x)
  if (length(derivs) > nx)
    stop(splines_text("length of 'derivs' is larger than length of 'x'"), domain = NA)
  if (length(derivs) < 1L) stop(splines_text("empty 'derivs'"), domain = NA)
  ord <- as.integer(ord)
  if (ord > nk || ord < 1)
    stop(splines_text("'ord' must be positive integer, at most the number of knots"),
         domain = NA)
  if (!outer.ok && nk < 2 * ord - 1)
    stop(splines_text("need at least %s (=%d) knots", "2*ord -1", 2 * ord - 1), domain = NA)
  degree <- ord - 1L
  sorted <- knots
  rows <- NULL  # the rows whose x lie within the knots, when some do not
  # any(x < knots[ord] | knots[nk - degree] < x), NA included, in one pass;
  # several orders keep R's expression, with its recycling and warnings.
  need.outer <- if (length(ord) == 1L) {
    .Call(bsb_any_outside, x, knots[ord], knots[nk - degree])
  } else {
    any(x < knots[ord] | knots[nk - degree] < x)
  }
  if (need.outer) {
    if (outer.ok) {
      in.x <- knots[1L] <= x & x <= knots[nk]
      if (!all(in.x)) {
        rows <- seq_len(nx)[in.x]
        x <- x[in.x]
      }
      # The first knot repeated degree more times, the last until it has
      # multiplicity ord: the base interval becomes the knots' whole span.
      last <- match(TRUE, diff(knots)[(nk - 1L):1] > 0)
      knots <- knots[c(rep.int(1L, degree), seq_len(nk), rep.int(nk, max(0L, ord - last)))]
    } else {
      stop(splines_text("the 'x' data must be in the range %g to %g unless you set '%s'",
                        knots[ord], knots[nk - degree], "outer.ok = TRUE"), domain = NA)
    }
  }
  # What splines' C code does first: derivs as integers (R's warnings for
  # values that do not convert), recycled along x; each must be below ord
  # on every row that is evaluated.
  derivs <- .Call(bsb_as_integer, derivs)
  attributes(derivs) <- NULL  # a factor's codes, as splines reads them
  check_spline_derivs(knots, x, ord[1L], derivs)
  # splines reads the first of several orders, then fails to place the rows
  if (length(ord) != 1L) stop(gettextf("invalid '%s' value", "times", domain = "R"), domain = NA)
  sparse <- if (sparse) TRUE else FALSE
  check_spline_knots(sorted)
  ncoef <- nk - ord
  shift <- if (need.outer) degree else 0L
  nu <- derivs
  nu[is.na(nu) | nu < 0L] <- 0L  # splines takes both as values
  if (length(nu) > 1L) nu <- if (all(nu == nu[1L])) nu[1L] else rep_len(nu, length(x))
  if (length(nu) == 0L) nu <- 0L
  res <- .Call(bsb_spline_design, knots, ord, nu, x, sparse, shift, ncoef)
  if (is.null(res)) {
    r <- spline_rows(knots, ord, nu, x)
    return(spline_assemble(r, rows, nx, ncoef, ord, need.outer, sparse))
  }
  if (sparse) {
    if (!is.null(rows)) res[[1L]] <- rows[res[[1L]] + 1L] - 1L
    return(csc(res, nx, ncoef))
  }
  if (is.null(rows)) return(res)
  design <- matrix(0, nx, ncoef)
  ok <- !is.na(rows)  # an NA abscissa among others outside: a zero row
  design[rows[ok], ] <- res[ok, , drop = FALSE]
  design
}

# One of splines' messages, in the user's language: its catalogues (R-splines
# for its R code, splines for its C code) are bound once its namespace is
# loaded.
splines_text <- function(fmt, ..., domain = "R-splines") {
  requireNamespace("splines", quietly = TRUE)
  gettextf(fmt, ..., domain = domain)
}

# splines' error for a derivative order >= ord, at the first row it
# evaluates (rows whose x it cannot place are not evaluated).
check_spline_derivs <- function(knots, x, ord, derivs) {
  if (!any(derivs >= ord, na.rm = TRUE)) return(invisible())
  d <- rep_len(derivs, length(x))
  high <- which(d >= ord)
  at <- high[spline_cursor(knots, x[high], ord) >= ord][1L]
  if (is.na(at)) return(invisible())
  if (length(derivs) == 1L)
    stop(splines_text("derivs = %d >= ord = %d, but should be in {0,..,ord-1}", d[at], ord,
                      domain = "splines"), domain = NA)
  stop(splines_text("derivs[%d] = %d >= ord = %d, but should be in {0,..,ord-1}", at, d[at],
                    ord, domain = "splines"), domain = NA)
}

# The knots the library cannot compute with, which splines turns into NaN
# or infinite values without a warning: knots that are not finite, a span
# that overflows, and a gap whose reciprocal overflows.
check_spline_knots <- function(k) {
  bad <- which(!is.finite(k))
  if (length(bad))
    fail("'knots' must be finite, got %s", num(k[bad[1L]]))
  check_knot_spacing(k, "knots")
}

# The 0-based index of the knot that splines' C code places each x after:
# the first knot above x, or the last knot when x equals it, or -1 (x above
# every knot, or NA).  x at the right end of the base interval,
# knots[nk - ord + 1], is placed on the interval that ends there.
spline_cursor <- function(knots, x, ord) {
  nk <- length(knots)
  curs <- findInterval(x, knots)  # the number of knots <= x
  curs[is.na(curs)] <- -1L
  top <- curs == nk
  curs[top] <- ifelse(knots[nk] == x[top], nk - 1L, -1L)
  end <- curs > nk - ord & x == knots[nk - ord + 1L]
  curs[end & !is.na(end)] <- nk - ord
  curs
}

# splines' rows when its base interval [knots[ord], knots[nk - ord + 1]] is
# empty, or the knots too few for one, so that the library has none:
# list(offset, values), values ord x n, the row's columns offset + 1 ..
# offset + ord.  The only x splines places there is the end tau; the others
# (NA, or tau with too few knots before it) give NaN.  At tau the
# derivative of order ord - 1 is 0; otherwise the row is the limit from the
# left on the last interval with length before tau, or, when there is none
# (every knot up to tau equal), splines' row: a 1 in its first column, NaN
# for a derivative.
spline_rows <- function(knots, ord, nu, x) {
  n <- length(x)
  nk <- length(knots)
  tau <- knots[nk - ord + 1L]
  nu <- rep_len(nu, n)
  offset <- spline_cursor(knots, x, ord) - ord
  values <- matrix(NaN, ord, n)
  end <- offset >= 0L & x == tau
  top <- end & nu == ord - 1L & ord > 1L
  values[, top] <- 0
  ends <- which(end & !top)
  below <- sum(knots < tau)
  if (!length(ends)) return(list(offset = offset, values = values))
  if (!below) {
    values[, ends] <- rep(ifelse(nu[ends] == 0L, 1, NaN), each = ord)
    values[-1L, ends[nu[ends] == 0L]] <- 0
    return(list(offset = offset, values = values))
  }
  # Knots put before the first make a base interval for the library that
  # ends at tau on the last interval with length; they touch no column.
  lead <- max(0L, ord - below)
  b <- .Call(bsb_blocks, c(rep.int(knots[1L], lead), knots), ord, as.integer(below + lead),
             nu[ends], x[ends])
  first <- b[[1L]][seq.int(1L, by = ord, length.out = length(ends))] - lead
  v <- matrix(b[[2L]], ord)
  # splines' row at tau starts at column nk - 2*ord; values (not
  # derivatives) go there when they fit, the B-splines that leave ending
  # before tau.  Columns before the first (lead knots) are zero.
  fits <- nk - ord - below < ord
  for (q in seq_along(ends)) {
    to <- if (fits && nu[ends[q]] == 0L) nk - 2L * ord else max(0L, first[q])
    v[, q] <- rewindow(v[, q], first[q], to)
    first[q] <- to
  }
  offset[ends] <- first
  values[, ends] <- v
  list(offset = offset, values = values)
}

# A row's values v, its columns from + 0 .. ord-1, on the columns to + 0 ..
# ord-1 (to >= from): the columns that leave the window are dropped.
rewindow <- function(v, from, to) {
  ord <- length(v)
  at <- seq_len(ord) + (to - from)
  ifelse(at <= ord, v[pmin(at, ord)], 0)
}

# splines' placing of rows: entry (row, offset + q) of the design gets
# values[q, ]; with the knots extended (need.outer) the columns move by
# ord - 1 and those beyond the design are dropped.  Done with the same
# indexing as splines, so that rows of NaN give its results and warnings.
spline_assemble <- function(r, rows, nx, ncoef, ord, need.outer, sparse) {
  n <- length(r$offset)
  ii <- rep.int(if (is.null(rows)) seq_len(nx) else rows, rep.int(ord, n))
  jj <- c(outer(seq_len(ord), r$offset, `+`))
  v <- c(r$values)
  if (need.outer) {
    jj <- jj - (ord - 1L)
    ok <- 1L <= jj & jj <= ncoef
    ii <- ii[ok]
    jj <- jj[ok]
    v <- v[ok]
  }
  if (sparse)
    return(methods::as(methods::new("dgTMatrix", i = ii - 1L, j = jj - 1L, x = as.double(v),
                                    Dim = c(nx, ncoef)), "CsparseMatrix"))
  design <- matrix(double(nx * ncoef), nx, ncoef)
  design[cbind(ii, jj)] <- v
  design
}

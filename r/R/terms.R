# Formula terms: bs() and ns(), splines' functions of those names over the
# library, and pbs(), a periodic term on the same footing; their predict()
# and makepredictcall() methods, which evaluate a term at new abscissae on
# the knots fixed when it was formed.
#
# bs() and ns() take splines' steps in its order and with its expressions
# (the knots from df, the warnings and errors, the attributes, the class),
# so that a call gives splines' matrix and conditions; the rows come from
# the library in one call over every abscissa, NA rows included.  Where
# that call cannot stand for splines' algorithm (knots on or beyond a
# boundary knot, boundary knots that are not two finite increasing numbers,
# an x that is not numeric), bs() follows the algorithm to the letter on
# bsbasis::splineDesign (bs_reference); ns() refuses knots on or beyond a
# boundary knot and otherwise does the same (ns_reference).

bs <- function(x, df = NULL, knots = NULL, degree = 3, intercept = FALSE,
               Boundary.knots = range(x), warn.outside = TRUE, derivs = 0L, sparse = FALSE,
               threads = NULL) {
  warn.outside <- flag(warn.outside, "warn.outside")
  sparse <- flag(sparse, "sparse")
  threads <- check_threads(threads)
  ord <- 1L + (degree <- as.integer(degree))
  if (ord <= 1) stop(splines_text("'degree' must be integer >= 1"), domain = NA)
  nx <- names(x)
  x <- as.vector(x)
  d <- term_derivs(derivs, length(x), degree)
  every <- x  # the abscissae of the rows, NA included
  scan <- term_scan(x)
  nax <- if (is.null(scan) || scan[["na"]]) is.na(x) else FALSE
  if (nas <- any(nax)) x <- x[!nax]
  outside <- if (!missing(Boundary.knots)) {
    Boundary.knots <- sort(Boundary.knots)
    (ol <- x < Boundary.knots[1L]) | (or <- x > Boundary.knots[2L])
  } else {
    if (!is.null(scan) && length(x)) Boundary.knots <- c(scan$min, scan$max)  # range(x)
    FALSE
  }
  if (!is.null(df) && is.null(knots)) {
    nIknots <- df - ord + (1L - intercept)
    if (nIknots < 0L) {
      nIknots <- 0L
      warning(splines_text("'df' was too small; have used %d", ord - (1L - intercept)),
              domain = NA)
    }
    knots <- if (nIknots > 0L) {
      knots <- seq.int(from = 0, to = 1, length.out = nIknots + 2L)[-c(1L, nIknots + 2L)]
      term_quantile(if (identical(outside, FALSE)) x else x[!outside], knots)
    }
  }
  Aknots <- sort(c(rep(Boundary.knots, ord), knots))
  if (any(outside) && warn.outside)
    warning(splines_text("some 'x' values beyond boundary knots may cause ill-conditioned bases"),
            domain = NA)
  drop <- if (!intercept) 1L else 0L
  if (term_plain(every, Boundary.knots, knots)) {
    check_knot_spacing(Aknots, "knots")
    basis <- .Call(bsb_bs_term, as.double(Aknots), ord, d, as.double(every), sparse, drop,
                   threads)
    inf <- term_infinite(every, scan)
    if (length(inf)) {  # splines' Taylor rows, which give Inf and NaN there
      v <- every[inf]
      r <- bs_reference(v, Aknots, Boundary.knots, ord, v < Boundary.knots[1L],
                        v > Boundary.knots[2L], term_rows_of(d, inf))
      basis <- set_rows(basis, inf, r[, seq_len(ncol(r) - drop) + drop, drop = FALSE],
                        length(every), length(Aknots) - ord - drop)
    }
  } else {
    if (identical(outside, FALSE)) ol <- or <- outside
    basis <- bs_reference(x, Aknots, Boundary.knots, ord, ol, or, term_rows_of(d, !nax))
    if (drop) basis <- basis[, -1L, drop = FALSE]
    basis <- with_na_rows(basis, nax, nas, sparse)
  }
  a <- list(degree = degree, knots = if (is.null(knots)) numeric(0L) else knots,
            Boundary.knots = Boundary.knots, intercept = intercept)
  if (sparse) return(term_sparse(basis, "bs", nx, length(every), a, d))
  # Dressed here, not in a function, so that the matrix is not copied.
  dimnames(basis) <- list(nx, 1L:ncol(basis))
  attributes(basis) <- c(attributes(basis), term_attributes(a, d))
  class(basis) <- term_class("bs", d)
  basis
}

ns <- function(x, df = NULL, knots = NULL, intercept = FALSE, Boundary.knots = range(x),
               derivs = 0L, sparse = FALSE, threads = NULL) {
  sparse <- flag(sparse, "sparse")
  threads <- check_threads(threads)
  nx <- names(x)
  x <- as.vector(x)
  d <- term_derivs(derivs, length(x), 3L)
  every <- x
  scan <- term_scan(x)
  nax <- if (is.null(scan) || scan[["na"]]) is.na(x) else FALSE
  if (nas <- any(nax)) x <- x[!nax]
  outside <- if (!missing(Boundary.knots)) {
    Boundary.knots <- sort(Boundary.knots)
    (ol <- x < Boundary.knots[1L]) | (or <- x > Boundary.knots[2L])
  } else {
    if (length(x) == 1L) Boundary.knots <- x * c(7, 9) / 8
    else if (!is.null(scan) && length(x)) Boundary.knots <- c(scan$min, scan$max)
    FALSE
  }
  placed <- FALSE  # whether the knots are quantiles of x
  if (!is.null(df) && is.null(knots)) {
    nIknots <- df - 1L - intercept
    if (nIknots < 0L) {
      nIknots <- 0L
      warning(splines_text("'df' was too small; have used %d", 1L + intercept), domain = NA)
    }
    knots <- if (nIknots > 0L) {
      knots <- seq.int(from = 0, to = 1, length.out = nIknots + 2L)[-c(1L, nIknots + 2L)]
      placed <- TRUE
      term_quantile(if (identical(outside, FALSE)) x else x[!outside], knots)
    }
  } else nIknots <- length(knots)
  if (term_bounds(every, Boundary.knots)) {
    inner <- check_ns_knots(knots, Boundary.knots, placed)
    check_knot_spacing(c(Boundary.knots[1L], inner, Boundary.knots[2L]), "knots")
    basis <- .Call(bsb_ns_term, as.double(Boundary.knots), inner, if (intercept) 1L else 0L,
                   d, as.double(every), sparse, threads)
    inf <- term_infinite(every, scan)
    if (length(inf)) {
      v <- every[inf]
      r <- ns_reference(v, knots, Boundary.knots, intercept, v < Boundary.knots[1L],
                        v > Boundary.knots[2L], term_rows_of(d, inf), nIknots)
      basis <- set_rows(basis, inf, r, length(every), ncol(r))
    }
  } else {
    if (identical(outside, FALSE)) ol <- or <- outside
    basis <- ns_reference(x, knots, Boundary.knots, intercept, ol, or, term_rows_of(d, !nax),
                          nIknots)
    basis <- with_na_rows(basis, nax, nas, sparse)
  }
  a <- list(degree = 3L, knots = if (is.null(knots)) numeric() else knots,
            Boundary.knots = Boundary.knots, intercept = intercept)
  if (sparse) return(term_sparse(basis, "ns", nx, length(every), a, d))
  # Dressed here, not in a function, so that the matrix is not copied.
  dimnames(basis) <- list(nx, 1L:ncol(basis))
  attributes(basis) <- c(attributes(basis), term_attributes(a, d))
  class(basis) <- term_class("ns", d)
  basis
}

pbs <- function(x, df = NULL, knots = NULL, degree = 3, intercept = FALSE,
                Boundary.knots = range(x), derivs = 0L, sparse = FALSE, threads = NULL) {
  sparse <- flag(sparse, "sparse")
  threads <- check_threads(threads)
  intercept <- flag(intercept, "intercept")
  degree <- whole(degree, "degree", 1L, 30L)
  ord <- degree + 1L
  nx <- names(x)
  x <- as.vector(x)
  if (!is.numeric(x)) fail("'x' must be numeric, got %s", describe(x))
  d <- term_derivs(derivs, length(x), degree)
  every <- as.double(x)
  scan <- term_scan(every)
  x <- if (scan[["na"]]) every[!is.na(every)] else every
  if (!missing(Boundary.knots)) Boundary.knots <- sort(Boundary.knots)
  else if (length(x)) Boundary.knots <- c(scan$min, scan$max)  # range(x)
  if (!term_bounds(every, Boundary.knots))
    fail("'Boundary.knots' must be two finite numbers lo < hi, the ends of the period; got %s",
         describe(Boundary.knots))
  lo <- Boundary.knots[1L]
  hi <- Boundary.knots[2L]
  placed <- FALSE
  if (!is.null(df) && is.null(knots)) {
    df <- whole(df, "df", 1L)
    nIknots <- df - intercept
    if (nIknots < degree) {
      nIknots <- degree
      warning(splines_text("'df' was too small; have used %d", degree + intercept), domain = NA)
    }
    probs <- seq.int(from = 0, to = 1, length.out = nIknots + 2L)[-c(1L, nIknots + 2L)]
    # The quantiles of the abscissae wrapped into the period.
    wrapped <- if (all(x >= lo & x < hi)) x else lo + (x - lo) %% (hi - lo)
    knots <- term_quantile(wrapped, probs)
    placed <- TRUE
  }
  inner <- check_pbs_knots(knots, Boundary.knots, degree, placed)
  breaks <- c(lo, inner, hi)
  check_knot_spacing(breaks, "knots")
  if (!is.finite(hi - lo) || !is.finite(hi + (hi - lo)) || !is.finite(lo - (hi - lo)))
    fail("the period [%s, %s] overflows a double, or so do the knots a period beyond it",
         num(lo), num(hi))
  drop <- if (intercept) 0L else 1L
  basis <- .Call(bsb_pbs_term, breaks, ord, d, every, sparse, drop, threads)
  inf <- term_infinite(every, scan)
  if (length(inf))  # no place in the period
    basis <- set_rows(basis, inf, matrix(NaN, length(inf), length(breaks) - 1L - drop),
                      length(every), length(breaks) - 1L - drop)
  a <- list(degree = degree, knots = if (is.null(knots)) numeric(0L) else knots,
            Boundary.knots = Boundary.knots, intercept = intercept)
  if (sparse) return(term_sparse(basis, "pbs", nx, length(every), a, d))
  # Dressed here, not in a function, so that the matrix is not copied.
  dimnames(basis) <- list(nx, 1L:ncol(basis))
  attributes(basis) <- c(attributes(basis), term_attributes(a, d))
  class(basis) <- term_class("pbs", d)
  basis
}

# ---- What the terms share

# Derivative orders: whole numbers 0 .. degree, one for all abscissae or
# recycled along them.
term_derivs <- function(derivs, nx, degree) {
  d <- check_derivs(derivs, nx)
  if (any(d > degree))
    fail("'derivs' must lie in 0 .. %d (the degree), got %d", degree, max(d))
  d
}

# What the terms ask of a double x first, in one pass: whether it has NA
# (or NaN) and infinite values, and its range without NA; NULL for any
# other x, which R's expressions take.
term_scan <- function(x) {
  if (!is.double(x)) return(NULL)
  s <- .Call(bsb_scan, x)
  list(na = s[1L] != 0, inf = s[2L] != 0, min = s[3L], max = s[4L])
}

# The rows of infinite abscissae.
term_infinite <- function(x, scan) {
  if (!is.null(scan) && !scan[["inf"]]) return(integer(0))
  which(is.infinite(x))
}

# The derivative orders of the rows `at` (indices or a logical) of the
# abscissae: one for all, or theirs.
term_rows_of <- function(d, at) if (length(d) == 1L) d else d[at]

# Whether the boundary knots are two finite increasing numbers and x is
# numeric: the library can then form the rows.
term_bounds <- function(x, bk) {
  is.numeric(x) && is.numeric(bk) && length(bk) == 2L && all(is.finite(bk)) && bk[1L] < bk[2L]
}

# ... and, for bs(), the knots lie strictly inside the boundary knots.
term_plain <- function(x, bk, knots) {
  term_bounds(x, bk) && (is.null(knots) || is.numeric(knots) && all(is.finite(knots)) &&
                           all(knots > bk[1L] & knots < bk[2L]))
}

# stats::quantile(x, probs) (type 7, with its names) for a double x free of
# NA: the order statistics it reads come from a selection in C instead of a
# partial sort, and are combined with quantile's own expressions, so that
# the values are its bits.  Anything else goes to quantile itself.
term_quantile <- function(x, probs) {
  n <- length(x)
  if (!is.double(x) || n == 0L || n > .Machine$integer.max || anyNA(x) || anyNA(probs) ||
      any(probs < 0 | probs > 1))
    return(stats::quantile(x, probs))
  index <- 1 + max(n - 1, 0) * probs
  lo <- floor(index)
  hi <- ceiling(index)
  at <- sort(unique(c(lo, hi)))
  v <- .Call(bsb_order_stats, x, as.integer(at))
  qs <- v[match(lo, at)]
  xhi <- v[match(hi, at)]
  i <- which(index > lo & xhi != qs)
  h <- (index - lo)[i]
  qs[i] <- (1 - h) * qs[i] + h * xhi[i]
  names(qs) <- names(stats::quantile(0, probs))
  qs
}

# The rows `rows` of a result from the C glue (a matrix, or dgCMatrix
# slots) set to the matrix r.
set_rows <- function(basis, rows, r, n, ncol) {
  if (is.matrix(basis)) {
    basis[rows, ] <- r
    return(basis)
  }
  m <- csc(basis, n, ncol)
  m[rows, ] <- r
  m
}

# splines' result from the rows of the abscissae that are not NA: NA rows
# put back, and the dgCMatrix when sparse.
with_na_rows <- function(basis, nax, nas, sparse) {
  if (nas) {
    nmat <- matrix(NA, length(nax), ncol(basis))
    nmat[!nax, ] <- basis
    basis <- nmat
  }
  if (sparse) methods::as(basis, "CsparseMatrix") else basis
}

# The attributes of a result: splines' `a`, and the derivative orders of a
# derivative basis.
term_attributes <- function(a, d) {
  if (any(d != 0L)) a$derivs <- d
  a
}

# The class of a dense result: splines' for the term; a derivative basis
# has a leading class of its own, so that its predict() and
# makepredictcall() methods, which keep the orders, are bsbasis's whatever
# else is loaded.
term_class <- function(term, d) c(if (any(d != 0L)) "basis_derivs", term, "basis", "matrix")

# A sparse result: a dgCMatrix of the class sparseBasis, whose slots hold
# what the dense result's attributes hold.  Its slots are set one by one:
# the C glue's columns are valid by construction, and new() would check
# every entry again.
term_sparse <- function(basis, term, nx, n, a, d) {
  m <- methods::new("sparseBasis")
  if (is.list(basis)) {
    m@i <- basis[[1L]]
    m@p <- basis[[2L]]
    m@x <- basis[[3L]]
    m@Dim <- c(as.integer(n), length(basis[[2L]]) - 1L)
  } else {  # a dgCMatrix formed in R
    m@i <- basis@i
    m@p <- basis@p
    m@x <- basis@x
    m@Dim <- basis@Dim
  }
  m@Dimnames <- list(nx, if (m@Dim[2L]) as.character(seq_len(m@Dim[2L])))
  m@term <- term
  m@degree <- a$degree
  m@knots <- a$knots
  m@Boundary.knots <- a$Boundary.knots
  m@intercept <- a$intercept
  m@derivs <- as.integer(d)
  m
}

methods::setClass("sparseBasis", contains = "dgCMatrix",
                  slots = c(term = "character", degree = "integer", knots = "ANY",
                            Boundary.knots = "ANY", intercept = "ANY", derivs = "integer"))

# ---- splines' algorithms, for the cases the library's call does not cover

# splines' bs() rows for the abscissae x (no NA) on the knots Aknots,
# every column: splineDesign inside the boundary knots and, beyond them,
# the Taylor polynomial of degree ord - 1 at a pivot a quarter into the end
# interval; with the derivative orders d (one, or one per x), the
# derivatives of both.
bs_reference <- function(x, Aknots, Boundary.knots, ord, ol, or, d) {
  degree <- ord - 1L
  outside <- ol | or
  design <- function(at) {  # at NULL: every x
    xs <- if (is.null(at)) x else x[at]
    dd <- if (length(d) == 1L || is.null(at)) d else d[at]
    if (all(dd == 0L)) splineDesign(Aknots, xs, ord) else splineDesign(Aknots, xs, ord, dd)
  }
  if (!any(outside)) return(design(NULL))
  basis <- array(0, c(length(x), length(Aknots) - degree - 1L))
  e <- 1 / 4
  if (any(ol)) {
    k.pivot <- (1 - e) * Boundary.knots[1L] + e * Aknots[ord + 1]
    basis[ol, ] <- taylor_rows(x, ol, k.pivot, Aknots, ord, d)
  }
  if (any(or)) {
    k.pivot <- (1 - e) * Boundary.knots[2L] + e * Aknots[length(Aknots) - ord]
    basis[or, ] <- taylor_rows(x, or, k.pivot, Aknots, ord, d)
  }
  if (any(inside <- !outside)) basis[inside, ] <- design(inside)
  basis
}

# The rows `at` of x from the Taylor polynomial at k.pivot: splines'
# expression for values, and its derivatives of order d.
taylor_rows <- function(x, at, k.pivot, Aknots, ord, d) {
  degree <- ord - 1L
  tt <- splineDesign(Aknots, rep(k.pivot, ord), ord, 0:degree)
  dd <- rep_len(if (length(d) == 1L) d else d[at], sum(at))
  r <- matrix(0, sum(at), ncol(tt))
  for (k in unique(dd)) {
    on <- dd == k
    xl <- cbind(1, outer(x[at][on] - k.pivot, seq_len(degree - k), `^`))
    r[on, ] <- xl %*% (tt[(k + 1L):ord, , drop = FALSE] / gamma(seq_len(ord - k)))
  }
  r
}

# splines' ns() rows for the abscissae x (no NA): its B-splines, linear
# beyond the boundary knots, projected by the QR decomposition of their
# second derivatives there; with the derivative orders d, the derivatives.
ns_reference <- function(x, knots, Boundary.knots, intercept, ol, or, d, nIknots) {
  Aknots <- sort(c(rep(Boundary.knots, 4L), knots))
  outside <- ol | or
  design <- function(at) {  # at NULL: every x
    xs <- if (is.null(at)) x else x[at]
    dd <- if (length(d) == 1L || is.null(at)) d else d[at]
    if (all(dd == 0L)) splineDesign(Aknots, xs, 4) else splineDesign(Aknots, xs, 4, dd)
  }
  linear <- function(at, k.pivot) {
    tt <- splineDesign(Aknots, rep(k.pivot, 2L), 4, c(0, 1))
    dd <- rep_len(if (length(d) == 1L) d else d[at], sum(at))
    xl <- cbind(ifelse(dd == 0L, 1, 0), ifelse(dd == 0L, x[at] - k.pivot, ifelse(dd == 1L, 1, 0)))
    xl %*% tt
  }
  if (any(outside)) {
    basis <- array(0, c(length(x), nIknots + 4L))
    if (any(ol)) basis[ol, ] <- linear(ol, Boundary.knots[1L])
    if (any(or)) basis[or, ] <- linear(or, Boundary.knots[2L])
    if (any(inside <- !outside)) basis[inside, ] <- design(inside)
  } else basis <- design(NULL)
  const <- splineDesign(Aknots, Boundary.knots, ord = 4L, derivs = c(2L, 2L))
  if (!intercept) {
    const <- const[, -1, drop = FALSE]
    basis <- basis[, -1, drop = FALSE]
  }
  qr.const <- qr(t(const))
  as.matrix((t(qr.qty(qr.const, t(basis))))[, -(1L:2L), drop = FALSE])
}

# ---- Knots the library takes, or an error that says why not

# ns(): finite knots strictly inside the boundary knots, sorted.
check_ns_knots <- function(knots, bk, placed) {
  if (is.null(knots)) return(double(0))
  k <- reals(knots, "knots")
  bad <- which(!is.finite(k))
  if (length(bad)) fail("'knots' must be finite: knots[%d] = %s", bad[1L], num(k[bad[1L]]))
  bad <- which(!(k > bk[1L] & k < bk[2L]))
  if (length(bad)) {
    b <- bad[1L]
    where <- if (k[b] == bk[1L] || k[b] == bk[2L]) "lies on a boundary knot" else
      "lies outside the boundary knots"
    fail("knots[%d] = %s %s: ns() needs every knot strictly inside 'Boundary.knots' [%s, %s]%s",
         b, num(k[b]), where, num(bk[1L]), num(bk[2L]),
         if (placed) paste0(" (the knots are quantiles of 'x', which has tied values at a",
                            " boundary; give 'knots' or a smaller 'df')") else "")
  }
  sort(k)
}

# pbs(): at least `degree` distinct finite knots strictly inside the
# boundary knots, sorted.
check_pbs_knots <- function(knots, bk, degree, placed) {
  k <- if (is.null(knots)) double(0) else reals(knots, "knots")
  hint <- if (placed) paste0(" (the knots are quantiles of 'x', which has tied values;",
                             " give 'knots' or a smaller 'df')") else ""
  if (length(k) < degree)
    fail("pbs() of degree %d needs at least %d knots inside 'Boundary.knots', got %d; %s",
         degree, degree, length(k), "give 'df' or 'knots'")
  bad <- which(!is.finite(k) | !(k > bk[1L] & k < bk[2L]))
  if (length(bad))
    fail("knots[%d] = %s must lie strictly inside 'Boundary.knots' [%s, %s]%s", bad[1L],
         num(k[bad[1L]]), num(bk[1L]), num(bk[2L]), hint)
  k <- sort(k)
  tie <- which(diff(k) == 0)
  if (length(tie)) fail("the knots must be distinct: %s appears twice%s", num(k[tie[1L]]), hint)
  k
}

# ---- Safe prediction

# The attributes that fix each term's basis, as its predict() passes them.
term_fixed <- list(bs = c("degree", "knots", "Boundary.knots", "intercept"),
                   ns = c("knots", "Boundary.knots", "intercept"),
                   pbs = c("degree", "knots", "Boundary.knots", "intercept"))

# The term (bs, ns or pbs) of a result of bs(), ns() or pbs(), or of
# splines' bs() and ns().
term_of <- function(object) {
  if (methods::is(object, "sparseBasis")) return(object@term)
  intersect(class(object), names(term_fixed))[1L]
}

# The term at newx with the fixed attributes of object, its derivative
# orders and its kind of matrix; `dots` (threads, warn.outside, or derivs
# to override) go to the term's function.  splines' ns() takes knots on a
# boundary knot, which bsbasis's refuses: a basis with such knots comes
# from splines, and splines evaluates it.
term_predict <- function(object, newx, dots) {
  term <- term_of(object)
  a <- c(list(x = newx), attributes(object)[term_fixed[[term]]])
  sparse <- methods::is(object, "sparseBasis")
  d <- if (sparse) object@derivs else attr(object, "derivs")
  if (!is.null(d) && any(d != 0L)) a$derivs <- d
  if (sparse) a$sparse <- TRUE
  a[names(dots)] <- dots
  if (term == "ns" && !sparse && is.null(d) && splines_made(a$knots, a$Boundary.knots))
    return(do.call(getExportedValue("splines", "ns"), a))
  do.call(term, a)
}

# Whether ns() knots lie on or beyond finite boundary knots.
splines_made <- function(knots, bk) {
  length(knots) && is.numeric(knots) && is.numeric(bk) && length(bk) == 2L &&
    all(is.finite(bk)) && any(!(knots > min(bk) & knots < max(bk)), na.rm = TRUE)
}

predict.bs <- function(object, newx, ...) {
  if (missing(newx)) return(object)
  term_predict(object, newx, list(...))
}

predict.ns <- predict.bs
predict.pbs <- predict.bs
predict.basis_derivs <- predict.bs
predict.sparseBasis <- predict.bs

# makepredictcall(): the term's call with the knots and the other fixed
# attributes of var spelled out, so that model.frame() on new data rebuilds
# the same basis.  A call is the term's when it is spelled as its name or
# its function is bsbasis's (or, for bs and ns, splines').  Of the call's
# other arguments x stays, and so do warn.outside, sparse and threads (they
# do not change the basis); derivative orders come from var.
term_predictcall <- function(var, call) {
  term <- term_of(var)
  if (!is.call(call) || !term_call(call, term)) return(call)
  at <- attributes(var)[term_fixed[[term]]]
  d <- if (methods::is(var, "sparseBasis")) var@derivs else attr(var, "derivs")
  if (!is.null(d) && any(d != 0L)) at$derivs <- d
  mc <- tryCatch(match.call(get(term), call), error = function(e) NULL)
  keep <- if (is.null(mc)) list() else
    as.list(mc)[intersect(c("warn.outside", "sparse", "threads"), names(mc))]
  call <- call[1L:2L]
  call[names(keep)] <- keep
  call[names(at)] <- at
  call
}

term_call <- function(call, term) {
  if (as.character(call)[1L] == term) return(TRUE)
  f <- tryCatch(eval(call[[1L]]), error = function(e) NULL)
  if (identical(f, get(term))) return(TRUE)
  term %in% c("bs", "ns") && isNamespaceLoaded("splines") &&
    identical(f, get(term, asNamespace("splines")))
}

makepredictcall.bs <- function(var, call) term_predictcall(var, call)
makepredictcall.ns <- makepredictcall.bs
makepredictcall.pbs <- makepredictcall.bs
makepredictcall.basis_derivs <- makepredictcall.bs
makepredictcall.sparseBasis <- makepredictcall.bs

# bs and ns results have splines' classes, so that splines' predict() and
# makepredictcall() methods meet them too; R keeps the methods of the
# namespace loaded last.  bsbasis's serve the results of either package
# (a call spelled bsbasis::bs or splines::ns included; splines' do not
# recognise the first), so they are put back whenever splines is loaded
# after bsbasis.
term_methods_first <- function(...) {
  stats <- asNamespace("stats")
  for (cls in c("bs", "ns")) {
    registerS3method("predict", cls, predict.bs, envir = stats)
    registerS3method("makepredictcall", cls, makepredictcall.bs, envir = stats)
  }
}

.onLoad <- function(libname, pkgname) {
  setHook(packageEvent("splines", "onLoad"), term_methods_first)
}

.onUnload <- function(libpath) {
  hooks <- getHook(packageEvent("splines", "onLoad"))
  keep <- Filter(function(h) !identical(h, term_methods_first), hooks)
  setHook(packageEvent("splines", "onLoad"), if (length(keep)) keep, "replace")
}

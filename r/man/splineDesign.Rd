\name{splineDesign}
\alias{splineDesign}
\title{Drop-in Replacement for splines::splineDesign}
\description{
  The design matrix of the B-splines of order \code{ord} on \code{knots},
  or of their derivatives, with the arguments, checks, error messages,
  warnings and results of \code{splines::splineDesign}, computed by the
  bsbasis library.
}
\usage{
splineDesign(knots, x, ord = 4L, derivs = 0L, outer.ok = FALSE,
             sparse = FALSE)
}
\arguments{
  \item{knots}{numeric knots, sorted if they are not.}
  \item{x}{abscissae.}
  \item{ord}{order of the splines (degree + 1).}
  \item{derivs}{derivative orders, recycled along the abscissae that are
    evaluated; each must be below \code{ord}.}
  \item{outer.ok}{allow \code{x} outside
    \code{[knots[ord], knots[length(knots) - ord + 1]]}: rows of abscissae
    outside the knots are zero.}
  \item{sparse}{return a \code{dgCMatrix}.}
}
\details{
  The arguments go through the steps of \code{splines::splineDesign} in its
  order: every input it accepts gives its result (values within rounding,
  1e-13 relative to the row's largest entry, exact zeros where it has them,
  the same sparse structure) and its warnings, and every input it refuses
  gives its error message, in the user's language too (the messages are
  looked up in splines' translations).  In particular:
  \itemize{
    \item \code{derivs} is read as splines' C code reads it: converted to
      integers (with R's warnings for strings that are not numbers),
      \code{NA} and negative orders giving values;
    \item an \code{NA} in \code{x} is an error unless \code{outer.ok = TRUE}
      and another abscissa lies outside the knots; its row is then zero;
    \item the right end of the base interval takes limits from the left,
      and the derivative of order \code{ord - 1} is 0 there;
    \item with every knot up to the end of the base interval equal (as
      \code{splines::bs(pi)} builds them) the row at that knot has a 1 in
      its first column, and with \code{2*ord - 1} knots the rows are
      \code{NaN}, with splines' warning.
  }
  \code{splines::bs}, \code{ns} and \code{interpSpline} run unchanged on
  this function (the package's tests run them with \code{splineDesign}
  bound to it).
}
\section{Differences from splines}{
  \describe{
    \item{The right end of an empty interval.}{When the base interval ends
      with an interval of length zero (its end knot
      \code{knots[length(knots) - ord + 1]} repeated before it), the row at
      that knot is the limit from the left on the last interval with
      length, for values and derivatives alike.  splines evaluates on the
      empty interval instead: its derivatives of order 1 to \code{ord - 2}
      are \code{NaN} there (0/0), and when the end knot equals
      \code{knots[length(knots) - 2*ord + 1]} (for \code{ord = 1}: whenever
      the last knot repeats) it puts the 1 in a column whose B-spline is
      identically zero.  With \code{outer.ok = TRUE} the rule applies to the
      knots as splines extends them (the last knot repeated to multiplicity
      \code{ord}).  Where splines' values are that limit, the results are
      the same, columns included.}
    \item{Knots the library cannot compute with.}{These are refused with an
      error that names the cause: knots that are not finite (splines' rows
      then hold \code{NaN} beside finite values, without a warning), knots
      whose span overflows a double (splines' rows are zero rather than
      summing to 1), and a positive gap between knots below
      \code{1/.Machine$double.xmax}, whose reciprocal overflows (splines
      gives infinite values).  splines' own checks come first.}
  }
}
\value{A matrix of \code{length(x)} rows and \code{length(knots) - ord}
  columns, dense or \code{dgCMatrix}.}
\references{
  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.
}
\seealso{\code{\link{design_matrix}}, the library's own interface, with
  extrapolation modes, \code{NA} rows and threads;
  \code{\link{periodic_design_matrix}}; \code{\link{bs}} and
  \code{\link{ns}}, the terms of model formulas built on the same rows;
  \code{\link{make_knots}}.

  The peers: \code{\link[splines]{splineDesign}}, whose interface this
  is, and \code{\link[splines]{bs}}, \code{\link[splines]{ns}} and
  \code{\link[splines]{interpSpline}}, which run on it;
  \code{\link[splines2]{bSpline}};
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} for \code{sparse = TRUE}.}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
splineDesign(k, c(0.5, 1.5, 3))
splineDesign(k, c(0.5, 1.5, 3), derivs = 1, sparse = TRUE)
splineDesign(k, c(-1, 0.5, 4), outer.ok = TRUE)
# the right end after an empty interval: the limit from the left, B_5
splineDesign(c(0:4, rep(9, 6)), 9, ord = 3)

# the cubic B-splines on these knots, which sum to 1
xx <- seq(0, 3, length.out = 121)
B <- splineDesign(k, xx)
range(rowSums(B))
matplot(xx, B, type = "l", lty = 1, xlab = "x", ylab = "B-spline")

# the same matrix as splines::splineDesign
if (requireNamespace("splines", quietly = TRUE))
  all.equal(B, splines::splineDesign(k, xx))
}

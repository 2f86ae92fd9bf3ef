\name{ns}
\alias{ns}
\title{Natural Cubic Spline Basis: Drop-in for splines::ns}
\description{
  The basis matrix of the natural cubic splines with interior knots
  \code{knots} and boundary knots \code{Boundary.knots}, evaluated at
  \code{x}: the arguments, knots, columns, attributes, class, warnings and
  errors of \code{splines::ns}, with the rows computed by the bsbasis
  library.  Beyond that: derivatives of the basis, a sparse result and
  threads.
}
\usage{
ns(x, df = NULL, knots = NULL, intercept = FALSE, Boundary.knots = range(x),
   derivs = 0L, sparse = FALSE, threads = NULL)
}
\arguments{
  \item{x}{the predictor variable.  Missing values are allowed: their rows
    are \code{NA}.}
  \item{df}{degrees of freedom: with \code{knots = NULL}, \code{ns} places
    \code{df - 1 - intercept} interior knots at quantiles of the \code{x}
    within the boundary knots, as \code{quantile(x, type = 7)} places
    them.}
  \item{knots}{the interior knots, strictly inside the boundary knots;
    \code{NULL} (no knots) gives a basis for linear regression on
    \code{x}.}
  \item{intercept}{if \code{TRUE} the basis has a column more, spanning
    the constants.}
  \item{Boundary.knots}{the two knots at which the natural boundary
    conditions (second derivative 0) hold; by default the range of the
    non-\code{NA} \code{x} (for a single \code{x}, \code{x * c(7, 9) / 8},
    as splines has it).  \code{x} may lie beyond them.}
  \item{derivs}{derivative order, 0 (values, the default) to 3, one for
    every abscissa or one per abscissa (recycled along \code{x}).}
  \item{sparse}{\code{TRUE} returns a sparse matrix (see Value).}
  \item{threads}{number of threads, 1 to 64 (\code{NULL}: 1).  The result
    is the same, bit for bit, for every number.}
}
\details{
  The arguments go through the steps of \code{splines::ns} in its order
  and with its expressions, so that every call it accepts with knots
  strictly inside the boundary knots gives its matrix (within rounding:
  1e-13 of the largest entry of each row), attributes, class and warnings,
  and every call it refuses its error.  The knots that \code{df} places are
  the very numbers (bits, names) of splines'.

  The library forms the rows in one call over all abscissae: the cubic
  B-splines on the boundary knots (four times each) and the interior
  knots, the first dropped without intercept, projected onto the splines
  whose second derivative is 0 at both boundary knots by the Householder
  reflections of \code{qr(t(const))} that splines uses, so that the
  columns are splines' columns.  Beyond the boundary knots each function
  continues linearly (its value and slope there).  Rows of \code{NA} (and
  \code{NaN}) abscissae are \code{NA}; those of infinite abscissae hold
  splines' values.

  With \code{derivs}, the rows are the derivatives of those of the values;
  beyond the boundary knots the first derivative is the slope at the
  nearer boundary knot and higher ones are 0.

  Where the boundary knots are not two finite numbers \code{lo < hi}, or
  \code{x} is not numeric, \code{ns} follows splines' algorithm to the
  letter, on \code{\link{splineDesign}}, and so gives splines' result or
  error.

  \code{ns} is meant for model formulas, \code{lm(y ~ ns(x, df = 4))}: the
  package registers \code{\link[=predict.ns]{predict}} and
  \code{\link[=makepredictcall.ns]{makepredictcall}} methods, so that
  predictions on new data use the knots of the fit.
}
\value{
  A matrix of \code{length(x)} rows and \code{length(knots) + 1 +
  intercept} columns (\code{df} when \code{df} placed the knots), named
  \code{1, 2, ...}, its row names \code{names(x)}, with splines' attributes
  \code{degree} (3), \code{knots}, \code{Boundary.knots} and
  \code{intercept} and its class \code{c("ns", "basis", "matrix")}.  With a
  derivative order other than 0 the matrix also has the attribute
  \code{derivs} and the class \code{c("basis_derivs", "ns", "basis",
  "matrix")}.

  With \code{sparse = TRUE}, an object of the class \code{"sparseBasis"},
  a \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} with the slots
  \code{term} (\code{"ns"}), \code{degree}, \code{knots},
  \code{Boundary.knots}, \code{intercept} and \code{derivs}, built from the
  library's rows in C: each row holds its non-zero columns (at most 7);
  a row of an \code{NA} abscissa holds \code{NA} in every column.
}
\section{Differences from splines}{
  \describe{
    \item{Knots on or beyond a boundary knot are refused.}{\code{ns} stops
      with an error that names the knot and the boundary knots, and, when
      \code{df} placed the knots at quantiles of data tied at an end, says
      so.  \code{splines::ns} still builds a basis with a knot on or below
      the lower boundary knot (where a knot adds nothing to a natural
      spline, or makes a basis that is not one on the knots given); with a
      knot on or beyond the upper boundary knot it fails in \code{qr} with
      \code{"NA/NaN/Inf in foreign function call"}.}
    \item{More arguments.}{\code{derivs}, \code{sparse} and \code{threads}
      are bsbasis's; their values are checked, with errors that name the
      argument.}
    \item{Methods.}{As for \code{\link{bs}}: bsbasis's \code{predict} and
      \code{makepredictcall} methods serve both packages' bases and stay in
      force when splines is loaded after bsbasis; a basis from
      \code{splines::ns} with a knot on a boundary knot is evaluated by
      splines.  See \code{\link{predict.bs}}.}
  }
}
\references{
  Hastie, T. J. (1992) Generalized additive models.  Chapter 7 of
  \emph{Statistical Models in S}, eds J. M. Chambers and T. J. Hastie.
  Wadsworth & Brooks/Cole.

  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.
}
\seealso{
  \code{\link{bs}} for B-splines, \code{\link{pbs}} for periodic splines,
  \code{\link{predict.ns}} and \code{\link{makepredictcall.ns}} for safe
  prediction, \code{\link{splineDesign}} and \code{\link{design_matrix}}
  (\code{extrapolate = "linear"} continues a basis as \code{ns} does).

  The peers: \code{\link[splines]{ns}} in \pkg{splines},
  \code{\link[splines2]{naturalSpline}} in \pkg{splines2},
  \code{\link[stats]{smooth.spline}} for a smoothing spline, and
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} for the sparse result.
}
\examples{
n <- ns(women$height, df = 5)
attr(n, "knots")
fit <- lm(weight ~ ns(height, df = 5), data = women)
attr(terms(fit), "predvars")  # the knots kept for prediction
predict(fit, data.frame(height = c(55, 65, 75)))

# slopes of the basis: constant beyond the boundary knots
ns(c(50, 58, 65, 72, 80), knots = 65, Boundary.knots = c(58, 72), derivs = 1)
ns(women$height, df = 5, sparse = TRUE)

# knots on a boundary knot are refused
try(ns(1:10, knots = c(1, 5)))

if (requireNamespace("splines", quietly = TRUE))
  all.equal(ns(women$height, df = 5), splines::ns(women$height, df = 5))

# a natural spline fit: linear beyond the boundary knots
plot(dist ~ speed, data = cars, xlim = c(0, 30), ylim = c(-20, 140))
fc <- lm(dist ~ ns(speed, df = 3), data = cars)
s <- seq(0, 30, length.out = 200)
lines(s, predict(fc, data.frame(speed = s)), col = "blue", lwd = 2)
abline(v = range(cars$speed), lty = 3)
matplot(s, ns(s, df = 4, Boundary.knots = range(cars$speed)), type = "l",
        lty = 1, xlab = "speed", ylab = "basis")
}
\keyword{smooth}

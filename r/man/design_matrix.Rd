\name{design_matrix}
\alias{design_matrix}
\alias{periodic_design_matrix}
\title{B-Spline Design Matrices}
\description{
  B-splines of order \code{ord}, or their derivatives, at the abscissae
  \code{x}: on the knots \code{knots}, or periodic on the breaks
  \code{breaks}.
}
\usage{
design_matrix(x, knots, ord = 4, derivs = 0,
              extrapolate = c("error", "zero", "continue", "constant", "linear",
                              "periodic"),
              nj = NULL, sparse = TRUE, threads = NULL)
periodic_design_matrix(x, breaks, ord = 4, derivs = 0, sparse = TRUE)
}
\arguments{
  \item{x}{numeric abscissae.}
  \item{knots}{finite, non-decreasing knots, at least \code{2 * ord}, whose
    span and the reciprocals of whose positive gaps are finite doubles.}
  \item{ord}{order (degree + 1).}
  \item{derivs}{derivative orders >= 0, recycled along \code{x}; orders from
    \code{ord} on give zeros.}
  \item{extrapolate}{what abscissae outside the base interval
    \code{[knots[ord], knots[nj + 1]]} get: an error, a zero row, the end
    polynomial pieces continued, the row at the nearest end (derivatives 0),
    a linear continuation of value and slope, or \code{x} wrapped into the
    interval.}
  \item{nj}{number of columns; default \code{length(knots) - ord}.}
  \item{sparse}{return a \code{dgCMatrix} (column-compressed) rather than a
    dense matrix.}
  \item{threads}{threads for the evaluation; \code{NULL} uses one. The
    result is the same bits for any value.}
  \item{breaks}{strictly increasing finite breaks; \code{length(breaks) - 1}
    columns, at least \code{ord}; period \code{diff(range(breaks))}.}
}
\details{
  The base interval is closed: its right end takes limits from the left.
  \code{NA} and \code{NaN} abscissae give a row of \code{NA} in a dense
  result and an empty row in a sparse one, in every mode.  Infinite
  abscissae give an empty row under \code{"zero"}, \code{"continue"},
  \code{"linear"} and \code{"periodic"}, and in \code{periodic_design_matrix}.

  The rows are those of the Cox--de Boor recurrence (de Boor, 1978) on the
  knots, evaluated in the same order of operations on every machine, so
  that the result is the same bits for any number of threads.
}
\note{
  The handling of \code{NA} differs from \code{\link{splineDesign}} (and
  \code{\link[splines]{splineDesign}}) on purpose: there an \code{NA}
  abscissa is an error (unless \code{outer.ok = TRUE} and another abscissa
  lies outside the knots); here it gives a row of \code{NA} (dense) or an
  empty row (sparse), as \code{\link[splines2]{bSpline}} passes \code{NA}
  through, so that data with missing values need no filtering first.
  Likewise \code{splineDesign} gives zero rows outside the knots only with
  \code{outer.ok = TRUE}, where \code{design_matrix} offers the modes of
  \code{extrapolate}.
}
\value{A \code{length(x)} by \code{nj} matrix, \code{dgCMatrix} or dense.}
\references{
  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.
}
\seealso{
  \code{\link{splineDesign}} for the interface of \pkg{splines};
  \code{\link{bs}}, \code{\link{ns}} and \code{\link{pbs}} for model
  formulas; \code{\link{make_knots}} for knots from data;
  \code{\link{difference_penalty}} and \code{\link{derivative_penalty}}
  for penalties on the coefficients; \code{\link{normal_equations}} for
  \eqn{X^T W X}{X'WX} without the matrix; \code{\link{fit_pspline}}.

  The peers: \code{\link[splines]{splineDesign}},
  \code{\link[splines2]{bSpline}} and \code{\link[splines2]{dbs}};
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} for the sparse result.
}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
design_matrix(c(0.5, 3, NA), k)
design_matrix(c(-1, 4), k, extrapolate = "linear", sparse = FALSE)
periodic_design_matrix(c(0, 0.5, 4.9), 0:5, sparse = FALSE)

# least squares on the basis: a regression spline
set.seed(1)
x <- sort(runif(150, 0, 3))
y <- exp(-x) * sin(3 * x) + rnorm(150, sd = 0.05)
kn <- make_knots(x, 8, ord = 4)
X <- design_matrix(x, kn, sparse = FALSE)
fit <- lm.fit(X, y)
xs <- seq(min(x), max(x), length.out = 200)
plot(x, y, col = "grey40")
lines(xs, design_matrix(xs, kn, sparse = FALSE) \%*\% fit$coefficients,
      col = "blue", lwd = 2)

# the basis and its first derivatives
matplot(xs, design_matrix(xs, kn, sparse = FALSE), type = "l", lty = 1,
        xlab = "x", ylab = "B-spline")
matplot(xs, design_matrix(xs, kn, derivs = 1, sparse = FALSE), type = "l",
        lty = 1, xlab = "x", ylab = "first derivative")

# the same values as splines::splineDesign, in a dgCMatrix
if (requireNamespace("splines", quietly = TRUE))
  all.equal(as.matrix(design_matrix(x, kn)),
            splines::splineDesign(kn, x, ord = 4))
}

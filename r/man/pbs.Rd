\name{pbs}
\alias{pbs}
\title{Periodic B-Spline Basis for Model Formulas}
\description{
  The basis matrix of the periodic splines of degree \code{degree} whose
  period runs from \code{Boundary.knots[1]} to \code{Boundary.knots[2]},
  with interior knots \code{knots}, evaluated at \code{x}: a term for
  model formulas, on the footing of \code{\link{bs}} (knots from
  \code{df}, attributes, safe prediction).
}
\usage{
pbs(x, df = NULL, knots = NULL, degree = 3, intercept = FALSE,
    Boundary.knots = range(x), derivs = 0L, sparse = FALSE, threads = NULL)
}
\arguments{
  \item{x}{the predictor variable, numeric; any finite value is taken
    modulo the period.  Missing values are allowed: their rows are
    \code{NA}; rows of infinite values are \code{NaN}.}
  \item{df}{number of columns: with \code{knots = NULL}, \code{pbs} places
    \code{df - intercept} interior knots at quantiles of \code{x} taken
    into the period (as \code{quantile(x, type = 7)} places them).  Fewer
    than \code{degree} knots are raised to \code{degree}, with a
    warning.}
  \item{knots}{the interior knots, distinct and strictly inside the
    boundary knots, at least \code{degree} of them (so that the period
    has at least \code{degree + 1} intervals).  One of \code{df} and
    \code{knots} is needed.}
  \item{degree}{degree of the piecewise polynomial, 1 to 30; 3 by
    default.}
  \item{intercept}{\code{FALSE} (the default) drops the first basis
    function: the periodic B-splines sum to 1 everywhere, so that all of
    them beside a model's intercept would be collinear.  \code{TRUE} keeps
    them all.}
  \item{Boundary.knots}{the two ends of the period, \code{lo < hi};
    by default the range of the non-\code{NA} \code{x}.  For data such as
    hours of the day give the period itself (\code{c(0, 24)}), not the
    range of the data.}
  \item{derivs}{derivative order, 0 (values, the default) to
    \code{degree}, one for every abscissa or one per abscissa.}
  \item{sparse}{\code{TRUE} returns a sparse matrix (see Value).}
  \item{threads}{number of threads, 1 to 64 (\code{NULL}: 1); the same
    bits for every number.}
}
\details{
  The knots are \code{Boundary.knots[1]}, the sorted interior knots and
  \code{Boundary.knots[2]}, continued periodically on both sides; the
  B-splines of order \code{degree + 1} on them that leave the period on
  the right wrap to the columns on the left (the library's
  \code{bsbasis_periodic_design}, as \code{\link{periodic_design_matrix}}
  has them).  Each function and its first \code{degree - 1} derivatives
  are periodic and continuous: \code{x} and \code{x + (hi - lo)} have the
  same row.

  \code{pbs} is meant for model formulas, \code{lm(y ~ pbs(hour, df = 6,
  Boundary.knots = c(0, 24)))}; its \code{\link[=predict.pbs]{predict}}
  and \code{\link[=makepredictcall.pbs]{makepredictcall}} methods keep the
  knots of the fit for predictions on new data.
}
\value{
  A matrix of \code{length(x)} rows and \code{length(knots) + 1} columns
  (one fewer without intercept), named \code{1, 2, ...}, its row names
  \code{names(x)}, with the attributes \code{degree}, \code{knots} (as
  given or placed), \code{Boundary.knots} and \code{intercept}, and the
  class \code{c("pbs", "basis", "matrix")}.  With a derivative order other
  than 0 it also has the attribute \code{derivs} and the class
  \code{c("basis_derivs", "pbs", "basis", "matrix")}.  With
  \code{sparse = TRUE}, a \code{"sparseBasis"}
  \code{\link[Matrix:dgCMatrix-class]{dgCMatrix}} with those values in
  slots (\code{term} \code{"pbs"}), as \code{\link{bs}} describes.
}
\section{Errors}{
  Boundary knots that are not two finite numbers \code{lo < hi}, fewer
  than \code{degree} interior knots, knots not strictly inside the period
  or repeated (quantiles of tied data: the message says so), a
  non-numeric \code{x}, and orders or degrees out of range are refused
  with a message that names the argument.
}
\references{
  de Boor, C. (1978) \emph{A Practical Guide to Splines}.  Springer,
  New York.  Revised edition (2001), Applied Mathematical Sciences 27.
}
\seealso{
  \code{\link{periodic_design_matrix}} for the basis on any breaks,
  \code{\link{bs}} and \code{\link{ns}} for the other terms,
  \code{\link{predict.pbs}} and \code{\link{makepredictcall.pbs}} for safe
  prediction.

  The peers: \code{\link[splines]{periodicSpline}} in \pkg{splines} (a
  periodic interpolating spline), the cyclic smooths of \pkg{mgcv}
  (\code{\link[mgcv:smooth.construct.cr.smooth.spec]{"cc"}} and
  \code{"cp"}), and the periodic bases of \code{\link[splines2]{mSpline}}
  in \pkg{splines2}.
}
\examples{
set.seed(1)
hour <- runif(200, 0, 24)
y <- sin(2 * pi * hour / 24) + rnorm(200, sd = 0.2)
fit <- lm(y ~ pbs(hour, df = 6, Boundary.knots = c(0, 24)))
# the fit has the period's continuity: hour 0 and hour 24 agree
predict(fit, data.frame(hour = c(0, 24, 12)))

p <- pbs(c(1, 6, 25), knots = c(6, 12, 18), Boundary.knots = c(0, 24))
p  # 1 and 25 share a row
pbs(c(1, 6, 25), knots = c(6, 12, 18), Boundary.knots = c(0, 24), derivs = 1)

# the fitted daily cycle, and the basis over two periods
h <- seq(0, 24, length.out = 97)
plot(hour, y, col = "grey40", xlab = "hour")
lines(h, predict(fit, data.frame(hour = h)), col = "blue", lwd = 2)
matplot(seq(0, 48, length.out = 193),
        pbs(seq(0, 48, length.out = 193), knots = c(6, 12, 18),
            Boundary.knots = c(0, 24), intercept = TRUE),
        type = "l", lty = 1, xlab = "hour", ylab = "periodic B-spline")
}
\keyword{smooth}

\name{splineDesign}
\alias{splineDesign}
\title{Drop-in Replacement for splines::splineDesign}
\description{
  The design matrix of the B-splines of order \code{ord} on \code{knots},
  with the arguments, checks, error messages and results of
  \code{splines::splineDesign}.
}
\usage{
splineDesign(knots, x = knots, ord = 4, derivs = 0, outer.ok = FALSE,
             sparse = FALSE)
}
\arguments{
  \item{knots}{numeric knots (sorted if needed).}
  \item{x}{abscissae.}
  \item{ord}{order of the splines (degree + 1).}
  \item{derivs}{derivative orders, recycled along \code{x}; each must be
    below \code{ord}.}
  \item{outer.ok}{allow \code{x} outside \code{[knots[ord], knots[nk - ord + 1]]}:
    rows outside the knots are zero.}
  \item{sparse}{return a \code{dgCMatrix}.}
}
\details{
  As in splines, the right end of the base interval takes limits from the
  left, except that the derivative of order \code{ord - 1} is 0 there; an
  \code{NA} in \code{x} is an error unless \code{outer.ok = TRUE} and some
  other abscissa lies outside, when its row is zero.  \code{derivs} must be
  finite numbers (splines also takes strings and \code{NA} as 0).
}
\value{A matrix of \code{length(x)} rows and \code{length(knots) - ord}
  columns, dense or \code{dgCMatrix}.}
\examples{
k <- c(0, 0, 0, 0, 1, 2, 3, 3, 3, 3)
splineDesign(k, c(0.5, 1.5, 3))
}

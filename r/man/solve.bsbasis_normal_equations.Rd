\name{solve.bsbasis_normal_equations}
\alias{solve.bsbasis_normal_equations}
\alias{as.matrix.bsbasis_normal_equations}
\title{Penalised Solve of Normal Equations}
\description{
  The Gram matrix \eqn{G = X^T W X} of \code{\link{normal_equations}} as a
  dense symmetric matrix, and the coefficients \eqn{c} of
  \eqn{(G + \lambda P) c = X^T W y}{(G + lambda P) c = X'Wy}.
}
\usage{
\method{as.matrix}{bsbasis_normal_equations}(x, ...)

\method{solve}{bsbasis_normal_equations}(a, b, penalty = NULL, lambda = 0, ...)
}
\arguments{
  \item{x, a}{normal equations, from \code{\link{normal_equations}}.}
  \item{b}{the right-hand side, one value per B-spline; default \code{a$rhs},
    \eqn{X^T W y}{X'Wy} (normal equations formed with \code{y}).}
  \item{penalty}{\code{NULL} (none) or a symmetric matrix \eqn{P}, one row
    and column per B-spline: dense or from \pkg{Matrix}, as
    \code{\link{difference_penalty}} and \code{\link{derivative_penalty}}
    return.}
  \item{lambda}{the weight of the penalty, one finite number >= 0.}
  \item{...}{ignored.}
}
\details{
  \code{as.matrix} unfolds the band \code{x$gram} (LAPACK's upper band
  storage) into the full symmetric matrix, zero outside the band.

  \code{solve} factors \eqn{G + \lambda P}{G + lambda P} by
  \code{\link{chol}}: the system has one unknown per B-spline, so dense
  algebra costs little.  It is an error when the matrix is not positive
  definite or is singular to rounding (its smallest eigenvalue, found by
  inverse iteration, within rounding of the factorisation of 0): too few
  abscissae for the basis, or \code{lambda = 0} with intervals that hold no
  data.  \code{\link{fit_pspline}} solves the same system.
}
\value{
  \code{as.matrix}: the \code{nj} by \code{nj} matrix \eqn{G}.
  \code{solve}: the coefficients, a numeric vector of length \code{nj}.
}
\examples{
k <- make_knots(c(0, 1), 8, 4, boundary = "extended")
x <- seq(0, 1, length.out = 50)
ne <- normal_equations(x, k, y = exp(x))
G <- as.matrix(ne)
isSymmetric(G)
cf <- solve(ne, penalty = difference_penalty(ncol(G), 2), lambda = 0.1)
max(abs(design_matrix(x, k) \%*\% cf - exp(x)))
}
